#pragma once
// Hand-built parameter sets and slice headers, and a pass over a built stream
// taken the way a check takes it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/parsing_state.h"
#include "support/bit_writer.h"
#include "support/h264_writers.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell::test {

struct SliceFields {
  uint32_t first_mb_in_slice = 0;
  uint32_t slice_type = 7;
  uint32_t pic_parameter_set_id = 0;
  uint32_t frame_num = 0;
  uint32_t field_pic_flag = 0;
  uint32_t bottom_field_flag = 0;
  uint32_t idr_pic_id = 0;
  uint32_t pic_order_cnt_lsb = 0;
  int32_t delta_pic_order_cnt_bottom = 0;
  int32_t delta_pic_order_cnt[2] = {0, 0};
  // Bytes standing in for the rest of the slice, so slices differ in size.
  uint32_t body_bytes = 4;
};

// The slice header as far as the picture order count, written for the given
// SPS and the PPS's pic_order_present_flag, then body_bytes of slice data.
inline BitWriter slice_rbsp(const SliceFields& f, const SpsOptions& sps, uint32_t pic_order_present_flag, bool idr) {
  BitWriter w;
  w.ue(f.first_mb_in_slice).ue(f.slice_type).ue(f.pic_parameter_set_id);
  w.u(static_cast<int>(sps.log2_max_frame_num_minus4 + 4), f.frame_num);
  if (sps.frame_mbs_only_flag == 0) {
    w.u1(f.field_pic_flag);
    if (f.field_pic_flag == 1) w.u1(f.bottom_field_flag);
  }
  if (idr) w.ue(f.idr_pic_id);
  if (sps.pic_order_cnt_type == 0) {
    w.u(static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4 + 4), f.pic_order_cnt_lsb);
    if (pic_order_present_flag == 1 && f.field_pic_flag == 0) w.se(f.delta_pic_order_cnt_bottom);
  }
  if (sps.pic_order_cnt_type == 1 && sps.delta_pic_order_always_zero_flag == 0) {
    w.se(f.delta_pic_order_cnt[0]);
    if (pic_order_present_flag == 1 && f.field_pic_flag == 0) w.se(f.delta_pic_order_cnt[1]);
  }
  for (uint32_t i = 0; i < f.body_bytes; ++i) w.u(8, 0xA5);
  return w.trailing_bits();
}

// One parsing state over a small window, and passes over built streams as
// the verification run makes them.
struct PictureRun {
  static constexpr uint32_t kWindowBytes = 65536;

  RecordingDialog dialog;
  ErrorReporter reporter{dialog};
  FrameRateFraction rate;
  ParsingState state{reporter, rate, kWindowBytes};

  std::vector<uint32_t> complete;  // sizes of the complete pictures, in order
  uint32_t open_picture = 0;       // picture_bytes + pending_bytes at the end

  PictureRun() { reporter.set_stderr_enabled(false); }

  void start(std::FILE* file) {
    state.begin_pass();
    state.begin_stream(file);
    complete.clear();
  }

  // The next complete picture into `complete`; false at the end.
  bool take_picture() {
    uint32_t bytes = 0;
    if (!state.take_picture(bytes)) return false;
    complete.push_back(bytes);
    return true;
  }

  void run(const StreamBuilder& stream) {
    TempStreamFile file(stream);
    start(file.file());
    while (take_picture()) {
    }
    open_picture = state.picture_bytes() + state.pending_bytes();
  }

  std::vector<std::string> messages() const { return dialog.reports(); }
};

// Sum of the sizes of NAL units first .. last - 1 of a built stream.
inline uint32_t sum_sizes(const StreamBuilder& stream, size_t first, size_t last) {
  uint32_t sum = 0;
  for (size_t i = first; i < last; ++i) sum += stream.nal_sizes().at(i);
  return sum;
}

}  // namespace tarnwell::test
