// From a reply's arrival in the input callback to the signal of ReplyEvent, with the 1 ms
// timer running the dispatcher: median and 99th percentile, in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "midi/dxm_timer.h"
#include "platform/midi_service.h"
#include "platform/virtual/virtual_midi_service.h"
#include "protocol/reply_dispatcher.h"

using namespace q9m;
using Clock = std::chrono::steady_clock;

namespace {

void BM_ReplyToSignal(benchmark::State& state) {
  auto service = std::make_shared<platform::VirtualMidiService>();
  service->AddOutput("device", nullptr);
  const uint32_t input = service->AddInput("device");
  platform::StartMidiService(service);
  {
    midi::MidiInPort inPort;
    midi::MidiOutPort outPort;
    protocol::DeviceState device;
    device.deviceCode.Set({0x4A, 0, 0, 0});
    protocol::UpdateContext context(inPort, outPort, device);
    outPort.Open(0);
    inPort.Start();
    midi::CDxMTimer timer;
    protocol::StartReplyDispatcher(timer, context);
    const std::vector<uint8_t> ack = {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7};
    std::vector<double> micros;
    for (auto _ : state) {
      const auto sent = Clock::now();
      service->Inject(input, ack);
      context.replyEvent.Wait(1000);
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
      // Arrive at a random point of the tick, as replies do.
      std::this_thread::sleep_for(std::chrono::microseconds(micros.size() * 37 % 1000));
    }
    timer.Stop();
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
  platform::StopMidiService();
}
BENCHMARK(BM_ReplyToSignal)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
