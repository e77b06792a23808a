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

#include "base/dialog_port.h"
#include "base/error_reporter.h"
#include "stream/nal_reader.h"

namespace tarnwell {
namespace {

class SilentDialog : public DialogPort {
 public:
  void set_progress(int, uint32_t) override {}
  void set_text(int, const std::string&) override {}
  void set_unsigned(int, uint32_t) override {}
  std::string get_text(int, std::size_t) override { return {}; }
  void enable(int, bool) override {}
  bool is_checked(int) override { return false; }
  BoxAnswer message_box(const std::string&, const char*, BoxKind) override { return BoxAnswer::Yes; }
};

struct Counts {
  uint64_t nal_units = 0;
  uint64_t nal_bytes = 0;
};

// One pass of the reader over the whole file, each NAL unit prepared as the
// picture assembler prepares it.
Counts reader_pass(NalReader& reader, std::FILE* file) {
  Counts counts;
  NalUnit nal;
  std::rewind(file);
  reader.reset();
  reader.begin_stream(file);
  while (reader.GetAnnexbNALU(nal) == 1) {
    reader.prepare(nal);
    ++counts.nal_units;
    counts.nal_bytes += static_cast<uint64_t>(nal.length) + nal.dropped_bytes;
  }
  return counts;
}

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
  std::FILE* file = nullptr;
  int64_t size = 0;
  SilentDialog dialog;
  ErrorReporter reporter{dialog};
  NalReader reader{reporter};
  std::vector<uint8_t> block = std::vector<uint8_t>(kReadWindowBytes);
};

void nal_reader(benchmark::State& state, Setup* setup) {
  // A pass before the timed ones: every run is warm.
  Counts counts = reader_pass(setup->reader, setup->file);
  for (auto _ : state) {
    counts = reader_pass(setup->reader, setup->file);
    benchmark::DoNotOptimize(counts.nal_bytes);
  }
  state.SetBytesProcessed(setup->size * static_cast<int64_t>(state.iterations()));
  state.counters["nal_units"] = static_cast<double>(counts.nal_units);
  state.counters["nal_bytes"] = static_cast<double>(counts.nal_bytes);
}

void reference_scan(benchmark::State& state, Setup* setup) {
  uint64_t start_codes = reference_pass(setup->block, setup->file);
  for (auto _ : state) {
    start_codes = reference_pass(setup->block, setup->file);
    benchmark::DoNotOptimize(start_codes);
  }
  state.SetBytesProcessed(setup->size * static_cast<int64_t>(state.iterations()));
  state.counters["start_codes"] = static_cast<double>(start_codes);
}

// The console output, plus the medians it saw.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const std::string name = run.benchmark_name();
      if (name.rfind("nal_reader", 0) == 0) reader_median = run.GetAdjustedRealTime();
      if (name.rfind("reference_scan", 0) == 0) reference_median = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double reader_median = 0;
  double reference_median = 0;
};

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string path = argc >= 2 ? argv[1] : TARNWELL_BENCH_STREAM;
  tarnwell::Setup setup;
  setup.file = std::fopen(path.c_str(), "rb");
  if (setup.file == nullptr) {
    std::fprintf(stderr, "cannot open %s; make it with bench/make-stream\n", path.c_str());
    return 1;
  }
  std::fseek(setup.file, 0, SEEK_END);
  setup.size = std::ftell(setup.file);
  std::rewind(setup.file);

  benchmark::RegisterBenchmark("reference_scan", tarnwell::reference_scan, &setup)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  benchmark::RegisterBenchmark("nal_reader", tarnwell::nal_reader, &setup)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  tarnwell::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.reader_median > 0 && reporter.reference_median > 0) {
    std::printf("median nal_reader %.1f ms, reference_scan %.1f ms, ratio %.2f\n", reporter.reader_median,
                reporter.reference_median, reporter.reader_median / reporter.reference_median);
  }
  std::fclose(setup.file);
  benchmark::Shutdown();
  return 0;
}
