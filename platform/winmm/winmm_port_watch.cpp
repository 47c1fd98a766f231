#include "platform/winmm/winmm_port_watch.h"

namespace q9m::platform::winmm {

namespace {

// Every port as the driver describes it now: its direction, name and interface path.
std::vector<std::string> DescribePorts(Driver& driver) {
  std::vector<std::string> ports;
  const auto add = [&](const char* direction, const std::optional<PortCaps>& caps) {
    ports.push_back(caps ? direction + caps->name + '\n' + caps->interfacePath : direction);
  };
  const uint32_t outputs = driver.OutputCount();
  for (uint32_t id = 0; id < outputs; ++id) add("out ", driver.OutputCaps(id));
  const uint32_t inputs = driver.InputCount();
  for (uint32_t id = 0; id < inputs; ++id) add("in ", driver.InputCaps(id));
  return ports;
}

}  // namespace

std::unique_ptr<PortWatch> WatchWinmmPorts(std::shared_ptr<Driver> driver) {
  return std::make_unique<RelistingPortWatch>([driver] { return DescribePorts(*driver); },
                                              kRelistInterval);
}

}  // namespace q9m::platform::winmm
