// The HRD report's lines, printed from each SPS as it is parsed: both blocks,
// the 32-bit products, the entries beyond the record, and when nothing prints.
#include "inspect/codec_text.h"

#include <gtest/gtest.h>

#include <string>

#include "paramsets/paramsets_fixture.h"
#include "platform/executable_path.h"

namespace tarnwell::test {
namespace {

// The HRD report printed from the SPSs as they are parsed.
class HrdReportTest : public ParamSetsTest {
 protected:
  void SetUp() override {
    ASSERT_NE(report.get(), nullptr);
    sets.set_sps_listener([this](const SeqParamSet& sps) { print_hrd_blocks(sps, report.get()); });
  }
  TempFile report;
};

// A Baseline SPS with a VUI up to nal_hrd_parameters_present_flag 1: the
// caller writes the NAL block and what follows.
BitWriter sps_before_nal_hrd(uint32_t profile_idc = 66) {
  BitWriter w;
  sps_head(w, profile_idc, 30, 0);
  sps_tail(w, SpsTail{.vui_parameters_present_flag = 1});
  w.u1(0).u1(0).u1(0).u1(0).u1(0).u1(1);
  return w;
}

TEST_F(HrdReportTest, BothHrdBlocksAreReportedLineByLine) {
  process_sps(sps_with_hrd({{15624, 15624, 1}, {99, 199, 0}, {0xFFFFFFFEu, 0, 1}}, {{4, 5, 0}}, 0, 1));

  EXPECT_EQ(report.text(),
            "NAL HRD INFO:\n\n"
            "cpb_cnt_minus1 = 2\n"
            "bit_rate_scale = 0\n"
            "cpb_size_scale = 2\n\n"
            "bit_rate_value_minus1[0] = 15624 [1000000 bits/s]\n"
            "cpb_size_value_minus1[0] = 15624 [1000000 bits]\n"
            "cbr_flag[0] = 1\n\n"
            "bit_rate_value_minus1[1] = 99 [6400 bits/s]\n"
            "cpb_size_value_minus1[1] = 199 [12800 bits]\n"
            "cbr_flag[1] = 0\n\n"
            "bit_rate_value_minus1[2] = -2 [4294967232 bits/s]\n"
            "cpb_size_value_minus1[2] = 0 [64 bits]\n"
            "cbr_flag[2] = 1\n\n"
            "initial_cpb_removal_delay_length_minus1 = 23\n"
            "cpb_removal_delay_length_minus1 = 23\n"
            "dpb_output_delay_length_minus1 = 4\n"
            "time_offset_length = 24\n\n"
            "VCL HRD INFO:\n\n"
            "cpb_cnt_minus1 = 0\n"
            "bit_rate_scale = 1\n"
            "cpb_size_scale = 3\n\n"
            "bit_rate_value_minus1[0] = 4 [640 bits/s]\n"
            "cpb_size_value_minus1[0] = 5 [768 bits]\n"
            "cbr_flag[0] = 0\n\n"
            "initial_cpb_removal_delay_length_minus1 = 23\n"
            "cpb_removal_delay_length_minus1 = 9\n"
            "dpb_output_delay_length_minus1 = 4\n"
            "time_offset_length = 0\n\n");

  EXPECT_EQ(sps_slot(0).vui.nal_hrd.bit_rate_value_minus1[2], 0xFFFFFFFEu);
  EXPECT_EQ(sps_slot(0).vui.pic_struct_present_flag, 1u);
}

TEST_F(HrdReportTest, ReportScalesTheValuesAndWrapsModulo2To32) {
  for (uint32_t bit_rate_scale : {4u, 15u}) {
    BitWriter w = sps_before_nal_hrd();
    hrd(w, bit_rate_scale, 3, {{15624, 15624, 0}, {4096, 0, 0}}).u1(0).u1(0).u1(0).u1(0).trailing_bits();
    process_sps(w);
  }

  const std::string text = report.text();
  EXPECT_NE(text.find("bit_rate_value_minus1[0] = 15624 [16000000 bits/s]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("cpb_size_value_minus1[0] = 15624 [2000000 bits]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("bit_rate_value_minus1[1] = 4096 [4195328 bits/s]\n"), std::string::npos) << text;
  // (4096 + 1) * 2^21 = 2^33 + 2^21.
  EXPECT_NE(text.find("bit_rate_value_minus1[1] = 4096 [2097152 bits/s]\n"), std::string::npos) << text;
}

TEST_F(HrdReportTest, NothingIsPrintedWithoutAListenerOrForAnUnacceptedProfile) {
  process_sps(sps_before_nal_hrd(244).trailing_bits());
  sets.set_sps_listener(nullptr);
  process_sps(sps_with_hrd({{1, 1, 0}}, {{1, 1, 0}}));
  EXPECT_EQ(report.text(), "");
  EXPECT_EQ(sps_slot(0).vui.vcl_hrd_parameters_present_flag, 1u);
}

// --- Counts beyond the record -----------------------------------------------

TEST_F(HrdReportTest, EntriesBeyondThirtyTwoAreReadButNotKeptAndTheReportSaysSo) {
  std::vector<HrdEntry> entries;
  for (uint32_t i = 0; i < 34; ++i) entries.push_back({i, 1000 + i, i & 1});
  process_sps(sps_with_hrd(entries, {}, 0, 1));

  const SeqParamSet& sps = sps_slot(0);
  EXPECT_EQ(sps.vui.nal_hrd.cpb_size_value_minus1[31], 1031u);
  // The two entries beyond the block were read: what follows is in place.
  EXPECT_EQ(sps.vui.nal_hrd.time_offset_length, 24u);
  EXPECT_EQ(sps.vui.pic_struct_present_flag, 1u);

  const std::string text = report.text();
  EXPECT_NE(text.find("cbr_flag[31] = 1\n\n2 more entries announced by cpb_cnt_minus1 not printed\n\n"
                      "initial_cpb_removal_delay_length_minus1 = 23\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("[32]"), std::string::npos);
}

TEST_F(HrdReportTest, HugeCpbCountEndsWithTheData) {
  BitWriter w = sps_before_nal_hrd();
  process_sps(w.ue(4294967294u).u(4, 0).u(4, 0).ue(7).ue(7).u1(1).trailing_bits());

  EXPECT_EQ(sps_slot(0).valid, 1u);
  EXPECT_EQ(sps_slot(0).vui.nal_hrd.bit_rate_value_minus1[0], 7u);
  const std::string text = report.text();
  EXPECT_NE(text.find("cpb_cnt_minus1 = -2\n"), std::string::npos);
  EXPECT_NE(text.find("cbr_flag[31] = 0\n\n4294967263 more entries announced by cpb_cnt_minus1 not printed\n\n"),
            std::string::npos);
  EXPECT_LT(text.size(), 8000u);
}

// hrd.txt goes into the executable's folder: everything up to and including
// the last separator of the system's own kind.
TEST(HrdReportPath, CutsAfterTheLastSeparator) {
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(hrd_report_path("C:" + s + "tools" + s + "tarnwell.exe"), "C:" + s + "tools" + s + "hrd.txt");
  EXPECT_EQ(hrd_report_path(s + "tarnwell"), s + "hrd.txt");
  EXPECT_EQ(hrd_report_path("dir" + s), "dir" + s + "hrd.txt");
}

TEST(HrdReportPath, PathWithoutSeparatorGivesTheCurrentDirectory) {
  EXPECT_EQ(hrd_report_path("tarnwell.exe"), "hrd.txt");
  EXPECT_EQ(hrd_report_path(""), "hrd.txt");
}

TEST(HrdReportPath, OnlyTheSystemsOwnSeparatorCounts) {
#ifdef _WIN32
  EXPECT_EQ(hrd_report_path("C:\\a/b/tarnwell.exe"), "C:\\hrd.txt");
#else
  EXPECT_EQ(hrd_report_path("/opt/a\\b\\tarnwell"), "/opt/hrd.txt");
#endif
}

TEST(HrdReportPath, LongPathIsSearchedToItsEnd) {
  // Far beyond the 255 characters that a fixed path buffer would hold.
  const std::string s(1, kPathSeparator);
  std::string folder = "C:";
  for (int i = 0; i < 40; ++i) folder += s + "folder" + std::to_string(i);
  folder += s;
  ASSERT_GT(folder.size(), 300u);
  EXPECT_EQ(hrd_report_path(folder + "tarnwell.exe"), folder + "hrd.txt");
}

}  // namespace
}  // namespace tarnwell::test
