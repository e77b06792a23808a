// Access units for the HRD conformance check: boundaries by 7.4.1.2.3 and
// 7.4.1.2.4 (fields of a pair apart, redundant slices with their primary
// picture), sizes at both conformance points, and the timing SEI read with
// the SPS that is active.
#include "picture/access_unit_splitter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/stream_builder.h"
#include "support/stream_manifest.h"

namespace tarnwell {
namespace {

using test::BitWriter;

// Main profile, 11 x 9 map units of field pairs (frame_mbs_only_flag 0),
// pic_order_cnt_type 0, 25 frames/s, NAL HRD with one CBR schedule.
BitWriter interlaced_sps() {
  BitWriter w;
  w.u(8, 77).u(8, 0).u(8, 30).ue(0);
  w.ue(0).ue(0).ue(0);  // frame_num and lsb 4 bits, pic_order_cnt_type 0
  w.ue(2).u1(0).ue(10).ue(8).u1(0).u1(0).u1(1).u1(0);
  w.u1(1).u1(0).u1(0).u1(0).u1(0);  // VUI
  w.u1(1).u(32, 1).u(32, 50).u1(1);
  w.u1(1).ue(0).u(4, 0).u(4, 0).ue(15624).ue(15624).u1(1).u(5, 23).u(5, 15).u(5, 4).u(5, 0);
  w.u1(0).u1(0).u1(0).u1(0);  // no VCL HRD, low_delay 0, pic_struct 0, no restriction
  return w.trailing_bits();
}

BitWriter pps() {
  BitWriter w;
  w.ue(0).ue(0).u1(0).u1(1).ue(0).ue(0).ue(0).u1(0).u(2, 0).se(0).se(0).se(0).u1(1).u1(0).u1(1);
  return w.trailing_bits();
}

BitWriter sei(bool bp, uint32_t removal_delay) {
  BitWriter w;
  if (bp) w.u(8, 0).u(8, 7).ue(0).u(24, 81000).u(24, 9000).u1(1).u(6, 0);  // 1 + 48 bits, aligned: 7 bytes
  w.u(8, 1).u(8, 3).u(16, removal_delay).u(5, 2).u(3, 4);                  // 16 + 5 bits, then 1 and zeros
  return w.trailing_bits();
}

struct Slice {
  bool idr;
  uint32_t first_mb, frame_num, field, bottom, poc_lsb, redundant;
};

BitWriter slice(const Slice& s) {
  BitWriter w;
  w.ue(s.first_mb).ue(s.idr ? 7 : 5).ue(0).u(4, s.frame_num).u1(s.field);
  if (s.field) w.u1(s.bottom);
  if (s.idr) w.ue(0);
  w.u(4, s.poc_lsb);
  if (!s.field) w.se(0);
  w.ue(s.redundant);
  for (int i = 0; i < 40; ++i) w.u(8, 0xA5);
  return w.trailing_bits();
}

TEST(AccessUnitSplitter, FieldsRedundantSlicesAndSizesAtBothPoints) {
  test::StreamBuilder s;
  std::vector<std::size_t> starts;
  std::vector<uint64_t> vcl;
  auto begin = [&] {
    starts.push_back(s.bytes().size());
    vcl.push_back(0);
  };
  auto add_slice = [&](int ref, int type, const Slice& sl) {
    s.nal(ref, type, slice(sl));
    vcl.back() += s.nal_sizes().back();
  };
  begin();  // top field with BP, in two slices
  s.nal(3, 7, interlaced_sps()).nal(3, 8, pps()).nal(0, 6, sei(true, 0));
  add_slice(3, 5, {true, 0, 0, 1, 0, 0, 0});
  add_slice(3, 5, {true, 50, 0, 1, 0, 0, 0});
  begin();  // bottom field of the same frame: an access unit of its own
  s.nal(0, 6, sei(false, 1));
  add_slice(3, 5, {true, 0, 0, 1, 1, 1, 0});
  begin();  // a frame, its redundant copy and filler data
  s.nal(0, 6, sei(false, 2));
  add_slice(2, 1, {false, 0, 1, 0, 0, 4, 0});
  add_slice(2, 1, {false, 0, 1, 0, 0, 4, 1});
  s.nal(0, 12, std::vector<uint8_t>(30, 0xFF));
  vcl.back() += s.nal_sizes().back();
  begin();  // a non-reference frame straight after, no SEI: told apart by its slice header alone
  add_slice(0, 1, {false, 0, 2, 0, 0, 6, 0});
  s.nal(0, 10, std::vector<uint8_t>{});  // end of sequence stays with it
  s.raw({0x00, 0x00});
  starts.push_back(s.bytes().size());

  test::TempStreamFile file(s);
  AccessUnitSplitter splitter(64);  // small blocks: boundaries inside NAL units
  splitter.begin(file.file());
  AccessUnit au;
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(splitter.next(au), 1);
    EXPECT_EQ(au.start, starts[i]);
    EXPECT_EQ(au.nal_bits, (starts[i + 1] - starts[i]) * 8);
    EXPECT_EQ(au.vcl_bits, vcl[i] * 8);
    EXPECT_TRUE(au.has_picture);
    ASSERT_NE(au.sps, nullptr);
    EXPECT_EQ(au.has_buffering_period, i == 0);
    EXPECT_EQ(au.has_picture_timing, i < 3);
    if (i < 3) {
      EXPECT_EQ(au.picture_timing.cpb_removal_delay, i);
    }
    EXPECT_EQ(au.field_pic, i < 2);
    EXPECT_EQ(au.pic_size_in_mbs, i < 2 ? 99u : 198u);
  }
  EXPECT_EQ(au.buffering_period.nal_initial_cpb_removal_delay[0], 0u);
  EXPECT_EQ(splitter.next(au), 0);
  EXPECT_EQ(splitter.notes().broken_slice_headers, 0u);
}

// The shared streams' picture counts were measured with another decoder's
// parser; every access unit here holds one primary coded picture.
TEST(AccessUnitSplitter, CountsTheSharedStreamsPictures) {
  const std::vector<test::ManifestRow> rows = test::read_manifest();
  if (rows.empty()) GTEST_SKIP() << "no shared streams";
  int streams = 0;
  for (const test::ManifestRow& row : rows) {
    SCOPED_TRACE(row.file);
    std::FILE* file = std::fopen(test::stream_path(row.file).c_str(), "rb");
    ASSERT_NE(file, nullptr);
    AccessUnitSplitter splitter;
    splitter.begin(file);
    AccessUnit au;
    uint64_t pictures = 0;
    uint64_t bits = 0;
    while (splitter.next(au) == 1) {
      pictures += au.has_picture ? 1 : 0;
      bits += au.nal_bits;
    }
    std::fclose(file);
    EXPECT_EQ(pictures, row.pictures);
    // Every byte after the first start code belongs to an access unit.
    if (pictures > 0) {
      EXPECT_LE(row.bytes * 8 - bits, 32u);
    }
    ++streams;
  }
  EXPECT_GE(streams, 14);
}

}  // namespace
}  // namespace tarnwell
