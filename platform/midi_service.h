// The MIDI service: ports listed by index and name, opened by index, long and short
// messages out, System Exclusive and short messages in through a driver callback.
//
// The free functions below are what the ports call. They forward to the backend that was
// started with StartMidiService: a MIDI system's backend for real ports, or the in-process virtual
// service for tests and the simulated device. The handling that every backend shares (header flags,
// handle table, one message at a time per output port, filling input headers) lives here,
// so a backend only moves bytes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/midi_types.h"
#include "platform/port_watch.h"

namespace q9m::platform {

// ---- What a backend provides --------------------------------------------------------------

// Operations on an open output port that a backend (or a test hook) may refuse.
enum class OutputOp { Open, Prepare, LongMsg, ShortMsg };
// Operations on an open input port that a backend (or a test hook) may refuse.
enum class InputOp { Open, Reset, Prepare, AddBuffer, Start, Stop, Unprepare, Close };

class OutputConnection {
 public:
  virtual ~OutputConnection() = default;
  // MMSYSERR_NOERROR to let the operation go ahead; used by the virtual service's fault hooks.
  virtual MMRESULT Check(OutputOp) { return MMSYSERR_NOERROR; }
  // Sends the whole message in header->lpData[0, dwBufferLength). Calls are never concurrent
  // on one connection. On success the backend sets MHDR_DONE (with MarkDone) once the message
  // has left, before or after returning; on failure it leaves the flags alone.
  virtual MMRESULT SendLong(MIDIHDR* header) = 0;
  virtual MMRESULT SendShort(uint32_t packed) = 0;
  // Called once. Afterwards no send reaches the wire, and every header still in flight is done.
  virtual void Close() = 0;
};

// Receives what an input source delivers: any split of the incoming byte stream.
class InputReceiver {
 public:
  virtual ~InputReceiver() = default;
  virtual void Receive(const uint8_t* bytes, size_t n) = 0;
  // Bytes were lost at this point of the stream (a buffer on the way overflowed): a message
  // being received is incomplete, and the bytes that follow must not complete it.
  virtual void Lost() {}
};

class InputSource {
 public:
  virtual ~InputSource() = default;
  virtual MMRESULT Check(InputOp) { return MMSYSERR_NOERROR; }
  // Called once. When it returns, the source no longer calls its receiver.
  virtual void Close() = 0;
};

class MidiBackend {
 public:
  virtual ~MidiBackend() = default;
  virtual uint32_t OutputCount() = 0;
  // The port's name as the device gives it, or nothing when the port cannot be described.
  virtual std::optional<std::string> OutputName(uint32_t index) = 0;
  virtual std::unique_ptr<OutputConnection> OpenOutput(uint32_t index, MMRESULT& error) = 0;
  virtual uint32_t InputCount() = 0;
  virtual std::optional<std::string> InputName(uint32_t index) = 0;
  // The source calls receiver.Receive on a thread of its own until it is closed.
  virtual std::unique_ptr<InputSource> OpenInput(uint32_t index, InputReceiver& receiver,
                                                 MMRESULT& error) = 0;
  // What the user must know before an update over the listed port: empty, or a sentence
  // saying that the port runs through a bridge known to cut long messages.
  virtual std::string OutputWarning(uint32_t) { return {}; }
  virtual std::string InputWarning(uint32_t) { return {}; }
  // What tells the port at `index` apart from every other port, or nothing when there is no
  // such port. The service notes it when a port is listed (its capability record read) and
  // opens that index only while it still gives the same identity: a port that went away, or
  // another device that now stands at its place, is refused rather than opened. By default
  // the port's name, which tells at least devices of other names apart; a backend that can
  // tell identical devices apart (by where they are plugged in, say) says so here.
  virtual std::optional<std::string> OutputIdentity(uint32_t index) { return OutputName(index); }
  virtual std::optional<std::string> InputIdentity(uint32_t index) { return InputName(index); }
  // Follows the ports coming and going through the system's own notice. Safe to use from any
  // thread, also after the service has stopped. By default the caller is told to list again
  // every kRelistInterval.
  virtual std::unique_ptr<PortWatch> WatchPorts() { return MakePeriodicPortWatch(); }
};

// Makes `backend` the service that the functions below use. Ports opened on an earlier
// backend stay usable until they are closed.
void StartMidiService(std::shared_ptr<MidiBackend> backend);
// Closes every port still open and leaves no service: counts are 0 and opens fail.
void StopMidiService();

// A watch on the running service's ports (see PortWatch); without a service, one that waits
// until its deadline.
std::unique_ptr<PortWatch> WatchMidiPorts();

// Sets MHDR_DONE (and clears MHDR_INQUEUE) and wakes a thread waiting in WaitForFlagChange,
// so that a blocking send returns at once. The one thing a backend does when a long message
// has left; it takes no lock and may be called from a real-time thread. The header may be
// gone once it returns.
void MarkDone(MIDIHDR* header);
// Reads the flags of a header that another thread may be completing.
uint32_t LoadFlags(const MIDIHDR* header);
// Waits until the header's flags differ from `seen` (MarkDone has run), for at most
// `milliseconds` of platform time. May return early; callers read the flags again.
void WaitForFlagChange(const MIDIHDR* header, uint32_t seen, uint32_t milliseconds);

// Shortens a port name to what a capability record holds: at most kPortNameMaxChars
// characters, never cutting a UTF-8 sequence in half.
std::string FitPortName(const std::string& name);

// The warning for the output or input port at `deviceId` as last listed (see
// MidiBackend::OutputWarning); empty when there is none or no such port.
std::string MidiOutPortWarning(uint32_t deviceId);
std::string MidiInPortWarning(uint32_t deviceId);

// ---- What the ports call -------------------------------------------------------------------

uint32_t midiOutGetNumDevs();
MMRESULT midiOutGetDevCapsA(uintptr_t deviceId, MIDIOUTCAPSA* caps, uint32_t capsSize);
MMRESULT midiOutOpen(HMIDIOUT* handle, uint32_t deviceId, uintptr_t callback, uintptr_t instance,
                     uint32_t flags);
MMRESULT midiOutClose(HMIDIOUT handle);
MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiOutShortMsg(HMIDIOUT handle, uint32_t message);

uint32_t midiInGetNumDevs();
MMRESULT midiInGetDevCapsA(uintptr_t deviceId, MIDIINCAPSA* caps, uint32_t capsSize);
MMRESULT midiInOpen(HMIDIIN* handle, uint32_t deviceId, uintptr_t callback, uintptr_t instance,
                    uint32_t flags);
MMRESULT midiInClose(HMIDIIN handle);
MMRESULT midiInReset(HMIDIIN handle);
MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize);
MMRESULT midiInStart(HMIDIIN handle);
MMRESULT midiInStop(HMIDIIN handle);

}  // namespace q9m::platform
