#pragma once
// tarnwell-cli check: the dialog's check (or, with --exact, the least
// passing value instead of the search's grid) over a stream, its verdict and
// settings as lines or one JSON object, its trace and plot.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/cli_options.h"
#include "context/application_context.h"

namespace tarnwell {

struct CheckRequest : CliRequest {
  // The console's progress line: a pass begins, bytes of a stream of
  // unknown size were read, the run ended. Optional.
  std::function<void(uint32_t pass)> on_pass;
  std::function<void(uint64_t bytes)> on_bytes_read;
  std::function<void()> on_run_end;
};

// Runs the check over input (null: FILE could not be opened; the run then
// ends as the dialog's does for such a file) with the context's dialog
// answering the warnings and the strict box. The verdict goes to out, the
// problems to err. Returns 0 pass, 1 a verdict against the stream, 2 refused
// settings or input, no pictures, an output that cannot be written, 130
// interrupted (its outputs left as they were). The output files are made
// before the stream is read.
int run_check(ApplicationContext& context, const CheckRequest& request, std::FILE* input, std::FILE* out,
              std::FILE* err);

}  // namespace tarnwell
