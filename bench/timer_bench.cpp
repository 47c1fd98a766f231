// The 1 ms tick as the updater runs it (CDxMTimer on the timer service): how evenly the ticks
// come, and what the ticking costs the process while the callbacks do nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "midi/dxm_timer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TickLog {
  std::vector<Clock::time_point> times;
  std::atomic<size_t> count{0};
};

void RecordTick(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* log = reinterpret_cast<TickLog*>(user);
  const size_t at = log->count.load(std::memory_order_relaxed);
  if (at < log->times.size()) log->times[at] = Clock::now();
  log->count.store(at + 1, std::memory_order_release);
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(at), values.end());
  return values[at];
}

// Argument: seconds of ticking.
void BM_OneMillisecondTick(benchmark::State& state) {
  const auto seconds = std::chrono::seconds(state.range(0));
  std::vector<double> intervals;
  double cpuPerSecond = 0;
  for (auto _ : state) {
    TickLog log;
    log.times.resize(static_cast<size_t>(state.range(0)) * 1000 + 1000);
    q9m::midi::CDxMTimer timer;
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = Clock::now();
    timer.Start(1, RecordTick, reinterpret_cast<uintptr_t>(&log));
    std::this_thread::sleep_for(seconds);  // the measuring thread sleeps: all CPU is the tick's
    timer.Stop();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    cpuPerSecond = cpu / wall;

    const size_t ticks = std::min(log.count.load(std::memory_order_acquire), log.times.size());
    intervals.clear();
    for (size_t i = 1; i < ticks; ++i) {
      intervals.push_back(
          std::chrono::duration<double, std::milli>(log.times[i] - log.times[i - 1]).count());
    }
    state.counters["ticks"] = static_cast<double>(ticks);
  }
  double sum = 0;
  for (double interval : intervals) sum += interval;
  state.counters["mean_ms"] = intervals.empty() ? 0 : sum / intervals.size();
  state.counters["median_ms"] = Percentile(intervals, 0.5);
  state.counters["p99_ms"] = Percentile(intervals, 0.99);
  state.counters["p999_ms"] = Percentile(intervals, 0.999);
  state.counters["max_ms"] = Percentile(intervals, 1.0);
  state.counters["cpu_pct_of_core"] = cpuPerSecond * 100;
}
BENCHMARK(BM_OneMillisecondTick)
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
