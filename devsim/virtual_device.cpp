#include "devsim/virtual_device.h"

namespace q9m::devsim {

VirtualDevice::VirtualDevice(platform::VirtualMidiService& service, std::string name,
                             DeviceOptions options)
    : device_(std::make_shared<SimulatedDevice>(std::move(options))),
      service_(service),
      // The host's send is held until the message has passed the emulated link.
      outputId(service.AddLinkedOutput(name,
                                       [device = device_](const uint8_t* bytes, size_t n) {
                                         return device->Receive(bytes, n, true);
                                       })),
      inputId(service.AddInput(name)) {
  device_->Start([this](const uint8_t* bytes, size_t n) { service_.Inject(inputId, bytes, n); });
}

VirtualDevice::~VirtualDevice() {
  device_->Stop();
  service_.UnplugOutput(outputId);
  service_.UnplugInput(inputId);
}

}  // namespace q9m::devsim
