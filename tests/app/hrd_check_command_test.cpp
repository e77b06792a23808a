// hrd-check as the front end calls it: the report's text and JSON, the trace,
// the exit codes, and the command's own arguments.
#include "app/hrd_check_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/fullness_plot.h"
#include "app/hrd_check_report.h"
#include "app_fixture.h"
#include "picture/access_unit_splitter.h"
#include "support/hrd_stream.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

struct Ran {
  int code;
  std::string out;
  std::string err;
};

Ran run(const CliOptions& request, std::FILE* input, const HrdRowSink* sink = nullptr) {
  test::TempFolder folder;
  std::FILE* out = std::fopen(folder.file("out").c_str(), "w");
  std::FILE* err = std::fopen(folder.file("err").c_str(), "w");
  const int code = run_hrd_check(request, input, out, err, nullptr, sink);
  std::fclose(out);
  std::fclose(err);
  return {code, test::read_text(folder.file("out")), test::read_text(folder.file("err"))};
}

Ran run_file(const std::string& path, CliOptions request = {}) {
  request.file = path;
  std::FILE* input = std::fopen(path.c_str(), "rb");
  Ran ran = run(request, input);
  if (input != nullptr) std::fclose(input);
  return ran;
}

TEST(HrdCheckCommand, ConformingStreamInTextAndJson) {
  const std::string x264 = test::stream_path(test::kX264Stream);
  const Ran text = run_file(x264);
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out,
            "NAL schedule 0: 1000000 bit/s, CPB 1000000 bits, CBR: conforms (peak 899988 bits, 89.9%)\n"
            "access units: 250, not tested (before the first buffering period): 0\n");
  CliOptions json;
  json.json = true;
  const Ran j = run_file(x264, json);
  EXPECT_EQ(j.code, 0);
  EXPECT_EQ(j.out,
            "{\"tests\":[{\"point\":\"nal\",\"schedule\":0,\"bit_rate\":1000000,\"cpb_size\":1000000,\"cbr\":true,"
            "\"low_delay\":false,\"conforms\":true,\"peak_bits\":899988,\"violations\":[],\"violation_count\":0}],"
            "\"access_units\":250,\"untested_access_units\":0,\"level_limits\":{\"level\":\"3\",\"profile_idc\":100,"
            "\"level_idc\":30,\"max_mbps\":40500,\"max_br_vcl\":12500000,\"max_cpb_vcl\":12500000,"
            "\"max_br_nal\":15000000,\"max_cpb_nal\":15000000}}\n");
}

TEST(HrdCheckCommand, ViolationsAreListedCappedAndTraced) {
  // The x264 stream with access unit 10 sent twice: its copy is removed at
  // the same time as the original.
  const std::vector<uint8_t> original = [] {
    std::string bytes = test::read_bytes(test::stream_path(test::kX264Stream));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }();
  std::vector<uint64_t> starts;
  {
    test::TempStreamFile file(original);
    AccessUnitSplitter splitter;
    splitter.begin(file.file());
    AccessUnit au;
    while (splitter.next(au) == 1) starts.push_back(au.start);
  }
  ASSERT_GT(starts.size(), 11u);
  std::vector<uint8_t> bytes(original.begin(), original.begin() + static_cast<long>(starts[11]));
  bytes.insert(bytes.end(), original.begin() + static_cast<long>(starts[10]),
               original.begin() + static_cast<long>(starts[11]));
  bytes.insert(bytes.end(), original.begin() + static_cast<long>(starts[11]), original.end());
  test::TempStreamFile file(bytes);
  test::TempFolder folder;
  CliOptions request;
  request.file = "dup.264";
  request.max_violations = 1;
  request.trace_path = folder.file("trace.csv");
  const Ran ran = run(request, file.file());
  EXPECT_EQ(ran.code, 1);
  EXPECT_NE(ran.out.find("CBR: "), std::string::npos);
  // 920 macroblocks at level 3's 40500 MB/s need 0.022716 s between removals.
  EXPECT_NE(ran.out.find(" violations\n    removal_interval at access unit 11, 1.299989 s: 0.022716 s short (removed "
                         "0.000000 s after the previous access unit, at least 0.022716 s needed)\n"),
            std::string::npos)
      << ran.out;
  EXPECT_NE(ran.out.find("    ... "), std::string::npos);
  const std::string trace = test::read_text(request.trace_path);
  EXPECT_EQ(trace.rfind("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,fullness_after_removal\n"
                        "0,125824,0.000000,0.125824,0.899989,0.899989,899988,774164\n",
                        0),
            0u)
      << trace.substr(0, 200);
  EXPECT_FALSE(std::filesystem::exists(request.trace_path + ".part0"));

  // The rows for a plot: the same numbers, handed over as the pass goes,
  // whether or not the command draws its own plot of them.
  std::vector<HrdTraceRow> rows;
  std::size_t chosen = 99;
  HrdRowSink sink{[&](std::size_t, const HrdTraceRow& row) { rows.push_back(row); },
                  [&](std::size_t test, const HrdTestResult&) { chosen = test; }};
  std::rewind(file.file());
  request.trace_path.clear();
  request.plot_path = folder.file("plot.svg");
  EXPECT_EQ(run(request, file.file(), &sink).code, 1);
  EXPECT_NE(test::read_text(request.plot_path).find("CPB of dup.264: NAL schedule 0"), std::string::npos);
  EXPECT_EQ(chosen, 0u);
  ASSERT_EQ(rows.size(), 251u);
  EXPECT_EQ(rows[0].fullness_before, 899988);
  EXPECT_EQ(rows[0].cpb_size, 1000000u);

  // The plot marks every access unit with a violation and counts them in its title.
  FullnessSeries series;
  uint64_t flagged = 0;
  for (const HrdTraceRow& row : rows) {
    series.add(FullnessSample{static_cast<double>(row.t_r_us) / 1e6, static_cast<double>(row.fullness_before),
                              static_cast<double>(row.fullness_after), static_cast<double>(row.bits),
                              row.violations != 0});
    flagged += row.violations != 0 ? 1 : 0;
  }
  HrdTestResult result;
  result.config.cpb_size = 1000000;
  result.conforms = false;
  result.violation_count = 3;
  result.violations.resize(1);
  result.violations[0].has_access_unit = true;
  result.violations[0].kind = HrdViolationKind::kRemovalInterval;
  const std::string svg = hrd_plot_svg("dir/dup.264", result, series);
  EXPECT_NE(svg.find("CPB of dup.264: NAL schedule 0: 3 violations"), std::string::npos);
  EXPECT_GE(flagged, 1u);
  const std::size_t marks = svg.find("stroke=\"#d00000\" stroke-width=\"2\" fill=\"none\"");
  ASSERT_NE(marks, std::string::npos) << svg.substr(0, 400);
}

TEST(HrdCheckCommand, UnusableStreamsAndFilesExitWithTwo) {
  const Ran no_hrd = run_file(test::stream_path("BA_MW_D.264"));
  EXPECT_EQ(no_hrd.code, 2);
  EXPECT_EQ(no_hrd.out, "");
  EXPECT_NE(no_hrd.err.find("carries no HRD parameters; check verifies"), std::string::npos) << no_hrd.err;

  // HRD parameters but every buffering period SEI removed.
  std::string bytes = test::read_bytes(test::stream_path(test::kX264Stream));
  test::TempStreamFile stripped([&] {
    std::vector<uint8_t> v(bytes.begin(), bytes.end());
    // Rewrites each SEI header byte into a reserved NAL unit type (23), which nothing reads.
    for (std::size_t i = 0; i + 4 < v.size(); ++i) {
      if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && (v[i + 3] & 0x1F) == 6) v[i + 3] = 0x17;
    }
    return v;
  }());
  CliOptions request;
  request.file = "stripped.264";
  const Ran no_bp = run(request, stripped.file());
  EXPECT_EQ(no_bp.code, 2);
  EXPECT_NE(no_bp.err.find("no buffering period SEI"), std::string::npos) << no_bp.err;

  request.file = "missing.264";
  const Ran missing = run(request, nullptr);
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err, "tarnwell-cli: cannot open missing.264\n");

  request.all_schedules = false;
  request.schedule = 3;
  EXPECT_EQ(run_file(test::stream_path(test::kX264Stream), request).code, 2);
  request = CliOptions{};
  request.point = HrdPointChoice::Vcl;  // the x264 stream has no VCL HRD parameters
  EXPECT_EQ(run_file(test::stream_path(test::kX264Stream), request).code, 2);
}

TEST(HrdCheckCommand, MissingSpsIncompleteEndsAndUncomputableTestsAreNamed) {
  using Delays = std::vector<std::pair<uint32_t, uint32_t>>;
  const auto ran = [](const std::vector<uint8_t>& bytes) {
    test::TempStreamFile file(bytes);
    CliOptions request;
    request.file = "s.264";
    return run(request, file.file());
  };
  // A buffering period naming SPS 5, where the stream carries SPS 0 only.
  test::HrdSps sps;
  test::HrdSps other = sps;
  other.seq_parameter_set_id = 5;
  test::HrdStream named(sps);
  named.builder().nal(0, 6, test::buffering_period_rbsp(other, {{45000, 0}}));
  named.picture(true, 0, 100).picture(false, 2, 100);
  const Ran missing = ran(named.bytes());
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("names seq_parameter_set_id 5"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("Warning: unreadable NAL units"), std::string::npos) << missing.err;

  // The stream ends with an access unit's SEI but no slice, or inside a slice header.
  test::HrdStream whole(sps);
  for (uint32_t k = 0; k < 5; ++k) whole.picture(k == 0, 2 * k, 100, k == 0 ? Delays{{45000, 0}} : Delays{});
  EXPECT_EQ(ran(whole.bytes()).err, "");
  whole.builder().nal(0, 6, test::picture_timing_rbsp(sps, 10));
  const Ran no_slice = ran(whole.bytes());
  EXPECT_EQ(no_slice.code, 0);
  EXPECT_NE(no_slice.err.find("incomplete"), std::string::npos);
  std::vector<uint8_t> cut = whole.bytes();
  cut.insert(cut.end(), {0, 0, 0, 1, 0x21, 0x88});
  EXPECT_NE(ran(cut).err.find("incomplete"), std::string::npos);

  // Times beyond exact arithmetic: exit 2 and the test named.
  test::HrdSps huge;
  huge.num_units_in_tick = 0xFFFFFFFF;
  huge.time_scale = 0xFFFFFFFB;
  huge.bit_rate_scale = 15;
  huge.schedules = {{0xFFFFFFFE, 62499, true}};
  huge.delay_length = 32;
  test::HrdStream big(huge);
  for (uint32_t k = 0; k < 3; ++k) big.picture(k == 0, 0xFFFFFFFF, 100, k == 0 ? Delays{{45000, 0}} : Delays{});
  const Ran stopped = ran(big.bytes());
  EXPECT_EQ(stopped.code, 2);
  EXPECT_NE(stopped.err.find("NAL schedule 0 test of s.264 could not be computed"), std::string::npos)
      << stopped.err;
}

}  // namespace
}  // namespace tarnwell
