// Taking every picture of a large stream with take_picture, against the NAL
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
#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "bench_support.h"
#include "picture/parsing_state.h"
#include "stream/nal_reader.h"

namespace tarnwell {
namespace {

using bench::SilentDialog;

void nal_reader(benchmark::State& state, const bench::OpenStream* stream) {
  SilentDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter);
  bench::ReaderCounts counts;
  for (auto _ : state) {
    counts = bench::reader_pass(reader, stream->file());
    benchmark::DoNotOptimize(counts.nal_units);
  }
  state.SetBytesProcessed(stream->size() * static_cast<int64_t>(state.iterations()));
  state.counters["nal_units"] = static_cast<double>(counts.nal_units);
}

// A pass as the verification run makes it, without the buffer model.
void take_picture(benchmark::State& state, const bench::OpenStream* stream) {
  std::FILE* file = stream->file();
  SilentDialog dialog;
  ErrorReporter reporter(dialog);
  reporter.set_stderr_enabled(false);
  FrameRateFraction rate;
  ParsingState parsing(reporter, rate);
  uint64_t pictures = 0;
  uint64_t counted = 0;
  for (auto _ : state) {
    std::rewind(file);
    parsing.begin_pass();
    parsing.begin_stream(file);
    pictures = 0;
    counted = 0;
    uint32_t bytes = 0;
    while (parsing.take_picture(bytes)) {
      ++pictures;
      counted += bytes;
    }
    benchmark::DoNotOptimize(counted);
  }
  state.SetBytesProcessed(stream->size() * static_cast<int64_t>(state.iterations()));
  state.counters["pictures"] = static_cast<double>(pictures);
}

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  const std::string path = bench::initialize(argc, argv);
  const double megabytes = bench::warm_page_cache(path);
  const bench::OpenStream stream(path);
  if (!stream) return 1;
  benchmark::RegisterBenchmark("nal_reader", nal_reader, &stream)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  benchmark::RegisterBenchmark("take_picture", take_picture, &stream)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double reader_ms = reporter.median("nal_reader");
  const double picture_ms = reporter.median("take_picture");
  if (reader_ms > 0 && picture_ms > 0) {
    std::printf("median nal_reader %.1f ms (%.0f MB/s), take_picture %.1f ms (%.0f MB/s), extra %+.1f%%\n",
                reader_ms, megabytes * 1000.0 / reader_ms, picture_ms, megabytes * 1000.0 / picture_ms,
                (picture_ms / reader_ms - 1.0) * 100.0);
  }
  benchmark::Shutdown();
  return 0;
}
