// Enciphering and deciphering a finger database: one cipher call over the
// whole image against the zero-block shortcut, on a full database (ten
// enrolled records of ten random 1024-byte templates) and a blank one.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "device/des_buffer.h"
#include "device/finger_database.h"

namespace {

using namespace zyl::device;
using namespace zyl::device::fingerdb;

std::vector<std::uint8_t> Database(bool full) {
  std::vector<std::uint8_t> plain(kPlainSize);
  const Plain view(plain.data(), kPlainSize);
  FormatBlank(view);
  if (full) {
    std::mt19937 rng(7);
    StagingArea staged{};
    for (std::size_t k = 0; k < kEnrolSlots; ++k)
      for (std::size_t i = 0; i < kFeatureSize; ++i) staged[k * kSlotSize + i] = std::uint8_t(rng());
    for (std::size_t r = 0; r < kRecordCount; ++r) RecordAt(view, r).enrol("finger", staged);
  }
  return plain;
}

void BM_WholeBufferEncipher(benchmark::State& state) {
  auto plain = Database(state.range(0) != 0);
  std::vector<std::uint8_t> file(kPlainSize);
  for (auto _ : state) {
    triple_des_ecb_encrypt(plain, stored_key(), file);
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(state.iterations() * kPlainSize);
}
BENCHMARK(BM_WholeBufferEncipher)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_EncipherDatabase(benchmark::State& state) {
  auto plain = Database(state.range(0) != 0);
  std::vector<std::uint8_t> file(kPlainSize);
  for (auto _ : state) {
    EncipherDatabase(Plain(plain.data(), kPlainSize), std::span<std::uint8_t, kPlainSize>(file.data(), kPlainSize));
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(state.iterations() * kPlainSize);
}
BENCHMARK(BM_EncipherDatabase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DecipherDatabase(benchmark::State& state) {
  auto plain = Database(state.range(0) != 0);
  std::vector<std::uint8_t> file(kPlainSize), back(kPlainSize);
  triple_des_ecb_encrypt(plain, stored_key(), file);
  for (auto _ : state) {
    DecipherDatabase(std::span<const std::uint8_t, kPlainSize>(file.data(), kPlainSize),
                     Plain(back.data(), kPlainSize));
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(state.iterations() * kPlainSize);
}
BENCHMARK(BM_DecipherDatabase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
