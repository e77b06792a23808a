// The SVG plots: the check's sawtooth keeps its extremes however long the
// stream, the files render and are well-formed XML; the curve command's
// outputs and its --bit-rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "app/app_fixture.h"
#include "app/check_plot.h"
#include "app/curve_command.h"
#include "app/output_target.h"
#include "app/fullness_plot.h"
#include "app/plot_svg.h"
#include "support/h264_writers.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"
#include "verify/buffer_model.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;
using test::TempFolder;

// The rows of a check over synthetic sizes through the real model, as
// CheckRun hands them to on_picture.
std::vector<PictureTrace> model_rows(const std::vector<uint32_t>& sizes, CheckSettings& settings, Outcome& outcome,
                                     std::string& message) {
  RecordingDialog dialog;
  const FrameRateFraction rate{120, 2};
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, rate, observer);
  std::vector<PictureTrace> rows;
  EXPECT_TRUE(model.begin_model_pass());
  for (uint32_t bits : sizes) {
    const ModelStep step = model.apply_picture(bits);
    PictureTrace row;
    row.index = rows.size();
    row.size_bits = bits;
    row.fullness_before = model.fullness_before();
    row.has_fullness_after = step == ModelStep::Continue;
    row.fullness_after = row.has_fullness_after ? model.fullness() : 0;
    rows.push_back(row);
    if (step != ModelStep::Continue) break;
  }
  outcome = model.outcome();
  message = model.message();
  return rows;
}

// One hour at 60 pictures a second through a 1,000,000-bit buffer at
// 600,000 bit/s (10,000 bits a picture): 100 empty pictures fill the buffer
// to the top, one picture of exactly 1,000,000 bits empties it (no
// underflow: the one 0 of the whole run), pictures of 9,999 bits let it
// creep up by a bit each, and the very last picture needs one bit more than
// there is.
struct HourLong {
  CheckSettings settings{1000000, 500000, 600000, 0.0};
  CheckPlotRecorder recorder;
  Outcome outcome = Outcome::Pass;
  std::string message;
  static constexpr std::size_t kEmptying = 100003;  // inside a merged stretch, not at its start

  HourLong() {
    std::vector<uint32_t> sizes(216000, 10000);
    for (std::size_t i = 50000; i < 50100; ++i) sizes[i] = 0;
    sizes[kEmptying] = 1000000;
    for (std::size_t i = kEmptying + 1; i < sizes.size(); ++i) sizes[i] = 9999;
    sizes.back() = static_cast<uint32_t>(10000 + (215999 - (kEmptying + 1)) + 1);
    for (const PictureTrace& row : model_rows(sizes, settings, outcome, message)) recorder.record(row);
  }
};

// The file renders to PNG and is well-formed XML. Under Wine the tools are
// Linux programs out of reach: skipped there, never natively.
void expect_renders([[maybe_unused]] const std::string& svg_path, [[maybe_unused]] const std::string& png_path) {
#ifdef _WIN32
  GTEST_SKIP() << "rsvg-convert and xmllint run natively only";
#else
  auto tool_present = [](const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
  };
  ASSERT_TRUE(tool_present("rsvg-convert")) << "rsvg-convert is missing: install librsvg2-bin";
  ASSERT_TRUE(tool_present("xmllint")) << "xmllint is missing: install libxml2-utils";
  EXPECT_EQ(std::system(("xmllint --noout '" + svg_path + "'").c_str()), 0) << svg_path;
  EXPECT_EQ(std::system(("rsvg-convert -o '" + png_path + "' '" + svg_path + "'").c_str()), 0) << svg_path;
  EXPECT_GT(test::read_bytes(png_path).size(), 1000u);
#endif
}

// --- The check plot -------------------------------------------------------------

TEST(CheckPlot, DecimatedHourKeepsTheEmptyingTheTinyUnderflowAndTheLargestPicture) {
  HourLong hour;
  ASSERT_EQ(hour.outcome, Outcome::Underflow);
  ASSERT_EQ(hour.message, "UNDERFLOW frame size=125996 bits, underflow=1 bits");
  ASSERT_EQ(hour.recorder.rows(), 216000u);
  // Bounded memory: the rows before the last are merged, not all kept.
  const std::vector<FullnessSample>& kept = hour.recorder.earlier().samples();
  EXPECT_LE(kept.size(), 2 * FullnessSeries::kKeptSamples);

  std::vector<FullnessSample> samples = kept;
  const PictureTrace& last = hour.recorder.last();
  samples.push_back({static_cast<double>(last.index), static_cast<double>(last.fullness_before),
                     static_cast<double>(last.fullness_before) - last.size_bits, static_cast<double>(last.size_bits)});
  const std::vector<ColumnRange> columns = decimate_columns(samples, 0.0, 215999.0, kPlotColumns);
  double low = 1e300;
  double high = -1e300;
  double size_high = 0.0;
  std::vector<std::size_t> empty_or_below;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    ASSERT_FALSE(columns[c].empty) << c;
    low = std::min(low, columns[c].low);
    high = std::max(high, columns[c].high);
    size_high = std::max(size_high, columns[c].size_high);
    if (columns[c].low <= 0.0) empty_or_below.push_back(c);
  }
  EXPECT_EQ(low, -1.0);
  EXPECT_EQ(high, 1000000.0);
  EXPECT_EQ(size_high, 1000000.0);
  // The emptying in its own column, the underflow in the last: nowhere else
  // does the fullness reach 0.
  const auto emptying_column = static_cast<std::size_t>(HourLong::kEmptying * kPlotColumns / 215999);
  ASSERT_EQ(empty_or_below, (std::vector<std::size_t>{emptying_column, kPlotColumns - 1}));
  EXPECT_EQ(columns[emptying_column].low, 0.0);
  EXPECT_EQ(columns.back().low, -1.0);

  const std::string svg = check_plot_svg(
      CheckPlotInput{"/streams/hour <1>.264", hour.settings, false, hour.outcome, hour.message}, hour.recorder);
  EXPECT_LT(svg.size(), 1000000u);
  EXPECT_NE(svg.find("picture 215999: UNDERFLOW frame size=125996 bits, underflow=1 bits"), std::string::npos);
  EXPECT_NE(svg.find("Buffer of hour &lt;1&gt;.264: UNDERFLOW"), std::string::npos);
  EXPECT_NE(svg.find("frame rate 60.000 fps"), std::string::npos);
}

TEST(CheckPlot, RealCheckRecordsTheLastPassAndRenders) {
  TempFolder folder;
  RecordingDialog dialog;
  ApplicationContext context(dialog);
  context.reporter.set_stderr_enabled(false);
  context.settings = CheckSettings{0, 0, 1000000, 0.0};  // a buffer-size search: many passes
  context.shared.stream_path = test::stream_path(test::kX264Stream);
  CheckPlotRecorder recorder;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.on_pass_start = [&](uint32_t) { recorder.start_pass(); };
  run.on_picture = [&](const PictureTrace& row) { recorder.record(row); };
  run.run();
  ASSERT_EQ(run.result().outcome, Outcome::Pass);
  ASSERT_GT(run.result().passes, 1u);
  EXPECT_EQ(recorder.rows(), run.result().pictures);  // only the last pass

  const CheckPlotInput input{context.shared.stream_path, context.settings, false, Outcome::Pass, ""};
  const std::string svg = check_plot_svg(input, recorder);
  char settings_text[128];
  std::snprintf(settings_text, sizeof settings_text, "buffer size %u bits, initial fill %u bits",
                context.settings.buffer_size, context.settings.initial_fill);
  EXPECT_NE(svg.find(settings_text), std::string::npos);
  EXPECT_NE(svg.find("Buffer of x264_cbr_1000k_25fps.264: PASS"), std::string::npos);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find("href"), std::string::npos);

  ASSERT_TRUE(write_check_plot(folder.file("check.svg"), input, recorder));
  expect_renders(folder.file("check.svg"), folder.file("check.png"));
  HourLong hour;
  std::string reason;
  ASSERT_TRUE(write_output_file(folder.file("hour.svg"),
                                check_plot_svg({"hour.264", hour.settings, true, hour.outcome, hour.message},
                                               hour.recorder),
                                reason));
  expect_renders(folder.file("hour.svg"), folder.file("hour.png"));
}

// --- The curve command --------------------------------------------------------------

TEST(CurveCommand, OneReadingGivesTableJsonCsvAndPlot) {
  TempFolder folder;
  RecordingDialog dialog;
  ApplicationContext context(dialog);
  context.reporter.set_stderr_enabled(false);
  context.shared.stream_path = test::stream_path(test::kX264Stream);
  CliOptions request;
  request.json = true;
  request.csv_path = folder.file("curve.csv");
  request.plot_path = folder.file("curve.svg");
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(run_curve(context, request, nullptr, out, stderr), 0);
  std::rewind(out);
  std::string json;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) json += static_cast<char>(c);
  std::fclose(out);

  EXPECT_EQ(json.rfind("{\"frame_rate\":25.000,\"pictures\":249,\"strict\":false,\"rows\":[{\"bit_rate\":", 0), 0u)
      << json;
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 17);
  const std::string csv = test::read_text(request.csv_path);
  EXPECT_EQ(csv.rfind("bit_rate,min_buffer_size,min_initial_fill\n", 0), 0u);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 17);
  expect_renders(request.plot_path, folder.file("curve.png"));

  const std::vector<CurvePoint> points = {{1000, true, 5000, 1200}, {2000, false, 1ull << 33, 7}};
  EXPECT_EQ(curve_table(points), "bit_rate min_buffer_size min_initial_fill\n1000 5000 1200\n2000 none none\n");
  EXPECT_EQ(curve_csv(points), "bit_rate,min_buffer_size,min_initial_fill\n1000,5000,1200\n2000,,\n");
}

}  // namespace
}  // namespace tarnwell
