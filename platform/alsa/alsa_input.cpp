#include "platform/alsa/alsa_input.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace q9m::platform::alsa {

namespace {

// Room for the device's replies while the receiver works: far more than the longest reply.
constexpr size_t kRawInputBufferBytes = 65536;
// Sequencer events this client's input pool holds (the default, 200, is less than two blocks'
// worth of 256-byte events).
constexpr int kSeqInputPoolEvents = 2000;
// Longest piece the decoder turns an event into: one 256-byte System Exclusive event.
constexpr size_t kDecodeBytes = 4096;

MMRESULT OpenError(int error) {
  return error == -EBUSY                                           ? MMSYSERR_ALLOCATED
         : error == -ENODEV || error == -ENOENT || error == -ENXIO ? MMSYSERR_NODRIVER
                                                                   : MMSYSERR_ERROR;
}

}  // namespace

AlsaInput::~AlsaInput() {
  if (wake_ >= 0) ::close(wake_);
}

MMRESULT AlsaInput::StartThread() {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return MMSYSERR_NOMEM;
  thread_ = std::thread([this] { Run(); });
  return MMSYSERR_NOERROR;
}

void AlsaInput::Close() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    thread_.join();
  }
  ClosePort();
}

void AlsaInput::Run() {
  std::vector<pollfd> port = Descriptors();
  std::vector<pollfd> fds = port;
  fds.push_back({wake_, POLLIN, 0});
  for (;;) {
    for (pollfd& fd : fds) fd.revents = 0;
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds.back().revents != 0) return;  // closing
    std::copy(fds.begin(), fds.end() - 1, port.begin());
    if (!ReadAvailable(port)) return;  // the device went away
  }
}

// ---- Raw MIDI --------------------------------------------------------------------------------

MMRESULT RawMidiInput::Open() {
  const int result =
      snd_rawmidi_open(&in_, nullptr, RawMidiName(address_).c_str(), SND_RAWMIDI_NONBLOCK);
  if (result < 0) {
    in_ = nullptr;
    return OpenError(result);
  }
  snd_rawmidi_params_t* params = nullptr;
  snd_rawmidi_params_alloca(&params);
  if (snd_rawmidi_params_current(in_, params) >= 0) {
    snd_rawmidi_params_set_buffer_size(in_, params, kRawInputBufferBytes);
    snd_rawmidi_params_set_avail_min(in_, params, 1);
    snd_rawmidi_params(in_, params);
  }
  // snd-usb-audio drops what the device sends until the input is triggered, which a poll or a
  // read does (and new parameters undo); the reader thread's first poll may come after the
  // device's first reply, so the input is started here.
  std::vector<pollfd> fds = Descriptors();
  poll(fds.data(), fds.size(), 0);
  return StartThread();
}

std::vector<pollfd> RawMidiInput::Descriptors() {
  return RawMidiPollDescriptors(in_);
}

bool RawMidiInput::ReadAvailable(const std::vector<pollfd>& fds) {
  std::vector<pollfd> copy = fds;
  unsigned short events = 0;
  snd_rawmidi_poll_descriptors_revents(in_, copy.data(), copy.size(), &events);
  if (events & (POLLERR | POLLHUP | POLLNVAL)) return false;
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = snd_rawmidi_read(in_, buffer, sizeof buffer);
    if (n > 0) {
      receiver_.Receive(buffer, static_cast<size_t>(n));
      continue;
    }
    return n == -EAGAIN || n == 0;
  }
}

void RawMidiInput::ClosePort() {
  if (in_ == nullptr) return;
  snd_rawmidi_close(in_);
  in_ = nullptr;
}

// ---- Sequencer -------------------------------------------------------------------------------

MMRESULT SeqInput::Open() {
  int error = 0;
  seq_ = OpenSeq(clientName_, SND_SEQ_OPEN_INPUT, &error);
  if (!seq_) return OpenError(error);
  snd_seq_set_client_pool_input(seq_.get(), kSeqInputPoolEvents);
  // The kernel delivers only to a port that can be written to, which lets any program send to
  // it directly; so the port is hidden, takes no subscription from others, and events that do
  // not come from the source are dropped when read.
  const int port =
      snd_seq_create_simple_port(seq_.get(), "in", SND_SEQ_PORT_CAP_WRITE | kUnexportedPort,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0) return OpenError(port);
  if (int result = snd_seq_connect_from(seq_.get(), port, source_.client, source_.port);
      result < 0) {
    return DescribeSeqPort(seq_.get(), source_) ? OpenError(result) : MMSYSERR_BADDEVICEID;
  }
  if (snd_midi_event_new(kDecodeBytes, &decoder_) < 0) return MMSYSERR_NOMEM;
  snd_midi_event_no_status(decoder_, 1);  // every message with its status byte
  bytes_.resize(kDecodeBytes);
  return StartThread();
}

std::vector<pollfd> SeqInput::Descriptors() {
  const int count = snd_seq_poll_descriptors_count(seq_.get(), POLLIN);
  std::vector<pollfd> fds(count > 0 ? count : 0);
  const int filled = snd_seq_poll_descriptors(seq_.get(), fds.data(), fds.size(), POLLIN);
  fds.resize(filled > 0 ? filled : 0);
  return fds;
}

bool SeqInput::ReadAvailable(const std::vector<pollfd>& /*fds*/) {
  for (;;) {
    snd_seq_event_t* event = nullptr;
    const int result = snd_seq_event_input(seq_.get(), &event);
    if (result == -EAGAIN) return true;
    if (result == -ENOSPC) {  // the pool overflowed and events were lost; read on
      receiver_.Lost();
      continue;
    }
    if (result < 0 || event == nullptr) return result == -EINTR;
    if (event->source.client != source_.client || event->source.port != source_.port) continue;
    const long n = snd_midi_event_decode(decoder_, bytes_.data(), bytes_.size(), event);
    if (n > 0) receiver_.Receive(bytes_.data(), static_cast<size_t>(n));
  }
}

void SeqInput::ClosePort() {
  seq_.reset();
  if (decoder_ != nullptr) {
    snd_midi_event_free(decoder_);
    decoder_ = nullptr;
  }
}

}  // namespace q9m::platform::alsa
