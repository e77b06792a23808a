// Cutting a large stream into NAL units and removing their emulation
// prevention bytes, against the least any reader of the file must do: read
// it in blocks of the same size and find every 00 00 01 with memchr.
//
//   nal_reader_bench [stream file] [benchmark flags]
//
// Both run over the same file, warm in the page cache; the last line gives
// the ratio of the two medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "bench_support.h"
#include "stream/nal_reader.h"

namespace tarnwell {
namespace {

using bench::reader_pass;
using bench::ReaderCounts;
using bench::SilentDialog;

// The same file read in blocks of the window's size, every 00 00 01 found
// with memchr, also those split between two blocks.
uint64_t reference_pass(std::vector<uint8_t>& block, std::FILE* file) {
  std::rewind(file);
  uint64_t start_codes = 0;
  uint8_t before2 = 0xFF;
  uint8_t before1 = 0xFF;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), file);
    const uint8_t* p = block.data();
    for (std::size_t from = 0; from < n;) {
      const void* hit = std::memchr(p + from, 0x01, n - from);
      if (hit == nullptr) break;
      const std::size_t k = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - p);
      const uint8_t b1 = k >= 1 ? p[k - 1] : before1;
      const uint8_t b2 = k >= 2 ? p[k - 2] : (k == 1 ? before1 : before2);
      if (b1 == 0 && b2 == 0) ++start_codes;
      from = k + 1;
    }
    if (n >= 2) {
      before2 = p[n - 2];
      before1 = p[n - 1];
    } else if (n == 1) {
      before2 = before1;
      before1 = p[0];
    }
    if (n < block.size()) return start_codes;
  }
}

// What both benchmarks share: the open file and the buffers, allocated once
// like the application's, so that no run pays for fresh pages.
struct Setup {
  explicit Setup(const std::string& path) : stream(path) {}
  bench::OpenStream stream;
  SilentDialog dialog;
  ErrorReporter reporter{dialog};
  NalReader reader{reporter};
  std::vector<uint8_t> block = std::vector<uint8_t>(kReadWindowBytes);
};

void nal_reader(benchmark::State& state, Setup* setup) {
  // A pass before the timed ones: every run is warm.
  ReaderCounts counts = reader_pass(setup->reader, setup->stream.file());
  for (auto _ : state) {
    counts = reader_pass(setup->reader, setup->stream.file());
    benchmark::DoNotOptimize(counts.nal_bytes);
  }
  state.SetBytesProcessed(setup->stream.size() * static_cast<int64_t>(state.iterations()));
  state.counters["nal_units"] = static_cast<double>(counts.nal_units);
  state.counters["nal_bytes"] = static_cast<double>(counts.nal_bytes);
}

void reference_scan(benchmark::State& state, Setup* setup) {
  uint64_t start_codes = reference_pass(setup->block, setup->stream.file());
  for (auto _ : state) {
    start_codes = reference_pass(setup->block, setup->stream.file());
    benchmark::DoNotOptimize(start_codes);
  }
  state.SetBytesProcessed(setup->stream.size() * static_cast<int64_t>(state.iterations()));
  state.counters["start_codes"] = static_cast<double>(start_codes);
}

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  Setup setup(bench::initialize(argc, argv));
  if (!setup.stream) return 1;
  benchmark::RegisterBenchmark("reference_scan", reference_scan, &setup)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  benchmark::RegisterBenchmark("nal_reader", nal_reader, &setup)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  bench::MedianReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double reader_ms = reporter.median("nal_reader");
  const double reference_ms = reporter.median("reference_scan");
  if (reader_ms > 0 && reference_ms > 0) {
    std::printf("median nal_reader %.1f ms, reference_scan %.1f ms, ratio %.2f\n", reader_ms, reference_ms,
                reader_ms / reference_ms);
  }
  benchmark::Shutdown();
  return 0;
}
