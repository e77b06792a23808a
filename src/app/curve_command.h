#pragma once
// tarnwell-cli curve: the rate-buffer curve of a stream, from one reading of
// it, as a table, JSON or CSV, and as an SVG plot.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "context/application_context.h"
#include "verify/curve.h"

namespace tarnwell {

inline constexpr char kSlowStreamMessage[] =
    "tarnwell-cli: the stream's frame rate is below 1 picture a second: give --frame-rate";

// The curve of input (not closed here), or of the stream at the context's
// stream path without one, for the options of curve. The context's dialog shows the reading's progress and warnings;
// the strict choice is the request's, the dialog's strict box is not asked. Exit codes as check's: 0 done; 1 the frame
// rate is unknown; 2 no picture was checked (outcome no_pictures, on out), the file cannot be opened or is not a stream
// it reads, an output cannot be written or the stream's frame rate is below 1.0 with none given (one line on err); 130
// interrupted (ABORTED, or the JSON outcome "aborted", on out; no output file written). The output files are made
// before the stream is read.
int run_curve(ApplicationContext& context, const CliOptions& options, std::FILE* input, std::FILE* out, std::FILE* err);

// The table, the JSON object (`extra_fields`: more fields, ",\"name\":value...",
// or empty) and the CSV of a curve.
std::string curve_table(const std::vector<CurvePoint>& points);
std::string curve_json(const std::vector<CurvePoint>& points, double frame_rate, uint64_t pictures, bool strict,
                       const std::string& extra_fields);
std::string curve_csv(const std::vector<CurvePoint>& points);
std::string curve_svg(const std::vector<CurvePoint>& points, const std::string& stream_path, double frame_rate,
                      uint64_t pictures, bool strict);

}  // namespace tarnwell
