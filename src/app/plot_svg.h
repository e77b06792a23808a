#pragma once
// The pieces every SVG picture of tarnwell-cli is drawn with: self-contained
// SVG 1.1 (no script, no external reference, fonts by generic family only),
// a page with a plot area one pixel a column, its headings, scales, axes and
// strokes; and the simplest picture made of them, lines against a value
// (the rate-buffer curve). Pure functions from numbers to text; the caller
// writes the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// The plot area's width in pixels: the number of columns of a decimated plot.
inline constexpr uint32_t kPlotColumns = 1100;

namespace svg {

// The page: the plot area is kPlotColumns wide, one pixel a column.
inline constexpr double kLeft = 100.0;
inline constexpr double kWidth = kPlotColumns;
inline constexpr double kPageWidth = kLeft + kWidth + 40.0;

// One number as SVG wants it: fixed point, a tenth of a pixel.
std::string px(double value);

// A linear map from [lo, hi] onto [to_lo, to_hi].
struct Scale {
  double lo = 0.0;
  double hi = 1.0;
  double to_lo = 0.0;
  double to_hi = 1.0;
  double operator()(double value) const { return to_lo + (value - lo) / (hi - lo) * (to_hi - to_lo); }
};

Scale make_scale(double lo, double hi, double to_lo, double to_hi);

// Round values 1, 2 or 5 times a power of ten between lo and hi, about
// `wanted` of them, at least min_step apart.
std::vector<double> nice_ticks(double lo, double hi, int wanted, double min_step = 0.0);

void text_at(std::string& svg, double x, double y, const std::string& text, const char* anchor = "start",
             const char* extra = "");
void line(std::string& svg, double x1, double y1, double x2, double y2, const char* colour, const char* extra = "");
// The page, its title (what a browser shows as the document's name) first.
std::string page_start(double height, const std::string& title);
void headings(std::string& svg, const std::string& title, const std::string& subtitle);
// Horizontal grid lines and labels of a value axis at the left.
void value_axis(std::string& svg, const Scale& y, double top, double bottom, int wanted);

// Ticks along a horizontal line at `at`, labels below (or above).
template <typename Label>
void time_axis(std::string& svg, const Scale& x, double at, bool labels_above, int wanted, Label label,
               double min_step = 0.0) {
  line(svg, kLeft, at, kLeft + kWidth, at, "black");
  for (double tick : nice_ticks(x.lo, x.hi, wanted, min_step)) {
    const double where = x(tick);
    line(svg, where, at, where, labels_above ? at - 4 : at + 4, "black");
    text_at(svg, where, labels_above ? at - 7 : at + 15, label(tick), "middle");
  }
}

// A vertical bar as a path piece: "M x y0 Vy1 ".
void bar(std::string& path, double x, double y0, double y1);

}  // namespace svg

// Lines against a value on the x axis (the curve: buffer size and fill
// against bit rate).
struct XySeries {
  std::string name;
  bool dashed = false;
  std::vector<double> x;
  std::vector<double> y;  // as many as x
};

struct XyPlot {
  std::string title;
  std::string subtitle;
  std::string x_label;
  std::string y_label;
  std::vector<XySeries> series;
};

std::string xy_svg(const XyPlot& plot);

// "850", "12.5k", "3M", "1.2G": a value in bits or bits per second, short.
std::string short_number(double value);

// text made safe inside an XML element or attribute: &, <, >, " and '
// escaped; bytes that are not UTF-8 and control characters become '?'.
std::string xml_text(const std::string& text);

}  // namespace tarnwell
