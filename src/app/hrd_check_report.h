#pragma once
// The two forms of the hrd-check report: one text line per test with its
// violations indented below it, or one JSON object; the six-decimal seconds
// both use; the plot of one test.
#include <cstdint>
#include <cstdio>
#include <string>

#include "verify/hrd_run.h"

namespace tarnwell {

// Microseconds as seconds with six decimals ("-0.040000").
std::string hrd_seconds_text(int64_t us);

void write_hrd_text_report(const HrdRunResult& run, std::FILE* out);
// `extra_fields`: more fields for the object (",\"name\":value..."), or empty.
void write_hrd_json_report(const HrdRunResult& run, std::FILE* out, const std::string& extra_fields = "");

class FullnessSeries;
// The SVG of one test's CPB fullness (series: its rows, recorded as the run
// went), titled with the input's name and the test's verdict.
std::string hrd_plot_svg(const std::string& file, const HrdTestResult& result, const FullnessSeries& series);

}  // namespace tarnwell
