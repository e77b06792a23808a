#include "app/settings_input.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

// The dialog after the user typed into it: the defaults of a fresh dialog,
// with any edit the test names replaced.
struct ReadCheckSettings : ::testing::Test {
  RecordingDialog dialog;
  CheckSettings settings;
  SharedValues shared;

  ReadCheckSettings() {
    dialog.set_text(kEditStreamPath, "clip.264");
    dialog.set_text(kEditBufferSize, "10000000");
    dialog.set_text(kEditInitialFill, "9000000");
    dialog.set_text(kEditBitRate, "0");
    dialog.set_text(kEditFrameRate, "0");
  }
};

// --- the integer edits -----------------------------------------------------

TEST_F(ReadCheckSettings, DialogDefaultsAreReadIntoTheSettings) {
  shared.abort_requested = 1;
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(settings.buffer_size, 10000000u);
  EXPECT_EQ(settings.initial_fill, 9000000u);
  EXPECT_EQ(settings.bit_rate, 0u);
  EXPECT_EQ(settings.frame_rate, 0.0);
  EXPECT_EQ(shared.stream_path, "clip.264");
  EXPECT_EQ(shared.abort_requested.load(), 0u);
}

TEST_F(ReadCheckSettings, TenDigitsInTheBufferSizeEditAreReadAsTheFirstNine) {
  dialog.set_text(kEditBufferSize, "1234567890");
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(settings.buffer_size, 123456789u);
}

TEST(ParseIntegerEdit, OnlyTheFirstNineCharactersCountWhateverTheCaller) {
  EXPECT_EQ(parse_integer_edit("9999999999999"), 999999999u);
  EXPECT_EQ(parse_integer_edit("-999999999"), 0u - 99999999u);
  EXPECT_EQ(parse_integer_edit("        7"), 7u);
  EXPECT_EQ(parse_integer_edit("         7"), std::nullopt);
}

TEST_F(ReadCheckSettings, NegativeNumbersAreStoredAsTwosComplement) {
  dialog.set_text(kEditBufferSize, "-1");
  dialog.set_text(kEditInitialFill, "-2");
  dialog.set_text(kEditBitRate, "-99999999");
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(settings.buffer_size, 4294967295u);
  EXPECT_EQ(settings.initial_fill, 4294967294u);
  EXPECT_EQ(settings.bit_rate, 4294967295u - 99999999u + 1u);
}

TEST_F(ReadCheckSettings, EditWithoutANumberKeepsTheValueOfTheLastRun) {
  // As after a bit-rate search that found 4000000.
  settings.buffer_size = 111;
  settings.initial_fill = 222;
  settings.bit_rate = 4000000;
  dialog.set_text(kEditBufferSize, "abc");
  dialog.set_text(kEditInitialFill, "");
  dialog.set_text(kEditBitRate, "- 5");
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(settings.buffer_size, 111u);
  EXPECT_EQ(settings.initial_fill, 222u);
  EXPECT_EQ(settings.bit_rate, 4000000u);
}

TEST(ParseIntegerEdit, ReadsLikeScanFormatPercentD) {
  EXPECT_EQ(parse_integer_edit("  +12x"), 12u);
  EXPECT_EQ(parse_integer_edit("\t\n42"), 42u);
  EXPECT_EQ(parse_integer_edit("007"), 7u);
  EXPECT_EQ(parse_integer_edit("3.9"), 3u);
  EXPECT_EQ(parse_integer_edit("1e6"), 1u);
  EXPECT_EQ(parse_integer_edit("0x10"), 0u);
  EXPECT_EQ(parse_integer_edit("-0"), 0u);
  EXPECT_EQ(parse_integer_edit("+"), std::nullopt);
  EXPECT_EQ(parse_integer_edit("-"), std::nullopt);
  EXPECT_EQ(parse_integer_edit("+-1"), std::nullopt);
  EXPECT_EQ(parse_integer_edit("x12"), std::nullopt);
  EXPECT_EQ(parse_integer_edit(std::string("\0" "12", 3)), std::nullopt);
}

// --- the frame rate edit ---------------------------------------------------

TEST(ParseFrameRateEdit, LongestLeadingDecimalNumber) {
  EXPECT_EQ(parse_frame_rate_edit("abc"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit(""), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("0"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("0.5"), 0.5);
  EXPECT_EQ(parse_frame_rate_edit("29.97"), 29.97);
  EXPECT_EQ(parse_frame_rate_edit("1e1"), 10.0);
  EXPECT_EQ(parse_frame_rate_edit("2.5E+1fps"), 25.0);
  EXPECT_EQ(parse_frame_rate_edit(" -3"), -3.0);
  EXPECT_EQ(parse_frame_rate_edit("\t+25"), 25.0);
  EXPECT_EQ(parse_frame_rate_edit(".5"), 0.5);
  EXPECT_EQ(parse_frame_rate_edit("5."), 5.0);
  EXPECT_EQ(parse_frame_rate_edit("."), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("-.e1"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("1.2.3"), 1.2);
}

TEST(ParseFrameRateEdit, IncompleteExponentIsLeftOut) {
  EXPECT_EQ(parse_frame_rate_edit("1.5e"), 1.5);
  EXPECT_EQ(parse_frame_rate_edit("1.5e+"), 1.5);
  EXPECT_EQ(parse_frame_rate_edit("1.5e-x"), 1.5);
  EXPECT_EQ(parse_frame_rate_edit("30e-1"), 3.0);
}

TEST(ParseFrameRateEdit, NoHexInfinityOrNan) {
  EXPECT_EQ(parse_frame_rate_edit("0x10"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("0x1p4"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("inf"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("-infinity"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("nan"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("NAN(1)"), 0.0);
}

TEST(ParseFrameRateEdit, OnlyTheFirstSeventyNineCharactersCount) {
  // 78 zeros then "25": the 79th character is the "2".
  std::string text = "0." + std::string(76, '0') + "125";
  ASSERT_EQ(text.size(), 81u);
  EXPECT_EQ(parse_frame_rate_edit(text), 1e-77);
}

TEST(ParseFrameRateEdit, NumbersBeyondDoubleGoToInfinityOrZero) {
  EXPECT_EQ(parse_frame_rate_edit("1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_frame_rate_edit("-1e999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_frame_rate_edit("0.001e312"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_frame_rate_edit("1e-999"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("1000e-330"), 0.0);
  EXPECT_EQ(parse_frame_rate_edit("1e99999999999999999999999999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_frame_rate_edit("0e99999"), 0.0);
}

TEST(ScanDecimalPrefix, ReportsHowMuchWasTaken) {
  EXPECT_EQ(scan_decimal_prefix("  29.97fps").length, 7u);
  EXPECT_EQ(scan_decimal_prefix("1e").length, 1u);
  EXPECT_EQ(scan_decimal_prefix("-.5e-1x").length, 6u);
  EXPECT_EQ(scan_decimal_prefix("-.5e-1x").value, -0.05);
  EXPECT_EQ(scan_decimal_prefix("+").length, 0u);
}

TEST(ParseFrameRateEdit, DecimalPointIsAPointWhateverTheLocale) {
  // A process locale with a decimal comma must not change what the edit means.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous != nullptr ? previous : "C";
  bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr ||
                  std::setlocale(LC_NUMERIC, "German_Germany.1252") != nullptr;
  EXPECT_EQ(parse_frame_rate_edit("29.97"), 29.97);
  EXPECT_EQ(parse_frame_rate_edit("29,97"), 29.0);
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST_F(ReadCheckSettings, FrameRateTextsWithoutANumberTakeTheRateFromTheStream) {
  settings.frame_rate = 25.0;  // taken from the stream by the last run
  dialog.set_text(kEditFrameRate, "abc");
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(settings.frame_rate, 0.0);
}

// --- the path and the order of reading ---------------------------------------

TEST_F(ReadCheckSettings, StreamPathIsReadUpTo2047Characters) {
  std::string long_path(3000, 'p');
  dialog.set_text(kEditStreamPath, long_path);
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(shared.stream_path, long_path.substr(0, 2047));
}

TEST_F(ReadCheckSettings, EmptyPathEditEmptiesTheStreamPath) {
  shared.stream_path = "old.264";
  dialog.set_text(kEditStreamPath, "");
  read_check_settings(dialog, settings, shared);
  EXPECT_EQ(shared.stream_path, "");
}

}  // namespace
}  // namespace tarnwell
