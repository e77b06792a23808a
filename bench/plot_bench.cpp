// The cost of the buffer plot and of the rate-buffer curve over a large
// stream, beside a one-pass check of the same stream:
//
//   check            --buffer-size 20000000 --initial-fill 18000000 --bit-rate 20000000
//   check_plot       the same, the trace rows recorded and the SVG written (check --plot)
//   curve_16_rates   one reading of the sizes, the 16 default rates, table,
//                    CSV and SVG written (curve --csv --plot)
//   plot_one_hour    the SVG of a synthetic one-hour 60 fps trace (216,000 rows)
//
// Every run is in a fresh application context over a silent dialog, the
// frame rate taken from the stream. The last lines give each median over the
// check's; the targets are at most 1.1 for check_plot and at most 2 for the
// curve.
//
//   plot_bench [stream file] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/check_plot.h"
#include "app/curve_command.h"
#include "app/plot_svg.h"
#include "base/dialog_port.h"
#include "context/application_context.h"
#include "verify/check_run.h"

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

const CheckSettings kSettings{20000000, 18000000, 20000000, 0.0};

std::string scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void check(benchmark::State& state, const std::string& path, bool plot) {
  Outcome outcome = Outcome::Pass;
  uint64_t bytes = 0;
  for (auto _ : state) {
    SilentDialog dialog;
    ApplicationContext context(dialog);
    context.reporter.disable();
    context.reporter.set_stderr_enabled(false);
    context.settings = kSettings;
    context.shared.stream_path = path;
    CheckPlotRecorder recorder;
    CheckRun run(context);
    if (plot) {
      run.on_pass_start = [&](uint32_t) { recorder.start_pass(); };
      run.on_picture = [&](const PictureTrace& row) { recorder.record(row); };
    }
    run.run();
    outcome = run.result().outcome;
    if (plot) {
      const CheckPlotInput input{path, context.settings, false, outcome, run.result().message};
      const std::string svg = check_plot_svg(input, recorder);
      bytes = svg.size();
      write_text_file(scratch("tarnwell-plot-bench.svg"), svg);
    }
  }
  if (outcome == Outcome::CannotOpen) state.SkipWithError("cannot open the stream; run bench/make-stream");
  if (plot) state.counters["svg_bytes"] = static_cast<double>(bytes);
}

void curve(benchmark::State& state, const std::string& path) {
  int code = 0;
  for (auto _ : state) {
    SilentDialog dialog;
    ApplicationContext context(dialog);
    context.reporter.disable();
    context.reporter.set_stderr_enabled(false);
    context.shared.stream_path = path;
    CurveRequest request;
    request.csv_path = scratch("tarnwell-curve-bench.csv");
    request.plot_path = scratch("tarnwell-curve-bench.svg");
    std::FILE* out = std::tmpfile();
    code = run_curve(context, request, out, stderr);
    if (out != nullptr) std::fclose(out);
  }
  if (code != 0) state.SkipWithError("the curve failed; run bench/make-stream");
}

void one_hour(benchmark::State& state) {
  CheckPlotRecorder rows;
  for (uint64_t i = 0; i < 216000; ++i) {
    rows.record(PictureTrace{i, static_cast<uint32_t>(i % 30 == 0 ? 300000 : 30000 + i % 7000), 900000, true, 900000});
  }
  const CheckPlotInput input{"hour.264", CheckSettings{1000000, 900000, 1800000, 60.0}, false, Outcome::Pass, ""};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string svg = check_plot_svg(input, rows);
    bytes = svg.size();
    benchmark::DoNotOptimize(svg.data());
  }
  state.counters["svg_bytes"] = static_cast<double>(bytes);
}

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  benchmark::Initialize(&argc, argv);
  std::string path = TARNWELL_BENCH_STREAM;
  if (argc >= 2) path = argv[1];

  // Warm the page cache before anything is timed.
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::vector<char> block(kReadWindowBytes);
    while (std::fread(block.data(), 1, block.size(), file) > 0) {
    }
    std::fclose(file);
  }
  auto timed = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(7);
  };
  timed(benchmark::RegisterBenchmark("check", [&path](benchmark::State& s) { check(s, path, false); }));
  timed(benchmark::RegisterBenchmark("check_plot", [&path](benchmark::State& s) { check(s, path, true); }));
  timed(benchmark::RegisterBenchmark("curve_16_rates", [&path](benchmark::State& s) { curve(s, path); }));
  timed(benchmark::RegisterBenchmark("plot_one_hour", one_hour));
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double check_ms = reporter.medians["check"];
  const std::pair<const char*, double> targets[] = {{"check_plot", 1.1}, {"curve_16_rates", 2.0}};
  for (const auto& [name, target] : targets) {
    auto median = reporter.medians.find(name);
    if (median == reporter.medians.end() || check_ms <= 0) continue;
    const double ratio = median->second / check_ms;
    std::printf("%-16s %9.1f ms  %5.2f x check (%.1f ms)  target at most %.1f: %s\n", name, median->second, ratio,
                check_ms, target, ratio <= target ? "met" : "NOT met");
  }
  benchmark::Shutdown();
  return 0;
}
