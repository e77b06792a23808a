// Searches from 0 over a large stream, once going over the pictures already
// read (the default) and once reading the stream again for every pass, beside
// a one-pass check of the same stream:
//
//   check          --buffer-size 20000000 --initial-fill 18000000 --bit-rate 20000000
//   bit_rate_*     --buffer-size 20000000 --initial-fill 18000000 --bit-rate 0
//   buffer_size_*  --bit-rate 20000000 --buffer-size 0
//
// all with the frame rate taken from the stream. Every run is a whole
// CheckRun in a fresh application context over a silent dialog. The last
// lines give each search's median over the check's, with its passes and
// reads (times the stream was read from its first byte); the target is a
// ratio of at most 3 for the searches that go over kept pictures.
//
//   replay_bench [stream file] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using bench::SilentDialog;

struct Case {
  const char* name;
  CheckSettings settings;
  bool replay;
};

const Case kCases[] = {
    {"check", {20000000, 18000000, 20000000, 0.0}, true},
    {"bit_rate_search_replay", {20000000, 18000000, 0, 0.0}, true},
    {"bit_rate_search_reread", {20000000, 18000000, 0, 0.0}, false},
    {"buffer_size_search_replay", {0, 0, 20000000, 0.0}, true},
    {"buffer_size_search_reread", {0, 0, 20000000, 0.0}, false},
};

struct Seen {
  CheckRunResult result;
  CheckSettings settings;
};

void check_run(benchmark::State& state, const std::string& path, const Case& c, Seen* seen) {
  for (auto _ : state) {
    SilentDialog dialog;
    ApplicationContext context(dialog);
    context.reporter.disable();
    context.reporter.set_stderr_enabled(false);
    context.settings = c.settings;
    context.shared.stream_path = path;
    DialogCheckObserver observer(dialog);
    CheckRun run(context, observer);
    run.replay = c.replay;
    run.run();
    seen->result = run.result();
    seen->settings = context.settings;
  }
  if (seen->result.outcome == Outcome::CannotOpen) {
    state.SkipWithError(bench::kNoStream);
    return;
  }
  state.counters["passes"] = seen->result.passes;
  state.counters["reads"] = seen->result.reads;
}

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  const std::string path = bench::initialize(argc, argv);
  bench::warm_page_cache(path);
  std::map<std::string, Seen> seen;
  for (const Case& c : kCases) {
    Seen* slot = &seen[c.name];
    auto body = [&path, &c, slot](benchmark::State& state) { check_run(state, path, c, slot); };
    benchmark::RegisterBenchmark(c.name, body)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(3);
  }
  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double check_ms = reporter.median("check");
  for (const Case& c : kCases) {
    const double median = reporter.median(c.name);
    if (median <= 0) continue;
    const Seen& s = seen[c.name];
    std::printf("%-26s %9.1f ms  %5.2f x check  outcome %s, passes %u, reads %u, found bit rate %u, buffer %u/%u\n",
                c.name, median, check_ms > 0 ? median / check_ms : 0.0,
                outcome_name(s.result.outcome), s.result.passes, s.result.reads, s.settings.bit_rate,
                s.settings.buffer_size, s.settings.initial_fill);
  }
  benchmark::Shutdown();
  return 0;
}
