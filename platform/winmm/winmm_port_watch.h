// Ports coming and going on winmm. winmm tells of devices that arrive or leave only through a
// window's WM_DEVICECHANGE message, and a console program or a worker thread has no window; so
// the watch lists the ports again (midiOutGetNumDevs, midiInGetNumDevs and each port's caps)
// every kRelistInterval, which costs a few calls into the driver a second.
#pragma once

#include <memory>

#include "platform/port_watch.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform::winmm {

std::unique_ptr<PortWatch> WatchWinmmPorts(std::shared_ptr<Driver> driver);

}  // namespace q9m::platform::winmm
