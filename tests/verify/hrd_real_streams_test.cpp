// Whole HRD conformance runs over streams that x264 makes in the test's
// set-up: they keep their VBV by construction, so they conform; the same
// streams with a smaller CPB or bit rate written into the SPS, an access unit
// duplicated, or a buffering period's initial delay changed do not. Skipped
// where x264 cannot be run (under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "paramsets/full_sps.h"
#include "paramsets/timing_sei.h"
#include "stream/annexb_scanner.h"
#include "stream/nal_reader.h"
#include "support/stream_builder.h"
#include "verify/hrd_run.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
bool have_x264() { return std::system("x264 --version >/dev/null 2>&1") == 0; }
#else
bool have_x264() { return false; }
#endif

// 176x144 4:2:0, a pattern that moves and changes, so rate control has work.
std::vector<uint8_t> make_yuv(int frames) {
  std::vector<uint8_t> yuv;
  uint32_t seed = 12345;
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < 144; ++y) {
      for (int x = 0; x < 176; ++x) {
        seed = seed * 1103515245u + 12345u;
        yuv.push_back(static_cast<uint8_t>(((x + 3 * f) ^ (y + f)) + ((seed >> 24) & 15)));
      }
    }
    for (int i = 0; i < 2 * 88 * 72; ++i) yuv.push_back(static_cast<uint8_t>(128 + ((i / 88 + f) & 31)));
  }
  return yuv;
}

std::vector<uint8_t> read_all(const fs::path& path) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

// Encodes 60 frames with x264 and the given HRD options; empty on failure.
std::vector<uint8_t> encode(const std::string& options) {
  const fs::path dir = fs::temp_directory_path();
  const fs::path yuv = dir / ("tarnwell-hrd-" + std::to_string(std::rand()) + ".yuv");
  const fs::path out = dir / ("tarnwell-hrd-" + std::to_string(std::rand()) + ".264");
  const std::vector<uint8_t> frames = make_yuv(60);
  std::FILE* f = std::fopen(yuv.string().c_str(), "wb");
  if (f == nullptr) return {};
  std::fwrite(frames.data(), 1, frames.size(), f);
  std::fclose(f);
  const std::string command = "x264 --quiet --input-res 176x144 --fps 25 --frames 60 --keyint 20 " + options + " -o " +
                              out.string() + " " + yuv.string() + " >/dev/null 2>&1";
  const int rc = std::system(command.c_str());
  std::vector<uint8_t> bytes = rc == 0 ? read_all(out) : std::vector<uint8_t>{};
  fs::remove(yuv);
  fs::remove(out);
  return bytes;
}

HrdRunResult check(const std::vector<uint8_t>& bytes) {
  test::TempStreamFile file(bytes);
  return run_hrd_conformance(file.file(), HrdRunOptions{});
}

struct NalSpan {
  uint64_t header, end;
  int32_t type;
};

std::vector<NalSpan> nal_spans(const std::vector<uint8_t>& bytes) {
  test::TempStreamFile file(bytes);
  AnnexbScanner scanner;
  scanner.begin(file.file());
  std::vector<NalSpan> spans;
  ScannedNal nal;
  while (scanner.next(nal) == 1) spans.push_back({nal.header, nal.end, nal.nal_unit_type});
  return spans;
}

std::vector<uint8_t> rbsp_of(const std::vector<uint8_t>& bytes, const NalSpan& span) {
  std::vector<uint8_t> rbsp(bytes.begin() + static_cast<long>(span.header) + 1, bytes.begin() + static_cast<long>(span.end));
  rbsp.resize(static_cast<std::size_t>(remove_emulation_prevention(rbsp.data(), static_cast<int32_t>(rbsp.size()), 0)));
  return rbsp;
}

// The stream with the NAL unit's payload replaced by the given RBSP.
std::vector<uint8_t> replace_payload(const std::vector<uint8_t>& bytes, const NalSpan& span,
                                     const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + static_cast<long>(span.header) + 1);
  const std::vector<uint8_t> payload = test::add_emulation_prevention(rbsp);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), bytes.begin() + static_cast<long>(span.end), bytes.end());
  return out;
}

std::vector<int> bits_of(const std::vector<uint8_t>& bytes) {
  std::vector<int> bits;
  for (uint8_t b : bytes) {
    for (int i = 7; i >= 0; --i) bits.push_back((b >> i) & 1);
  }
  return bits;
}

// Rewrites the SPS's first NAL HRD schedule: finds the one Exp-Golomb code
// whose replacement by new_value changes exactly the value `pick` reads.
std::vector<uint8_t> rewrite_sps(const std::vector<uint8_t>& bytes, const std::function<uint32_t&(FullSps&)>& pick,
                                 uint32_t new_value) {
  for (const NalSpan& span : nal_spans(bytes)) {
    if (span.type != 7) continue;
    const std::vector<uint8_t> rbsp = rbsp_of(bytes, span);
    FullSps original;
    if (parse_full_sps(rbsp.data(), static_cast<int32_t>(rbsp.size()), original) != SyntaxStatus::kOk) continue;
    const std::vector<int> bits = bits_of(rbsp);
    for (std::size_t p = 0; p < bits.size(); ++p) {
      std::size_t zeros = 0;
      while (p + zeros < bits.size() && bits[p + zeros] == 0) ++zeros;
      if (zeros > 31 || p + 2 * zeros + 1 > bits.size()) continue;
      test::BitWriter w;
      for (std::size_t i = 0; i < p; ++i) w.u1(static_cast<uint32_t>(bits[i]));
      w.ue(new_value);
      std::size_t last_one = bits.size() - 1;
      while (bits[last_one] == 0) --last_one;
      for (std::size_t i = p + 2 * zeros + 1; i < last_one; ++i) w.u1(static_cast<uint32_t>(bits[i]));
      w.trailing_bits();
      FullSps changed;
      if (parse_full_sps(w.data().data(), static_cast<int32_t>(w.data().size()), changed) != SyntaxStatus::kOk) continue;
      FullSps expected = original;
      pick(expected) = new_value;
      if (pick(changed) != new_value || changed.nal_hrd.bit_rate_value_minus1 != expected.nal_hrd.bit_rate_value_minus1 ||
          changed.nal_hrd.cpb_size_value_minus1 != expected.nal_hrd.cpb_size_value_minus1 ||
          changed.time_scale != original.time_scale || changed.level_idc != original.level_idc) {
        continue;
      }
      return replace_payload(bytes, span, w.data());
    }
  }
  ADD_FAILURE() << "no SPS field to rewrite";
  return bytes;
}

class HrdRealStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_x264()) GTEST_SKIP() << "x264 cannot be run here";
  }
};

const char kCbr[] = "--nal-hrd cbr --bitrate 300 --vbv-bufsize 300 --vbv-maxrate 300";

TEST_F(HrdRealStreams, X264CbrAndVbrProgressiveAndInterlacedConform) {
  for (const std::string& options :
       {std::string(kCbr), std::string("--nal-hrd vbr --bitrate 200 --vbv-bufsize 300 --vbv-maxrate 400"),
        std::string(kCbr) + " --tff", std::string("--nal-hrd vbr --bitrate 200 --vbv-bufsize 300 --vbv-maxrate 400 --tff")}) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> stream = encode(options);
    ASSERT_FALSE(stream.empty());
    const HrdRunResult result = check(stream);
    ASSERT_EQ(result.status, HrdRunStatus::kDone);
    EXPECT_EQ(result.access_units, 60u);
    EXPECT_EQ(result.untested_access_units, 0u);
    ASSERT_EQ(result.tests.size(), 1u);
    EXPECT_EQ(result.tests[0].config.cbr, options.find("cbr") != std::string::npos);
    EXPECT_TRUE(result.tests[0].conforms) << result.tests[0].violation_count << " violations, first: "
                                          << (result.tests[0].violations.empty() ? "" : result.tests[0].violations[0].detail);
    EXPECT_GT(result.tests[0].peak_bits, 0u);
    EXPECT_LE(result.tests[0].peak_bits, 300000u);
  }
}

TEST_F(HrdRealStreams, SmallerCpbOrBitRateInTheSpsIsCaught) {
  const std::vector<uint8_t> stream = encode(kCbr);
  ASSERT_FALSE(stream.empty());
  FullSps sps;
  const auto spans = nal_spans(stream);
  const std::vector<uint8_t> rbsp = rbsp_of(stream, spans[0]);
  ASSERT_EQ(parse_full_sps(rbsp.data(), static_cast<int32_t>(rbsp.size()), sps), SyntaxStatus::kOk);

  auto cpb = [](FullSps& s) -> uint32_t& { return s.nal_hrd.cpb_size_value_minus1[0]; };
  const HrdRunResult small_cpb = check(rewrite_sps(stream, cpb, sps.nal_hrd.cpb_size_value_minus1[0] / 2));
  ASSERT_EQ(small_cpb.tests.size(), 1u);
  EXPECT_FALSE(small_cpb.tests[0].conforms);
  ASSERT_FALSE(small_cpb.tests[0].violations.empty());
  EXPECT_EQ(small_cpb.tests[0].violations[0].kind, HrdViolationKind::kOverflow);

  auto rate = [](FullSps& s) -> uint32_t& { return s.nal_hrd.bit_rate_value_minus1[0]; };
  const HrdRunResult slow = check(rewrite_sps(stream, rate, sps.nal_hrd.bit_rate_value_minus1[0] * 2 / 3));
  ASSERT_EQ(slow.tests.size(), 1u);
  bool underflow = false;
  for (const HrdViolation& v : slow.tests[0].violations) underflow = underflow || v.kind == HrdViolationKind::kUnderflow;
  EXPECT_TRUE(underflow);
}

TEST_F(HrdRealStreams, DuplicatedAccessUnitAndChangedInitialDelayAreCaught) {
  const std::vector<uint8_t> stream = encode(kCbr);
  ASSERT_FALSE(stream.empty());
  // The bytes of access unit 30, copied right after it.
  std::vector<uint64_t> starts;
  {
    test::TempStreamFile file(stream);
    AccessUnitSplitter splitter;
    splitter.begin(file.file());
    AccessUnit au;
    while (splitter.next(au) == 1) starts.push_back(au.start);
  }
  ASSERT_EQ(starts.size(), 60u);
  std::vector<uint8_t> duplicated(stream.begin(), stream.begin() + static_cast<long>(starts[31]));
  duplicated.insert(duplicated.end(), stream.begin() + static_cast<long>(starts[30]),
                    stream.begin() + static_cast<long>(starts[31]));
  duplicated.insert(duplicated.end(), stream.begin() + static_cast<long>(starts[31]), stream.end());
  const HrdRunResult dup = check(duplicated);
  ASSERT_EQ(dup.tests.size(), 1u);
  EXPECT_EQ(dup.access_units, 61u);
  EXPECT_FALSE(dup.tests[0].conforms);
  bool interval = false;
  for (const HrdViolation& v : dup.tests[0].violations) {
    interval = interval || (v.kind == HrdViolationKind::kRemovalInterval && v.access_unit == 31);
  }
  EXPECT_TRUE(interval);

  // The second buffering period with its initial delay 0.1 s shorter.
  FullSps sps;
  const auto spans = nal_spans(stream);
  const std::vector<uint8_t> sps_rbsp = rbsp_of(stream, spans[0]);
  ASSERT_EQ(parse_full_sps(sps_rbsp.data(), static_cast<int32_t>(sps_rbsp.size()), sps), SyntaxStatus::kOk);
  int periods = 0;
  for (const NalSpan& span : spans) {
    if (span.type != 6) continue;
    std::vector<uint8_t> rbsp = rbsp_of(stream, span);
    int32_t index = 0;
    SeiMessage m;
    while (next_sei_message(rbsp.data(), static_cast<int32_t>(rbsp.size()), index, m)) {
      if (m.payload_type != 0 || ++periods != 2) continue;
      BufferingPeriod bp;
      ASSERT_EQ(parse_buffering_period(m.payload, m.payload_size, sps, bp), SyntaxStatus::kOk);
      ASSERT_EQ(bp.seq_parameter_set_id, 0u);  // ue "1": the delay starts at bit 1
      const int length = static_cast<int>(sps.nal_hrd.initial_cpb_removal_delay_length_minus1) + 1;
      const uint32_t value = bp.nal_initial_cpb_removal_delay[0] - 9000;
      const std::size_t at = static_cast<std::size_t>(m.payload - rbsp.data());
      std::vector<uint8_t> patched = rbsp;
      for (int i = 0; i < length; ++i) {
        const std::size_t bit = 1 + static_cast<std::size_t>(i);
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
        uint8_t& byte = patched[at + bit / 8];
        byte = ((value >> (length - 1 - i)) & 1) != 0 ? (byte | mask) : (byte & ~mask);
      }
      const HrdRunResult changed = check(replace_payload(stream, span, patched));
      ASSERT_EQ(changed.tests.size(), 1u);
      ASSERT_EQ(changed.tests[0].violation_count, 1u);
      EXPECT_EQ(changed.tests[0].violations[0].kind, HrdViolationKind::kInitialDelay);
      // The access unit that holds this SEI NAL unit, in decoding order.
      const auto holder = std::upper_bound(starts.begin(), starts.end(), span.header) - starts.begin() - 1;
      EXPECT_EQ(changed.tests[0].violations[0].access_unit, static_cast<uint64_t>(holder));
      return;
    }
  }
  ADD_FAILURE() << "no second buffering period";
}

}  // namespace
}  // namespace tarnwell
