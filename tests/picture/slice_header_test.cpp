// The slice header fields up to the picture order count (and on to
// redundant_pic_cnt in the standard reading), and the picture-order check.
#include "picture/slice_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "picture/picture_rules.h"
#include "picture_fixture.h"
#include "stream/nal_reader.h"

namespace tarnwell {
namespace {

using test::BitWriter;
using test::RecordingDialog;

// A slice RBSP as the slice reader sees it: the data up to the stop bit, with
// bytes behind it as the NAL buffer always has them.
struct SliceBytes {
  std::vector<uint8_t> bytes;
  BitReader reader;

  explicit SliceBytes(BitWriter& w) {
    w.trailing_bits();
    bytes = w.data();
    const int32_t count = static_cast<int32_t>(bytes.size());
    bytes.resize(bytes.size() + 8, 0);
    reader = make_bit_reader(bytes.data(), rbsp_data_length(bytes.data(), count), count + 8);
  }
};

SeqParamSet sps_with(uint32_t log2_frame_num_minus4, uint32_t frame_mbs_only, uint32_t poc_type) {
  SeqParamSet sps;
  sps.valid = 1;
  sps.log2_max_frame_num_minus4 = log2_frame_num_minus4;
  sps.frame_mbs_only_flag = frame_mbs_only;
  sps.pic_order_cnt_type = poc_type;
  sps.log2_max_pic_order_cnt_lsb_minus4 = 2;
  return sps;
}

PicParamSet pps_with(uint32_t pic_order_present_flag) {
  PicParamSet pps;
  pps.valid = 1;
  pps.bottom_field_pic_order_in_frame_present_flag = pic_order_present_flag;
  return pps;
}

// The header fields the rest of the slice header assigns or leaves alone.
struct Fields {
  int32_t frame_num, field_pic_flag, bottom_field_flag, idr_pic_id, pic_order_cnt_lsb, delta_pic_order_cnt_bottom,
      delta0, delta1;
};

TEST(SliceHeaderRest, EachLayoutReadsExactlyItsFieldsAndLeavesTheCarriedOnes) {
  struct Case {
    const char* name;
    SeqParamSet sps;
    uint32_t pic_order_present_flag;
    int32_t idr_flag;
    BitWriter bits;
    Fields before;
    Fields after;
    int32_t bit_offset;  // after the read; -1: not looked at
    int32_t marker;      // first_field_marker after the read, from -1
  };
  SeqParamSet always_zero = sps_with(0, 0, 1);
  always_zero.delta_pic_order_always_zero_flag = 1;
  const Case cases[] = {
      // frame_mbs_only: idr_pic_id right after frame_num; bottom_field_flag is not carried by the slice.
      {"IDR, frame_mbs_only", sps_with(0, 1, 2), 0, 1, BitWriter().u(4, 5).ue(9).ue(3), {0, 1, 1, 0, 0, 0, 0, 0},
       {5, 0, 1, 9, 0, 0, 0, 0}, 4 + 7, -1},
      {"16-bit frame_num, then pic_order_cnt_lsb", sps_with(12, 1, 0), 0, 0, BitWriter().u(16, 0xBEEF).u(6, 0x2A),
       {}, {0xBEEF, 0, 0, 0, 0x2A, 0, 0, 0}, 22, -1},
      {"non-IDR keeps idr_pic_id", sps_with(0, 1, 0), 0, 0, BitWriter().u(4, 1).u(6, 4), {0, 0, 0, 77, 0, 0, 0, 0},
       {1, 0, 0, 77, 4, 0, 0, 0}, 10, -1},
      // A frame slice leaves the marker alone and clears an earlier field's bottom_field_flag.
      {"type 0, frame: delta bottom", sps_with(0, 0, 0), 1, 0, BitWriter().u(4, 2).u1(0).u(6, 8).se(-3),
       {0, 0, 1, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 8, -3, 0, 0}, -1, -1},
      {"type 0, field: delta bottom stored as 0", sps_with(0, 0, 0), 1, 0,
       BitWriter().u(4, 2).u1(1).u1(1).u(6, 9).se(-3), {0, 0, 0, 0, 0, 7, 0, 0}, {2, 1, 1, 0, 9, 0, 0, 0}, 12, 0},
      {"type 1, frame: both deltas", sps_with(0, 0, 1), 1, 0, BitWriter().u(4, 0).u1(0).se(5).se(-6), {},
       {0, 0, 0, 0, 0, 0, 5, -6}, -1, -1},
      {"type 1, field: no second delta", sps_with(0, 0, 1), 1, 0, BitWriter().u(4, 0).u1(1).u1(0).se(5).se(-6),
       {0, 0, 0, 0, 0, 0, 0, 11}, {0, 1, 0, 0, 0, 0, 5, 11}, -1, 1},
      {"type 1, always zero", always_zero, 1, 0, BitWriter().u(4, 0).u1(0).se(5), {0, 0, 0, 0, 0, 0, 3, 4},
       {0, 0, 0, 0, 0, 0, 0, 0}, 5, -1},
      {"type 2: no picture order field", sps_with(0, 1, 2), 1, 0, BitWriter().u(4, 3).se(9),
       {0, 0, 0, 0, 12, 13, 14, 0}, {3, 0, 0, 0, 12, 13, 14, 0}, 4, -1},
      // A 44-bit frame_num keeps its low 32 bits and its width.
      {"frame_num wider than 32 bits", sps_with(40, 1, 0), 0, 0, BitWriter().u(12, 0xFFF).u(32, 0x12345678).u(6, 0x15),
       {}, {0x12345678, 0, 0, 0, 0x15, 0, 0, 0}, 50, -1},
      // A width far beyond the slice: the read fails, reads as 0, and the position stays.
      {"fields past the end of the data", sps_with(0xFFFFFFF0u, 1, 2), 0, 0, BitWriter().u(3, 5),
       {9, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w = c.bits;
    SliceBytes s(w);
    SliceHeader h;
    h.idr_flag = c.idr_flag;
    h.frame_num = c.before.frame_num;
    h.field_pic_flag = c.before.field_pic_flag;
    h.bottom_field_flag = c.before.bottom_field_flag;
    h.idr_pic_id = c.before.idr_pic_id;
    h.pic_order_cnt_lsb = c.before.pic_order_cnt_lsb;
    h.delta_pic_order_cnt_bottom = c.before.delta_pic_order_cnt_bottom;
    h.delta_pic_order_cnt[0] = c.before.delta0;
    h.delta_pic_order_cnt[1] = c.before.delta1;
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, c.sps, pps_with(c.pic_order_present_flag), SyntaxDialect::kCheck);
    note_first_field(h, marker);
    const Fields& e = c.after;
    EXPECT_EQ(h.frame_num, e.frame_num);
    EXPECT_EQ(h.field_pic_flag, e.field_pic_flag);
    EXPECT_EQ(h.bottom_field_flag, e.bottom_field_flag);
    EXPECT_EQ(h.idr_pic_id, e.idr_pic_id);
    EXPECT_EQ(h.pic_order_cnt_lsb, e.pic_order_cnt_lsb);
    EXPECT_EQ(h.delta_pic_order_cnt_bottom, e.delta_pic_order_cnt_bottom);
    EXPECT_EQ(h.delta_pic_order_cnt[0], e.delta0);
    EXPECT_EQ(h.delta_pic_order_cnt[1], e.delta1);
    if (c.bit_offset >= 0) {
      EXPECT_EQ(s.reader.bit_offset, c.bit_offset);
    }
    EXPECT_EQ(marker, c.marker);
  }
}

// One header, both readings: the three leading codes alike; only the
// standard reading goes on to redundant_pic_cnt and holds
// pic_parameter_set_id to 255.
TEST(SliceHeaderDialects, TheStandardReadingGoesOnToRedundantPicCntAndLimitsThePpsId) {
  SeqParamSet sps = sps_with(0, 1, 2);
  PicParamSet pps = pps_with(0);
  pps.redundant_pic_cnt_present_flag = 1;
  for (const uint32_t pps_id : {255u, 256u}) {
    for (const SyntaxDialect dialect : {SyntaxDialect::kCheck, SyntaxDialect::kStandard}) {
      const bool standard = dialect == SyntaxDialect::kStandard;
      SCOPED_TRACE(testing::Message() << "pps id " << pps_id << (standard ? ", standard" : ", check"));
      BitWriter w;
      w.ue(37).ue(5).ue(pps_id).u(4, 7).ue(6);
      SliceBytes s(w);
      SliceHeader h;
      read_slice_header_first_part(s.reader, h);
      EXPECT_EQ(h.first_mb_in_slice, 37);
      EXPECT_EQ(h.slice_type, 5);
      EXPECT_EQ(h.pic_parameter_set_id, static_cast<int32_t>(pps_id));
      EXPECT_EQ(s.reader.ok(), pps_id <= 255);
      read_slice_header_rest(s.reader, h, sps, pps, dialect);
      EXPECT_EQ(h.frame_num, 7);
      EXPECT_EQ(h.redundant_pic_cnt, standard ? 6 : 0);
    }
  }
}

class PictureOrderCheck : public ::testing::Test {
 protected:
  std::vector<std::string> check(uint32_t poc_type, int32_t idr_flag, int32_t frame_num) {
    RecordingDialog dialog;
    ErrorReporter reporter(dialog);
    SliceHeader h;
    h.idr_flag = idr_flag;
    h.frame_num = frame_num;
    check_picture_order(h, sps_with(0, 1, poc_type), reporter);
    return dialog.reports();
  }
};

// An IDR frame_num of 3 under types 2 and 0, and type 5, are the assembler's
// PictureOrder tests.
TEST_F(PictureOrderCheck, IdrFrameNumUnderTypes1And2AndUnknownTypesAreReported) {
  const std::vector<std::string> idr = {"frame_num not equal to zero in IDR picture"};
  EXPECT_EQ(check(1, 1, 3), idr);
  EXPECT_TRUE(check(2, 1, 0).empty());
  EXPECT_TRUE(check(2, 0, 3).empty());
  // An unknown type whatever the slice.
  const std::vector<std::string> unknown = {"Unknown POC order count type!\n"};
  EXPECT_EQ(check(3, 0, 0), unknown);
  EXPECT_EQ(check(0xFFFFFFFFu, 0, 0), unknown);
}

}  // namespace
}  // namespace tarnwell
