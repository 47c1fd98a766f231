#include "midi/midi_out_port.h"

#include "platform/midi_service.h"

namespace q9m::midi {

using namespace q9m::platform;

MidiOutPort::~MidiOutPort() {
  Close();
}

uint32_t MidiOutPort::GetDeviceCount() {
  return midiOutGetNumDevs();
}

void MidiOutPort::GetDeviceName(uint32_t index, char* buffer) {
  MIDIOUTCAPSA caps{};
  const bool described = midiOutGetDevCapsA(index, &caps, sizeof caps) == MMSYSERR_NOERROR;
  CopyPortName(described ? caps.szPname : nullptr, sizeof caps.szPname, buffer);
}

int MidiOutPort::Open(uint32_t index) {
  if (IsOpen()) {
    if (index == deviceIndex_) return 1;
    Close();
  }
  deviceIndex_ = index;
  HMIDIOUT handle{};
  if (midiOutOpen(&handle, index, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return 0;
  handle_ = handle;
  return 1;
}

int MidiOutPort::Close() {
  const HMIDIOUT handle = handle_.exchange(HMIDIOUT{});
  if (handle == HMIDIOUT{}) return 0;
  midiOutClose(handle);
  return 1;
}

int MidiOutPort::SendLong(MIDIHDR* header) {
  const HMIDIOUT handle = handle_.load();
  if (handle == HMIDIOUT{}) return 0;
  if (midiOutPrepareHeader(handle, header, sizeof *header) != MMSYSERR_NOERROR) return 0;
  if (midiOutLongMsg(handle, header, sizeof *header) != MMSYSERR_NOERROR) {
    // The header lives only for this call; leave it as it was handed in.
    midiOutUnprepareHeader(handle, header, sizeof *header);
    return 0;
  }
  // Looks at the done flag every millisecond; the backend's MarkDone ends each wait at once.
  for (uint32_t flags; ((flags = LoadFlags(header)) & MHDR_DONE) == 0;) {
    WaitForFlagChange(header, flags, 1);
  }
  midiOutUnprepareHeader(handle, header, sizeof *header);
  return 1;
}

int MidiOutPort::SendShort(uint32_t message) {
  const HMIDIOUT handle = handle_.load();
  if (handle == HMIDIOUT{}) return 0;
  return midiOutShortMsg(handle, message) == MMSYSERR_NOERROR ? 1 : 0;
}

int MidiOutPort::SendShort(uint32_t status, uint32_t data1, uint32_t data2) {
  return SendShort((status & 0xFF) | (data1 & 0xFF) << 8 | (data2 & 0xFF) << 16);
}

}  // namespace q9m::midi
