// tarnwell-cli tstd-check on multiplexes that ffmpeg makes of an x264
// stream (1,000 kbit/s, NAL HRD at 5,000,000 bit/s with a 1,000,000-bit CPB,
// level 4): at a variable rate it keeps TB, MB and EB; at a constant mux rate
// a picture's packets come back to back and overflow TB; with the PES
// timestamps moved 1 s earlier every access unit underflows EB, 11 s later
// EB fills, MB grows and every unit is held past 10 s; PCRs 300 ms apart
// break the PCR interval. Skipped under Wine, where ffmpeg cannot run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "support/process_runner.h"
#include "support/ts_builder.h"

namespace tarnwell {
namespace {

using test::Bytes;

constexpr char kVideo[] =
    "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v libx264 -g 25 -b:v 1000k -maxrate 5000k "
    "-bufsize 1000k -x264-params nal-hrd=vbr -level 4.0 ";

uint64_t read_timestamp(const uint8_t* b) {
  return (uint64_t{b[0]} >> 1 & 7) << 30 | uint64_t{b[1]} << 22 | (uint64_t{b[2]} >> 1) << 15 | uint64_t{b[3]} << 7 |
         b[4] >> 1;
}
void write_timestamp(uint8_t* b, uint64_t value) {
  value &= (uint64_t{1} << 33) - 1;
  b[0] = static_cast<uint8_t>((b[0] & 0xF0) | ((value >> 30) & 7) << 1 | 1);
  b[1] = static_cast<uint8_t>(value >> 22);
  b[2] = static_cast<uint8_t>(((value >> 15) & 0x7F) << 1 | 1);
  b[3] = static_cast<uint8_t>(value >> 7);
  b[4] = static_cast<uint8_t>((value & 0x7F) << 1 | 1);
}

// Each PES header of PID 256 in 188-byte packets: where its PTS (and DTS) lie.
std::vector<std::size_t> pes_timestamp_offsets(const Bytes& ts, std::vector<bool>* has_dts) {
  std::vector<std::size_t> at;
  for (std::size_t p = 0; p + 188 <= ts.size(); p += 188) {
    const uint16_t pid = static_cast<uint16_t>((ts[p + 1] & 0x1F) << 8 | ts[p + 2]);
    if (pid != 256 || (ts[p + 1] & 0x40) == 0) continue;
    std::size_t o = p + 4;
    if ((ts[p + 3] & 0x20) != 0) o += 1 + ts[p + 4];
    if (o + 19 > p + 188 || ts[o] != 0 || ts[o + 1] != 0 || ts[o + 2] != 1) continue;
    const uint8_t flags = ts[o + 7] >> 6;
    if ((flags & 2) == 0) continue;
    at.push_back(o + 9);
    if (has_dts != nullptr) has_dts->push_back(flags == 3);
  }
  return at;
}

// The video's PTS and DTS moved by `delta` 90 kHz ticks, its PCRs left alone.
Bytes shift_timestamps(Bytes ts, int64_t delta) {
  std::vector<bool> has_dts;
  const std::vector<std::size_t> at = pes_timestamp_offsets(ts, &has_dts);
  for (std::size_t i = 0; i < at.size(); ++i) {
    write_timestamp(&ts[at[i]], static_cast<uint64_t>(static_cast<int64_t>(read_timestamp(&ts[at[i]])) + delta));
    if (has_dts[i]) {
      write_timestamp(&ts[at[i] + 5],
                      static_cast<uint64_t>(static_cast<int64_t>(read_timestamp(&ts[at[i] + 5])) + delta));
    }
  }
  return ts;
}

// The number after "key": in a JSON text.
std::string json_field(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size() + 3;
  return json.substr(from, json.find_first_of(",}", from) - from);
}

class TstdCheck : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "ffmpeg makes the multiplexes natively";
#endif
  }
  test::ProcessResult run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TARNWELL_CLI, "tstd-check"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::run_and_read(argv, folder.file("out.txt"), folder.file("err.txt"), 300);
  }
  std::string make(const std::string& name, const std::string& arguments) {
    const std::string ts = folder.file(name);
    EXPECT_TRUE(test::run_ffmpeg(std::string(kVideo) + arguments + " -f mpegts '" + ts + "'")) << arguments;
    return ts;
  }
  std::string shifted(const std::string& from, const std::string& name, int64_t delta) {
    const std::string path = folder.file(name);
    const Bytes bytes = shift_timestamps(test::read_file_bytes(from), delta);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return path;
  }
  test::TempFolder folder;
};

TEST_F(TstdCheck, EachMultiplexGetsItsOutcome) {
  const std::string vbr = make("vbr.ts", "");
  const std::string cbr = make("cbr.ts", "-muxrate 20000000");
  const std::string pcr = make("pcr.ts", "-pcr_period 300");
  const std::string early = shifted(vbr, "early.ts", -90000);
  const std::string late = shifted(vbr, "late.ts", 11 * 90000);
  struct Expected {
    std::string file;
    int exit_code;
    std::vector<std::string> nonzero;  // the counts above 0; every other is 0
  };
  const std::vector<Expected> cases = {
      {vbr, 0, {}},
      {cbr, 1, {"tb_overflow"}},
      {early, 1, {"eb_underflow"}},
      {late, 1, {"data_delay"}},
      {pcr, 1, {"pcr_interval"}},
  };
  const char* kinds[] = {"tb_overflow", "tb_not_empty", "mb_overflow", "eb_underflow",
                         "data_delay",  "dts_order",    "pcr_interval"};
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.file);
    const test::ProcessResult r = run({c.file, "--json"});
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(json_field(r.out, "access_units"), "100");
    for (const char* kind : kinds) {
      const bool counted = std::find(c.nonzero.begin(), c.nonzero.end(), kind) != c.nonzero.end();
      const std::string n = json_field(r.out, kind);
      EXPECT_EQ(n != "0", counted) << kind << " " << n;
    }
    // Every unit underflows when early; every unit is held too long when late.
    if (c.file == early) {
      EXPECT_EQ(json_field(r.out, "eb_underflow"), "100");
    }
    if (c.file == late) {
      EXPECT_EQ(json_field(r.out, "data_delay"), "100");
    }
  }
  // Late: EB fills to its size, and what cannot enter it waits in MB.
  const test::ProcessResult text = run({late});
  EXPECT_NE(text.out.find("EB: 1000000 bits (CpbSize of the NAL HRD), peak 1000000 bits\n"), std::string::npos)
      << text.out;
  const std::string mb_peak = text.out.substr(text.out.find("MB: "));
  EXPECT_GT(std::stoull(mb_peak.substr(mb_peak.find("peak ") + 5)), 1000000u) << text.out;
  EXPECT_NE(text.out.find("Verdict: does not conform: 100 violations (data_delay 100)\n"), std::string::npos);
  EXPECT_NE(text.out.find("  data_delay at "), std::string::npos);
}

TEST_F(TstdCheck, BuffersAndDecodingTimesFollowTheFormulas) {
  const std::string vbr = make("vbr.ts", "");
  const test::ProcessResult r = run({vbr, "--trace", "-"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // Rx = 1.2 * 5,000,000; Rbx = 1200 * MaxBR(4.0) = 1200 * 20,000; EBS = CpbSize;
  // MBS = 2 * 24,000,000 / 375 + 1200 * MaxCPB(4.0) - EBS = 128,000 + 30,000,000 - 1,000,000.
  EXPECT_NE(r.out.find("TB: 4096 bits, Rx 6000000 bit/s, peak "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("MB: 29128000 bits, Rbx 24000000 bit/s, peak "), std::string::npos);
  EXPECT_NE(r.out.find("EB: 1000000 bits (CpbSize of the NAL HRD), peak "), std::string::npos);
  EXPECT_NE(r.out.find("Verdict: conforms\n"), std::string::npos);

  // The trace's first units leave at the DTS of the PES packets they begin (one per picture here).
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  ASSERT_EQ(line,
            "access_unit,bytes,decoding_time,last_byte_in_eb,eb_before_removal,mb_at_removal,"
            "tb_peak_since_previous");
  const Bytes ts = test::read_file_bytes(vbr);
  std::vector<bool> has_dts;
  const std::vector<std::size_t> at = pes_timestamp_offsets(ts, &has_dts);
  ASSERT_GE(at.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 7u) << line;
    EXPECT_EQ(cells[0], std::to_string(k));
    const uint64_t dts = read_timestamp(&ts[at[k] + (has_dts[k] ? 5 : 0)]);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.9f", static_cast<double>(dts) / 90000.0);
    EXPECT_EQ(cells[2], expected);
    EXPECT_LT(std::stod(cells[3]), std::stod(cells[2]));  // in EB before it leaves
    EXPECT_LE(std::stoull(cells[4]), 1000000u);
    EXPECT_GE(std::stoull(cells[4]), std::stoull(cells[1]) * 8);
  }
}

TEST_F(TstdCheck, PlotTraceAndRefusals) {
  const std::string cbr = make("cbr.ts", "-muxrate 20000000");
  const std::string svg = folder.file("tstd.svg");
  const std::string csv = folder.file("tstd.csv");
  const test::ProcessResult r = run({cbr, "--plot", svg, "--trace", csv, "--max-violations", "2"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.out.find("  ... "), std::string::npos);  // two listed, the rest counted
  const std::string picture = test::read_text(svg);
  EXPECT_NE(picture.find("TB: transport buffer"), std::string::npos);
  EXPECT_NE(picture.find("EB: elementary stream buffer"), std::string::npos);
  EXPECT_NE(picture.find("does not conform (tb_overflow "), std::string::npos);
  EXPECT_EQ(std::count(picture.begin(), picture.end(), '\n') > 20, true);
  const std::string trace = test::read_text(csv);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 101);

  // Not a transport stream, an output over the input, no such program: exit 2.
  const std::string es = std::string(TARNWELL_STREAMS_DIR) + "/x264_cbr_1000k_25fps.264";
  const test::ProcessResult not_ts = run({es, "--trace", folder.file("none.csv")});
  EXPECT_EQ(not_ts.exit_code, 2);
  EXPECT_NE(not_ts.err.find("not a transport stream"), std::string::npos) << not_ts.err;
  EXPECT_FALSE(std::filesystem::exists(folder.file("none.csv")));
  EXPECT_EQ(run({cbr, "--plot", cbr}).exit_code, 2);
  EXPECT_EQ(run({cbr, "--program", "7"}).exit_code, 2);
  EXPECT_EQ(run({}).exit_code, 2);
}

}  // namespace
}  // namespace tarnwell
