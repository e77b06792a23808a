#include "app/plot_svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/error_reporter.h"

namespace tarnwell {
namespace svg {

// Formatted by hand: the plots hold thousands of numbers, and this is the
// hot path.
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

Scale make_scale(double lo, double hi, double to_lo, double to_hi) {
  if (!(hi > lo)) hi = lo + 1.0;
  return Scale{lo, hi, to_lo, to_hi};
}

std::vector<double> nice_ticks(double lo, double hi, int wanted, double min_step) {
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

void text_at(std::string& svg, double x, double y, const std::string& text, const char* anchor,
             const char* extra) {
  svg += "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" +
         xml_text(text) + "</text>\n";
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* colour, const char* extra) {
  svg += "<line x1=\"" + px(x1) + "\" y1=\"" + px(y1) + "\" x2=\"" + px(x2) + "\" y2=\"" + px(y2) +
         "\" stroke=\"" + colour + "\"" + extra + "/>\n";
}

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

void value_axis(std::string& svg, const Scale& y, double top, double bottom, int wanted) {
  for (double tick : nice_ticks(y.lo, y.hi, wanted)) {
    const double at = y(tick);
    if (at < top - 0.5 || at > bottom + 0.5) continue;
    line(svg, kLeft, at, kLeft + kWidth, at, "#e3e3e3");
    text_at(svg, kLeft - 6, at + 4, short_number(tick), "end");
  }
  line(svg, kLeft, top, kLeft, bottom, "black");
}

void bar(std::string& path, double x, double y0, double y1) {
  path += 'M';
  path += px(x);
  path += ' ';
  path += px(y0);
  path += " V";
  path += px(y1);
  path += ' ';
}

}  // namespace svg

namespace {

using svg::headings, svg::kLeft, svg::kWidth, svg::line, svg::make_scale, svg::page_start, svg::px, svg::Scale,
    svg::text_at, svg::time_axis, svg::value_axis;

constexpr const char* kSeriesColours[] = {"#1f5fbf", "#c05a00", "#2e8b3a", "#8a2be2"};

}  // namespace

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
  if (!std::isfinite(value)) return "?";
  const double size = std::abs(value);
  if (size >= 1e9) return format_text("%.4gG", value / 1e9);
  if (size >= 1e6) return format_text("%.4gM", value / 1e6);
  if (size >= 1e3) return format_text("%.4gk", value / 1e3);
  return format_text("%.4g", value);
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
