// Feeds arbitrary bytes to the reply dispatcher as queued messages. The input's first byte
// picks the model byte the host expects; the rest is cut after every F7 into messages, each
// copied into a heap block of exactly its length so that any read past it is caught.
#include <cstring>
#include <memory>

#include "platform/midi_service.h"
#include "platform/virtual/virtual_midi_service.h"
#include "protocol/reply_dispatcher.h"

using namespace q9m;

namespace {

struct Harness {
  Harness() {
    service = std::make_shared<platform::VirtualMidiService>();
    service->AddOutput("device", [](const uint8_t*, size_t) {});
    platform::StartMidiService(service);
    outPort.Open(0);
  }
  std::shared_ptr<platform::VirtualMidiService> service;
  midi::MidiInPort inPort;
  midi::MidiOutPort outPort;
  protocol::DeviceState device;
  protocol::UpdateContext context{inPort, outPort, device};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size == 0) return 0;
  harness.device.deviceCode.Set({static_cast<uint8_t>(data[0] & 0x7F), 0, 0, 0});
  harness.device.readBack.Reset();
  size_t start = 1;
  for (size_t i = 1; i <= size; ++i) {
    if (i == size || data[i - 1] == 0xF7) {
      const size_t length = i - start;
      if (length > 0) {
        auto copy = std::make_unique<uint8_t[]>(length);
        std::memcpy(copy.get(), data + start, length);
        protocol::DispatchReply(harness.context, copy.get(), length);
      }
      start = i;
    }
  }
  while (harness.context.replyEvent.Wait(0)) {
  }
  return 0;
}
