#pragma once
// Streams with HRD parameters for the conformance check's tests: a Baseline
// (or Extended) SPS with VUI timing and a NAL HRD block of chosen schedules
// and field lengths, buffering period and picture timing SEI, and one slice
// a picture of chosen size (the slices of h264_writers.h), and a whole
// conformance run over them.
//
//   HrdStream s(HrdSps{});
//   for (uint32_t k = 0; k < 10; ++k) s.picture(k == 0, 2 * k, 400);
//   TempStreamFile file(s.bytes());
#include <cstdint>
#include <utility>
#include <vector>

#include "support/bit_writer.h"
#include "support/h264_writers.h"
#include "support/stream_builder.h"
#include "verify/hrd_run.h"

namespace tarnwell::test {

struct HrdSchedule {
  uint32_t bit_rate_value_minus1 = 0;  // BitRate = (value + 1) * 2^(6 + bit_rate_scale)
  uint32_t cpb_size_value_minus1 = 0;  // CpbSize = (value + 1) * 16 (cpb_size_scale 0)
  bool cbr = true;
};

struct HrdSps {
  HrdSps() {
    HrdSchedule one;
    one.bit_rate_value_minus1 = 15624;
    one.cpb_size_value_minus1 = 62499;
    schedules.push_back(one);
  }
  uint32_t profile_idc = 66;
  uint32_t level_idc = 30;
  uint32_t seq_parameter_set_id = 0;
  uint32_t num_units_in_tick = 1;
  uint32_t time_scale = 50;  // 25 pictures a second at 2 ticks each
  uint32_t bit_rate_scale = 0;
  std::vector<HrdSchedule> schedules;  // one of 1 Mbit/s, 1 Mbit CPB, CBR unless set otherwise
  uint32_t initial_length = 24;  // initial_cpb_removal_delay_length_minus1 + 1
  uint32_t delay_length = 24;    // cpb_removal_delay_length_minus1 + 1
  uint32_t output_length = 24;   // dpb_output_delay_length_minus1 + 1
};

inline BitWriter hrd_sps_rbsp(const HrdSps& o) {
  BitWriter w;
  w.u(8, o.profile_idc).u(4, 0).u(4, 0).u(8, o.level_idc).ue(o.seq_parameter_set_id);
  w.ue(0).ue(2);                                  // log2_max_frame_num_minus4, pic_order_cnt_type
  w.ue(1).u1(0).ue(10).ue(8).u1(1).u1(1).u1(0);  // 11x9 macroblocks, frames only, no cropping
  w.u1(1);                                        // vui_parameters_present_flag
  w.u1(0).u1(0).u1(0).u1(0);                      // aspect ratio, overscan, video signal, chroma location
  w.u1(1).u(32, o.num_units_in_tick).u(32, o.time_scale).u1(1);  // timing info, fixed_frame_rate_flag
  w.u1(1);                                                       // nal_hrd_parameters_present_flag
  w.ue(static_cast<uint32_t>(o.schedules.size() - 1)).u(4, o.bit_rate_scale).u(4, 0);
  for (const HrdSchedule& s : o.schedules) w.ue(s.bit_rate_value_minus1).ue(s.cpb_size_value_minus1).u1(s.cbr ? 1 : 0);
  w.u(5, o.initial_length - 1).u(5, o.delay_length - 1).u(5, o.output_length - 1).u(5, 24);
  w.u1(0);  // vcl_hrd_parameters_present_flag
  w.u1(0);  // low_delay_hrd_flag
  w.u1(0).u1(0);  // pic_struct_present_flag, bitstream_restriction_flag
  return w.trailing_bits();
}

// One SEI message of the payload's bytes (aligned by the caller).
inline BitWriter sei_rbsp(uint32_t payload_type, const BitWriter& payload) {
  BitWriter w;
  w.u(8, payload_type);
  std::size_t size = payload.data().size();
  for (; size >= 255; size -= 255) w.u(8, 255);
  w.u(8, static_cast<uint32_t>(size));
  w.bytes(payload.data());
  return w.trailing_bits();
}

// A whole conformance run over a stream's bytes, with each test's trace rows.
struct HrdChecked {
  HrdRunResult result;
  std::vector<std::vector<HrdTraceRow>> rows;  // by test
};

inline HrdChecked run_hrd(const std::vector<uint8_t>& bytes) {
  TempStreamFile file(bytes);
  HrdChecked out;
  out.result = run_hrd_conformance(file.file(), HrdRunOptions{}, [&out](std::size_t test, const HrdTraceRow& row) {
    if (out.rows.size() <= test) out.rows.resize(test + 1);
    out.rows[test].push_back(row);
  });
  return out;
}

// A payload's bit_equal_to_one and zero bits up to a byte boundary, when it ends unaligned.
inline BitWriter& payload_end(BitWriter& w) {
  if (!w.byte_aligned()) w.u1(1).align_zero();
  return w;
}

inline BitWriter buffering_period_rbsp(const HrdSps& o, const std::vector<std::pair<uint32_t, uint32_t>>& delays) {
  BitWriter p;
  p.ue(o.seq_parameter_set_id);
  for (const auto& [delay, offset] : delays) p.u(static_cast<int>(o.initial_length), delay).u(static_cast<int>(o.initial_length), offset);
  return sei_rbsp(0, payload_end(p));
}

inline BitWriter picture_timing_rbsp(const HrdSps& o, uint32_t cpb_removal_delay) {
  BitWriter p;
  p.u(static_cast<int>(o.delay_length), cpb_removal_delay).u(static_cast<int>(o.output_length), 0);
  return sei_rbsp(1, payload_end(p));
}

class HrdStream {
 public:
  explicit HrdStream(const HrdSps& sps) { parameter_sets(sps); }

  // A new SPS and its PPS (they begin the next access unit).
  HrdStream& parameter_sets(const HrdSps& sps) {
    sps_ = sps;
    stream_.nal(3, 7, hrd_sps_rbsp(sps)).nal(3, 8, pps_rbsp(0, sps.seq_parameter_set_id));
    return *this;
  }

  // One access unit: a buffering period with delays (each schedule's
  // initial_cpb_removal_delay and offset) when given, the picture timing
  // (cpb_removal_delay written modulo 2^delay_length), an IDR or non-IDR
  // slice of body_bytes bytes after its header.
  HrdStream& picture(bool idr, uint32_t cpb_removal_delay, uint32_t body_bytes,
                     const std::vector<std::pair<uint32_t, uint32_t>>& delays = {}, int slice_type = 0) {
    if (!delays.empty()) stream_.nal(0, 6, buffering_period_rbsp(sps_, delays));
    const uint32_t mask = sps_.delay_length >= 32 ? 0xFFFFFFFFu : (1u << sps_.delay_length) - 1;
    stream_.nal(0, 6, picture_timing_rbsp(sps_, cpb_removal_delay & mask));
    SliceOptions slice;
    slice.idr = idr;
    slice.frame_num = idr ? 0 : ++frame_num_;
    if (idr) frame_num_ = 0;
    slice.body_bytes = body_bytes;
    stream_.nal(idr ? 3 : 2, idr ? 5 : (slice_type != 0 ? slice_type : 1), slice_rbsp(slice));
    return *this;
  }

  StreamBuilder& builder() { return stream_; }
  const std::vector<uint8_t>& bytes() const { return stream_.bytes(); }

 private:
  HrdSps sps_;
  StreamBuilder stream_;
  uint32_t frame_num_ = 0;
};

}  // namespace tarnwell::test
