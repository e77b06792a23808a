#include "app/tstd_check_plot.h"

#include <algorithm>

#include "app/plot_svg.h"
#include "base/error_reporter.h"

namespace tarnwell {
namespace {

// The band's layout as the time-series picture draws it without a top
// scale or size strip: the page's plot area (svg::kLeft, svg::kWidth); the
// panel from y 64 to 444; the page 490 high.
constexpr double kPanelTop = 64.0;
constexpr double kPanelBottom = 444.0;
constexpr double kBandHeight = 490.0;

// The inner page of one band, placed `y` down the outer one.
std::string band(const std::string& svg, double y) {
  std::string inner = svg;
  const std::size_t open = inner.find("<svg ");
  if (open == std::string::npos) return "";
  inner = inner.substr(open);
  return format_text("<svg x=\"0\" y=\"%.0f\" ", y) + inner.substr(5);
}

}  // namespace

void TstdPlotRecorder::add(const TstdLevel& level) {
  const std::size_t b = static_cast<std::size_t>(level.buffer);
  if (!started_) {
    started_ = true;
    origin_ = level.time.seconds();
  }
  const double t = level.time.seconds() - origin_;
  series_[b].add(FullnessSample{t, static_cast<double>(level.high_bits), static_cast<double>(level.low_bits), 0.0});
  last_time_ = std::max(last_time_, t);
  last_level_[b] = static_cast<double>(level.high_bits);
}

std::string TstdPlotRecorder::svg(const std::string& title, const TstdParams& params,
                                  const std::vector<TstdViolation>& violations) const {
  const char* names[3] = {"TB: transport buffer", "MB: multiplexing buffer", "EB: elementary stream buffer"};
  const int64_t mb_x375 = params.mb_size_bits_x375();
  const double sizes[3] = {static_cast<double>(kTbBytes * 8), mb_x375 > 0 ? static_cast<double>(mb_x375) / 375 : 0.0,
                           static_cast<double>(params.eb_size_bits)};
  // One time axis for the three bands: from the first change to just past the last.
  const double end = last_time_ > 0.0 ? last_time_ * (1.0 + 1e-9) + 1e-9 : 1.0;
  const std::string h = format_text("%.0f", 3 * kBandHeight);
  const std::string w = format_text("%.0f", svg::kPageWidth);
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "version=\"1.1\" width=\"" +
      w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h + "\">\n<title>" + xml_text(title) + "</title>\n";
  for (std::size_t b = 0; b < 3; ++b) {
    TimeSeriesPlot plot;
    plot.title = b == 0 ? title : names[b];
    plot.subtitle = b == 0 ? names[b] : "";
    plot.samples = series_[b].samples();
    plot.capacity = sizes[b];
    plot.show_sizes = false;
    plot.end_time_s = end;
    plot.end_level = last_level_[b];
    const double y = static_cast<double>(b) * kBandHeight;
    out += band(time_series_svg(plot), y);
    for (const TstdViolation& v : violations) {
      const double x = svg::kLeft + std::clamp((v.time - origin_) / end, 0.0, 1.0) * svg::kWidth;
      out +=
          format_text("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#d00000\" stroke-width=\"1\"/>\n",
                      x, y + kPanelTop, x, y + kPanelBottom);
    }
  }
  return out + "</svg>\n";
}

}  // namespace tarnwell
