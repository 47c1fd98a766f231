#include "platform/alsa/alsa_seq.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace q9m::platform::alsa {

namespace {

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// With `cardNames` (long names of cards read so far), the port's identity too.
SeqPort Describe(snd_seq_client_info_t* client, snd_seq_port_info_t* port,
                 std::map<int, std::string>* cardNames) {
  SeqPort p;
  p.address = {snd_seq_port_info_get_client(port), snd_seq_port_info_get_port(port)};
  p.client = Trimmed(snd_seq_client_info_get_name(client));
  p.port = Trimmed(snd_seq_port_info_get_name(port));
  p.card = snd_seq_client_info_get_card(client);
  p.hardware = (snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
  p.caps = snd_seq_port_info_get_capability(port);
  if (cardNames == nullptr) return p;
  if (p.card >= 0) {
    auto known = cardNames->find(p.card);
    if (known == cardNames->end())
      known = cardNames->emplace(p.card, ReadCardInfo(p.card).longName).first;
    p.identity = "card " + known->second + "\n" + p.port;
  } else {
    p.identity = "client " + p.client + "\n" + p.port;
  }
  return p;
}

}  // namespace

CardInfo ReadCardInfo(int card) {
  CardInfo result;
  snd_ctl_t* control = nullptr;
  if (snd_ctl_open(&control, ("hw:" + std::to_string(card)).c_str(), SND_CTL_NONBLOCK) < 0) {
    return result;
  }
  snd_ctl_card_info_t* info = nullptr;
  snd_ctl_card_info_alloca(&info);
  if (snd_ctl_card_info(control, info) >= 0) {
    result.driver = snd_ctl_card_info_get_driver(info);
    result.longName = snd_ctl_card_info_get_longname(info);
  }
  snd_ctl_close(control);
  return result;
}

SeqHandle OpenSeq(const std::string& clientName, int streams, int* error) {
  snd_seq_t* seq = nullptr;
  const int result = snd_seq_open(&seq, "default", streams, SND_SEQ_NONBLOCK);
  if (result < 0) {
    if (error) *error = result;
    return nullptr;
  }
  snd_seq_set_client_name(seq, clientName.c_str());
  return SeqHandle(seq);
}

std::vector<SeqPort> ListSeqPorts(snd_seq_t* seq) {
  std::vector<SeqPort> ports;
  std::map<int, std::string> cardNames;
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    const int id = snd_seq_client_info_get_client(client);
    if (id == SND_SEQ_CLIENT_SYSTEM) continue;
    snd_seq_port_info_set_client(port, id);
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      ports.push_back(Describe(client, port, &cardNames));
    }
  }
  return ports;
}

std::optional<SeqPort> DescribeSeqPort(snd_seq_t* seq, SeqAddress address, bool identify) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  if (snd_seq_get_any_client_info(seq, address.client, client) < 0 ||
      snd_seq_get_any_port_info(seq, address.client, address.port, port) < 0) {
    return std::nullopt;
  }
  std::map<int, std::string> cardNames;
  return Describe(client, port, identify ? &cardNames : nullptr);
}

std::optional<RawMidiAddress> RawMidiOfPort(const SeqPort& port) {
  auto describe = [](RawMidiAddress address) -> std::optional<RawMidiDescription> {
    snd_ctl_t* control = nullptr;
    if (snd_ctl_open(&control, ("hw:" + std::to_string(address.card)).c_str(), SND_CTL_NONBLOCK) <
        0) {
      return std::nullopt;
    }
    snd_rawmidi_info_t* info = nullptr;
    snd_rawmidi_info_alloca(&info);
    snd_rawmidi_info_set_device(info, static_cast<unsigned int>(address.device));
    auto select = [&](snd_rawmidi_stream_t stream, int subdevice) {
      snd_rawmidi_info_set_stream(info, stream);
      snd_rawmidi_info_set_subdevice(info, subdevice);
      return snd_ctl_rawmidi_info(control, info) >= 0;
    };
    const int outputs = select(SND_RAWMIDI_STREAM_OUTPUT, 0)
                            ? static_cast<int>(snd_rawmidi_info_get_subdevices_count(info))
                            : 0;
    const int inputs = select(SND_RAWMIDI_STREAM_INPUT, 0)
                           ? static_cast<int>(snd_rawmidi_info_get_subdevices_count(info))
                           : 0;
    std::optional<RawMidiDescription> result;
    if (select(address.subdevice < outputs ? SND_RAWMIDI_STREAM_OUTPUT : SND_RAWMIDI_STREAM_INPUT,
               address.subdevice)) {
      result =
          RawMidiDescription{snd_rawmidi_info_get_name(info),
                             snd_rawmidi_info_get_subdevice_name(info), std::max(outputs, inputs)};
    }
    snd_ctl_close(control);
    return result;
  };
  return RawMidiBehindPort(port.card, port.address.port, port.hardware, port.port, describe);
}

std::optional<PacingBuffer> PacingBufferOf(const SeqPort& port) {
  if (auto raw = RawMidiOfPort(port)) {
    return PacingBuffer{*raw, /*output=*/true};
  }
  if (auto virmidi = VirMidiDeviceOfClient(port.client)) {
    return PacingBuffer{*virmidi, /*output=*/false};
  }
  return std::nullopt;
}

std::optional<BufferFill> ReadPacingBuffer(const PacingBuffer& buffer) {
  std::ifstream file("/proc/asound/card" + std::to_string(buffer.address.card) + "/midi" +
                     std::to_string(buffer.address.device));
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return ReadBufferFill(text.str(), buffer.output, buffer.address.subdevice);
}

std::vector<pollfd> RawMidiPollDescriptors(snd_rawmidi_t* rawmidi) {
  const int count = snd_rawmidi_poll_descriptors_count(rawmidi);
  std::vector<pollfd> fds(count > 0 ? static_cast<size_t>(count) : 0);
  const int filled =
      snd_rawmidi_poll_descriptors(rawmidi, fds.data(), static_cast<unsigned int>(fds.size()));
  fds.resize(filled > 0 ? static_cast<size_t>(filled) : 0);
  return fds;
}

}  // namespace q9m::platform::alsa
