// Whole HRD conformance runs over streams that x264 makes in the test's
// set-up: they keep their VBV by construction, so they conform; the same
// stream with a smaller CPB or bit rate written into the SPS, an access unit
// duplicated, or a buffering period's initial delay changed does not.
// Skipped where x264 cannot be run (under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "paramsets/sps.h"
#include "paramsets/sei.h"
#include "stream/annexb_scanner.h"
#include "stream/nal_reader.h"
#include "support/bit_writer.h"
#include "support/hrd_stream.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

#ifndef _WIN32
bool have_x264() { return std::system("x264 --version >/dev/null 2>&1") == 0; }
#else
bool have_x264() { return false; }
#endif

// 60 frames of 176x144 4:2:0 with a moving, noisy pattern, through x264.
Bytes encode(const std::string& options) {
  Bytes yuv;
  uint32_t seed = 12345;
  for (int f = 0; f < 60; ++f) {
    for (int i = 0; i < 176 * 144; ++i) {
      seed = seed * 1103515245u + 12345u;
      yuv.push_back(static_cast<uint8_t>(((i % 176 + 3 * f) ^ (i / 176 + f)) + ((seed >> 24) & 15)));
    }
    for (int i = 0; i < 2 * 88 * 72; ++i) yuv.push_back(static_cast<uint8_t>(128 + ((i / 88 + f) & 31)));
  }
  test::TempStreamFile input(yuv);
  const std::string out = input.path() + ".264";
  const std::string command = "x264 --quiet --input-res 176x144 --fps 25 --frames 60 --keyint 20 " + options + " -o " +
                              out + " " + input.path() + " >/dev/null 2>&1";
  Bytes bytes;
  if (std::system(command.c_str()) == 0) {
    std::FILE* f = std::fopen(out.c_str(), "rb");
    for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    if (f != nullptr) std::fclose(f);
  }
  std::filesystem::remove(out);
  return bytes;
}

HrdRunResult check(const Bytes& bytes) { return test::run_hrd(bytes).result; }

bool found(const HrdRunResult& r, HrdViolationKind kind, uint64_t access_unit) {
  if (r.tests.size() != 1) return false;
  return std::any_of(r.tests[0].violations.begin(), r.tests[0].violations.end(),
                     [&](const HrdViolation& v) { return v.kind == kind && v.access_unit == access_unit; });
}

std::vector<ScannedNal> nal_units(const Bytes& bytes) {
  test::TempStreamFile file(bytes);
  AnnexbScanner scanner;
  scanner.begin(file.file());
  std::vector<ScannedNal> nals;
  for (ScannedNal nal; scanner.next(nal) == 1;) nals.push_back(nal);
  return nals;
}

std::vector<uint64_t> unit_starts(const Bytes& bytes) {
  test::TempStreamFile file(bytes);
  AccessUnitSplitter splitter;
  splitter.begin(file.file());
  std::vector<uint64_t> starts;
  for (AccessUnit au; splitter.next(au) == 1;) starts.push_back(au.start);
  return starts;
}

Bytes rbsp_of(const Bytes& bytes, const ScannedNal& nal) {
  Bytes rbsp(bytes.begin() + static_cast<long>(nal.header) + 1, bytes.begin() + static_cast<long>(nal.end));
  rbsp.resize(static_cast<std::size_t>(remove_emulation_prevention(rbsp.data(), static_cast<int32_t>(rbsp.size()), 0)));
  return rbsp;
}

Bytes replace_payload(const Bytes& bytes, const ScannedNal& nal, const Bytes& rbsp) {
  Bytes out(bytes.begin(), bytes.begin() + static_cast<long>(nal.header) + 1);
  const Bytes payload = test::add_emulation_prevention(rbsp);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), bytes.begin() + static_cast<long>(nal.end), bytes.end());
  return out;
}

SeqParamSet sps_of(const Bytes& bytes) {
  SeqParamSet sps;
  const Bytes rbsp = rbsp_of(bytes, nal_units(bytes)[0]);
  EXPECT_EQ(parse_seq_parameter_set(rbsp.data(), static_cast<int32_t>(rbsp.size()), sps), ReadStatus::kOk);
  return sps;
}

// The stream with the SPS's first NAL schedule's cpb_size_value_minus1 (or
// bit_rate_value_minus1) set to value: the one Exp-Golomb code whose
// replacement changes that value and nothing else the check reads.
Bytes rewrite_sps(const Bytes& bytes, bool cpb, uint32_t value) {
  const ScannedNal nal = nal_units(bytes)[0];
  const Bytes rbsp = rbsp_of(bytes, nal);
  const SeqParamSet original = sps_of(bytes);
  auto bit = [&](std::size_t i) { return static_cast<uint32_t>((rbsp[i / 8] >> (7 - i % 8)) & 1); };
  std::size_t stop = rbsp.size() * 8 - 1;
  while (bit(stop) == 0) --stop;
  for (std::size_t p = 0; p < stop; ++p) {
    std::size_t zeros = 0;
    while (p + zeros < stop && bit(p + zeros) == 0) ++zeros;
    test::BitWriter w;
    for (std::size_t i = 0; i < p; ++i) w.u1(bit(i));
    w.ue(value);
    for (std::size_t i = p + 2 * zeros + 1; i < stop; ++i) w.u1(bit(i));
    w.trailing_bits();
    SeqParamSet changed;
    if (zeros > 31 ||
        parse_seq_parameter_set(w.data().data(), static_cast<int32_t>(w.data().size()), changed) != ReadStatus::kOk) {
      continue;
    }
    SeqParamSet expected = original;
    (cpb ? expected.vui.nal_hrd.cpb_size_value_minus1[0] : expected.vui.nal_hrd.bit_rate_value_minus1[0]) = value;
    if (changed.vui.nal_hrd.cpb_size_value_minus1 == expected.vui.nal_hrd.cpb_size_value_minus1 &&
        changed.vui.nal_hrd.bit_rate_value_minus1 == expected.vui.nal_hrd.bit_rate_value_minus1 &&
        changed.vui.time_scale == original.vui.time_scale && changed.level_idc == original.level_idc) {
      return replace_payload(bytes, nal, w.data());
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
const char kVbr[] = "--nal-hrd vbr --bitrate 200 --vbv-bufsize 300 --vbv-maxrate 400";

TEST_F(HrdRealStreams, X264CbrAndVbrProgressiveAndInterlacedConform) {
  for (const std::string& options :
       {std::string(kCbr), std::string(kVbr), std::string(kCbr) + " --tff", std::string(kVbr) + " --tff"}) {
    SCOPED_TRACE(options);
    const HrdRunResult result = check(encode(options));
    ASSERT_EQ(result.status, HrdRunStatus::kDone);
    EXPECT_EQ(result.access_units, 60u);
    EXPECT_EQ(result.untested_access_units, 0u);
    ASSERT_EQ(result.tests.size(), 1u);
    EXPECT_EQ(result.tests[0].config.cbr, options.find("cbr") != std::string::npos);
    EXPECT_TRUE(result.tests[0].conforms)
        << (result.tests[0].violations.empty() ? "" : result.tests[0].violations[0].detail);
    EXPECT_GT(result.tests[0].peak_bits, 0u);
    EXPECT_LE(result.tests[0].peak_bits, 300000u);
  }
}

// The stream with 5-bit cpb_removal_delays: the SPS's
// cpb_removal_delay_length_minus1 set to 4 (a fixed-length field: the one
// 5-bit position whose change changes that value and nothing else), every
// picture timing's delay written again modulo 32.
Bytes with_five_bit_delays(const Bytes& bytes) {
  const std::vector<ScannedNal> nals = nal_units(bytes);
  const SeqParamSet original = sps_of(bytes);
  EXPECT_EQ(original.vui.pic_struct_present_flag, 0u);  // picture timing holds the two delays only
  const int old_length = static_cast<int>(original.vui.nal_hrd.cpb_removal_delay_length_minus1) + 1;
  const int output_length = static_cast<int>(original.vui.nal_hrd.dpb_output_delay_length_minus1) + 1;
  Bytes out = bytes;
  // From the last NAL unit back, so the positions of those before stay right.
  for (auto nal = nals.rbegin(); nal != nals.rend(); ++nal) {
    Bytes rbsp = rbsp_of(bytes, *nal);
    auto bit = [&](const Bytes& b, std::size_t i) { return static_cast<uint32_t>((b[i / 8] >> (7 - i % 8)) & 1); };
    if (nal->nal_unit_type == 7) {
      bool done = false;
      for (std::size_t p = 0; !done && p + 5 < rbsp.size() * 8; ++p) {
        Bytes changed = rbsp;
        for (std::size_t i = 0; i < 5; ++i) {
          const uint8_t mask = static_cast<uint8_t>(0x80 >> ((p + i) % 8));
          changed[(p + i) / 8] = static_cast<uint8_t>(((4u >> (4 - i)) & 1) != 0 ? (changed[(p + i) / 8] | mask)
                                                                                  : (changed[(p + i) / 8] & ~mask));
        }
        SeqParamSet sps;
        if (parse_seq_parameter_set(changed.data(), static_cast<int32_t>(changed.size()), sps) != ReadStatus::kOk)
          continue;
        SeqParamSet expected = original;
        expected.vui.nal_hrd.cpb_removal_delay_length_minus1 = 4;
        if (sps.vui.nal_hrd == expected.vui.nal_hrd && sps.vui.time_scale == original.vui.time_scale &&
            sps.level_idc == original.level_idc && sps.frame_size_in_mbs() == original.frame_size_in_mbs() &&
            sps.vui.pic_struct_present_flag == 0 && sps.vui.low_delay_hrd_flag == original.vui.low_delay_hrd_flag) {
          out = replace_payload(out, *nal, changed);
          done = true;
        }
      }
      EXPECT_TRUE(done) << "no cpb_removal_delay_length_minus1 to rewrite";
      continue;
    }
    if (nal->nal_unit_type != 6) continue;
    test::BitWriter sei;
    int32_t index = 0;
    for (SeiMessage m; next_sei_message(rbsp.data(), static_cast<int32_t>(rbsp.size()), index, m);) {
      Bytes payload(m.payload, m.payload + m.payload_size);
      if (m.payload_type == 1) {
        uint32_t delay = 0;
        uint32_t output = 0;
        for (int i = 0; i < old_length; ++i) delay = delay << 1 | bit(payload, static_cast<std::size_t>(i));
        for (int i = 0; i < output_length; ++i) {
          output = output << 1 | bit(payload, static_cast<std::size_t>(old_length + i));
        }
        test::BitWriter p;
        p.u(5, delay % 32).u(output_length, output);
        if (!p.byte_aligned()) p.u1(1).align_zero();
        payload = p.data();
      }
      sei.u(8, m.payload_type);
      sei.u(8, static_cast<uint32_t>(payload.size()));  // every payload here is shorter than 255 bytes
      sei.bytes(payload);
    }
    out = replace_payload(out, *nal, sei.trailing_bits().data());
  }
  return out;
}

TEST_F(HrdRealStreams, FiveBitRemovalDelaysGiveTheVerdictOfTenBitOnes) {
  // Buffering periods of 20 pictures: delays up to 40 ticks, past 32.
  const Bytes stream = encode(kVbr);
  ASSERT_FALSE(stream.empty());
  const Bytes narrow = with_five_bit_delays(stream);
  ASSERT_NE(narrow, stream);
  EXPECT_EQ(sps_of(narrow).vui.nal_hrd.cpb_removal_delay_length_minus1, 4u);
  const test::HrdChecked wide_run = test::run_hrd(stream);
  const test::HrdChecked narrow_run = test::run_hrd(narrow);
  ASSERT_EQ(wide_run.result.tests.size(), 1u);
  ASSERT_EQ(narrow_run.result.tests.size(), 1u);
  EXPECT_EQ(narrow_run.result.tests[0].conforms, wide_run.result.tests[0].conforms);
  EXPECT_EQ(narrow_run.result.tests[0].violation_count, wide_run.result.tests[0].violation_count);
  const auto removals = [](const test::HrdChecked& run) {
    std::vector<int64_t> times;
    for (const HrdTraceRow& row : run.rows.at(0)) times.push_back(row.t_r_us);
    return times;
  };
  EXPECT_EQ(removals(narrow_run), removals(wide_run));
  EXPECT_EQ(removals(narrow_run).size(), 60u);
}

TEST_F(HrdRealStreams, LeadingZeroBytesArriveWithTheFirstAccessUnit) {
  const Bytes stream = encode(kCbr);
  ASSERT_FALSE(stream.empty());
  Bytes padded(stream.size() + 1000, 0);
  std::copy(stream.begin(), stream.end(), padded.begin() + 1000);
  const test::HrdChecked plain_run = test::run_hrd(stream);
  const test::HrdChecked zeros_run = test::run_hrd(padded);
  ASSERT_EQ(plain_run.rows.size(), 1u);
  ASSERT_EQ(zeros_run.rows.size(), 1u);
  const std::vector<HrdTraceRow>& plain = plain_run.rows[0];
  const std::vector<HrdTraceRow>& zeros = zeros_run.rows[0];
  ASSERT_EQ(plain.size(), zeros.size());
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(zeros[0].bits, plain[0].bits + 8000);
  EXPECT_EQ(zeros[1].bits, plain[1].bits);
}

TEST_F(HrdRealStreams, BrokenPromisesAreCaught) {
  const Bytes stream = encode(kCbr);
  ASSERT_FALSE(stream.empty());
  const SeqParamSet sps = sps_of(stream);

  const HrdRunResult small_cpb = check(rewrite_sps(stream, true, sps.vui.nal_hrd.cpb_size_value_minus1[0] / 2));
  ASSERT_EQ(small_cpb.tests.size(), 1u);
  // The initial delays no longer fit the CPB either.
  EXPECT_TRUE(std::any_of(small_cpb.tests[0].violations.begin(), small_cpb.tests[0].violations.end(),
                          [](const HrdViolation& v) { return v.kind == HrdViolationKind::kOverflow; }));
  EXPECT_EQ(small_cpb.tests[0].violations[0].kind, HrdViolationKind::kBufferingPeriod);

  const HrdRunResult slow = check(rewrite_sps(stream, false, sps.vui.nal_hrd.bit_rate_value_minus1[0] * 2 / 3));
  ASSERT_EQ(slow.tests.size(), 1u);
  EXPECT_TRUE(std::any_of(slow.tests[0].violations.begin(), slow.tests[0].violations.end(),
                          [](const HrdViolation& v) { return v.kind == HrdViolationKind::kUnderflow; }));

  // Access unit 30 sent twice: the copy is due at the same time.
  const std::vector<uint64_t> starts = unit_starts(stream);
  ASSERT_EQ(starts.size(), 60u);
  Bytes duplicated(stream.begin(), stream.begin() + static_cast<long>(starts[31]));
  duplicated.insert(duplicated.end(), stream.begin() + static_cast<long>(starts[30]),
                    stream.begin() + static_cast<long>(starts[31]));
  duplicated.insert(duplicated.end(), stream.begin() + static_cast<long>(starts[31]), stream.end());
  const HrdRunResult dup = check(duplicated);
  EXPECT_EQ(dup.access_units, 61u);
  EXPECT_TRUE(found(dup, HrdViolationKind::kRemovalInterval, 31));

  // The second buffering period's initial_cpb_removal_delay made 0.1 s
  // shorter (it follows seq_parameter_set_id 0, a single bit).
  int periods = 0;
  for (const ScannedNal& nal : nal_units(stream)) {
    if (nal.nal_unit_type != 6) continue;
    Bytes rbsp = rbsp_of(stream, nal);
    int32_t index = 0;
    for (SeiMessage m; next_sei_message(rbsp.data(), static_cast<int32_t>(rbsp.size()), index, m);) {
      if (m.payload_type != 0 || ++periods != 2) continue;
      BufferingPeriod bp;
      ASSERT_EQ(parse_buffering_period(m.payload, m.payload_size, sps, bp), ReadStatus::kOk);
      const int length = static_cast<int>(sps.vui.nal_hrd.initial_cpb_removal_delay_length_minus1) + 1;
      const uint32_t value = bp.nal_initial_cpb_removal_delay[0] - 9000;
      const std::size_t at = static_cast<std::size_t>(m.payload - rbsp.data()) * 8 + 1;
      for (int i = 0; i < length; ++i) {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> ((at + i) % 8));
        uint8_t& byte = rbsp[(at + i) / 8];
        byte = static_cast<uint8_t>(((value >> (length - 1 - i)) & 1) != 0 ? (byte | mask) : (byte & ~mask));
      }
      const HrdRunResult changed = check(replace_payload(stream, nal, rbsp));
      ASSERT_EQ(changed.tests.size(), 1u);
      EXPECT_EQ(changed.tests[0].violation_count, 1u);
      // The access unit that holds this SEI, in decoding order.
      const uint64_t holder =
          static_cast<uint64_t>(std::upper_bound(starts.begin(), starts.end(), nal.header) - starts.begin() - 1);
      EXPECT_TRUE(found(changed, HrdViolationKind::kInitialDelay, holder));
      return;
    }
  }
  ADD_FAILURE() << "no second buffering period";
}

}  // namespace
}  // namespace tarnwell
