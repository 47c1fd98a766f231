// The device's end of a raw MIDI device, through alsa-lib: the gadget card of an emulated USB
// MIDI device, or a VirMIDI port. Each direction is opened on its own (one read-write open of
// a VirMIDI device delivers nothing to read). The input gets the largest buffer the kernel
// allows: the USB gadget and VirMIDI drop what their reader has no room for, and never hold
// the sender back. Input is read on a thread of its own, at most at a given rate if asked,
// as a device busy writing its flash takes in its input.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace q9m::devsim {

// The kernel's upper bound for a raw MIDI buffer.
inline constexpr size_t kRawInputBufferBytes = 1024 * 1024;

struct RawIntake {
  uint32_t bytesPerSecond = 0;  // 0: as fast as the bytes come
  uint64_t slowBytes = 0;       // only the first this many bytes at that rate; 0: all
};

class RawMidiDevice {
 public:
  using Receive = std::function<void(const uint8_t* bytes, size_t n)>;

  RawMidiDevice() = default;
  ~RawMidiDevice() { Close(); }
  RawMidiDevice(const RawMidiDevice&) = delete;
  RawMidiDevice& operator=(const RawMidiDevice&) = delete;

  // `name`: an ALSA raw MIDI name ("hw:q9mdev0,0", "hw:CARD=VirMIDI,DEV=1"), or a card's id
  // alone for its first device. Returns what failed, or "" once both directions are open.
  std::string Open(const std::string& name);
  // Calls `receive` on the reading thread with the bytes as they are taken in.
  void Start(Receive receive, RawIntake intake);
  // Blocks until the bytes are in the kernel's buffer. False once the device has gone.
  bool Write(const uint8_t* bytes, size_t n);
  // The device went away (unplugged) or failed; what happened, "" while it works.
  std::string Failure() const;
  void Close();

  const std::string& Name() const { return name_; }
  // Seconds from the first byte until the slow part of the intake had been taken in; 0 until
  // then. (The share of that time the device was busy taking in tells how well the host kept
  // a slow device supplied.)
  double SlowIntakeSeconds() const { return slowSeconds_; }

 private:
  void ReadLoop(Receive receive, RawIntake intake);
  void Fail(const std::string& what, int error);

  std::string name_;
  snd_rawmidi_t* in_ = nullptr;
  snd_rawmidi_t* out_ = nullptr;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::chrono::steady_clock::time_point firstByteAt_{};
  std::atomic<double> slowSeconds_{0};
  mutable std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace q9m::devsim
