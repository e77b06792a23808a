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
// frame rate taken from the stream. The three runs over the stream take
// turns, round after round (11 rounds after one untimed), so that a machine
// whose load drifts weighs on all three alike; the medians of wall-clock and
// CPU time are printed with their ratios to the check's. The targets: at most
// 1.1 for check_plot, at most 2 for the curve.
//
//   plot_bench [stream file]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

#include "app/check_plot.h"
#include "app/dialog_check_observer.h"
#include "app/curve_command.h"
#include "app/output_target.h"
#include "app/plot_svg.h"
#include "base/dialog_port.h"
#include "context/application_context.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using bench::SilentDialog;

const CheckSettings kSettings{20000000, 18000000, 20000000, 0.0};

std::string scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// One run's wall-clock and CPU milliseconds.
struct Timing {
  double wall_ms = 0.0;
  double cpu_ms = 0.0;
};

template <typename Body>
Timing timed(Body body) {
  const auto wall = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  body();
  return Timing{std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count(),
                1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC};
}

// A check of the stream, with the plot recorded and written when asked;
// false when the stream cannot be opened.
bool check(const std::string& path, bool plot, std::size_t* svg_bytes) {
  SilentDialog dialog;
  ApplicationContext context(dialog);
  context.reporter.disable();
  context.reporter.set_stderr_enabled(false);
  context.settings = kSettings;
  context.shared.stream_path = path;
  CheckPlotRecorder recorder;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  if (plot) {
    run.on_pass_start = [&](uint32_t) { recorder.start_pass(); };
    run.on_picture = [&](const PictureTrace& row) { recorder.record(row); };
  }
  run.run();
  if (plot) {
    const CheckPlotInput input{path, context.settings, false, run.result().outcome, run.result().message};
    const std::string svg = check_plot_svg(input, recorder);
    *svg_bytes = svg.size();
    std::string reason;
    write_output_file(scratch("tarnwell-plot-bench.svg"), svg, reason);
  }
  return run.result().outcome != Outcome::CannotOpen;
}

// The 16-rate curve with its CSV and plot; false when it failed.
bool curve(const std::string& path) {
  SilentDialog dialog;
  ApplicationContext context(dialog);
  context.reporter.disable();
  context.reporter.set_stderr_enabled(false);
  context.shared.stream_path = path;
  CliOptions request;
  request.csv_path = scratch("tarnwell-curve-bench.csv");
  request.plot_path = scratch("tarnwell-curve-bench.svg");
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return false;
  const int code = run_curve(context, request, nullptr, out, stderr);
  std::fclose(out);
  return code == 0;
}

// The plot of a synthetic one-hour 60 fps trace; its size in bytes.
std::size_t one_hour() {
  CheckPlotRecorder rows;
  for (uint64_t i = 0; i < 216000; ++i) {
    rows.record(PictureTrace{i, static_cast<uint32_t>(i % 30 == 0 ? 300000 : 30000 + i % 7000), 900000, true, 900000});
  }
  const CheckPlotInput input{"hour.264", CheckSettings{1000000, 900000, 1800000, 60.0}, false, Outcome::Pass, ""};
  return check_plot_svg(input, rows).size();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  std::string path = TARNWELL_BENCH_STREAM;
  if (argc >= 2) path = argv[1];

  std::size_t svg_bytes = 0;
  // One untimed round warms the page cache and the allocator.
  if (!check(path, false, &svg_bytes) || !check(path, true, &svg_bytes) || !curve(path)) {
    std::fprintf(stderr, "cannot check %s; run bench/make-stream\n", path.c_str());
    return 1;
  }
  constexpr int kRounds = 11;
  std::vector<double> wall[3];
  std::vector<double> cpu[3];
  for (int round = 0; round < kRounds; ++round) {
    const Timing t[3] = {timed([&] { check(path, false, &svg_bytes); }), timed([&] { check(path, true, &svg_bytes); }),
                         timed([&] { curve(path); })};
    for (int k = 0; k < 3; ++k) {
      wall[k].push_back(t[k].wall_ms);
      cpu[k].push_back(t[k].cpu_ms);
    }
  }
  std::size_t hour_bytes = 0;
  const Timing hour_plot = timed([&] { hour_bytes = one_hour(); });

  const char* names[3] = {"check", "check_plot", "curve_16_rates"};
  const double targets[3] = {0.0, 1.1, 2.0};
  std::printf("stream %s, %d rounds, medians; check plot %zu bytes\n", path.c_str(), kRounds, svg_bytes);
  for (int k = 0; k < 3; ++k) {
    const double w = median(wall[k]);
    const double c = median(cpu[k]);
    std::printf("%-16s %8.1f ms wall %8.1f ms cpu", names[k], w, c);
    if (k > 0) {
      const double ratio_wall = w / median(wall[0]);
      const double ratio_cpu = c / median(cpu[0]);
      std::printf("   x check: %.2f wall, %.2f cpu (target at most %.1f: %s)", ratio_wall, ratio_cpu, targets[k],
                  std::max(ratio_wall, ratio_cpu) <= targets[k] ? "met" : "NOT met");
    }
    std::printf("\n");
  }
  std::printf("one-hour 60 fps plot (216000 rows recorded and drawn): %.1f ms, %zu bytes\n", hour_plot.wall_ms,
              hour_bytes);
  return 0;
}
