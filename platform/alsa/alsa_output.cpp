#include "platform/alsa/alsa_output.h"

#include <poll.h>

#include <string>
#include <thread>
#include <vector>

namespace q9m::platform::alsa {

namespace {

using Clock = std::chrono::steady_clock;

MMRESULT FromAlsaError(int error) {
  switch (-error) {
    case EBUSY:
      return MMSYSERR_ALLOCATED;
    case ENODEV:
    case ENXIO:
    case ENOENT:
    case EBADFD:
      return MMSYSERR_NODRIVER;
    case EAGAIN:
      return MIDIERR_NOTREADY;
    default:
      return MMSYSERR_ERROR;
  }
}

// snd-usb-audio's name for its cards: its drain waits for the USB packets in flight.
constexpr const char* kUsbAudioDriver = "USB-Audio";

void UnpackShort(uint32_t packed, uint8_t (&bytes)[3]) {
  bytes[0] = static_cast<uint8_t>(packed);
  bytes[1] = static_cast<uint8_t>(packed >> 8);
  bytes[2] = static_cast<uint8_t>(packed >> 16);
}

}  // namespace

// ---- Raw MIDI --------------------------------------------------------------------------------

MMRESULT RawMidiOutput::Open() {
  // Not blocking: the open fails at once with EBUSY when the substream is taken, and writes
  // never wait without a limit for a device that stopped taking bytes.
  const int result =
      snd_rawmidi_open(nullptr, &out_, RawMidiName(address_).c_str(), SND_RAWMIDI_NONBLOCK);
  if (result < 0) {
    out_ = nullptr;
    return FromAlsaError(result);
  }
  driverDrains_ = ReadCardInfo(address_.card).driver == kUsbAudioDriver;
  if (MMRESULT r = SizeBuffer(); r != MMSYSERR_NOERROR) return r;
  wakesWhenEmpty_ = SetWakeWhenEmpty();
  return MMSYSERR_NOERROR;
}

MMRESULT RawMidiOutput::SizeBuffer() {
  snd_rawmidi_params_t* params = nullptr;
  snd_rawmidi_params_alloca(&params);
  if (int r = snd_rawmidi_params_current(out_, params); r < 0) return FromAlsaError(r);
  if (snd_rawmidi_params_get_buffer_size(params) < kRawOutputBufferBytes) {
    // A kernel that refuses keeps the buffer it had; a longer message then goes in pieces.
    snd_rawmidi_params_set_buffer_size(out_, params, kRawOutputBufferBytes);
    snd_rawmidi_params(out_, params);
    if (int r = snd_rawmidi_params_current(out_, params); r < 0) return FromAlsaError(r);
  }
  bufferSize_ = snd_rawmidi_params_get_buffer_size(params);
  return bufferSize_ > 0 ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

bool RawMidiOutput::SetWakeWhenEmpty() {
  // With the wake-up threshold one byte short of the buffer's size (alsa-lib takes no more), a
  // poll for room returns once at most one byte is left: the wait for a message to leave
  // sleeps instead of asking every millisecond.
  const size_t threshold = bufferSize_ - 1;
  snd_rawmidi_params_t* params = nullptr;
  snd_rawmidi_params_alloca(&params);
  if (threshold == 0 || snd_rawmidi_params_current(out_, params) < 0 ||
      snd_rawmidi_params_set_avail_min(out_, params, threshold) < 0 ||
      snd_rawmidi_params(out_, params) < 0 || snd_rawmidi_params_current(out_, params) < 0 ||
      snd_rawmidi_params_get_avail_min(params) != threshold) {
    return false;
  }
  pollFds_ = RawMidiPollDescriptors(out_);
  return !pollFds_.empty();
}

void RawMidiOutput::Close() {
  if (out_ == nullptr) return;
  // The kernel drains the buffer on close, for up to 10 s with a stuck device; what is still
  // there belongs to a send that failed, so it is dropped and the close returns at once. Once
  // the device has gone, the drop is refused and the kernel's drain waits the whole 10 s for a
  // buffer that nobody empties any more: that close finishes on a thread of its own (a process
  // that ends meanwhile cuts the wait short), and this one returns at once all the same.
  if (snd_rawmidi_drop(out_) < 0) {
    std::thread([out = out_] { snd_rawmidi_close(out); }).detach();
  } else {
    snd_rawmidi_close(out_);
  }
  out_ = nullptr;
}

MMRESULT RawMidiOutput::Write(const uint8_t* bytes, size_t n) {
  while (n > 0) {
    if (MMRESULT r = WaitUntilSent(); r != MMSYSERR_NOERROR) return r;
    const ssize_t written = snd_rawmidi_write(out_, bytes, std::min(n, bufferSize_));
    if (written < 0) return FromAlsaError(static_cast<int>(written));
    transmitterMayRun_ = true;
    bytes += written;
    n -= static_cast<size_t>(written);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT RawMidiOutput::WaitUntilSent() {
  if (MMRESULT r = WaitUntilEmpty(); r != MMSYSERR_NOERROR) return r;
  if (!transmitterMayRun_) return MMSYSERR_NOERROR;
  if (driverDrains_) {
    // With the buffer empty, the kernel's drain goes straight to snd-usb-audio's, which waits
    // (up to 50 ms) for the USB packets in flight and stops the transmitter under the lock the
    // transmitter runs under; only the trigger at the end of our next write starts it again.
    // The drain ignores O_NONBLOCK, but its own wait for the empty buffer ends at once.
    int result = 0;
    do {
      result = snd_rawmidi_drain(out_);
    } while (result == -EINTR);
    if (result < 0) return FromAlsaError(result);
  } else {
    // A packet that was on its way when the buffer ran empty may still call the transmitter
    // once when it completes; a packet takes at most a millisecond.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  transmitterMayRun_ = false;
  return MMSYSERR_NOERROR;
}

MMRESULT RawMidiOutput::WaitUntilEmpty() {
  snd_rawmidi_status_t* status = nullptr;
  snd_rawmidi_status_alloca(&status);
  size_t lastAvail = 0;
  auto lastProgress = Clock::now();
  for (;;) {
    if (int result = snd_rawmidi_status(out_, status); result < 0) return FromAlsaError(result);
    const size_t avail = snd_rawmidi_status_get_avail(status);
    if (avail >= bufferSize_) return MMSYSERR_NOERROR;
    if (avail != lastAvail) {
      lastAvail = avail;
      lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > kStallTimeout) {
      return MIDIERR_NOTREADY;
    }
    if (wakesWhenEmpty_ && avail + 1 < bufferSize_) {
      // Woken when at most one byte is left, or after a slice, to see whether the device
      // still takes bytes: a stall shows within a slice of kStallTimeout.
      poll(pollFds_.data(), pollFds_.size(), static_cast<int>(kEmptyPollSlice.count()));
    } else {
      // The last byte, or no threshold: a byte takes 0.32 ms on a 31,250 baud line, and asking
      // every millisecond adds little.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

MMRESULT RawMidiOutput::SendLong(MIDIHDR* header) {
  if (out_ == nullptr) return MMSYSERR_NODRIVER;
  MMRESULT result = Write(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
  if (result == MMSYSERR_NOERROR) result = WaitUntilSent();
  if (result != MMSYSERR_NOERROR) {
    // Bytes of a message cut short must not reach the device ahead of the next message.
    if (result != MMSYSERR_NODRIVER) snd_rawmidi_drop(out_);
    return result;
  }
  MarkDone(header);
  return MMSYSERR_NOERROR;
}

MMRESULT RawMidiOutput::SendShort(uint32_t packed) {
  if (out_ == nullptr) return MMSYSERR_NODRIVER;
  uint8_t bytes[3];
  UnpackShort(packed, bytes);
  return Write(bytes, ShortMessageLength(bytes[0]));
}

// ---- Sequencer -------------------------------------------------------------------------------

MMRESULT SeqOutput::Open() {
  int error = 0;
  seq_ = OpenSeq(clientName_, SND_SEQ_OPEN_OUTPUT, &error);
  if (!seq_) return FromAlsaError(error);
  const auto destination = DescribeSeqPort(seq_.get(), destination_);
  if (!destination) return MMSYSERR_BADDEVICEID;
  pacing_ = PacingBufferOf(*destination);
  // A card's port puts each event at once into a kernel buffer and drops what does not fit,
  // unseen: it is sent to only when that buffer can be watched.
  if (destination->card >= 0 && !pacing_) return MMSYSERR_ERROR;
  // No other program may see the port or subscribe to it: events go to the device alone.
  port_ =
      snd_seq_create_simple_port(seq_.get(), "out", kUnexportedPort,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (port_ < 0) return FromAlsaError(port_);
  // The subscription is what makes snd-seq-midi open the card's raw MIDI output; events sent
  // to a port that nobody subscribed to are refused. Our own client needs no capability of the
  // port to subscribe it.
  if (int result = snd_seq_connect_to(seq_.get(), port_, destination_.client, destination_.port);
      result < 0) {
    return FromAlsaError(result);
  }
  // The card's output is open now that we are subscribed; a fill that cannot be read (a
  // container that masks /proc/asound, a kernel without it) leaves nothing to pace the sends by.
  if (pacing_ && pacing_->output && !ReadPacingBuffer(*pacing_)) return MMSYSERR_ERROR;
  return MMSYSERR_NOERROR;
}

void SeqOutput::Close() {
  seq_.reset();
}

bool SeqOutput::DestinationThere() {
  return seq_ && DescribeSeqPort(seq_.get(), destination_).has_value();
}

template <typename Ready>
MMRESULT SeqOutput::WaitForFill(Ready ready, BufferFill* seen) {
  size_t lastWaiting = SIZE_MAX;
  auto lastProgress = Clock::now();
  for (;;) {
    const auto fill = ReadPacingBuffer(*pacing_);
    // Unreadable: the card went away, or nobody reads the far end of a VirMIDI port (where the
    // kernel would drop what is sent). Never sent to unwatched.
    if (!fill) return DestinationThere() ? MMSYSERR_ERROR : MMSYSERR_NODRIVER;
    if (fill->size < kSeqChunkBytes) return MMSYSERR_INVALPARAM;
    if (ready(*fill)) {
      if (seen) *seen = *fill;
      return MMSYSERR_NOERROR;
    }
    if (fill->waiting != lastWaiting) {
      lastWaiting = fill->waiting;
      lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > kStallTimeout) {
      return DestinationThere() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

MMRESULT SeqOutput::WaitForRoom(size_t bytes, size_t* room) {
  BufferFill fill;
  const MMRESULT result =
      WaitForFill([&](const BufferFill& f) { return f.waiting + bytes <= f.size; }, &fill);
  *room = result == MMSYSERR_NOERROR ? fill.size - fill.waiting : 0;
  return result;
}

MMRESULT SeqOutput::WaitUntilDrained() {
  return WaitForFill([](const BufferFill& f) { return f.waiting == 0; }, nullptr);
}

MMRESULT SeqOutput::Deliver(snd_seq_event_t& event) {
  const auto deadline = Clock::now() + kStallTimeout;
  for (;;) {
    const int result = snd_seq_event_output_direct(seq_.get(), &event);
    if (result >= 0) return MMSYSERR_NOERROR;
    // A program's input pool that is full refuses the event; it takes it once it has read.
    if ((result != -EAGAIN && result != -ENOMEM) || Clock::now() > deadline) {
      return DestinationThere() ? FromAlsaError(result) : MMSYSERR_NODRIVER;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

MMRESULT SeqOutput::Send(snd_seq_event_t& event) {
  // Addressed to the device itself, not to the subscribers: nobody else gets a copy, and only
  // the device's refusal can make Deliver send an event again.
  snd_seq_ev_set_source(&event, port_);
  snd_seq_ev_set_dest(&event, destination_.client, destination_.port);
  snd_seq_ev_set_direct(&event);
  return Deliver(event);
}

MMRESULT SeqOutput::SendLong(MIDIHDR* header) {
  // Events sent to a port that went away reach nobody without an error.
  if (!DestinationThere()) return MMSYSERR_NODRIVER;
  const auto* bytes = reinterpret_cast<const uint8_t*>(header->lpData);
  const size_t n = header->dwBufferLength;
  // Bytes that the buffer behind the destination surely has room for: it was seen to have that
  // much free, and only the driver takes from it since. A program's port needs none: its full
  // input pool refuses an event, and Deliver tries again.
  size_t room = 0;
  snd_seq_event_t event;
  for (size_t at = 0; at < n;) {
    const size_t chunk = std::min(kSeqChunkBytes, n - at);
    if (pacing_ && room < chunk) {
      if (MMRESULT r = WaitForRoom(chunk, &room); r != MMSYSERR_NOERROR) return r;
    }
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_sysex(&event, chunk, const_cast<uint8_t*>(bytes + at));
    if (MMRESULT r = Send(event); r != MMSYSERR_NOERROR) return r;
    room -= std::min(room, chunk);
    at += chunk;
  }
  // Done once the buffer behind the destination is empty: the last byte has left the kernel.
  if (pacing_) {
    if (MMRESULT r = WaitUntilDrained(); r != MMSYSERR_NOERROR) return r;
  }
  if (!DestinationThere()) return MMSYSERR_NODRIVER;
  MarkDone(header);
  return MMSYSERR_NOERROR;
}

MMRESULT SeqOutput::SendShort(uint32_t packed) {
  uint8_t bytes[3];
  UnpackShort(packed, bytes);
  snd_midi_event_t* encoder = nullptr;
  if (snd_midi_event_new(8, &encoder) < 0) return MMSYSERR_NOMEM;
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  const long used = snd_midi_event_encode(encoder, bytes, ShortMessageLength(bytes[0]), &event);
  snd_midi_event_free(encoder);
  if (used <= 0 || event.type == SND_SEQ_EVENT_NONE) return MMSYSERR_INVALPARAM;
  if (!DestinationThere()) return MMSYSERR_NODRIVER;
  if (pacing_) {
    size_t room = 0;
    if (MMRESULT r = WaitForRoom(ShortMessageLength(bytes[0]), &room); r != MMSYSERR_NOERROR) {
      return r;
    }
  }
  return Send(event);
}

}  // namespace q9m::platform::alsa
