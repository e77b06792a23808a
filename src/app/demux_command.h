#pragma once
// tarnwell-cli demux: the chosen elementary stream of a transport stream, as
// the other commands read it, to a file.
#include <cstdio>

#include "app/cli_options.h"
#include "context/application_context.h"

namespace tarnwell {

// Copies the stream of input (null: FILE could not be opened) to the
// output, made before the stream is read and put in place when complete.
// Returns 0 done, 2 an input or output that cannot be read or written, 130
// interrupted (the output left as it was; ABORTED on err, since out may be
// the stream itself).
int run_demux(ApplicationContext& context, const CliRequest& request, std::FILE* input, std::FILE* out, std::FILE* err);

}  // namespace tarnwell
