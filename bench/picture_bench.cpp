// Taking every picture of a large stream with next_picture, against the NAL
// unit reader alone over the same file (GetAnnexbNALU and the preparation of
// each NAL unit): the difference is what the slice headers, the parameter
// sets, the SEI and the boundary test cost.
//
//   picture_bench [stream file] [benchmark flags]
//
// Both run over the same file, warm in the page cache, in the same process;
// the last line gives both medians in MB/s and the picture pass's extra time
// over the reader's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/dialog_port.h"
#include "base/error_reporter.h"
#include "picture/parsing_state.h"
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

int64_t file_size(std::FILE* file) {
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::rewind(file);
  return size;
}

void nal_reader(benchmark::State& state, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    state.SkipWithError("cannot open the stream; run bench/make-stream");
    return;
  }
  SilentDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter);
  NalUnit nal;
  uint64_t nal_units = 0;
  for (auto _ : state) {
    std::rewind(file);
    reader.reset();
    reader.begin_stream(file);
    nal_units = 0;
    while (reader.GetAnnexbNALU(nal) == 1) {
      reader.prepare(nal);
      ++nal_units;
    }
    benchmark::DoNotOptimize(nal_units);
  }
  state.SetBytesProcessed(file_size(file) * static_cast<int64_t>(state.iterations()));
  state.counters["nal_units"] = static_cast<double>(nal_units);
  std::fclose(file);
}

// A pass as the verification run makes it, without the buffer model.
void next_picture(benchmark::State& state, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    state.SkipWithError("cannot open the stream; run bench/make-stream");
    return;
  }
  SilentDialog dialog;
  ErrorReporter reporter(dialog);
  reporter.set_stderr_enabled(false);
  FrameRateFraction rate;
  ParsingState parsing(reporter, rate);
  uint64_t pictures = 0;
  uint64_t counted = 0;
  for (auto _ : state) {
    std::rewind(file);
    parsing.reset_parsing_state();
    parsing.begin_stream(file);
    parsing.no_picture_begun = 1;
    parsing.picture_bytes = 0;
    parsing.pending_bytes = 0;
    parsing.first_field_marker = -1;
    pictures = 0;
    counted = 0;
    while (parsing.next_picture() == 1) {
      ++pictures;
      counted += parsing.picture_bytes;
      parsing.picture_bytes = parsing.opening_nal_bytes + parsing.pending_bytes;
      parsing.pending_bytes = 0;
    }
    benchmark::DoNotOptimize(counted);
  }
  state.SetBytesProcessed(file_size(file) * static_cast<int64_t>(state.iterations()));
  state.counters["pictures"] = static_cast<double>(pictures);
  std::fclose(file);
}

// The console output, plus the medians it saw.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const std::string name = run.benchmark_name();
      if (name.rfind("nal_reader", 0) == 0) reader_ms = run.GetAdjustedRealTime();
      if (name.rfind("next_picture", 0) == 0) picture_ms = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double reader_ms = 0;
  double picture_ms = 0;
};

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string path = TARNWELL_BENCH_STREAM;
  if (argc >= 2) path = argv[1];

  // Warm the page cache before anything is timed.
  double megabytes = 0;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::vector<char> block(tarnwell::kReadWindowBytes);
    std::size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) megabytes += static_cast<double>(n) / 1e6;
    std::fclose(file);
  }
  for (const char* name : {"nal_reader", "next_picture"}) {
    auto* fn = std::strcmp(name, "nal_reader") == 0 ? tarnwell::nal_reader : tarnwell::next_picture;
    benchmark::RegisterBenchmark(name, fn, path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(9);
  }
  tarnwell::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.reader_ms > 0 && reporter.picture_ms > 0) {
    std::printf("median nal_reader %.1f ms (%.0f MB/s), next_picture %.1f ms (%.0f MB/s), extra %+.1f%%\n",
                reporter.reader_ms, megabytes * 1000.0 / reporter.reader_ms, reporter.picture_ms,
                megabytes * 1000.0 / reporter.picture_ms, (reporter.picture_ms / reporter.reader_ms - 1.0) * 100.0);
  }
  benchmark::Shutdown();
  return 0;
}
