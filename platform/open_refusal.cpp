#include "platform/open_refusal.h"

#include <mutex>

namespace q9m::platform {

namespace {

struct Refusals {
  std::mutex mutex;
  MMRESULT output = MMSYSERR_NOERROR;
  MMRESULT input = MMSYSERR_NOERROR;
};

Refusals& TheRefusals() {
  static Refusals refusals;
  return refusals;
}

}  // namespace

void NoteOpenResult(PortDirection direction, MMRESULT result) {
  Refusals& r = TheRefusals();
  std::lock_guard lock(r.mutex);
  (direction == PortDirection::Output ? r.output : r.input) = result;
}

std::string LastOpenRefusal(PortDirection direction) {
  Refusals& r = TheRefusals();
  std::lock_guard lock(r.mutex);
  const MMRESULT result = direction == PortDirection::Output ? r.output : r.input;
  return result == MMSYSERR_NOERROR ? std::string() : OpenRefusalText(result);
}

std::string OpenRefusalText(MMRESULT result) {
  switch (result) {
    case MMSYSERR_NOERROR:
      return {};
    case MMSYSERR_ALLOCATED:
      return "the port is in use by another program; close that program, or its use of the "
             "port, and try again";
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
      return "the port is no longer there; connect the device, or list the ports again";
    default:
      return "the MIDI system refused it (error " + std::to_string(result) + ")";
  }
}

}  // namespace q9m::platform
