#pragma once
// What the parameter-set tests share: a ParameterSets with a recording dialog
// behind its error reporter, NAL units made from bit-writer output as the
// picture assembler hands them over, and the report file read back as text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "paramsets/parameter_sets.h"
#include "stream/nal_unit.h"
#include "support/bit_writer.h"
#include "support/recording_dialog.h"

namespace tarnwell::test {

// A prepared NAL unit: header byte, RBSP, then the next start code's bytes
// that the NAL buffer holds behind it.
class PreparedNal {
 public:
  PreparedNal(uint8_t header, const std::vector<uint8_t>& rbsp) : buffer_(rbsp.size() + 4, 0) {
    // Filled byte by byte: GCC 12 at -O3 takes a vector insert of a few
    // bytes for an out-of-bounds copy.
    buffer_[0] = header;
    for (std::size_t i = 0; i < rbsp.size(); ++i) buffer_[i + 1] = rbsp[i];
    const int32_t length = static_cast<int32_t>(rbsp.size() + 1);
    buffer_.back() = 0x01;  // the next start code: 0x00 0x00 0x01
    nal_.start_code_length = 3;
    nal_.length = length;
    nal_.nal_unit_type = header & 0x1F;
    nal_.nal_ref_idc = (header >> 5) & 3;
    nal_.bytes = buffer_.data();
    nal_.readable = static_cast<int32_t>(buffer_.size());
  }
  PreparedNal(const PreparedNal&) = delete;
  PreparedNal& operator=(const PreparedNal&) = delete;

  const NalUnit& nal() const { return nal_; }
  const uint8_t* bytes() const { return buffer_.data(); }
  int32_t length() const { return nal_.length; }

 private:
  std::vector<uint8_t> buffer_;
  NalUnit nal_;
};

inline constexpr uint8_t kSpsHeader = 0x67;
inline constexpr uint8_t kPpsHeader = 0x68;
inline constexpr uint8_t kSeiHeader = 0x06;

// A temporary file whose content can be read back.
class TempFile {
 public:
  TempFile() : file_(std::tmpfile()) {}
  ~TempFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::FILE* get() const { return file_; }
  std::string text() const {
    std::string out;
    if (file_ == nullptr) return out;
    std::fflush(file_);
    std::rewind(file_);
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) out.append(chunk, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
  }

 private:
  std::FILE* file_;
};

class ParamSetsTest : public ::testing::Test {
 protected:
  void process_sps(const BitWriter& w) { sets.process_sps_nal(PreparedNal(kSpsHeader, w.data()).nal()); }
  void process_pps(const BitWriter& w) { sets.process_pps_nal(PreparedNal(kPpsHeader, w.data()).nal()); }
  void process_sei(const std::vector<uint8_t>& rbsp) {
    PreparedNal nal(kSeiHeader, rbsp);
    sets.process_sei_nal(nal.bytes(), nal.length(), nal.nal().readable);
  }

  std::vector<std::string> messages() const { return dialog.reports(); }

  const SeqParamSet& sps_slot(uint32_t id) const { return sets.sps_table()[id]; }
  const PicParamSet& pps_slot(uint32_t id) const { return sets.pps_table()[id]; }

  RecordingDialog dialog;
  ErrorReporter reporter{dialog};
  FrameRateFraction frame_rate;
  ParameterSets sets{reporter, frame_rate};
};

// SPS writers: the fields up to seq_parameter_set_id, and the common tail.
inline BitWriter& sps_head(BitWriter& w, uint32_t profile_idc, uint32_t level_idc, uint32_t id,
                           uint32_t constrained_set3_flag = 0) {
  return w.u(8, profile_idc).u1(0).u1(0).u1(0).u1(constrained_set3_flag).u(4, 0).u(8, level_idc).ue(id);
}

struct SpsTail {
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t pic_order_cnt_type = 2;
  uint32_t num_ref_frames = 1;
  uint32_t pic_width_in_mbs_minus1 = 10;
  uint32_t pic_height_in_map_units_minus1 = 8;
  uint32_t frame_mbs_only_flag = 1;
  uint32_t vui_parameters_present_flag = 0;
};

// From log2_max_frame_num_minus4 up to vui_parameters_present_flag, for
// pic_order_cnt_type 2 (no picture order count fields) or 0 (lsb length 0).
inline BitWriter& sps_tail(BitWriter& w, const SpsTail& t = {}) {
  w.ue(t.log2_max_frame_num_minus4).ue(t.pic_order_cnt_type);
  if (t.pic_order_cnt_type == 0) w.ue(0);
  w.ue(t.num_ref_frames).u1(0).ue(t.pic_width_in_mbs_minus1).ue(t.pic_height_in_map_units_minus1);
  w.u1(t.frame_mbs_only_flag);
  if (t.frame_mbs_only_flag == 0) w.u1(0);
  return w.u1(1).u1(0).u1(t.vui_parameters_present_flag);
}

// A Baseline SPS without VUI.
inline BitWriter baseline_sps(uint32_t id = 0, const SpsTail& tail = {}) {
  BitWriter w;
  sps_head(w, 66, 30, id);
  sps_tail(w, tail);
  w.trailing_bits();
  return w;
}

// A PPS with one slice group and no extension.
struct PpsFields {
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  int32_t pic_init_qp_minus26 = 0;
  int32_t chroma_qp_index_offset = 0;
};

inline BitWriter& pps_after_slice_groups(BitWriter& w, const PpsFields& f = {}) {
  return w.ue(0).ue(0).u1(0).u(2, 0).se(f.pic_init_qp_minus26).se(0).se(f.chroma_qp_index_offset).u1(1).u1(0).u1(0);
}

inline BitWriter simple_pps(const PpsFields& f = {}) {
  BitWriter w;
  w.ue(f.pic_parameter_set_id).ue(f.seq_parameter_set_id).u1(0).u1(0).ue(0);
  pps_after_slice_groups(w, f);
  w.trailing_bits();
  return w;
}

struct HrdEntry {
  uint32_t bit_rate_value_minus1;
  uint32_t cpb_size_value_minus1;
  uint32_t cbr_flag;
};

inline BitWriter& hrd(BitWriter& w, uint32_t bit_rate_scale, uint32_t cpb_size_scale,
                      const std::vector<HrdEntry>& entries, uint32_t cpb_removal_delay_length_minus1 = 23,
                      uint32_t time_offset_length = 24) {
  w.ue(static_cast<uint32_t>(entries.size() - 1)).u(4, bit_rate_scale).u(4, cpb_size_scale);
  for (const HrdEntry& e : entries) w.ue(e.bit_rate_value_minus1).ue(e.cpb_size_value_minus1).u1(e.cbr_flag);
  return w.u(5, 23).u(5, cpb_removal_delay_length_minus1).u(5, 4).u(5, time_offset_length);
}

// An SPS whose VUI carries the given HRD blocks (an empty list: no block).
inline BitWriter sps_with_hrd(const std::vector<HrdEntry>& nal, const std::vector<HrdEntry>& vcl, uint32_t id = 0,
                       uint32_t pic_struct_present_flag = 0) {
  BitWriter w;
  sps_head(w, 66, 30, id);
  SpsTail tail;
  tail.vui_parameters_present_flag = 1;
  sps_tail(w, tail);
  w.u1(0).u1(0).u1(0).u1(0).u1(0);  // aspect, overscan, video signal, chroma loc, timing
  w.u1(nal.empty() ? 0 : 1);
  if (!nal.empty()) hrd(w, 0, 2, nal);
  w.u1(vcl.empty() ? 0 : 1);
  if (!vcl.empty()) hrd(w, 1, 3, vcl, 9, 0);
  if (!nal.empty() || !vcl.empty()) w.u1(1);  // low_delay_hrd_flag
  w.u1(pic_struct_present_flag).u1(0);
  w.trailing_bits();
  return w;
}

// High 4:4:4 Predictive, 4:4:4 chroma, scaling lists 0, 6, 10 and 11 sent
// (the last two exist only for 4:4:4), then a VUI with timing and both HRD
// blocks: NAL with two schedules, VCL with one.
inline BitWriter sps_444(uint32_t vcl_hrd = 1) {
  BitWriter w;
  w.u(8, 244).u(8, 0).u(8, 40).ue(3);
  w.ue(3).u1(0).ue(0).ue(0).u1(0);  // chroma_format_idc 3, separate_colour_plane_flag 0, bit depths, bypass
  w.u1(1);                          // seq_scaling_matrix_present_flag
  for (int i = 0; i < 12; ++i) {
    const bool present = i == 0 || i == 6 || i == 10 || i == 11;
    w.u1(present ? 1 : 0);
    if (!present) continue;
    if (i < 6) {
      w.se(-8);  // nextScale 0 at once: the default list
    } else {
      for (int j = 0; j < 64; ++j) w.se(j == 0 ? 4 : 0);
    }
  }
  w.ue(2).ue(0).ue(4);           // log2_max_frame_num_minus4 2, pic_order_cnt_type 0, lsb length 8
  w.ue(2).u1(0).ue(119).ue(67);  // 120 x 68 map units
  w.u1(0).u1(0).u1(1).u1(0);     // frame_mbs_only_flag 0 (fields), mbaff 0, direct_8x8 1, no cropping
  w.u1(1);                       // VUI
  w.u1(0).u1(0).u1(0).u1(0);
  w.u1(1).u(32, 1001).u(32, 60000).u1(1);
  w.u1(1);  // NAL HRD: delay lengths 24, 16 and 5 bits, time_offset_length 24
  hrd(w, 1, 2, {{4999, 999, 1}, {5000, 1000, 1}}, 15);
  w.u1(vcl_hrd);
  if (vcl_hrd == 1) hrd(w, 1, 2, {{3999, 999, 0}}, 15);
  w.u1(1).u1(1).u1(0);  // low_delay_hrd_flag, pic_struct_present_flag, no bitstream restriction
  return w.trailing_bits();
}

inline ReadStatus parse_standard_sps(const BitWriter& w, SeqParamSet& sps) {
  return parse_seq_parameter_set(w.data().data(), static_cast<int32_t>(w.data().size()), sps);
}

}  // namespace tarnwell::test
