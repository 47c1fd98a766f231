// Whole updates and block writes through the real worker, dispatcher, ports and timer against
// the simulated device on the in-process MIDI service. The clock runs at its real speed: these
// are the product's own timings.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench/update_run.h"
#include "protocol/messages.h"
#include "protocol/update_worker.h"

namespace {

using namespace q9m;

constexpr double kPauseSeconds = protocol::kPauseAfterBeginUpdateMs / 1000.0;

// A complete update (7.4 MB of images in 1,802 WriteBlocks, the fixed 500 ms pause after
// BeginUpdate included) against a device that answers at once, over an instant link or one
// of `range(0)` bytes per second. Counters, averaged over the iterations:
// - wall_s: from Execute to the worker giving the controls back.
// - wall_per_block_us: (wall_s - the 500 ms pause) / WriteBlocks. With the device instant this
//   is the host's whole cycle per block: building and sending it, the simulated device taking
//   it in (on its own thread, so only its hand-off delays the host), and the reply waiting for
//   the dispatcher's next 1 ms tick. The erases, the version read and EndUpdate (9 messages)
//   are spread over the blocks too.
// - worker_cpu_per_block_us: CPU time of the worker's thread / WriteBlocks: the time the host
//   itself spends per block (pack, CRC, frame, send, update the view), without any waiting.
// - link_busy_pct (slow links only): bytes the host sent / rate / wall, in percent.
// - link_busy_outside_pause_pct: the same over the wall time less the fixed 500 ms pause after
//   BeginUpdate, during which the protocol keeps the link idle on purpose.
void BM_CompleteUpdate(benchmark::State& state) {
  devsim::DeviceOptions options;
  options.linkBytesPerSecond = static_cast<uint32_t>(state.range(0));
  double wall = 0, worst = 0, perBlock = 0, cpuPerBlock = 0, busy = 0, busyOutsidePause = 0;
  for (auto _ : state) {
    const bench::UpdateResult run = bench::RunWorkerUpdate(options);
    if (const std::string failure = run.Failure(); !failure.empty()) {
      state.SkipWithError(failure.c_str());
      return;
    }
    const double blocks = run.report.received.writeBlocks;
    state.SetIterationTime(run.wallSeconds);
    wall += run.wallSeconds;
    worst = std::max(worst, run.wallSeconds);
    perBlock += (run.wallSeconds - kPauseSeconds) / blocks * 1e6;
    cpuPerBlock += run.workerCpuSeconds / blocks * 1e6;
    if (options.linkBytesPerSecond != 0) {
      const double onLink =
          static_cast<double>(run.report.bytesReceived) / options.linkBytesPerSecond;
      busy += 100.0 * onLink / run.wallSeconds;
      busyOutsidePause += 100.0 * onLink / (run.wallSeconds - kPauseSeconds);
    }
    state.counters["blocks"] = blocks;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["wall_s"] = wall / n;
  state.counters["worst_wall_s"] = worst;
  state.counters["wall_per_block_us"] = perBlock / n;
  state.counters["worker_cpu_per_block_us"] = cpuPerBlock / n;
  if (options.linkBytesPerSecond != 0) {
    state.counters["link_busy_pct"] = busy / n;
    state.counters["link_busy_outside_pause_pct"] = busyOutsidePause / n;
  }
}
BENCHMARK(BM_CompleteUpdate)
    ->ArgName("link_bytes_per_s")
    ->Arg(0)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompleteUpdate)
    ->ArgName("link_bytes_per_s")
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// What verifying by read-back costs: a complete update without and with it, over a link of
// `range(0)` bytes per second in each direction. Counters: wall_s without, verified_wall_s
// with, verify_s the difference, verify_share_pct its share of the verified run's time, and
// reads (ReadRequests, the version read included).
void BM_VerifyCost(benchmark::State& state) {
  devsim::DeviceOptions options;
  options.linkBytesPerSecond = static_cast<uint32_t>(state.range(0));
  double plain = 0, verified = 0, reads = 0;
  for (auto _ : state) {
    const bench::UpdateResult without = bench::RunWorkerUpdate(options);
    const bench::UpdateResult with = bench::RunWorkerUpdate(options, true);
    for (const bench::UpdateResult* run : {&without, &with}) {
      if (const std::string failure = run->Failure(); !failure.empty()) {
        state.SkipWithError(failure.c_str());
        return;
      }
    }
    state.SetIterationTime(with.wallSeconds);
    plain += without.wallSeconds;
    verified += with.wallSeconds;
    reads += with.report.received.reads;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["wall_s"] = plain / n;
  state.counters["verified_wall_s"] = verified / n;
  state.counters["verify_s"] = (verified - plain) / n;
  state.counters["verify_share_pct"] = 100.0 * (verified - plain) / verified;
  state.counters["reads"] = reads / n;
}
BENCHMARK(BM_VerifyCost)
    ->ArgName("link_bytes_per_s")
    ->Arg(0)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The worker's write step alone for `range(1)` full blocks (4,700-byte messages) of image 136
// over a link of `range(0)` bytes per second, after BeginUpdate and the erase. link_busy_pct:
// the bytes the host sent during the step / rate / the step's wall time, in percent; 100 would
// mean that the host and the device add no gap between blocks at all.
void BM_WriteBlocksOverLink(benchmark::State& state) {
  devsim::DeviceOptions options;
  options.linkBytesPerSecond = static_cast<uint32_t>(state.range(0));
  const auto blocks = static_cast<uint32_t>(state.range(1));
  double busy = 0, perBlock = 0;
  for (auto _ : state) {
    const bench::WriteResult run = bench::RunWorkerWrite(options, blocks);
    if (const std::string failure = run.Failure(blocks); !failure.empty()) {
      state.SkipWithError(failure.c_str());
      return;
    }
    state.SetIterationTime(run.wallSeconds);
    busy +=
        100.0 * static_cast<double>(run.bytesSent) / options.linkBytesPerSecond / run.wallSeconds;
    perBlock += run.wallSeconds / blocks * 1e3;
    state.counters["bytes_sent"] = static_cast<double>(run.bytesSent);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["link_busy_pct"] = busy / n;
  state.counters["ms_per_block"] = perBlock / n;
  state.counters["wire_ms_per_block"] =
      1e3 * static_cast<double>(protocol::kMaxWriteBlockLength) / options.linkBytesPerSecond;
}
BENCHMARK(BM_WriteBlocksOverLink)
    ->ArgNames({"link_bytes_per_s", "blocks"})
    ->Args({3'125, 4})
    ->Args({1'000'000, 256})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
