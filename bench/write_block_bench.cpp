// Building a full WriteBlock: Pack7, Crc32 and framing of 4,096 data bytes in one pass.
#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <vector>

#include "protocol/messages.h"

namespace {

void BM_BuildWriteBlock(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data(n);
  std::mt19937 random(1);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  std::array<uint8_t, q9m::protocol::kMaxWriteBlockLength> message;
  uint32_t address = 0;
  for (auto _ : state) {
    size_t length = q9m::protocol::BuildWriteBlock(message.data(), 0x4A, address, data.data(), n);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
    address += 4096;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_BuildWriteBlock)->Arg(4096)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
