#include "app/plot_svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarnwell {

namespace {

// The page: the plot area is kPlotColumns wide, one pixel a column.
constexpr double kLeft = 100.0;
constexpr double kWidth = kPlotColumns;
constexpr double kPageWidth = kLeft + kWidth + 40.0;

constexpr char kFullnessColour[] = "#1f5fbf";
constexpr char kSizeColour[] = "#7a8a99";
constexpr char kMarkColour[] = "#d00000";
constexpr char kGridColour[] = "#e3e3e3";
constexpr const char* kSeriesColours[] = {"#1f5fbf", "#c05a00", "#2e8b3a", "#8a2be2"};

// One number as SVG wants it: fixed point, a tenth of a pixel. Formatted by
// hand: the plots hold thousands of numbers, and this is the hot path.
std::string px(double value) {
  if (!std::isfinite(value)) value = 0.0;
  value = std::clamp(value, -1e7, 1e7);
  // |value| <= 1e7, so the tenths fit 64 bits with room to spare.
  const auto tenths = static_cast<int64_t>(std::llround(value * 10.0));
  const uint64_t magnitude = static_cast<uint64_t>(tenths < 0 ? -tenths : tenths);
  char text[32];
  char* end = text;
  if (tenths < 0) *end++ = '-';
  end = std::to_chars(end, text + sizeof text - 2, magnitude / 10).ptr;
  *end++ = '.';
  *end++ = static_cast<char>('0' + magnitude % 10);
  return std::string(text, end);
}

// A linear map from [lo, hi] onto [to_lo, to_hi].
struct Scale {
  double lo = 0.0;
  double hi = 1.0;
  double to_lo = 0.0;
  double to_hi = 1.0;
  double operator()(double value) const { return to_lo + (value - lo) / (hi - lo) * (to_hi - to_lo); }
};

Scale make_scale(double lo, double hi, double to_lo, double to_hi) {
  if (!(hi > lo)) hi = lo + 1.0;
  return Scale{lo, hi, to_lo, to_hi};
}

// Round values 1, 2 or 5 times a power of ten between lo and hi, about
// `wanted` of them, at least min_step apart.
std::vector<double> nice_ticks(double lo, double hi, int wanted, double min_step = 0.0) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  const double raw = (hi - lo) / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power * 10.0;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (power * factor >= raw) {
      step = power * factor;
      break;
    }
  }
  step = std::max(step, min_step);
  const double first = std::ceil(lo / step);
  for (int k = 0; k < 60; ++k) {
    const double tick = (first + k) * step;
    if (tick > hi + step * 1e-9) break;
    ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
  }
  return ticks;
}

std::string seconds_label(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

void text_at(std::string& svg, double x, double y, const std::string& text, const char* anchor = "start",
             const char* extra = "") {
  svg += "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" +
         xml_text(text) + "</text>\n";
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* colour, const char* extra = "") {
  svg += "<line x1=\"" + px(x1) + "\" y1=\"" + px(y1) + "\" x2=\"" + px(x2) + "\" y2=\"" + px(y2) +
         "\" stroke=\"" + colour + "\"" + extra + "/>\n";
}

// The page, its title (what a browser shows as the document's name) first.
std::string page_start(double height, const std::string& title) {
  const std::string w = px(kPageWidth);
  const std::string h = px(height);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + w + "\" height=\"" + h +
         "\" viewBox=\"0 0 " + w + " " + h + "\" font-family=\"sans-serif\" font-size=\"11\">\n"
         "<title>" + xml_text(title) + "</title>\n"
         "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"white\"/>\n";
}

void headings(std::string& svg, const std::string& title, const std::string& subtitle) {
  text_at(svg, kLeft, 24, title, "start", " font-size=\"15\" font-weight=\"bold\"");
  if (!subtitle.empty()) text_at(svg, kLeft, 44, subtitle, "start", " font-size=\"12\"");
}

// Horizontal grid lines and labels of a value axis at the left.
void value_axis(std::string& svg, const Scale& y, double top, double bottom, int wanted) {
  for (double tick : nice_ticks(y.lo, y.hi, wanted)) {
    const double at = y(tick);
    if (at < top - 0.5 || at > bottom + 0.5) continue;
    line(svg, kLeft, at, kLeft + kWidth, at, kGridColour);
    text_at(svg, kLeft - 6, at + 4, short_number(tick), "end");
  }
  line(svg, kLeft, top, kLeft, bottom, "black");
}

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
void bar(std::string& path, double x, double y0, double y1) {
  path += 'M';
  path += px(x);
  path += ' ';
  path += px(y0);
  path += " V";
  path += px(y1);
  path += ' ';
}

// Splits text into its non-empty lines.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::vector<ColumnRange> decimate_columns(const std::vector<FullnessSample>& samples, double t0, double t1,
                                          uint32_t columns) {
  std::vector<ColumnRange> out(columns);
  if (columns == 0) return out;
  const double span = t1 > t0 ? t1 - t0 : 1.0;
  for (const FullnessSample& s : samples) {
    const double where = (s.time_s - t0) / span * columns;
    // Range-checked before the conversion; NaN goes to the first column.
    uint32_t c = 0;
    if (where >= static_cast<double>(columns - 1)) {
      c = columns - 1;
    } else if (where > 0.0) {
      c = static_cast<uint32_t>(where);
    }
    ColumnRange& r = out[c];
    const double low = std::min(s.before, s.after);
    const double high = std::max(s.before, s.after);
    if (r.empty) {
      r = ColumnRange{false, low, high, s.size, s.size};
      continue;
    }
    r.low = std::min(r.low, low);
    r.high = std::max(r.high, high);
    r.size_low = std::min(r.size_low, s.size);
    r.size_high = std::max(r.size_high, s.size);
  }
  return out;
}

void FullnessSeries::clear() {
  samples_.clear();
  width_ = 1;
  last_fill_ = 0;
  added_ = 0;
}

namespace {

// b merged into a: a's time, the extremes of both.
void merge_into(FullnessSample& a, const FullnessSample& b) {
  const double high = std::max({a.before, a.after, b.before, b.after});
  const double low = std::min({a.before, a.after, b.before, b.after});
  a.before = high;
  a.after = low;
  a.size = std::max(a.size, b.size);
  a.flagged = a.flagged || b.flagged;
}

}  // namespace

void FullnessSeries::add(const FullnessSample& sample) {
  ++added_;
  if (!samples_.empty() && last_fill_ < width_) {
    merge_into(samples_.back(), sample);
    ++last_fill_;
    return;
  }
  if (samples_.size() == 2 * kKeptSamples) {
    // Every pair becomes one: half the samples, each for twice as many, all
    // of them full.
    for (std::size_t i = 0; i < kKeptSamples; ++i) {
      samples_[i] = samples_[2 * i];
      merge_into(samples_[i], samples_[2 * i + 1]);
    }
    samples_.resize(kKeptSamples);
    width_ *= 2;
  }
  samples_.push_back(sample);
  last_fill_ = 1;
}

std::string time_series_svg(const TimeSeriesPlot& plot) {
  const std::vector<FullnessSample>& samples = plot.samples;
  const bool has_top_scale = plot.units_per_second > 0.0;
  const double panel_top = has_top_scale ? 90.0 : 64.0;
  const double panel_bottom = panel_top + 380.0;
  const double strip_top = panel_bottom + 18.0;
  const double strip_bottom = plot.show_sizes ? strip_top + 110.0 : panel_bottom;
  const double height = strip_bottom + 46.0;

  // Time and value ranges.
  double t1 = samples.empty() ? 1.0 : samples.back().time_s;
  const bool has_end = !samples.empty() && plot.end_time_s > samples.back().time_s;
  if (has_end) t1 = plot.end_time_s;
  const double t0 = samples.empty() ? 0.0 : std::min(0.0, samples.front().time_s);
  double low = 0.0;
  double high = std::max(plot.capacity, plot.has_initial_fill ? plot.initial_fill : 0.0);
  double largest_size = 0.0;
  for (const FullnessSample& s : samples) {
    low = std::min({low, s.after, s.before});
    high = std::max({high, s.before, s.after});
    largest_size = std::max(largest_size, s.size);
  }
  if (has_end) {
    low = std::min(low, plot.end_level);
    high = std::max(high, plot.end_level);
  }
  const double margin = (high - low) * 0.04;
  const Scale x = make_scale(t0, t1, kLeft, kLeft + kWidth);
  const Scale y = make_scale(low < 0.0 ? low - margin : 0.0, high + margin + (high == low ? 1.0 : 0.0), panel_bottom,
                             panel_top);

  std::string svg = page_start(height, plot.title);
  headings(svg, plot.title, plot.subtitle);
  value_axis(svg, y, panel_top, panel_bottom, 8);
  text_at(svg, 14, (panel_top + panel_bottom) / 2, "bits", "middle",
          (" transform=\"rotate(-90 14 " + px((panel_top + panel_bottom) / 2) + ")\"").c_str());
  if (has_top_scale) {
    const Scale index = make_scale(t0 * plot.units_per_second, t1 * plot.units_per_second, kLeft, kLeft + kWidth);
    // Unit indexes are whole numbers.
    time_axis(svg, index, panel_top, true, 10, [](double tick) { return short_number(tick); }, 1.0);
    text_at(svg, kLeft - 6, panel_top - 7, plot.unit_name, "end");
  }
  if (y.lo < 0.0) line(svg, kLeft, y(0.0), kLeft + kWidth, y(0.0), "black", " stroke-width=\"0.5\"");

  // The fullness: the exact sawtooth, or one column per pixel.
  std::string path;
  if (samples.size() <= kMaxExactSamples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const FullnessSample& s = samples[i];
      path += (i == 0 ? "M" : " L") + px(x(s.time_s)) + " " + px(y(s.before)) + " V" + px(y(s.after));
    }
    svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + kFullnessColour + "\" stroke-width=\"1\"/>\n";
  } else {
    const std::vector<ColumnRange> columns = decimate_columns(samples, t0, t1, kPlotColumns);
    std::vector<std::string> lower;
    for (uint32_t c = 0; c < kPlotColumns; ++c) {
      if (columns[c].empty) continue;
      const std::string at = px(kLeft + c + 0.5);
      path += (path.empty() ? "M" : " L") + at + " " + px(y(columns[c].high));
      lower.push_back(" L" + at + " " + px(y(columns[c].low)));
    }
    for (auto point = lower.rbegin(); point != lower.rend(); ++point) path += *point;
    // Upper edge left to right, lower edge back: one band, every column's
    // extremes on its edges, however thin the column's range.
    if (!path.empty()) {
      svg += "<path d=\"" + path + " Z\" fill=\"" + kFullnessColour +
             "\" fill-opacity=\"0.35\" stroke=\"" + kFullnessColour + "\" stroke-width=\"0.6\"/>\n";
    }
  }
  if (has_end) {
    const bool end_marked = plot.marked + 1 == samples.size();
    line(svg, x(samples.back().time_s), y(samples.back().after), x(plot.end_time_s), y(plot.end_level),
         end_marked ? kMarkColour : kFullnessColour, end_marked ? " stroke-width=\"2\"" : "");
  }

  // The buffer size and the initial fill.
  if (plot.capacity > 0.0) {
    line(svg, kLeft, y(plot.capacity), kLeft + kWidth, y(plot.capacity), "#333333", " stroke-dasharray=\"6 3\"");
    text_at(svg, kLeft + kWidth, y(plot.capacity) - 4, "buffer size " + short_number(plot.capacity), "end");
  }
  if (plot.has_initial_fill) {
    const double at = y(plot.initial_fill);
    svg += "<path d=\"M" + px(kLeft) + " " + px(at) + " l-8 -5 v10 Z\" fill=\"#2e8b3a\"/>\n";
    text_at(svg, kLeft + 4, at + 14, "initial fill " + short_number(plot.initial_fill), "start",
            " fill=\"#2e8b3a\"");
  }

  // The picture sizes.
  if (plot.show_sizes) {
    const Scale size_y = make_scale(0.0, largest_size > 0.0 ? largest_size : 1.0, strip_bottom, strip_top);
    std::string bars;
    if (samples.size() <= kMaxExactSamples) {
      for (const FullnessSample& s : samples) {
        bar(bars, x(s.time_s), strip_bottom, size_y(s.size));
      }
    } else {
      const std::vector<ColumnRange> columns = decimate_columns(samples, t0, t1, kPlotColumns);
      for (uint32_t c = 0; c < kPlotColumns; ++c) {
        if (columns[c].empty) continue;
        bar(bars, kLeft + c + 0.5, strip_bottom, size_y(columns[c].size_high));
      }
    }
    if (!bars.empty()) svg += "<path d=\"" + bars + "\" stroke=\"" + kSizeColour + "\" stroke-width=\"1\"/>\n";
    line(svg, kLeft, strip_top, kLeft, strip_bottom, "black");
    text_at(svg, kLeft - 6, strip_top + 8, short_number(largest_size), "end");
    text_at(svg, kLeft - 6, strip_bottom, "0", "end");
    text_at(svg, kLeft + 4, strip_top + 8, plot.unit_name + " size, bits", "start", " fill=\"#555555\"");
  }
  time_axis(svg, x, strip_bottom, false, 10, seconds_label);
  text_at(svg, kLeft + kWidth / 2, strip_bottom + 34, "time (s)", "middle");

  // Every flagged unit, one stroke per pixel column at most.
  std::string flagged;
  double last_column = -1.0;
  for (const FullnessSample& s : samples) {
    if (!s.flagged) continue;
    const double column = std::floor(x(s.time_s));
    if (column == last_column) continue;
    last_column = column;
    const double low = std::min(s.before, s.after);
    const double high = std::max(s.before, s.after);
    // Appended piece by piece: g++ 12 warns (wrongly) on "M" + std::string here.
    flagged += 'M';
    flagged += px(x(s.time_s));
    flagged += ' ';
    flagged += px(y(high));
    flagged += " V";
    flagged += px(y(low) + (high == low ? 3.0 : 0.0));
    flagged += ' ';
  }
  if (!flagged.empty()) {
    svg += "<path d=\"" + flagged + "\" stroke=\"" + kMarkColour + "\" stroke-width=\"2\" fill=\"none\"/>\n";
  }

  // The unit that ended the run, and why.
  if (plot.marked < samples.size()) {
    const FullnessSample& m = samples[plot.marked];
    const double mx = x(m.time_s);
    line(svg, mx, y(m.before), mx, y(m.after), kMarkColour, " stroke-width=\"2\"");
    svg += "<circle cx=\"" + px(mx) + "\" cy=\"" + px(y(m.after)) + "\" r=\"5\" fill=\"none\" stroke=\"" +
           kMarkColour + "\" stroke-width=\"2\"/>\n";
    const bool right_half = mx > kLeft + kWidth / 2;
    double text_y = std::clamp(y(m.after) - 10.0, panel_top + 14.0, panel_bottom - 30.0);
    for (const std::string& text : lines_of(plot.marked_text)) {
      text_at(svg, right_half ? mx - 10 : mx + 10, text_y, text, right_half ? "end" : "start",
              (std::string(" fill=\"") + kMarkColour + "\" font-weight=\"bold\"").c_str());
      text_y += 14.0;
    }
  }
  svg += "</svg>\n";
  return svg;
}

std::string xy_svg(const XyPlot& plot) {
  constexpr double top = 70.0;
  constexpr double bottom = 470.0;
  const double height = bottom + 60.0;
  double x_lo = 0.0;
  double x_hi = 0.0;
  double y_hi = 0.0;
  bool any = false;
  for (const XySeries& s : plot.series) {
    for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
      x_lo = any ? std::min(x_lo, s.x[i]) : s.x[i];
      x_hi = any ? std::max(x_hi, s.x[i]) : s.x[i];
      y_hi = std::max(y_hi, s.y[i]);
      any = true;
    }
  }
  const double pad = (x_hi - x_lo) * 0.03;
  const Scale x = make_scale(x_lo - pad, x_hi + pad + (x_hi == x_lo ? 1.0 : 0.0), kLeft, kLeft + kWidth);
  const Scale y = make_scale(0.0, y_hi * 1.05 + (y_hi > 0.0 ? 0.0 : 1.0), bottom, top);

  std::string svg = page_start(height, plot.title);
  headings(svg, plot.title, plot.subtitle);
  value_axis(svg, y, top, bottom, 8);
  time_axis(svg, x, bottom, false, 10, [](double tick) { return short_number(tick); });
  text_at(svg, kLeft + kWidth / 2, bottom + 34, plot.x_label, "middle");
  text_at(svg, 14, (top + bottom) / 2, plot.y_label, "middle",
          (" transform=\"rotate(-90 14 " + px((top + bottom) / 2) + ")\"").c_str());

  double legend_y = top + 6.0;
  for (std::size_t k = 0; k < plot.series.size(); ++k) {
    const XySeries& s = plot.series[k];
    const char* colour = kSeriesColours[k % (sizeof kSeriesColours / sizeof kSeriesColours[0])];
    const char* dash = s.dashed ? " stroke-dasharray=\"7 4\"" : "";
    std::string path;
    std::string dots;
    for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
      path += (i == 0 ? "M" : " L") + px(x(s.x[i])) + " " + px(y(s.y[i]));
      dots += "<circle cx=\"" + px(x(s.x[i])) + "\" cy=\"" + px(y(s.y[i])) + "\" r=\"2.5\" fill=\"" + colour + "\"/>\n";
    }
    if (!path.empty()) {
      svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\"" + dash + "/>\n";
    }
    svg += dots;
    line(svg, kLeft + kWidth - 170, legend_y, kLeft + kWidth - 140, legend_y, colour,
         (std::string(" stroke-width=\"2\"") + dash).c_str());
    text_at(svg, kLeft + kWidth - 134, legend_y + 4, s.name);
    legend_y += 16.0;
  }
  svg += "</svg>\n";
  return svg;
}

std::string short_number(double value) {
  char text[48];
  if (!std::isfinite(value)) return "?";
  const double size = std::abs(value);
  if (size >= 1e9) {
    std::snprintf(text, sizeof text, "%.4gG", value / 1e9);
  } else if (size >= 1e6) {
    std::snprintf(text, sizeof text, "%.4gM", value / 1e6);
  } else if (size >= 1e3) {
    std::snprintf(text, sizeof text, "%.4gk", value / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.4g", value);
  }
  return text;
}

std::string xml_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // A UTF-8 sequence is kept only whole and in its shortest form; XML
    // forbids surrogates and code points past U+10FFFF as well.
    std::size_t length = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07u;
    }
    bool whole = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) whole = false;
      code = (code << 6) | (next & 0x3Fu);
    }
    const uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (whole && code >= shortest[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
        code != 0xFFFE && code != 0xFFFF) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

}  // namespace tarnwell
