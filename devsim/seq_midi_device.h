// The simulated device's ports on the ALSA sequencer, through alsa-lib: a client with one port
// that the device listens on (the updater's output subscribes to it) and a client with one
// port that it answers through (the updater's input subscribes to that). The updater lists a
// client with one port under the client's name, as a USB device's client is named like the
// device, so each client is named like its port.
//
// The updater sends a 4,700-byte block as System Exclusive events of up to 256 bytes each,
// without waiting in between: they wait in the listening client's input pool until read. The
// pool is made as large as the kernel allows (a block takes about 200 of its cells), and the
// read buffer holds the largest event whole. When the pool overflows nevertheless, the kernel
// drops what it held and says so on the next read: the unfinished message is abandoned, and
// the loss is counted and reported.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace q9m::devsim {

// The kernel's most cells for a client's input pool; a cell carries 28 bytes of an event.
inline constexpr int kSeqInputPoolCells = 2000;
// alsa-lib's read buffer: an event and its data must fit whole.
inline constexpr size_t kSeqInputBufferBytes = 65536;
// The largest event the answers are cut into, as snd-seq-midi cuts System Exclusive.
inline constexpr size_t kSeqOutputChunkBytes = 256;

class SeqMidiDevice {
 public:
  using Receive = std::function<void(const uint8_t* bytes, size_t n)>;
  using Lost = std::function<void()>;

  SeqMidiDevice() = default;
  ~SeqMidiDevice() { Close(); }
  SeqMidiDevice(const SeqMidiDevice&) = delete;
  SeqMidiDevice& operator=(const SeqMidiDevice&) = delete;

  // Opens both clients and their ports. Returns what failed, or "" once both are open.
  std::string Open(const std::string& inPort, const std::string& outPort,
                   const std::string& clientSuffix);
  // Reads on a thread of its own: `receive` gets the bytes of each event in arrival order,
  // `lost` is called when the kernel dropped input.
  void Start(Receive receive, Lost lost);
  // Sends the bytes to every subscriber as System Exclusive (or short) events. False, with a
  // line on stderr, when the sequencer refuses them.
  bool Write(const uint8_t* bytes, size_t n);
  void Close();

  // Input errors: reads that failed or reported lost events.
  uint64_t InputErrors() const { return inputErrors_; }
  uint64_t EventsIn() const { return eventsIn_; }

 private:
  void ReadLoop(Receive receive, Lost lost);
  bool SendEvent(snd_seq_event_t& event);

  snd_seq_t* in_ = nullptr;
  snd_seq_t* out_ = nullptr;
  int inPort_ = -1;
  int outPort_ = -1;
  snd_midi_event_t* encoder_ = nullptr;  // short messages (only the writer uses it)
  snd_midi_event_t* decoder_ = nullptr;  // events other than System Exclusive (the reader)
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> inputErrors_{0};
  std::atomic<uint64_t> eventsIn_{0};
};

}  // namespace q9m::devsim
