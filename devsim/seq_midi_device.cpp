#include "devsim/seq_midi_device.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace q9m::devsim {

namespace {

using Clock = std::chrono::steady_clock;

// How long an answer may wait for room in a subscriber's full input pool.
constexpr auto kSendRetryLimit = std::chrono::milliseconds(1000);

std::string AlsaError(const std::string& what, int error) {
  return what + ": " + snd_strerror(error);
}

// A client named `name` + `suffix` with one port `name` of the given capabilities; nothing,
// with what failed in *error, when the sequencer refuses.
snd_seq_t* OpenClient(const std::string& name, const std::string& suffix, int streams,
                      unsigned int caps, int* port, std::string* error) {
  snd_seq_t* seq = nullptr;
  int result = snd_seq_open(&seq, "default", streams, SND_SEQ_NONBLOCK);
  if (result < 0) {
    *error = AlsaError("cannot open the ALSA sequencer", result);
    return nullptr;
  }
  snd_seq_set_client_name(seq, (name + suffix).c_str());
  *port = snd_seq_create_simple_port(
      seq, name.c_str(), caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (*port < 0) {
    *error = AlsaError("cannot create the sequencer port '" + name + "'", *port);
    snd_seq_close(seq);
    return nullptr;
  }
  return seq;
}

}  // namespace

std::string SeqMidiDevice::Open(const std::string& inPort, const std::string& outPort,
                                const std::string& clientSuffix) {
  Close();
  std::string error;
  in_ = OpenClient(inPort, clientSuffix, SND_SEQ_OPEN_INPUT,
                   SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, &inPort_, &error);
  if (in_ == nullptr) return error;
  int result = snd_seq_set_client_pool_input(in_, kSeqInputPoolCells);
  if (result >= 0) result = snd_seq_set_input_buffer_size(in_, kSeqInputBufferBytes);
  if (result < 0) {
    Close();
    return AlsaError("cannot enlarge the sequencer input of '" + inPort + "'", result);
  }
  out_ = OpenClient(outPort, clientSuffix, SND_SEQ_OPEN_OUTPUT,
                    SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, &outPort_, &error);
  if (out_ == nullptr) {
    Close();
    return error;
  }
  if (snd_midi_event_new(kSeqOutputChunkBytes, &encoder_) < 0 ||
      snd_midi_event_new(kSeqOutputChunkBytes, &decoder_) < 0) {
    Close();
    return "out of memory for the MIDI event coder";
  }
  snd_midi_event_no_status(decoder_, 1);  // every short message with its status byte
  return "";
}

void SeqMidiDevice::Start(Receive receive, Lost lost) {
  stop_ = false;
  reader_ = std::thread(
      [this, receive = std::move(receive), lost = std::move(lost)] { ReadLoop(receive, lost); });
}

void SeqMidiDevice::ReadLoop(Receive receive, Lost lost) {
  std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(in_, POLLIN)));
  snd_seq_poll_descriptors(in_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
  std::vector<uint8_t> decoded(kSeqOutputChunkBytes);
  while (!stop_) {
    // Woken every 100 ms to see whether to stop; events wait in the pool meanwhile.
    if (poll(fds.data(), fds.size(), 100) <= 0) continue;
    for (;;) {
      snd_seq_event_t* event = nullptr;
      const int result = snd_seq_event_input(in_, &event);
      if (result == -EAGAIN) break;
      if (result == -ENOSPC) {
        ++inputErrors_;
        std::fprintf(stderr,
                     "q9m-devsim: input error: the sequencer dropped events (input pool full); "
                     "the message under way is abandoned\n");
        lost();
        continue;
      }
      if (result < 0 || event == nullptr) {
        if (result == -EINTR) continue;
        ++inputErrors_;
        std::fprintf(stderr, "q9m-devsim: input error: %s\n", snd_strerror(result));
        break;
      }
      ++eventsIn_;
      if (event->type == SND_SEQ_EVENT_SYSEX) {
        receive(static_cast<const uint8_t*>(event->data.ext.ptr), event->data.ext.len);
        continue;
      }
      const long n = snd_midi_event_decode(decoder_, decoded.data(), decoded.size(), event);
      if (n > 0) receive(decoded.data(), static_cast<size_t>(n));
    }
  }
}

bool SeqMidiDevice::SendEvent(snd_seq_event_t& event) {
  snd_seq_ev_set_source(&event, outPort_);
  snd_seq_ev_set_subs(&event);
  snd_seq_ev_set_direct(&event);
  const auto deadline = Clock::now() + kSendRetryLimit;
  for (;;) {
    const int result = snd_seq_event_output_direct(out_, &event);
    if (result >= 0) return true;
    // A subscriber's full input pool refuses the event until that subscriber has read.
    if ((result != -EAGAIN && result != -ENOMEM) || Clock::now() > deadline) {
      std::fprintf(stderr, "q9m-devsim: send failed: %s\n", snd_strerror(result));
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool SeqMidiDevice::Write(const uint8_t* bytes, size_t n) {
  if (out_ == nullptr) return false;
  snd_seq_event_t event;
  if (n > 0 && bytes[0] == 0xF0) {
    for (size_t at = 0; at < n; at += kSeqOutputChunkBytes) {
      snd_seq_ev_clear(&event);
      snd_seq_ev_set_sysex(&event, std::min(kSeqOutputChunkBytes, n - at),
                           const_cast<uint8_t*>(bytes + at));
      if (!SendEvent(event)) return false;
    }
    return true;
  }
  // Anything else (the device's junk between replies) goes through the encoder.
  snd_midi_event_reset_encode(encoder_);
  for (size_t at = 0; at < n;) {
    snd_seq_ev_clear(&event);
    const long used =
        snd_midi_event_encode(encoder_, bytes + at, static_cast<long>(n - at), &event);
    if (used <= 0) return false;
    at += static_cast<size_t>(used);
    if (event.type != SND_SEQ_EVENT_NONE && !SendEvent(event)) return false;
  }
  return true;
}

void SeqMidiDevice::Close() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (in_ != nullptr) snd_seq_close(in_);
  if (out_ != nullptr) snd_seq_close(out_);
  if (encoder_ != nullptr) snd_midi_event_free(encoder_);
  if (decoder_ != nullptr) snd_midi_event_free(decoder_);
  in_ = out_ = nullptr;
  encoder_ = decoder_ = nullptr;
  inPort_ = outPort_ = -1;
}

}  // namespace q9m::devsim
