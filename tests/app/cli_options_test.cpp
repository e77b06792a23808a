#include "app/cli_options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace tarnwell {
namespace {

CliOptions parse(std::initializer_list<const char*> arguments) {
  std::vector<const char*> argv{"tarnwell-cli"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back(nullptr);
  return parse_cli_options(static_cast<int>(argv.size() - 1), argv.data());
}

// The error of a refused command line; "" when it was accepted.
std::string error_of(std::initializer_list<const char*> arguments) {
  return parse(arguments).error;
}

constexpr char kWholeNumberError[] = " needs a whole number from 0 to 4294967295 (k = 1000, M = 1000000)";

// --- commands and FILE -------------------------------------------------------

TEST(CliOptions, CheckWithoutOptionsHasTheDialogsDefaults) {
  CliOptions options = parse({"check", "clip.264"});
  EXPECT_EQ(options.error, "");
  EXPECT_EQ(options.command, CliCommand::Check);
  EXPECT_EQ(options.file, "clip.264");
  EXPECT_EQ(options.settings.buffer_size, 10000000u);
  EXPECT_EQ(options.settings.initial_fill, 9000000u);
  EXPECT_EQ(options.settings.bit_rate, 0u);
  EXPECT_EQ(options.settings.frame_rate, 0.0);
  EXPECT_FALSE(options.strict);
  EXPECT_EQ(options.warnings, WarningPolicy::Once);
  EXPECT_FALSE(options.json);
  EXPECT_EQ(options.trace_path, "");
}

TEST(CliOptions, EveryCheckOptionIsTaken) {
  CliOptions options = parse({"check", "--buffer-size", "4000000", "clip.264", "--initial-fill", "3600000",
                              "--bit-rate", "2000000", "--frame-rate", "29.97", "--strict", "--warnings",
                              "off", "--json", "--trace", "out.csv"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.file, "clip.264");
  EXPECT_EQ(options.settings.buffer_size, 4000000u);
  EXPECT_EQ(options.settings.initial_fill, 3600000u);
  EXPECT_EQ(options.settings.bit_rate, 2000000u);
  EXPECT_EQ(options.settings.frame_rate, 29.97);
  EXPECT_TRUE(options.strict);
  EXPECT_EQ(options.warnings, WarningPolicy::Off);
  EXPECT_TRUE(options.json);
  EXPECT_EQ(options.trace_path, "out.csv");
}

TEST(CliOptions, InfoTakesFileAndHrdPath) {
  CliOptions options = parse({"info", "clip.264", "--hrd", "/tmp/report.txt"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.command, CliCommand::Info);
  EXPECT_EQ(options.file, "clip.264");
  EXPECT_EQ(options.hrd_path, "/tmp/report.txt");
  EXPECT_EQ(parse({"info", "clip.264"}).hrd_path, "");
}

TEST(CliOptions, HelpAndVersion) {
  EXPECT_EQ(parse({"--help"}).command, CliCommand::Help);
  EXPECT_EQ(parse({"--version"}).command, CliCommand::Version);
  EXPECT_EQ(parse({"--help"}).error, "");
  EXPECT_EQ(error_of({"--version", "x"}), "tarnwell-cli: --version takes no arguments");
  // Asking for help in the middle of a command line shows the usage text.
  CliOptions options = parse({"check", "clip.264", "--help"});
  EXPECT_EQ(options.command, CliCommand::Help);
  EXPECT_EQ(options.error, "");
  EXPECT_NE(std::string(cli_usage()).find("tarnwell-cli info FILE [--hrd PATH] [--json] [--warnings each|once|off]\n"), std::string::npos);
  EXPECT_EQ(parse({"-h"}).command, CliCommand::Help);
  EXPECT_EQ(parse({"check", "clip.264", "-h"}).command, CliCommand::Help);
  EXPECT_EQ(std::string(cli_version()), "tarnwell-cli 1.9");
}

TEST(CliOptions, MissingOrUnknownCommand) {
  EXPECT_EQ(error_of({}), "tarnwell-cli: missing command; try tarnwell-cli --help");
  EXPECT_EQ(error_of({"verify", "clip.264"}), "tarnwell-cli: unknown command 'verify'; try tarnwell-cli --help");
  EXPECT_NE(error_of({"clip.264"}), "");
}

TEST(CliOptions, ExactlyOneFile) {
  EXPECT_EQ(error_of({"check"}), "tarnwell-cli: check needs a FILE");
  EXPECT_EQ(error_of({"info", "--hrd", "x.txt"}), "tarnwell-cli: info needs a FILE");
  EXPECT_EQ(error_of({"check", ""}), "tarnwell-cli: check needs a FILE");
  EXPECT_EQ(error_of({"check", "a.264", "b.264"}), "tarnwell-cli: check takes one FILE, not also 'b.264'");
}

TEST(CliOptions, DoubleDashEndsTheOptions) {
  CliOptions options = parse({"check", "--strict", "--", "--json"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.file, "--json");
  EXPECT_FALSE(options.json);
  EXPECT_EQ(parse({"check", "-"}).file, "-");
}

TEST(CliOptions, UnknownOptionsAndOptionsOfTheOtherCommand) {
  EXPECT_EQ(error_of({"check", "clip.264", "--buffer"}), "tarnwell-cli: unknown option '--buffer' for check");
  EXPECT_EQ(error_of({"check", "clip.264", "-j"}), "tarnwell-cli: unknown option '-j' for check");
  EXPECT_EQ(error_of({"check", "clip.264", "--bit-rate-x=5"}),
            "tarnwell-cli: unknown option '--bit-rate-x' for check");
  EXPECT_EQ(error_of({"check", "clip.264", "--strict=1"}), "tarnwell-cli: --strict takes no value, not '1'");
  EXPECT_EQ(error_of({"check", "clip.264", "--hrd", "x"}), "tarnwell-cli: unknown option '--hrd' for check");
  EXPECT_EQ(error_of({"info", "clip.264", "--strict"}), "tarnwell-cli: unknown option '--strict' for info");
}

TEST(CliOptions, InitialFillNotGivenIsNinetyPercentOfTheBufferTruncated) {
  EXPECT_EQ(parse({"check", "c"}).settings.initial_fill, 9000000u);
  EXPECT_EQ(parse({"check", "c", "--buffer-size", "500000"}).settings.initial_fill, 450000u);
  EXPECT_EQ(parse({"check", "c", "--buffer-size=4294967295"}).settings.initial_fill, 3865470565u);
  EXPECT_EQ(parse({"check", "c", "--buffer-size", "0"}).settings.initial_fill, 0u);
  // Given, it stays as given, in any order.
  EXPECT_EQ(parse({"check", "c", "--initial-fill", "7", "--buffer-size", "500000"}).settings.initial_fill, 7u);
}

TEST(CliOptions, HrdCheckAndCurveOptions) {
  const CliOptions r = parse({"hrd-check", "--point", "vcl", "in.264", "--schedule=2", "--json", "--max-violations",
                              "0", "--trace", "t.csv", "--plot", "p.svg"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.command, CliCommand::HrdCheck);
  EXPECT_EQ(r.file, "in.264");
  EXPECT_EQ(r.point, HrdPointChoice::Vcl);
  EXPECT_FALSE(r.all_schedules);
  EXPECT_EQ(r.schedule, 2u);
  EXPECT_EQ(r.max_violations, 0u);
  EXPECT_EQ(r.plot_path, "p.svg");
  EXPECT_TRUE(parse({"hrd-check", "a", "--schedule", "all"}).all_schedules);
  EXPECT_EQ(error_of({"hrd-check", "a", "--schedule", "32"}),
            "tarnwell-cli: --schedule needs a schedule from 0 to 31 or all, not '32'");
  EXPECT_EQ(error_of({"hrd-check", "a", "--point", "both2"}), "tarnwell-cli: --point needs nal, vcl or both, not 'both2'");
  EXPECT_EQ(error_of({"hrd-check", "a", "--strict"}), "tarnwell-cli: unknown option '--strict' for hrd-check");
  EXPECT_EQ(parse({"curve", "a", "--bit-rates", "1000:3000:1000"}).bit_rates, (std::vector<uint32_t>{1000, 2000, 3000}));
  EXPECT_EQ(error_of({"curve", "a", "--bit-rates=0,5"}),
            "tarnwell-cli: --bit-rates needs FROM:TO:STEP or R1,R2,... of whole numbers from 1 to 4294967295 "
            "(k = 1000, M = 1000000), not '0,5'");
  EXPECT_EQ(parse({"curve", "a", "--bit-rates", "300k,1.5M,2000001"}).bit_rates,
            (std::vector<uint32_t>{300000, 1500000, 2000001}));
  EXPECT_EQ(parse({"curve", "a", "--bit-rates", "1M:3M:500k"}).bit_rates,
            (std::vector<uint32_t>{1000000, 1500000, 2000000, 2500000, 3000000}));
  EXPECT_NE(error_of({"curve", "a", "--bit-rates", "1M:3M:0k"}), "");
  EXPECT_EQ(error_of({"curve", "a", "--buffer-size", "5"}), "tarnwell-cli: unknown option '--buffer-size' for curve");
}

TEST(CliOptions, ExactNeedsASearch) {
  EXPECT_TRUE(parse({"check", "c", "--exact"}).exact);  // bit rate 0 by default
  EXPECT_EQ(parse({"check", "c", "--exact", "--buffer-size", "0", "--bit-rate", "1M"}).error, "");
  const std::string expected =
      "tarnwell-cli: --exact finds the least buffer size or bit rate: give --buffer-size 0 or --bit-rate 0";
  EXPECT_EQ(error_of({"check", "c", "--exact", "--bit-rate", "1M"}), expected);
  EXPECT_EQ(error_of({"curve", "c", "--exact"}), "tarnwell-cli: unknown option '--exact' for curve");
}

TEST(CliOptions, LastOfARepeatedOptionCounts) {
  CliOptions options = parse({"check", "clip.264", "--bit-rate", "1", "--bit-rate", "2"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.settings.bit_rate, 2u);
}

// --- the integer options -------------------------------------------------------

TEST(CliOptions, IntegerOptionsTakeTheFullUnsignedRange) {
  CliOptions options =
      parse({"check", "clip.264", "--buffer-size", "0", "--initial-fill", "007", "--bit-rate", "4294967295"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.settings.buffer_size, 0u);
  EXPECT_EQ(options.settings.initial_fill, 7u);
  EXPECT_EQ(options.settings.bit_rate, 4294967295u);
  EXPECT_EQ(parse({"check", "clip.264", "--bit-rate", "00000000000000000004294967295"}).settings.bit_rate,
            4294967295u);
}

TEST(CliOptions, IntegerOptionsRefuseAnythingButDecimalDigits) {
  for (const char* option : {"--buffer-size", "--initial-fill", "--bit-rate"}) {
    const std::string expected = std::string("tarnwell-cli: ") + option + kWholeNumberError;
    for (const char* bad : {"4294967296", "99999999999999999999", "1e3", "-0", "-1", "+5", " 5", "5 ", "5x",
                            "0x10", "", "1.5", "--json", "4294968k", "4295M", "1.0005k", "1.0000005M", "5K", "5m",
                            "k", "M", ".", ".k", "1.5.0M", "5kk", "5 k", "-1k"}) {
      EXPECT_EQ(error_of({"check", "clip.264", option, bad}), expected + ", not '" + bad + "'") << option << " " << bad;
      const std::string joined = std::string(option) + "=" + bad;
      EXPECT_EQ(error_of({"check", "clip.264", joined.c_str()}), expected + ", not '" + bad + "'") << joined;
    }
    EXPECT_EQ(error_of({"check", "clip.264", option}), expected) << option << " without a value";
  }
}

TEST(CliOptions, IntegerOptionsTakeKAndMAsVbvOptionsAreWritten) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  for (Case c : {Case{"4M", 4000000}, Case{"8000k", 8000000}, Case{"1.5M", 1500000}, Case{".5k", 500},
                 Case{"0k", 0}, Case{"2.000M", 2000000}, Case{"4294967.295k", 4294967295u}, Case{"4294M", 4294000000u},
                 Case{"1.0", 1}, Case{"3.25k", 3250}}) {
    for (const char* option : {"--buffer-size", "--initial-fill", "--bit-rate"}) {
      const CliOptions options = parse({"check", "clip.264", option, c.text});
      ASSERT_EQ(options.error, "") << option << " " << c.text;
      const uint32_t got = std::string(option) == "--buffer-size"    ? options.settings.buffer_size
                           : std::string(option) == "--initial-fill" ? options.settings.initial_fill
                                                                     : options.settings.bit_rate;
      EXPECT_EQ(got, c.value) << option << " " << c.text;
    }
  }
}

// --- the other options ---------------------------------------------------------

TEST(CliOptions, FrameRateTakesFiniteDecimalNumbers) {
  struct Case {
    const char* text;
    double rate;
  };
  for (Case c : {Case{"25", 25.0}, Case{"29.97", 29.97}, Case{"1e1", 10.0}, Case{"0", 0.0}, Case{".5", 0.5},
                 Case{"5.", 5.0}, Case{"2.5E+1", 25.0}, Case{"1e-999", 0.0}, Case{"30000/1001", 30000.0 / 1001.0},
                 Case{"50/2", 25.0}, Case{"2.5e1/1", 25.0}}) {
    CliOptions options = parse({"check", "clip.264", "--frame-rate", c.text});
    EXPECT_EQ(options.error, "") << c.text;
    EXPECT_EQ(options.settings.frame_rate, c.rate) << c.text;
    EXPECT_FALSE(options.stream_timing) << c.text;
  }
  // "stream": the SPS's own timing, for check and curve; a later number wins.
  for (const char* command : {"check", "curve"}) {
    CliOptions options = parse({command, "clip.264", "--frame-rate", "25", "--frame-rate=stream"});
    ASSERT_EQ(options.error, "") << command;
    EXPECT_TRUE(options.stream_timing) << command;
    EXPECT_EQ(options.settings.frame_rate, 0.0) << command;
  }
  EXPECT_FALSE(parse({"check", "c", "--frame-rate", "stream", "--frame-rate", "30"}).stream_timing);
}

TEST(CliOptions, FrameRateRefusesSignsSpecialFormsAndTrailingText) {
  const std::string expected =
      "tarnwell-cli: --frame-rate needs a decimal number of 0 or more, a fraction such as 30000/1001, or stream";
  for (const char* bad : {"inf", "nan", "0x1", "-1", "-0", "+25", " 25", "25 ", "25fps", "1e", "1.5e+", ".", "",
                          "1e999", "29,97", "--strict", "1/0", "30000/", "/1001", "1/2/3", "-1/2", "1/-2",
                          "1e300/1e-300", "Stream", "stream "}) {
    EXPECT_EQ(error_of({"check", "clip.264", "--frame-rate", bad}), expected + ", not '" + bad + "'") << bad;
  }
  EXPECT_EQ(error_of({"check", "clip.264", "--frame-rate"}), expected);
}

TEST(CliOptions, WarningPolicies) {
  EXPECT_EQ(parse({"check", "c", "--warnings", "each"}).warnings, WarningPolicy::Each);
  EXPECT_EQ(parse({"check", "c", "--warnings", "once"}).warnings, WarningPolicy::Once);
  EXPECT_EQ(parse({"check", "c", "--warnings", "off"}).warnings, WarningPolicy::Off);
  const std::string expected = "tarnwell-cli: --warnings needs each, once or off";
  EXPECT_EQ(error_of({"check", "c", "--warnings", "OFF"}), expected + ", not 'OFF'");
  EXPECT_EQ(error_of({"check", "c", "--warnings=all"}), expected + ", not 'all'");
  EXPECT_EQ(error_of({"check", "c", "--warnings"}), expected);
}

TEST(CliOptions, PathOptionsNeedAValue) {
  EXPECT_EQ(error_of({"check", "c", "--trace"}), "tarnwell-cli: --trace needs a file name");
  EXPECT_EQ(error_of({"check", "c", "--trace", ""}), "tarnwell-cli: --trace needs a file name, not ''");
  // A forgotten value does not swallow the next option.
  EXPECT_EQ(error_of({"check", "c", "--trace", "--json"}), "tarnwell-cli: --trace needs a file name, not '--json'");
  EXPECT_EQ(error_of({"info", "c", "--hrd"}), "tarnwell-cli: --hrd needs a file name");
  EXPECT_EQ(parse({"check", "c", "--trace", "-"}).trace_path, "-");
}

TEST(CliOptions, HugeArgumentGivesABoundedOneLineError) {
  std::string huge(10000, 'x');
  std::string error = error_of({"check", "c", huge.c_str()});
  EXPECT_LT(error.size(), 512u);
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_EQ(error.rfind("tarnwell-cli: check takes one FILE, not also 'xxx", 0), 0u);
}

}  // namespace
}  // namespace tarnwell
