// The slice header fields up to the picture order count, and the
// picture-order check.
#include "picture/slice_header.h"

#include <gtest/gtest.h>

#include <vector>

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
  pps.pic_order_present_flag = pic_order_present_flag;
  return pps;
}

TEST(SliceHeaderFirstPart, ReadsTheThreeLeadingCodes) {
  BitWriter w;
  w.ue(37).ue(5).ue(255);
  SliceBytes s(w);
  SliceHeader h;
  read_slice_header_first_part(s.reader, h);
  EXPECT_EQ(h.first_mb_in_slice, 37);
  EXPECT_EQ(h.slice_type, 5);
  EXPECT_EQ(h.pic_parameter_set_id, 255);
}

TEST(SliceHeaderRest, FrameMbsOnlyReadsIdrPicIdRightAfterFrameNum) {
  BitWriter w;
  w.u(4, 5).ue(9).ue(3);  // frame_num, idr_pic_id, one more code
  SliceBytes s(w);
  SliceHeader h;
  h.idr_flag = 1;
  h.field_pic_flag = 1;
  h.bottom_field_flag = 1;
  int32_t marker = -1;
  read_slice_header_rest(s.reader, h, sps_with(0, 1, 2), pps_with(0), marker);
  EXPECT_EQ(h.frame_num, 5);
  EXPECT_EQ(h.field_pic_flag, 0);
  EXPECT_EQ(h.bottom_field_flag, 1);  // not carried by the slice: unchanged
  EXPECT_EQ(h.idr_pic_id, 9);
  EXPECT_EQ(marker, -1);
  EXPECT_EQ(s.reader.bit_offset, 4 + 7);
}

TEST(SliceHeaderRest, SixteenBitFrameNumThenPicOrderCntLsb) {
  BitWriter w;
  w.u(16, 0xBEEF).u(6, 0x2A);
  SliceBytes s(w);
  SliceHeader h;
  int32_t marker = -1;
  read_slice_header_rest(s.reader, h, sps_with(12, 1, 0), pps_with(0), marker);
  EXPECT_EQ(h.frame_num, 0xBEEF);
  EXPECT_EQ(h.pic_order_cnt_lsb, 0x2A);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, 0);
}

TEST(SliceHeaderRest, NonIdrSliceKeepsTheIdrPicIdItCarriesOver) {
  BitWriter w;
  w.u(4, 1).u(6, 4);
  SliceBytes s(w);
  SliceHeader h;
  h.idr_flag = 0;
  h.idr_pic_id = 77;
  int32_t marker = -1;
  read_slice_header_rest(s.reader, h, sps_with(0, 1, 0), pps_with(0), marker);
  EXPECT_EQ(h.idr_pic_id, 77);
  EXPECT_EQ(h.pic_order_cnt_lsb, 4);
}

TEST(SliceHeaderRest, PocType0FrameReadsDeltaBottomFieldStoresZero) {
  const SeqParamSet sps = sps_with(0, 0, 0);
  {
    BitWriter w;
    w.u(4, 2).u1(0).u(6, 8).se(-3);
    SliceBytes s(w);
    SliceHeader h;
    h.bottom_field_flag = 1;  // from an earlier field slice
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, sps, pps_with(1), marker);
    EXPECT_EQ(h.field_pic_flag, 0);
    EXPECT_EQ(h.bottom_field_flag, 0);
    EXPECT_EQ(h.pic_order_cnt_lsb, 8);
    EXPECT_EQ(h.delta_pic_order_cnt_bottom, -3);
    EXPECT_EQ(marker, -1);  // a frame slice leaves the marker alone
  }
  {
    BitWriter w;
    w.u(4, 2).u1(1).u1(1).u(6, 9).se(-3);
    SliceBytes s(w);
    SliceHeader h;
    h.delta_pic_order_cnt_bottom = 7;
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, sps, pps_with(1), marker);
    EXPECT_EQ(h.field_pic_flag, 1);
    EXPECT_EQ(h.bottom_field_flag, 1);
    EXPECT_EQ(h.pic_order_cnt_lsb, 9);
    EXPECT_EQ(h.delta_pic_order_cnt_bottom, 0);
    EXPECT_EQ(s.reader.bit_offset, 4 + 2 + 6);
  }
}

TEST(SliceHeaderRest, PocType1ReadsDeltasOnlyWhereTheSyntaxHasThem) {
  SeqParamSet sps = sps_with(0, 0, 1);
  {
    BitWriter w;
    w.u(4, 0).u1(0).se(5).se(-6);  // frame: both deltas
    SliceBytes s(w);
    SliceHeader h;
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, sps, pps_with(1), marker);
    EXPECT_EQ(h.delta_pic_order_cnt[0], 5);
    EXPECT_EQ(h.delta_pic_order_cnt[1], -6);
  }
  {
    BitWriter w;
    w.u(4, 0).u1(1).u1(0).se(5).se(-6);  // field: the second delta is not there
    SliceBytes s(w);
    SliceHeader h;
    h.delta_pic_order_cnt[1] = 11;
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, sps, pps_with(1), marker);
    EXPECT_EQ(h.delta_pic_order_cnt[0], 5);
    EXPECT_EQ(h.delta_pic_order_cnt[1], 11);
  }
  {
    sps.delta_pic_order_always_zero_flag = 1;
    BitWriter w;
    w.u(4, 0).u1(0).se(5);
    SliceBytes s(w);
    SliceHeader h;
    h.delta_pic_order_cnt[0] = 3;
    h.delta_pic_order_cnt[1] = 4;
    int32_t marker = -1;
    read_slice_header_rest(s.reader, h, sps, pps_with(1), marker);
    EXPECT_EQ(h.delta_pic_order_cnt[0], 0);
    EXPECT_EQ(h.delta_pic_order_cnt[1], 0);
    EXPECT_EQ(s.reader.bit_offset, 5);
  }
}

TEST(SliceHeaderRest, PocType2ReadsNoPictureOrderField) {
  BitWriter w;
  w.u(4, 3).se(9);
  SliceBytes s(w);
  SliceHeader h;
  h.pic_order_cnt_lsb = 12;
  h.delta_pic_order_cnt_bottom = 13;
  h.delta_pic_order_cnt[0] = 14;
  int32_t marker = -1;
  read_slice_header_rest(s.reader, h, sps_with(0, 1, 2), pps_with(1), marker);
  EXPECT_EQ(s.reader.bit_offset, 4);
  EXPECT_EQ(h.pic_order_cnt_lsb, 12);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, 13);
  EXPECT_EQ(h.delta_pic_order_cnt[0], 14);
}

TEST(SliceHeaderRest, FirstFieldSliceOfThePassSetsTheMarker) {
  const SeqParamSet sps = sps_with(0, 0, 2);
  auto read_field = [&sps](uint32_t bottom, int32_t& marker) {
    BitWriter w;
    w.u(4, 0).u1(1).u1(bottom);
    SliceBytes s(w);
    SliceHeader h;
    read_slice_header_rest(s.reader, h, sps, pps_with(0), marker);
  };
  int32_t marker = -1;
  read_field(1, marker);
  EXPECT_EQ(marker, 0);  // a bottom field came first
  read_field(0, marker);
  EXPECT_EQ(marker, 0);  // a later top field does not change it

  marker = -1;
  read_field(0, marker);
  EXPECT_EQ(marker, 1);
  read_field(1, marker);
  EXPECT_EQ(marker, 1);
}

TEST(SliceHeaderRest, FrameNumWiderThan32BitsKeepsItsLow32BitsAndItsWidth) {
  BitWriter w;
  w.u(12, 0xFFF).u(32, 0x12345678).u(6, 0x15);  // 44-bit frame_num, then pic_order_cnt_lsb
  SliceBytes s(w);
  SliceHeader h;
  int32_t marker = -1;
  read_slice_header_rest(s.reader, h, sps_with(40, 1, 0), pps_with(0), marker);
  EXPECT_EQ(h.frame_num, 0x12345678);
  EXPECT_EQ(h.pic_order_cnt_lsb, 0x15);
}

TEST(SliceHeaderRest, FieldsPastTheEndOfTheDataReadAsZero) {
  BitWriter w;
  w.u(3, 5);
  SliceBytes s(w);
  SliceHeader h;
  h.frame_num = 9;
  int32_t marker = -1;
  // A width far beyond the slice: the read fails and the position stays.
  read_slice_header_rest(s.reader, h, sps_with(0xFFFFFFF0u, 1, 2), pps_with(0), marker);
  EXPECT_EQ(h.frame_num, 0);
  EXPECT_EQ(s.reader.bit_offset, 0);
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
    return test::reports(dialog);
  }
};

TEST_F(PictureOrderCheck, IdrWithNonZeroFrameNumUnderTypes1And2) {
  const std::vector<std::string> expected = {"frame_num not equal to zero in IDR picture"};
  EXPECT_EQ(check(1, 1, 3), expected);
  EXPECT_EQ(check(2, 1, 3), expected);
  EXPECT_TRUE(check(2, 1, 0).empty());
  EXPECT_TRUE(check(2, 0, 3).empty());
  EXPECT_TRUE(check(0, 1, 3).empty());
}

TEST_F(PictureOrderCheck, UnknownTypeIsReportedWhateverTheSlice) {
  const std::vector<std::string> expected = {"Unknown POC order count type!\n"};
  EXPECT_EQ(check(3, 0, 0), expected);
  EXPECT_EQ(check(5, 1, 3), expected);
  EXPECT_EQ(check(0xFFFFFFFFu, 0, 0), expected);
}

}  // namespace
}  // namespace tarnwell
