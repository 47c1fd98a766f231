// Throughput of the input port's System Exclusive hand-off: the service's callback copying a
// received buffer into the queue (producer), the dispatcher peeking and dropping (consumer),
// and both at once on two threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "midi/midi_in_port.h"
#include "platform/midi_types.h"

namespace {

using q9m::midi::MidiInPort;
using q9m::platform::MIDIHDR;

struct Received {
  std::vector<char> bytes;
  MIDIHDR header{};

  explicit Received(size_t length) : bytes(length, 0x11) {
    bytes.front() = static_cast<char>(0xF0);
    bytes.back() = static_cast<char>(0xF7);
    header.lpData = bytes.data();
    header.dwBufferLength = static_cast<uint32_t>(length);
    header.dwBytesRecorded = static_cast<uint32_t>(length);
  }
  // As the service returns it: done, with the bytes recorded.
  void Deliver(MidiInPort& port) {
    header.dwFlags = q9m::platform::MHDR_DONE;
    MidiInPort::InputCallback({}, q9m::platform::MIM_LONGDATA, reinterpret_cast<uintptr_t>(&port),
                              reinterpret_cast<uintptr_t>(&header), 0);
  }
};

size_t DrainAll(MidiInPort& port) {
  size_t n = 0;
  size_t length = 0;
  while (port.PeekSysEx(&length) != nullptr) {
    port.DropSysEx();
    ++n;
  }
  return n;
}

// Argument: message length. The callback copies, links, and hands the header back (here to a
// port that is not open, so the service refuses it after looking the handle up).
void BM_Producer(benchmark::State& state) {
  MidiInPort port;
  Received received(static_cast<size_t>(state.range(0)));
  size_t queued = 0;
  for (auto _ : state) {
    received.Deliver(port);
    if (++queued == 4096) {
      state.PauseTiming();
      DrainAll(port);
      queued = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Producer)->Arg(16)->Arg(256)->Arg(8192);

void BM_Consumer(benchmark::State& state) {
  MidiInPort port;
  Received received(static_cast<size_t>(state.range(0)));
  constexpr int kBatch = 4096;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) received.Deliver(port);
    state.ResumeTiming();
    benchmark::DoNotOptimize(DrainAll(port));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Consumer)->Arg(16)->Arg(256)->Arg(8192);

// One producer thread and the consumer on the benchmark's thread, messages end to end.
void BM_HandOff(benchmark::State& state) {
  constexpr size_t kMessages = 100000;
  Received received(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    MidiInPort port;
    std::thread producer([&] {
      for (size_t i = 0; i < kMessages; ++i) received.Deliver(port);
    });
    size_t seen = 0;
    size_t length = 0;
    while (seen < kMessages) {
      if (port.PeekSysEx(&length) == nullptr) continue;
      port.DropSysEx();
      ++seen;
    }
    producer.join();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMessages));
}
BENCHMARK(BM_HandOff)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
