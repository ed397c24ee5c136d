// Conversions per second through libpalfill's C interface, memory to
// memory, on one thread, against the floor: a memcpy of the same bytes into
// memory allocated for the call, as any conversion must at least do.
//
//   cmake -S . -B build-bench -DPALFILL_BENCHMARKS=ON && cmake --build build-bench -j2
//   build-bench/bench/palfill_library_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "palfill.h"
#include "png_builder.h"

namespace {

// About 4 KiB: an 8-bit palette-less image of 64 x 60, stored uncompressed.
const std::string& image_4k() {
  static const std::string png =
      indexed_png(64, 60, 8, [](uint32_t x, uint32_t y) { return (x * 7 + y * 3) % 256; });
  return png;
}

const std::string& clut() {
  static const std::string bytes = clut_bytes(0xA0, "", std::string(256 * 4, '\x40'));
  return bytes;
}

void report(benchmark::State& state) {
  state.counters["conversions_per_s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image_4k().size()));
}

void convert(benchmark::State& state, const std::string* clut_file) {
  const std::string& png = image_4k();
  const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
  const auto* clut_bytes_in =
      clut_file ? reinterpret_cast<const unsigned char*>(clut_file->data()) : nullptr;
  for (auto _ : state) {
    unsigned char* out = nullptr;
    std::size_t size = 0;
    const palfill_result result = palfill_convert(bytes, png.size(), clut_bytes_in,
                                                  clut_file ? clut_file->size() : 0, &out, &size);
    benchmark::DoNotOptimize(out);
    if (result != PALFILL_FINISHED) state.SkipWithError("conversion failed");
    palfill_free(out);
  }
  report(state);
}

void BM_palfill_convert_default_colours(benchmark::State& state) {
  convert(state, nullptr);
}
BENCHMARK(BM_palfill_convert_default_colours);

void BM_palfill_convert_with_clut(benchmark::State& state) {
  convert(state, &clut());
}
BENCHMARK(BM_palfill_convert_with_clut);

void BM_memcpy_floor(benchmark::State& state) {
  const std::string& png = image_4k();
  for (auto _ : state) {
    auto* out = static_cast<unsigned char*>(std::malloc(png.size()));
    std::memcpy(out, png.data(), png.size());
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  report(state);
}
BENCHMARK(BM_memcpy_floor);

}  // namespace

BENCHMARK_MAIN();
