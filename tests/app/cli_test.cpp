// tarnwell-cli as a user runs it: a separate process, its exit code, its
// standard output and standard error, and the files it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "inspect/codec_text.h"
#include "support/process_runner.h"
#include "verify/buffer_model.h"


namespace tarnwell {
namespace {

using test::TempFolder;

using CliResult = test::ProcessResult;

// Runs tarnwell-cli with its output in a folder of its own.
class Cli {
 public:
  CliResult run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TARNWELL_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::run_and_read(argv, folder.file("out.txt"), folder.file("err.txt"));
  }

  TempFolder folder;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string values_text(uint32_t buffer_size, uint32_t initial_fill, uint32_t bit_rate, double frame_rate) {
  char text[256];
  std::snprintf(text, sizeof text, "buffer_size=%u\ninitial_fill=%u\nbit_rate=%u\nframe_rate=%.3f\n", buffer_size,
                initial_fill, bit_rate, frame_rate);
  return text;
}

// --- One-line JSON objects (checks.jsonl, --json) with a parser just big enough -

using Members = std::vector<std::pair<std::string, std::string>>;

// The members of a one-line JSON object of strings and numbers, in order,
// each value as written (a string keeps its quotes and escapes).
Members json_members(const std::string& line) {
  Members members;
  std::size_t at = line.find('{');
  while (at != std::string::npos && at < line.size() && line[at] != '}') {
    const std::size_t key_begin = line.find('"', at);
    if (key_begin == std::string::npos) break;
    const std::size_t key_end = line.find('"', key_begin + 1);
    const std::size_t colon = key_end == std::string::npos ? key_end : line.find(':', key_end);
    std::size_t value = colon == std::string::npos ? colon : line.find_first_not_of(' ', colon + 1);
    if (value == std::string::npos) break;
    std::size_t end = value;
    if (line[value] == '"') {
      for (++end; end < line.size() && line[end] != '"'; ++end) {
        if (line[end] == '\\') ++end;
      }
      ++end;
    } else {
      end = line.find_first_of(",}", value);
    }
    if (end == std::string::npos || end > line.size()) break;
    members.emplace_back(line.substr(key_begin + 1, key_end - key_begin - 1), line.substr(value, end - value));
    at = line.find_first_not_of(", ", end);
  }
  EXPECT_TRUE(at != std::string::npos && at < line.size() && line[at] == '}') << line;
  return members;
}

std::optional<std::string> member(const Members& members, const std::string& key) {
  for (const auto& [name, value] : members) {
    if (name == key) return value;
  }
  return std::nullopt;
}

// A string value's text, or a number as written.
std::string text_of(const Members& members, const std::string& key) {
  const std::string raw = member(members, key).value_or("");
  if (raw.empty() || raw[0] != '"') return raw;
  std::string text;
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\' && i + 2 < raw.size()) {
      c = raw[++i];
      if (c == 'n') c = '\n';
    }
    text += c;
  }
  return text;
}

uint32_t number_of(const Members& members, const std::string& key) {
  return static_cast<uint32_t>(std::stoul(member(members, key).value_or("0")));
}

// What --json prints, as far as every verdict has it: these keys in this
// order (another key may sit between them).
Members verdict_members(const std::string& out) {
  EXPECT_TRUE(!out.empty() && out.find('\n') == out.size() - 1) << out;
  static constexpr const char* kKeys[] = {"outcome",  "message",    "buffer_size", "initial_fill",
                                          "bit_rate", "frame_rate", "passes",      "pictures"};
  Members kept;
  for (const auto& m : json_members(out)) {
    for (const char* key : kKeys) {
      if (m.first == key) kept.push_back(m);
    }
  }
  return kept;
}

// The message as the CLI's JSON writes it.
std::string json_quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out + "\"";
}

Members verdict(const char* outcome, const std::string& message, uint32_t buffer_size, uint32_t initial_fill,
                uint32_t bit_rate, double frame_rate, uint32_t passes, std::size_t pictures) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.3f", frame_rate);
  std::string quoted_outcome = "\"";
  quoted_outcome.append(outcome).push_back('"');
  return {{"outcome", quoted_outcome},
          {"message", json_quoted(message)},
          {"buffer_size", std::to_string(buffer_size)},
          {"initial_fill", std::to_string(initial_fill)},
          {"bit_rate", std::to_string(bit_rate)},
          {"frame_rate", rate},
          {"passes", std::to_string(passes)},
          {"pictures", std::to_string(pictures)}};
}

// Values a search tries from 0 up to `found`, each one a pass.
uint32_t search_passes(uint32_t found, uint32_t (*step)(uint32_t)) {
  uint32_t passes = 1;
  for (uint32_t value = 0; value < found; value += step(value)) ++passes;
  return passes;
}

struct TraceLine {
  uint32_t picture = 0, size_bits = 0, fullness_before = 0;
  std::optional<uint32_t> fullness_after;
};

std::vector<TraceLine> read_trace(const std::string& path) {
  std::vector<std::string> lines = lines_of(test::read_text(path));
  EXPECT_FALSE(lines.empty());
  if (lines.empty()) return {};
  EXPECT_EQ(lines[0], "picture,size_bits,fullness_before,fullness_after");
  std::vector<TraceLine> trace;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> cells;
    std::stringstream in(lines[i] + ",");
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    if (cells.size() != 4) {
      ADD_FAILURE() << "trace line " << i << ": " << lines[i];
      continue;
    }
    TraceLine line{static_cast<uint32_t>(std::stoul(cells[0])), static_cast<uint32_t>(std::stoul(cells[1])),
                   static_cast<uint32_t>(std::stoul(cells[2])), std::nullopt};
    if (!cells[3].empty()) line.fullness_after = static_cast<uint32_t>(std::stoul(cells[3]));
    trace.push_back(line);
  }
  return trace;
}

TEST(CliCheck, EveryRowOfChecksJsonl) {
  const std::vector<uint32_t> sizes = test::read_sizes("x264_cbr_1000k_25fps.sizes");
  std::ifstream rows(test::stream_path("checks.jsonl"));
  int count = 0;
  for (std::string line; std::getline(rows, line);) {
    if (line.empty()) continue;
    ++count;
    SCOPED_TRACE(line);
    const Members row = json_members(line);
    const std::string outcome = text_of(row, "outcome");
    const std::string message = text_of(row, "message");
    const uint32_t buffer_size = number_of(row, "buffer_size");
    const uint32_t initial_fill = number_of(row, "initial_fill");
    const uint32_t bit_rate = number_of(row, "bit_rate");
    const std::string frame_rate = text_of(row, "frame_rate");
    std::vector<std::string> arguments = {"check", test::stream_path(text_of(row, "file")),
                                          "--buffer-size", std::to_string(buffer_size),
                                          "--initial-fill", std::to_string(initial_fill),
                                          "--bit-rate", std::to_string(bit_rate),
                                          "--frame-rate", frame_rate};
    if (text_of(row, "strict") == "true") arguments.push_back("--strict");

    Cli cli;
    const CliResult text = cli.run(arguments);
    const std::string trace_path = cli.folder.file("trace.csv");
    arguments.insert(arguments.end(), {"--json", "--trace", trace_path});
    const CliResult json = cli.run(arguments);
    const std::vector<TraceLine> trace = read_trace(trace_path);

    // The trace holds the last pass: every picture applied, with the sizes
    // the picture assembler counts, and the fullness carried from line to line.
    ASSERT_FALSE(trace.empty());
    for (std::size_t i = 0; i < trace.size(); ++i) {
      ASSERT_EQ(trace[i].picture, i);
      ASSERT_EQ(trace[i].size_bits, sizes.at(i) * 8) << i;
      if (i + 1 < trace.size()) {
        ASSERT_TRUE(trace[i].fullness_after.has_value()) << i;
        ASSERT_EQ(*trace[i].fullness_after, trace[i + 1].fullness_before) << i;
      }
    }
    const bool passed = outcome == "pass";
    EXPECT_EQ(trace.back().fullness_after.has_value(), passed);
    if (passed) {
      EXPECT_EQ(trace.size(), sizes.size() - 1);  // the last picture is never applied
    }

    uint32_t size = 0, amount = 0;
    const TraceLine& last = trace.back();
    if (std::sscanf(message.c_str(), "UNDERFLOW frame size=%u bits, underflow=%u", &size, &amount) == 2) {
      EXPECT_EQ(last.size_bits, size);
      EXPECT_EQ(last.fullness_before, size - amount);
    }
    if (std::sscanf(message.c_str(), "OVERFLOW frame size=%u bits, overflow=%u", &size, &amount) == 2) {
      EXPECT_EQ(last.size_bits, size);
      EXPECT_EQ(last.fullness_before - size + bit_rate / 25 - buffer_size, amount);
    }

    // The values after the run: a search's result, and the stream's frame
    // rate unless the run stopped before the first picture was removed.
    const bool found_buffer = member(row, "found_buffer_size").has_value();
    const bool found_rate = member(row, "found_bit_rate").has_value();
    const uint32_t shown_buffer = found_buffer ? number_of(row, "found_buffer_size") : buffer_size;
    const uint32_t shown_fill = found_buffer ? number_of(row, "found_initial_fill") : initial_fill;
    const uint32_t shown_rate = found_rate ? number_of(row, "found_bit_rate") : bit_rate;
    const bool stopped_before_removal = (outcome == "undersized" || outcome == "underflow") && trace.size() == 1;
    double shown_frame_rate = std::stod(frame_rate) >= 1.0 ? std::stod(frame_rate) : 25.0;
    if (stopped_before_removal) shown_frame_rate = std::stod(frame_rate);
    if (member(row, "frame_rate_shown")) {
      EXPECT_EQ(std::stod(text_of(row, "frame_rate_shown")), shown_frame_rate);
    }
    uint32_t passes = 1;
    if (found_rate) passes = search_passes(shown_rate, bit_rate_step);
    if (found_buffer) passes = search_passes(shown_buffer, buffer_size_step);

    const int exit_code = passed ? 0 : 1;
    const std::string verdict_line = passed ? "PASS\n" : message.back() == '\n' ? message : message + "\n";
    EXPECT_EQ(text.exit_code, exit_code);
    EXPECT_EQ(text.out, verdict_line + values_text(shown_buffer, shown_fill, shown_rate, shown_frame_rate));
    EXPECT_EQ(json.exit_code, exit_code);
    EXPECT_EQ(verdict_members(json.out), verdict(outcome.c_str(), message, shown_buffer, shown_fill, shown_rate,
                                                 shown_frame_rate, passes, trace.size()));
    for (const std::string& line : lines_of(text.err)) EXPECT_EQ(line.rfind("Warning: ", 0), 0u) << line;
  }
  EXPECT_EQ(count, 6);
}

TEST(CliCheck, FilesAndSettingsThatCannotBeUsed) {
  struct Case {
    std::vector<std::string> options;
    const char* outcome;
    const char* message;
    uint32_t passes;
    uint32_t buffer_size, initial_fill, bit_rate;
  };
  const std::string x264 = test::stream_path(test::kX264Stream);
  const Case cases[] = {
      {{test::stream_path("no-such-stream.264")}, "cannot_open", "Cannot open input file", 0, 10000000, 9000000, 0},
      {{x264, "--buffer-size", "0", "--initial-fill", "0"}, "refused", "You must specify a bitrate!", 1, 0, 0, 0},
      {{x264, "--buffer-size", "1000", "--initial-fill", "1001", "--bit-rate", "1"},
       "refused", "Initial fill cannot exceed buffer size", 1, 1000, 1001, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Cli cli;
    std::vector<std::string> arguments{"check"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const uint32_t bit_rate = c.bit_rate;
    const CliResult text = cli.run(arguments);
    EXPECT_EQ(text.exit_code, 2);
    EXPECT_EQ(text.out, std::string(c.message) + "\n" + values_text(c.buffer_size, c.initial_fill, bit_rate, 0.0));
    arguments.push_back("--json");
    const CliResult json = cli.run(arguments);
    EXPECT_EQ(json.exit_code, 2);
    EXPECT_EQ(verdict_members(json.out),
              verdict(c.outcome, c.message, c.buffer_size, c.initial_fill, bit_rate, 0.0, c.passes, 0));
  }
}

// A stream of parameter sets and type-20 slices holds no picture to check:
// that is no pass, for check and curve alike, in text and in JSON.
TEST(CliCheck, StreamWithoutPicturesEndsAsNoPicturesInCheckAndCurve) {
  const std::string stream = test::stream_path("sps_subsetsps_bothVUI.264");
  Cli cli;
  const CliResult shown = cli.run({"check", stream, "--bit-rate", "1000000"});
  EXPECT_EQ(shown.exit_code, 2);
  EXPECT_EQ(shown.out, "No picture was checked\n" + values_text(10000000, 9000000, 1000000, 0.0));
  for (const std::string& line : lines_of(shown.err)) EXPECT_EQ(line.rfind("Warning: ", 0), 0u) << line;

  const CliResult off = cli.run({"check", stream, "--bit-rate", "1000000", "--warnings", "off", "--json"});
  EXPECT_EQ(off.exit_code, 2);
  EXPECT_EQ(off.err, "");
  EXPECT_EQ(verdict_members(off.out),
            verdict("no_pictures", "No picture was checked", 10000000, 9000000, 1000000, 0.0, 1, 0));

  const CliResult curve = cli.run({"curve", stream, "--warnings", "off"});
  EXPECT_EQ(curve.exit_code, 2);
  EXPECT_EQ(curve.out, "No picture was checked\n");
  const CliResult curve_json = cli.run({"curve", stream, "--warnings", "off", "--json"});
  EXPECT_EQ(curve_json.exit_code, 2);
  EXPECT_EQ(curve_json.out, "{\"outcome\":\"no_pictures\",\"message\":\"No picture was checked\"}\n");
}

TEST(CliUsage, ErrorsExitWith2AndOneLineOnStandardError) {
  struct Case {
    std::vector<std::string> arguments;
    const char* named;  // what the line must name
  };
  const Case cases[] = {
      {{}, "command"},
      {{"verify", "clip.264"}, "verify"},
      {{"check", "--json"}, "FILE"},
      {{"check", "clip.264", "--json", "--bit-rate", "-1"}, "--bit-rate"},
      {{"check", "clip.264", "--buffer-size", "4294967296"}, "--buffer-size"},
      {{"check", "clip.264", "--frame-rate", "nan"}, "--frame-rate"},
      {{"check", "clip.264", "--warnings", "loud"}, "--warnings"},
      {{"check", "clip.264", "--trace", "--json"}, "--trace"},
      {{"info", "clip.264", "--strict"}, "--strict"},
      {{"check", "clip.264", "--bit-rate=x"}, "'x'"},
  };
  Cli cli;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    const CliResult result = cli.run(c.arguments);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(lines_of(result.err).size(), 1u) << result.err;
    EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
    EXPECT_EQ(result.err.back(), '\n');
  }
}

TEST(CliInfo, ShowsProfileAndLevelOfEveryManifestStream) {
  Cli cli;
  for (const test::ManifestRow& row : test::read_manifest()) {
    SCOPED_TRACE(row.file);
    const CliResult info = cli.run({"info", test::stream_path(row.file)});
    EXPECT_EQ(info.exit_code, 0);
    const std::string expected = "Profile: " + profile_text(row.profile_idc) + "\nLevel: " +
                                 level_text(row.level_idc, row.constraint_set3_flag) + "\n---HRD INFO---\n\n";
    EXPECT_EQ(info.out.substr(0, expected.size()), expected);
    const std::string end = "---END HRD INFO---\n\n";
    ASSERT_GE(info.out.size(), end.size());
    EXPECT_EQ(info.out.substr(info.out.size() - end.size()), end);
  }
}

TEST(CliInfo, HrdReportOnStandardOutputOrInTheNamedFileOnly) {
  Cli cli;
  const std::string x264 = test::stream_path(test::kX264Stream);
  const CliResult shown = cli.run({"info", x264});
  EXPECT_EQ(shown.exit_code, 0);
  EXPECT_EQ(shown.out, std::string("Profile: High\nLevel: 3\n") + test::kX264HrdReport);

  const std::string report = cli.folder.file("report.txt");
  {
    std::ofstream old(report, std::ios::binary);
    old << std::string(4000, 'x');
  }
  const CliResult to_file = cli.run({"info", x264, "--hrd", report});
  EXPECT_EQ(to_file.exit_code, 0);
  EXPECT_EQ(to_file.out, "Profile: High\nLevel: 3\n");
  EXPECT_EQ(test::read_bytes(report), test::as_written_in_text_mode(test::kX264HrdReport));
  // Never beside the executable.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(TARNWELL_CLI).parent_path() / "hrd.txt"));

  const CliResult missing = cli.run({"info", test::stream_path("no-such-stream.264")});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(lines_of(missing.err).size(), 1u);
  EXPECT_EQ(missing.err.rfind("tarnwell-cli: cannot open '" + test::stream_path("no-such-stream.264") + "': ", 0), 0u);

  const CliResult unwritable = cli.run({"info", x264, "--hrd", cli.folder.file("no-folder/report.txt")});
  EXPECT_EQ(unwritable.exit_code, 2);
  // The probe's parse may warn first; the error is the last line.
  const std::vector<std::string> lines = lines_of(unwritable.err);
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("Warning: ", 0), 0u) << lines[i];
  EXPECT_NE(lines.back().find("Cannot open file for HRD info"), std::string::npos);
}

}  // namespace
}  // namespace tarnwell
