// What the JACK backend and its open ports share: the monitor client, the clients that are
// this program's own, and the sizes of RtMidi's ring and of a JACK MIDI buffer.
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/jack/jack_monitor.h"
#include "platform/jack/rtmidi_support.h"
#include "platform/midi_types.h"

namespace q9m::platform::jack {

// How long a send may wait for room in RtMidi's ring, or for its message to leave.
inline constexpr std::chrono::milliseconds kSendTimeout{1000};

// RtMidi's JACK output ring: 16,384 bytes of which one stays free, and a 4-byte length before
// each message. The process callback empties the whole ring into the port buffer each cycle.
inline constexpr size_t kRingUsableBytes = 16384 - 1;
inline constexpr size_t kRingRecordBytes = 4;
// A JACK MIDI buffer keeps a header and a record per event besides the event bytes; these
// allowances are larger than what a jackd2 server uses (48 bytes for one event in a buffer).
inline constexpr size_t kMidiBufferHeaderBytes = 64;
inline constexpr size_t kMidiEventRecordBytes = 16;

// A message written into RtMidi's ring while the monitor's count is c is taken by RtMidi's
// process callback in cycle c+1 or c+2 at the latest: the client that takes it can run in
// parallel with the monitor, so cycle c+1 may have started before the write, but cycle c+2
// starts only once c+1 has finished, which was after the write. The destination, which JACK
// runs after its source, has it by the end of cycle c+2, so before the monitor counts c+3.
inline constexpr uint64_t kCyclesUntilDelivered = 3;

// With a callback RtMidi queues nothing; the limit only matters if a message ever arrives
// before the callback is set.
inline constexpr unsigned int kInputQueueLimit = 4096;

struct JackCore {
  std::string clientName;
  std::unique_ptr<JackMonitor> monitor;
  std::mutex mutex;
  std::multiset<std::string> ownClients;
  std::atomic<uint64_t> lastPort{0};

  // A port name that no other program uses, so that the port can be found after RtMidi, which
  // does not say what its client is called, has registered it.
  std::string NewPortName(const char* kind);

  bool IsOwnClient(const std::string& client);

  // Finds the port that RtMidi registered as `shortName` and remembers its client as ours.
  std::optional<std::string> Adopt(const std::string& shortName);

  void Release(const std::string& port);

  // The server writes a new connection into the graph that a later cycle starts with; until
  // then a message would leave through a port that feeds nothing. Waiting as long as a message
  // takes to be delivered covers that switch.
  bool AwaitConnection() const;

  // Registers the virtual port of `midi` (an RtMidiOut or RtMidiIn client on this server, its
  // errors reported to `errors`) under a new name and connects it with `peer`: our output to
  // the peer's input, or the peer's output to our input. `own` gets our port's full name.
  MMRESULT RegisterAndConnect(RtMidi& midi, bool output, RtMidiErrorSink& errors,
                              const std::string& peer, std::string* own);

  size_t MaxMessageBytes() const;
};

}  // namespace q9m::platform::jack
