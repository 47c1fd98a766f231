// The backend on the system's winmm: kept apart so that the backend's logic builds and is
// tested on any system, with a driver layer of the tests' own.
#include "platform/winmm/winmm_backend.h"

namespace q9m::platform {

std::shared_ptr<MidiBackend> MakeWinmmBackend(std::string /*clientName*/, std::string* /*error*/) {
  return MakeWinmmBackendOn(winmm::MakeSystemDriver());
}

}  // namespace q9m::platform
