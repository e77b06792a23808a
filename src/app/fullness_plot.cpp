#include "app/fullness_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/error_reporter.h"

namespace tarnwell {

namespace {

using svg::bar, svg::headings, svg::kLeft, svg::kWidth, svg::line, svg::make_scale, svg::page_start, svg::px, svg::Scale,
    svg::text_at, svg::time_axis, svg::value_axis;

constexpr char kFullnessColour[] = "#1f5fbf";
constexpr char kSizeColour[] = "#7a8a99";
constexpr char kMarkColour[] = "#d00000";

std::string seconds_label(double seconds) { return format_text("%g s", seconds); }

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
      r = ColumnRange{false, low, high, s.size};
      continue;
    }
    r.low = std::min(r.low, low);
    r.high = std::max(r.high, high);
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

}  // namespace tarnwell
