// The simulated device on the in-process MIDI service: an output port that the host sends to
// and an input port, both named `name`, that the device answers through.
#pragma once

#include <memory>
#include <string>

#include "devsim/simulated_device.h"
#include "platform/virtual/virtual_midi_service.h"

namespace q9m::devsim {

class VirtualDevice {
  // Held by the output port's sink as well, so a send that races the destructor still finds
  // a (stopped) device.
  const std::shared_ptr<SimulatedDevice> device_;
  platform::VirtualMidiService& service_;

 public:
  // Adds the two ports at the end of the service's lists and starts the device.
  VirtualDevice(platform::VirtualMidiService& service, std::string name, DeviceOptions options);
  // Stops the device and unplugs both ports. The service must outlive this object.
  ~VirtualDevice();
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  SimulatedDevice& Device() { return *device_; }
  DeviceReport Report() const { return device_->Report(); }

  const uint32_t outputId;  // the port the host sends to
  const uint32_t inputId;   // the port the device answers through
};

}  // namespace q9m::devsim
