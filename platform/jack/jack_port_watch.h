// Ports coming and going on a JACK server, told by the server's port registration callback.
#pragma once

#include <memory>

#include "platform/jack/jack_client.h"
#include "platform/port_watch.h"

namespace q9m::platform::jack {

// Holds the client active while it watches: the server calls back only an active client. When
// the server does not activate it, the ports are listed again every kRelistInterval instead.
std::unique_ptr<PortWatch> WatchJackPorts(std::shared_ptr<JackClient> client);

}  // namespace q9m::platform::jack
