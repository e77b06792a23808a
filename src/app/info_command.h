#pragma once
// tarnwell-cli info: the profile and level the dialog shows, a transport
// stream's structure, and the HRD report of the HRD Info button (or one
// JSON object of the SPS's fields).
#include <cstdio>

#include "app/cli_options.h"
#include "context/application_context.h"

namespace tarnwell {

// Describes input (null: FILE could not be opened). A stream that cannot
// be read twice (a pipe) is copied to a temporary file first. The report
// file is made before the stream is read. Returns 0 done, 1 no sequence
// parameter set, 2 an input or report that cannot be opened or written, 130
// interrupted.
int run_info(ApplicationContext& context, const CliRequest& request, std::FILE* input, std::FILE* out, std::FILE* err);

}  // namespace tarnwell
