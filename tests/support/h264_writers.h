#pragma once
// Small Baseline parameter sets and slices for whole-check tests: 11x9
// macroblocks in frames or fields, one slice a picture, slice data of chosen
// size after the header fields up to the picture order count.
#include <cstdint>

#include "support/bit_writer.h"

namespace tarnwell::test {

struct SpsOptions {
  uint32_t profile_idc = 66;  // 66 or 77: the profiles without the high-profile fields
  uint32_t seq_parameter_set_id = 0;
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t pic_order_cnt_type = 2;
  uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
  uint32_t delta_pic_order_always_zero_flag = 0;  // with type 1: two offsets, no cycle follow
  uint32_t frame_mbs_only_flag = 1;
  bool vui = true;            // VUI with timing only: num_units_in_tick 1, fixed_frame_rate_flag 1
  uint32_t time_scale = 50;  // 0: the frame rate is unknown
};

inline BitWriter sps_rbsp(const SpsOptions& o) {
  BitWriter w;
  w.u(8, o.profile_idc).u(4, 0).u(4, 0).u(8, 30).ue(o.seq_parameter_set_id);
  w.ue(o.log2_max_frame_num_minus4).ue(o.pic_order_cnt_type);
  if (o.pic_order_cnt_type == 0) w.ue(o.log2_max_pic_order_cnt_lsb_minus4);
  if (o.pic_order_cnt_type == 1) w.u1(o.delta_pic_order_always_zero_flag).se(0).se(0).ue(0);
  w.ue(1).u1(0).ue(10).ue(8).u1(o.frame_mbs_only_flag);
  if (o.frame_mbs_only_flag == 0) w.u1(0);  // mb_adaptive_frame_field_flag
  w.u1(1).u1(0).u1(o.vui ? 1 : 0);
  if (o.vui) {
    w.u1(0).u1(0).u1(0).u1(0);  // aspect ratio, overscan, video signal, chroma location
    w.u1(1).u(32, 1).u(32, o.time_scale).u1(1);
    w.u1(0).u1(0).u1(0).u1(0);  // NAL HRD, VCL HRD, pic_struct_present_flag, bitstream_restriction_flag
  }
  return w.trailing_bits();
}

inline BitWriter pps_rbsp(uint32_t pic_parameter_set_id, uint32_t seq_parameter_set_id = 0,
                          uint32_t pic_order_present_flag = 0) {
  BitWriter w;
  w.ue(pic_parameter_set_id).ue(seq_parameter_set_id).u1(0).u1(pic_order_present_flag).ue(0).ue(0).ue(0).u1(0).u(2, 0);
  w.se(0).se(0).se(0).u1(1).u1(0).u1(0);
  return w.trailing_bits();
}

struct SliceOptions {
  bool idr = false;
  uint32_t pic_parameter_set_id = 0;
  uint32_t frame_num = 0;
  uint32_t body_bytes = 50;
  int frame_num_bits = 4;
  uint32_t pic_order_cnt_type = 2;
  bool pic_order_present = false;  // with type 1: delta_pic_order_cnt[1] follows
  int32_t delta_pic_order_cnt_1 = 0;
  uint8_t body_byte = 0xA5;
};

inline BitWriter slice_rbsp(const SliceOptions& o) {
  BitWriter w;
  w.ue(0).ue(o.idr ? 7 : 5).ue(o.pic_parameter_set_id);
  w.u(o.frame_num_bits, o.frame_num % (1u << o.frame_num_bits));
  if (o.idr) w.ue(0);
  if (o.pic_order_cnt_type == 0) w.u(4, (2 * o.frame_num) % 16);
  if (o.pic_order_cnt_type == 1) {
    w.se(0);
    if (o.pic_order_present) w.se(o.delta_pic_order_cnt_1);
  }
  for (uint32_t i = 0; i < o.body_bytes; ++i) w.u(8, o.body_byte);
  return w.trailing_bits();
}

}  // namespace tarnwell::test
