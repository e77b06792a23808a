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

struct CurveRequest {
  std::vector<uint32_t> bit_rates;  // empty: the 16 default rates
  double frame_rate = 0.0;          // below 1.0: the stream's, as the check takes it
  bool stream_timing = false;       // the stream's: its own timing whenever it has timing information
  bool strict = false;              // the strict overflow check
  bool json = false;                // one JSON object on out instead of the table
  std::string csv_path;             // --csv; empty: none
  std::string plot_path;            // --plot; empty: none
  std::FILE* input = nullptr;       // an open stream to read instead of the stream path; not closed
  FormatOption format = FormatOption::Unstated;  // how input is read: --format, --program, --pid
  TsChoice choice;
};

// The curve of input, or of the stream at the context's stream path without
// one. The context's dialog shows the reading's progress and warnings; the
// strict choice is the request's, the dialog's strict box is not asked.
// Exit codes as check's: 0 done; 1 the frame rate is unknown; 2 no picture
// was checked (outcome no_pictures, on out), the file cannot be opened or is
// not a stream it reads, an output cannot be written or the stream's frame
// rate is below 1.0 with none given (one line on err); 130 interrupted
// (ABORTED, or the JSON outcome "aborted", on out; no output file written).
// The output files are made before the stream is read.
int run_curve(ApplicationContext& context, const CurveRequest& request, std::FILE* out, std::FILE* err);

// The table, the JSON object (`extra_fields`: more fields, ",\"name\":value...",
// or empty) and the CSV of a curve.
std::string curve_table(const std::vector<CurvePoint>& points);
std::string curve_json(const std::vector<CurvePoint>& points, double frame_rate, uint64_t pictures, bool strict,
                       const std::string& extra_fields);
std::string curve_csv(const std::vector<CurvePoint>& points);
std::string curve_svg(const std::vector<CurvePoint>& points, const std::string& stream_path, double frame_rate,
                      uint64_t pictures, bool strict);

}  // namespace tarnwell
