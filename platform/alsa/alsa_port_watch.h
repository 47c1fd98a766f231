// Ports coming and going on the ALSA sequencer, told by its announcements: a client of the
// watch's own, subscribed to the System:Announce port, reads the sequencer's notices of clients
// and ports that start, exit or change.
#pragma once

#include <memory>
#include <string>

#include "platform/port_watch.h"

namespace q9m::platform::alsa {

// The watch's client is named `clientName`, so that no copy lists it as a device. When the
// sequencer refuses it a client or the subscription, the ports are listed again every
// kRelistInterval instead.
std::unique_ptr<PortWatch> WatchSeqPorts(const std::string& clientName);

}  // namespace q9m::platform::alsa
