#include "app/curve_command.h"

#include "app/dialog_check_observer.h"
#include "app/exit_codes.h"
#include "app/frame_rate_note.h"
#include "app/input_check.h"
#include "app/json_text.h"
#include "app/output_target.h"
#include "app/plot_svg.h"
#include "app/ts_input.h"
#include "base/error_reporter.h"
#include "verify/picture_sizes.h"

namespace tarnwell {
std::string curve_table(const std::vector<CurvePoint>& points) {
  std::string text = "bit_rate min_buffer_size min_initial_fill\n";
  for (const CurvePoint& p : points) {
    text += std::to_string(p.bit_rate) + " " + (p.valid ? std::to_string(p.min_buffer_size) : "none") + " " +
            (p.valid ? std::to_string(p.min_initial_fill) : "none") + "\n";
  }
  return text;
}

std::string curve_json(const std::vector<CurvePoint>& points, double frame_rate, uint64_t pictures, bool strict,
                       const std::string& extra_fields) {
  std::string text = format_text("{\"frame_rate\":%.3f,\"pictures\":%llu,\"strict\":%s,\"rows\":[", frame_rate,
                                 static_cast<unsigned long long>(pictures), strict ? "true" : "false");
  for (std::size_t i = 0; i < points.size(); ++i) {
    const CurvePoint& p = points[i];
    if (i > 0) text += ",";
    text += "{\"bit_rate\":" + std::to_string(p.bit_rate) +
            ",\"min_buffer_size\":" + (p.valid ? std::to_string(p.min_buffer_size) : "null") +
            ",\"min_initial_fill\":" + (p.valid ? std::to_string(p.min_initial_fill) : "null") + "}";
  }
  return text + "]" + extra_fields + "}\n";
}

std::string curve_csv(const std::vector<CurvePoint>& points) {
  std::string text = "bit_rate,min_buffer_size,min_initial_fill\n";
  for (const CurvePoint& p : points) {
    text += std::to_string(p.bit_rate) + "," + (p.valid ? std::to_string(p.min_buffer_size) : "") + "," +
            (p.valid ? std::to_string(p.min_initial_fill) : "") + "\n";
  }
  return text;
}

std::string curve_svg(const std::vector<CurvePoint>& points, const std::string& stream_path, double frame_rate,
                      uint64_t pictures, bool strict) {
  XyPlot plot;
  plot.title = "Rate-buffer curve of " + file_name_of(stream_path);
  plot.subtitle = format_text("%llu pictures at %.3f fps, strict overflow check %s",
                              static_cast<unsigned long long>(pictures), frame_rate, strict ? "on" : "off");
  plot.x_label = "bit rate (bit/s)";
  plot.y_label = "bits";
  XySeries buffer{"min buffer size", false, {}, {}};
  XySeries fill{"min initial fill", true, {}, {}};
  for (const CurvePoint& p : points) {
    if (!p.valid) continue;
    buffer.x.push_back(p.bit_rate);
    buffer.y.push_back(static_cast<double>(p.min_buffer_size));
    fill.x.push_back(p.bit_rate);
    fill.y.push_back(static_cast<double>(p.min_initial_fill));
  }
  plot.series = {buffer, fill};
  return xy_svg(plot);
}

int run_curve(ApplicationContext& context, const CliOptions& options, std::FILE* input, std::FILE* out,
              std::FILE* err) {
  // The outputs are made (under temporary names) before the stream is read.
  OutputTarget csv_file;
  OutputTarget plot_file;
  std::string reason;
  if (!options.csv_path.empty() && !csv_file.open(options.csv_path, reason)) {
    return cannot_write(err, "CSV", options.csv_path, reason);
  }
  if (!options.plot_path.empty() && !plot_file.open(options.plot_path, reason)) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  TsInput ts;
  std::vector<uint8_t> head;
  const InputReading how{context.shared.stream_path, options.format, options.ts, options.json, false, "curve"};
  const TsWarningFn warn = [&context](const char* text) { context.reporter.notify_error("%s", text); };
  if (!open_command_input(how, input, ts, warn, head, out, err)) return kExitUsage;
  DialogCheckObserver observer(context.dialog);
  const PictureSizes sizes = read_picture_sizes(context, observer, input, ts.source(), head);
  if (sizes.outcome == Outcome::Aborted) {
    std::fputs(options.json ? "{\"outcome\":\"aborted\"}\n" : "ABORTED\n", out);
    return kExitInterrupted;
  }
  if (sizes.outcome == Outcome::NoPictures) {
    if (options.json) {
      std::fprintf(out, "{\"outcome\":\"%s\",\"message\":%s}\n", outcome_name(sizes.outcome),
                   json_string(sizes.message).c_str());
    } else {
      std::fprintf(out, "%s\n", sizes.message.c_str());
    }
    return kExitUsage;
  }
  if (sizes.outcome != Outcome::Pass) {
    std::fprintf(err, "tarnwell-cli: %s: %s\n", sizes.message.c_str(), context.shared.stream_path.c_str());
    return kExitUsage;
  }
  // The frame rate as the check takes it: the one given, or the stream's
  // when the first picture is applied.
  double frame_rate = options.settings.frame_rate;
  if (frame_rate < 1.0) {
    const FrameRateFraction& fraction = sizes.fraction;
    const bool timing = options.stream_timing && fraction.has_timing();
    if (!timing && (fraction.frame_rate_num == 0 || fraction.frame_rate_den == 0)) {
      if (!sizes.bits.empty()) {
        std::fputs("Dont' know the frame rate!\n", out);
        return kExitViolation;
      }
      frame_rate = 0.0;
    } else {
      frame_rate = timing ? stream_timing_rate(fraction)
                          : static_cast<double>(fraction.frame_rate_num) / static_cast<double>(fraction.frame_rate_den);
      if (!options.stream_timing && !sizes.bits.empty()) std::fputs(assumed_frame_rate_note(fraction).c_str(), err);
      // Below 1.0 the check takes the stream's rate again at every picture,
      // so one arrival per picture would not be its arithmetic.
      if (frame_rate < 1.0) {
        std::fprintf(err, "%s\n", kSlowStreamMessage);
        return kExitUsage;
      }
    }
  }

  const std::vector<uint32_t> rates = options.bit_rates.empty()
                                          ? default_curve_rates(sizes.bits, frame_rate >= 1.0 ? frame_rate : 1.0)
                                          : options.bit_rates;
  std::vector<CurvePoint> points;
  points.reserve(rates.size());
  for (uint32_t rate : rates) points.push_back(curve_point(sizes.bits, rate, frame_rate, options.strict));

  const uint64_t pictures = sizes.bits.size();
  if (csv_file.is_open() && !(csv_file.write(curve_csv(points)) && csv_file.commit(reason))) {
    return cannot_write(err, "CSV", options.csv_path, reason);
  }
  if (plot_file.is_open() &&
      !(plot_file.write(curve_svg(points, context.shared.stream_path, frame_rate, pictures, options.strict)) &&
        plot_file.commit(reason))) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  const std::string text = options.json
                               ? curve_json(points, frame_rate, pictures, options.strict, ts_errors_json(ts.source()))
                               : curve_table(points);
  std::fputs(text.c_str(), out);
  return kExitPass;
}

}  // namespace tarnwell
