// Outputs to an ALSA port, each sending a message whole and marking it done only once its last
// byte has left the kernel's buffers, or failing.
//
// The buffers on the way, and what they do when full:
// - a card's raw MIDI output buffer (4,096 bytes unless set otherwise; RawMidiOutput asks for
//   kRawOutputBufferBytes): a raw MIDI write takes what fits and waits for the rest; the driver
//   empties it as fast as the device takes bytes (USB MIDI: as the device acknowledges USB
//   packets, up to 7 of them in flight);
// - on the sequencer, snd-seq-midi copies each event at once into that same buffer and drops an
//   event that does not fit, telling nobody but the kernel log ("MIDI output buffer overrun");
// - VirMIDI hands each event to the input buffer of whoever reads its raw device, and drops
//   what does not fit there, silently;
// - a program's sequencer client has an input pool; a full pool refuses the event.
#pragma once

#include <alsa/asoundlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/alsa/alsa_seq.h"
#include "platform/midi_service.h"

namespace q9m::platform::alsa {

// How long a send may wait while the device takes no byte before it fails.
inline constexpr std::chrono::milliseconds kStallTimeout{1000};
// How long a wait for the raw MIDI buffer to empty sleeps at most before it looks for progress.
inline constexpr std::chrono::milliseconds kEmptyPollSlice{100};

// The raw MIDI output buffer asked for: larger than any message the updater sends (a write
// block is 4,700 bytes), so that each message goes into the buffer with one write.
inline constexpr size_t kRawOutputBufferBytes = 16384;

// A card's raw MIDI output substream, opened by this program alone. Nothing is written that
// the buffer has no room for, so no byte is ever dropped on the way.
//
// The kernel takes a write's bytes into the ring before it has copied them: it moves the write
// pointer, drops its lock and copies from the program (snd_rawmidi_kernel_write1). A driver's
// transmitter that runs meanwhile sends whatever the ring held there before, stale bytes of an
// earlier message. The transmitter is started again only at the end of that write, so every
// write goes into an empty ring whose transmitter has stopped: with snd-usb-audio, a drain
// waits for the USB packets still in flight and stops it for sure; other drivers get a pause.
class RawMidiOutput final : public OutputConnection {
 public:
  explicit RawMidiOutput(RawMidiAddress address) : address_(address) {}
  ~RawMidiOutput() override { Close(); }

  // MMSYSERR_ALLOCATED when another program (or the sequencer, for a subscriber of the port)
  // holds the substream.
  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  // Asks for kRawOutputBufferBytes; keeps the buffer the kernel gave when it refuses.
  MMRESULT SizeBuffer();
  // Sets the output's wake-up threshold so that a poll returns only once the buffer is all but
  // empty, and keeps the descriptors to poll; false when the kernel refuses.
  bool SetWakeWhenEmpty();
  // Writes all `n` bytes, a buffer's worth at a time, each into the empty, stopped buffer.
  MMRESULT Write(const uint8_t* bytes, size_t n);
  // Waits until the driver has taken every byte from the buffer and sent it on, and its
  // transmitter has stopped.
  MMRESULT WaitUntilSent();
  // Waits until the buffer is empty; fails when the device takes no byte for kStallTimeout.
  MMRESULT WaitUntilEmpty();

  const RawMidiAddress address_;
  snd_rawmidi_t* out_ = nullptr;
  size_t bufferSize_ = 0;
  // The driver's drain waits only for what is in flight (snd-usb-audio); the kernel's drain for
  // a driver without one sleeps 50 ms, too long to pay for every message.
  bool driverDrains_ = false;
  // Bytes were written since the transmitter was last seen stopped.
  bool transmitterMayRun_ = true;
  // The kernel wakes a poll on pollFds_ only once at most one byte is left in the buffer;
  // without that (a kernel that refused the threshold) WaitUntilEmpty asks every millisecond.
  bool wakesWhenEmpty_ = false;
  std::vector<pollfd> pollFds_;
};

// A port of a sequencer client of this program's own, subscribed to the destination. A message
// goes as System Exclusive events of kSeqChunkBytes at most, each only when the kernel buffer
// behind the destination has room for it all. A card's port whose buffer cannot be seen is
// refused: it would drop what does not fit, unseen.
class SeqOutput final : public OutputConnection {
 public:
  SeqOutput(std::string clientName, SeqAddress destination)
      : clientName_(std::move(clientName)), destination_(destination) {}
  ~SeqOutput() override { Close(); }

  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  // Sends one event to the subscriber, at once.
  MMRESULT Send(snd_seq_event_t& event);
  // Sends one event, retrying while a program's full input pool refuses it.
  MMRESULT Deliver(snd_seq_event_t& event);
  // Wait on the buffer behind the destination: until it has room for `bytes` more (the room it
  // then has goes to *room), or until it is empty. Each fails when its fill cannot be read or
  // stays put for kStallTimeout.
  MMRESULT WaitForRoom(size_t bytes, size_t* room);
  MMRESULT WaitUntilDrained();
  template <typename Ready>
  MMRESULT WaitForFill(Ready ready, BufferFill* seen);
  bool DestinationThere();

  const std::string clientName_;
  const SeqAddress destination_;
  SeqHandle seq_;
  int port_ = -1;
  std::optional<PacingBuffer> pacing_;
};

// The size of the events a message is cut into: what snd-seq-midi itself makes of received
// System Exclusive, and small enough to fit any raw MIDI buffer many times.
inline constexpr size_t kSeqChunkBytes = 256;

}  // namespace q9m::platform::alsa
