// Picture boundaries and sizes on hand-built streams.
#include "picture/picture_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture_fixture.h"

namespace tarnwell {
namespace {

using test::BitWriter;
using test::PictureRun;
using test::SliceFields;
using test::SpsOptions;
using test::StreamBuilder;
using test::TempStreamFile;

constexpr int kNonIdr = 1;
constexpr int kIdr = 5;

struct Slice {
  SliceFields fields;
  int nal_unit_type = kNonIdr;
  int nal_ref_idc = 1;
};

Slice frame(uint32_t frame_num) {
  Slice s;
  s.fields.frame_num = frame_num;
  return s;
}

Slice field(uint32_t frame_num, uint32_t bottom) {
  Slice s;
  s.fields.frame_num = frame_num;
  s.fields.field_pic_flag = 1;
  s.fields.bottom_field_flag = bottom;
  return s;
}

Slice idr(uint32_t idr_pic_id) {
  Slice s;
  s.fields.idr_pic_id = idr_pic_id;
  s.nal_unit_type = kIdr;
  s.nal_ref_idc = 3;
  return s;
}

// An SPS without VUI, one or two PPS (ids 0 and 1, both on SPS 0), then slices.
struct Streams {
  SpsOptions sps{.pic_order_cnt_type = 0, .vui = false};
  uint32_t pic_order_present_flag = 0;
  bool second_pps = false;

  StreamBuilder& parameter_sets(StreamBuilder& stream) const {
    stream.nal(3, 7, test::sps_rbsp(sps)).nal(3, 8, test::pps_rbsp(0, 0, pic_order_present_flag));
    if (second_pps) stream.nal(3, 8, test::pps_rbsp(1, 0, pic_order_present_flag));
    return stream;
  }
  StreamBuilder& slice(StreamBuilder& stream, const Slice& s) const {
    return stream.nal(s.nal_ref_idc, s.nal_unit_type,
                      test::slice_rbsp(s.fields, sps, pic_order_present_flag, s.nal_unit_type == kIdr));
  }
  StreamBuilder build(const std::vector<Slice>& slices) const {
    StreamBuilder stream;
    parameter_sets(stream);
    for (const Slice& s : slices) slice(stream, s);
    return stream;
  }
};

// Pictures a pass finds: the complete ones and the one open at the end.
size_t pictures_of(const PictureRun& run) { return run.complete.size() + 1; }

// ---------------------------------------------------------------------------
// The boundary test, one value at a time: a second slice that differs from
// the first in that value alone, against one that differs in nothing.

struct BoundaryCase {
  const char* name;
  Streams streams;
  std::vector<Slice> slices;
  size_t pictures;
};

std::vector<BoundaryCase> boundary_cases() {
  std::vector<BoundaryCase> cases;
  Streams plain;
  cases.push_back({"NothingDiffers", plain, {frame(0), frame(0)}, 1});
  cases.push_back({"FrameNum", plain, {frame(0), frame(1)}, 2});
  {
    Streams two = plain;
    two.second_pps = true;
    Slice b = frame(0);
    b.fields.pic_parameter_set_id = 1;
    cases.push_back({"PicParameterSetId", two, {frame(0), b}, 2});
  }
  {
    Streams interlaced = plain;
    interlaced.sps.frame_mbs_only_flag = 0;
    cases.push_back({"FieldPicFlag", interlaced, {frame(0), field(0, 0)}, 2});
    cases.push_back({"NothingDiffersInterlaced", interlaced, {frame(0), frame(0)}, 1});
    // The first field (top) sets the marker; the bottom field that differs
    // from it by frame_num belongs to its picture. A top field differing from
    // that bottom field in bottom_field_flag alone begins the next picture.
    cases.push_back({"BottomFieldFlag", interlaced, {field(0, 0), field(1, 1), field(1, 0)}, 2});
    cases.push_back({"NothingDiffersFields", interlaced, {field(0, 0), field(1, 1), field(1, 1)}, 1});
  }
  {
    Slice ref1 = frame(0), ref2 = frame(0), ref0 = frame(0);
    ref1.nal_ref_idc = 1;
    ref2.nal_ref_idc = 2;
    ref0.nal_ref_idc = 0;
    cases.push_back({"NalRefIdcOneToTwo", plain, {ref1, ref2}, 1});
    cases.push_back({"NalRefIdcTwoToZero", plain, {ref2, ref0}, 2});
    cases.push_back({"NalRefIdcZeroToTwo", plain, {ref0, ref2}, 2});
  }
  cases.push_back({"IdrFlag", plain, {idr(0), frame(0)}, 2});
  {
    Slice b = frame(0);
    b.fields.pic_order_cnt_lsb = 2;
    cases.push_back({"PicOrderCntLsb", plain, {frame(0), b}, 2});
    Streams present = plain;
    present.pic_order_present_flag = 1;
    Slice c = frame(0);
    c.fields.delta_pic_order_cnt_bottom = -1;
    cases.push_back({"DeltaPicOrderCntBottom", present, {frame(0), c}, 2});
    cases.push_back({"NothingDiffersWithDeltaBottom", present, {c, c}, 1});
  }
  {
    Streams type1 = plain;
    type1.sps.pic_order_cnt_type = 1;
    type1.pic_order_present_flag = 1;
    Slice b = frame(0), c = frame(0);
    b.fields.delta_pic_order_cnt[0] = 2;
    c.fields.delta_pic_order_cnt[1] = -2;
    cases.push_back({"DeltaPicOrderCnt0", type1, {frame(0), b}, 2});
    cases.push_back({"DeltaPicOrderCnt1", type1, {frame(0), c}, 2});
    cases.push_back({"NothingDiffersType1", type1, {b, b}, 1});
  }
  cases.push_back({"IdrPicId", plain, {idr(0), idr(1)}, 2});
  cases.push_back({"EqualIdrPicId", plain, {idr(4), idr(4)}, 1});
  return cases;
}

class BoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundaryTest, NewPictureExactlyWhenTheValueDiffers) {
  const BoundaryCase& c = GetParam();
  const StreamBuilder stream = c.streams.build(c.slices);
  PictureRun run;
  run.run(stream);
  EXPECT_EQ(pictures_of(run), c.pictures);
  EXPECT_TRUE(run.messages().empty());
  const size_t all = stream.nal_sizes().size();
  if (c.pictures == 2) {
    // The first picture ends before the last slice, which opens the second.
    EXPECT_EQ(run.complete.at(0), test::sum_sizes(stream, 0, all - 1));
    EXPECT_EQ(run.state.picture_bytes(), stream.nal_sizes().back());
    EXPECT_EQ(run.open_picture, stream.nal_sizes().back());
  } else {
    EXPECT_EQ(run.open_picture, test::sum_sizes(stream, 0, all));
  }
}

INSTANTIATE_TEST_SUITE_P(EachValue, BoundaryTest, ::testing::ValuesIn(boundary_cases()),
                         [](const ::testing::TestParamInfo<BoundaryCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Fields

class FieldPairing : public ::testing::Test {
 protected:
  FieldPairing() { streams.sps.frame_mbs_only_flag = 0; }
  Streams streams;
  PictureRun run;
};

TEST_F(FieldPairing, PairsAndLoneFieldsMakeOnePictureEach) {
  struct Case {
    const char* name;
    std::vector<Slice> slices;
    int marker;  // first_field_marker after the pass
  };
  const Case cases[] = {
      {"TopBottomPairs", {field(0, 0), field(0, 1), field(1, 0), field(1, 1)}, 1},
      {"BottomFirstPass", {field(0, 1), field(0, 0), field(1, 1), field(1, 0)}, 0},
      // A lone bottom field after a frame joins the frame.
      {"LoneBottomAfterFrame", {field(0, 0), field(0, 1), frame(1), field(2, 1)}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StreamBuilder stream = streams.build(c.slices);
    run.run(stream);
    ASSERT_EQ(run.complete.size(), 1u);
    EXPECT_EQ(run.complete[0], test::sum_sizes(stream, 0, 4));
    EXPECT_EQ(run.open_picture, test::sum_sizes(stream, 4, 6));
    EXPECT_EQ(run.state.first_field_marker(), c.marker);
  }
}

TEST_F(FieldPairing, MarkerTheCallerLeftIsUsedWhenNoFieldSetsIt) {
  // The probe and the HRD report do not begin a pass: at 0 (its value at
  // construction) the marker pairs bottom first, and a top field that
  // differs joins the picture before it.
  const StreamBuilder stream = streams.build({field(0, 1), field(1, 0), field(1, 1)});
  TempStreamFile file(stream);
  run.state.reset_parsing_state();
  run.state.begin_stream(file.file());
  ASSERT_EQ(run.state.first_field_marker(), 0);
  EXPECT_EQ(run.state.next_picture(), 1);
  EXPECT_EQ(run.state.previous_slice().frame_num, 0);
  EXPECT_EQ(run.state.next_picture(), 1);
  EXPECT_EQ(run.state.previous_slice().bottom_field_flag, 1);
  EXPECT_EQ(run.state.picture_bytes(), stream.nal_sizes().at(3));
  EXPECT_EQ(run.state.next_picture(), 0);
}

// ---------------------------------------------------------------------------
// Picture order messages

TEST(PictureOrder, IdrFrameNumThreeIsReportedOncePerPictureUnderType2Only) {
  for (uint32_t type : {2u, 0u}) {
    Streams streams;
    streams.sps.pic_order_cnt_type = type;
    Slice first = idr(0);
    first.fields.frame_num = 3;
    PictureRun run;
    run.run(streams.build({first, first}));
    EXPECT_EQ(run.messages(), type == 2 ? std::vector<std::string>{"frame_num not equal to zero in IDR picture"}
                                        : std::vector<std::string>{});
  }
}

TEST(PictureOrder, Type5ReportsActivationPerSliceAndUnknownTypePerPicture) {
  Streams streams;
  streams.sps.pic_order_cnt_type = 5;
  PictureRun run;
  run.run(streams.build({frame(0), frame(0), frame(1)}));
  const std::string invalid = "invalid sps->pic_order_cnt_type = 5\n";
  const std::string not1 = "pic_order_cnt_type != 1";
  const std::string unknown = "Unknown POC order count type!\n";
  const std::vector<std::string> expected = {invalid, not1, unknown, invalid, not1, invalid, not1, unknown};
  EXPECT_EQ(run.messages(), expected);
  EXPECT_EQ(pictures_of(run), 2u);
}

// ---------------------------------------------------------------------------
// What counts and where

TEST(PictureSizes, AccessUnitsWithDelimitersAndSei) {
  Streams streams;
  BitWriter aud;
  aud.u(3, 2).trailing_bits();
  BitWriter sei;
  sei.u(8, 5).u(8, 17);  // user_data_unregistered, 17 bytes
  for (int i = 0; i < 17; ++i) sei.u(8, 0x40 + static_cast<uint32_t>(i));
  sei.trailing_bits();

  StreamBuilder stream;
  stream.nal(0, 9, aud);
  streams.parameter_sets(stream);
  stream.nal(0, 6, sei);
  Slice a1 = frame(0), a2 = frame(0), b1 = frame(1), b2 = frame(1);
  a2.fields.first_mb_in_slice = 50;
  a2.fields.body_bytes = 9;
  b2.fields.first_mb_in_slice = 50;
  b2.fields.body_bytes = 20;
  streams.slice(stream, a1);
  streams.slice(stream, a2);
  stream.nal(0, 9, aud);
  stream.nal(0, 6, sei);
  streams.slice(stream, b1);
  streams.slice(stream, b2);
  const std::vector<uint32_t>& n = stream.nal_sizes();

  PictureRun run;
  TempStreamFile file(stream);
  run.start(file.file());
  ASSERT_TRUE(run.take_picture());
  EXPECT_EQ(run.complete[0], n[0] + n[1] + n[2] + n[3] + n[4] + n[5]);
  // The next picture begins with its opening slice and the delimiter and SEI
  // in front of it.
  EXPECT_EQ(run.state.picture_bytes(), n[8] + n[6] + n[7]);
  EXPECT_EQ(run.state.pending_bytes(), 0u);
  EXPECT_FALSE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), n[8] + n[6] + n[7] + n[9]);
  EXPECT_EQ(run.state.pending_bytes(), 0u);
  EXPECT_TRUE(run.messages().empty());
}

TEST(PictureSizes, FillerAfterTheLastSliceOfAPictureCountsTowardsTheNext) {
  Streams streams;
  StreamBuilder stream = streams.build({});
  streams.slice(stream, frame(0));
  stream.nal(0, 12, std::vector<uint8_t>(30, 0xFF));
  streams.slice(stream, frame(1));
  stream.nal(0, 12, std::vector<uint8_t>(7, 0xFF));
  PictureRun run;
  run.run(stream);
  const std::vector<uint32_t>& n = stream.nal_sizes();
  ASSERT_EQ(run.complete.size(), 1u);
  EXPECT_EQ(run.complete[0], n[0] + n[1] + n[2]);
  // The open picture: its slice, the filler in front of it and the filler
  // after it (still pending at the end).
  EXPECT_EQ(run.state.picture_bytes(), n[4] + n[3]);
  EXPECT_EQ(run.state.pending_bytes(), n[5]);
}

TEST(PictureSizes, SlicesBeforeAnSpsAndAPpsOfThisPassCountNowhere) {
  Streams streams;
  StreamBuilder stream;
  streams.slice(stream, frame(0));
  stream.nal(3, 7, test::sps_rbsp(streams.sps));
  streams.slice(stream, frame(1));
  stream.nal(3, 8, test::pps_rbsp(0));
  streams.slice(stream, frame(2));
  streams.slice(stream, frame(3));
  const std::vector<uint32_t>& n = stream.nal_sizes();

  PictureRun run;
  run.run(stream);
  ASSERT_EQ(run.complete.size(), 1u);
  EXPECT_EQ(run.complete[0], n[1] + n[3] + n[4]);
  EXPECT_EQ(run.open_picture, n[5]);
  EXPECT_TRUE(run.messages().empty());

  // A second pass in the same state has the stored sets, but still skips
  // the slices in front of this pass's SPS and PPS NAL units.
  run.run(stream);
  ASSERT_EQ(run.complete.size(), 1u);
  EXPECT_EQ(run.complete[0], n[1] + n[3] + n[4]);
  EXPECT_TRUE(run.messages().empty());
}

TEST(PictureSizes, ForbiddenZeroBitNalUnitIsNeitherCountedNorParsed) {
  Streams streams;
  StreamBuilder stream = streams.build({});
  streams.slice(stream, frame(0));
  // A slice that would begin a picture, and a type that would be reported.
  stream.nal_with_header(0x80 | 0x20 | kNonIdr, test::slice_rbsp(frame(5).fields, streams.sps, 0, false).data());
  stream.nal_with_header(0x80 | 0x00, {0x11, 0x80});
  streams.slice(stream, frame(0));
  const std::vector<uint32_t>& n = stream.nal_sizes();
  PictureRun run;
  run.run(stream);
  EXPECT_TRUE(run.complete.empty());
  EXPECT_EQ(run.open_picture, n[0] + n[1] + n[2] + n[5]);
  EXPECT_TRUE(run.messages().empty());
}

TEST(PictureSizes, EmulationPreventionBytesAreNotCounted) {
  Streams streams;
  StreamBuilder stream = streams.build({});
  streams.slice(stream, frame(0));
  stream.nal(0, 12, std::vector<uint8_t>{0xFF, 0x00, 0x00, 0x01, 0x80});  // written as ... 00 00 03 01 ...
  PictureRun run;
  run.run(stream);
  const std::vector<uint8_t> tail = {0x01, 0x0C, 0xFF, 0x00, 0x00, 0x03, 0x01, 0x80};
  ASSERT_TRUE(std::equal(tail.rbegin(), tail.rend(), stream.bytes().rbegin()));  // 7 bytes after the start code
  EXPECT_EQ(run.state.pending_bytes(), 6u);
}

TEST(PictureSizes, StreamOfOnePictureCompletesNone) {
  Streams streams;
  Slice second = frame(0);
  second.fields.first_mb_in_slice = 10;
  const StreamBuilder stream = streams.build({frame(0), second});
  PictureRun run;
  TempStreamFile file(stream);
  run.start(file.file());
  EXPECT_FALSE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), test::sum_sizes(stream, 0, 4));
  EXPECT_TRUE(run.state.picture_begun());
}

TEST(PictureSizes, NalUnitLongerThanTheBufferCountsWhole) {
  Streams streams;
  Slice big = frame(1);
  big.fields.body_bytes = 3 * PictureRun::kWindowBytes;
  StreamBuilder stream;
  streams.parameter_sets(stream);
  streams.slice(stream, frame(0));
  stream.nal(0, 12, std::vector<uint8_t>(2 * PictureRun::kWindowBytes, 0xFF));
  streams.slice(stream, big);
  streams.slice(stream, frame(2));
  const std::vector<uint32_t>& n = stream.nal_sizes();
  PictureRun run;
  run.run(stream);
  ASSERT_EQ(run.complete.size(), 2u);
  EXPECT_EQ(run.complete[0], n[0] + n[1] + n[2]);
  EXPECT_EQ(run.complete[1], n[3] + n[4]);
  EXPECT_EQ(run.open_picture, n[5]);
}

// Filler data of `bytes` bytes, nearly all of them beyond the NAL buffer.
NalUnit huge_filler(uint8_t (&kept)[2], uint64_t bytes) {
  kept[0] = 0x0C;
  kept[1] = 0x80;
  NalUnit nal;
  nal.bytes = kept;
  nal.length = 2;
  nal.readable = 2;
  nal.nal_unit_type = 12;
  nal.dropped_bytes = bytes - 2;
  return nal;
}

TEST(PictureSizes, CountersStopAtTheLargestValueInsteadOfWrapping) {
  Streams streams;
  uint8_t kept[2];
  const StreamBuilder stream = streams.build({frame(0), frame(0)});
  PictureRun run;
  TempStreamFile file(stream);
  run.start(file.file());
  NalUnit filler = huge_filler(kept, 0xFFFFFFF0u);
  ASSERT_EQ(run.state.process_nal_unit(filler), kNalGoOn);
  ASSERT_EQ(run.state.picture_bytes(), 0xFFFFFFF0u);
  EXPECT_FALSE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), 0xFFFFFFFFu);

  // The next picture's count, the opening slice plus the pending bytes.
  const StreamBuilder three = streams.build({frame(0), frame(1), frame(2)});
  TempStreamFile second(three);
  run.start(second.file());
  ASSERT_TRUE(run.take_picture());
  filler = huge_filler(kept, 0xFFFFFFFDu);  // the opening slice is longer than 2 bytes
  ASSERT_EQ(run.state.process_nal_unit(filler), kNalGoOn);
  ASSERT_EQ(run.state.pending_bytes(), 0xFFFFFFFDu);
  ASSERT_TRUE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------
// End of stream, data partitions, undefined types

TEST(NalUnitTypes, EndOfStreamEndsThePassAndCountsItself) {
  Streams streams;
  StreamBuilder stream = streams.build({});
  streams.slice(stream, frame(0));
  streams.slice(stream, frame(1));
  stream.nal(0, 11, std::vector<uint8_t>{});
  streams.slice(stream, frame(2));
  const std::vector<uint32_t>& n = stream.nal_sizes();

  PictureRun run;
  TempStreamFile file(stream);
  run.start(file.file());
  ASSERT_TRUE(run.take_picture());
  EXPECT_FALSE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), n[3]);
  EXPECT_EQ(run.state.pending_bytes(), n[4]);
  EXPECT_EQ(n[4], 1u);
  // The NAL units after it are still there for a further call.
  ASSERT_TRUE(run.take_picture());
  EXPECT_EQ(run.complete.back(), n[3]);
  EXPECT_EQ(run.state.picture_bytes(), n[5] + n[4]);
  EXPECT_FALSE(run.take_picture());
}

TEST(NalUnitTypes, EndOfStreamBeforeTheFirstPictureCountsIntoIt) {
  Streams streams;
  StreamBuilder stream = streams.build({});
  stream.nal(0, 11, std::vector<uint8_t>{});
  streams.slice(stream, frame(0));
  PictureRun run;
  TempStreamFile file(stream);
  run.start(file.file());
  EXPECT_FALSE(run.take_picture());
  EXPECT_EQ(run.state.picture_bytes(), test::sum_sizes(stream, 0, 3));
  EXPECT_FALSE(run.state.picture_begun());
}

TEST(NalUnitTypes, DataPartitionsAndUndefinedTypesAreReportedAndCounted) {
  Streams streams;
  StreamBuilder stream;
  stream.nal(0, 2, std::vector<uint8_t>{0x12, 0x80});
  streams.parameter_sets(stream);
  streams.slice(stream, frame(0));
  stream.nal(0, 3, std::vector<uint8_t>{0x34, 0x56, 0x80});
  stream.nal(0, 4, std::vector<uint8_t>{0x80});
  stream.nal(0, 0, std::vector<uint8_t>{0x01, 0x02, 0x03, 0x04});
  stream.nal(0, 13, std::vector<uint8_t>{0x80});
  stream.nal(2, 31, std::vector<uint8_t>(40, 0x7F));
  stream.nal(0, 10, std::vector<uint8_t>{});
  streams.slice(stream, frame(1));
  const std::vector<uint32_t>& n = stream.nal_sizes();

  PictureRun run;
  run.run(stream);
  const std::vector<std::string> expected = {
      "data partitioning not implemented\n",
      "found data partition B without matching DP A, discarding\n",
      "found data partition C without matching DP A, discarding\n",
      "Found NALU type 0, len 5 undefined, ignore NALU, moving on\n",
      "Found NALU type 13, len 2 undefined, ignore NALU, moving on\n",
      "Found NALU type 31, len 41 undefined, ignore NALU, moving on\n",
  };
  EXPECT_EQ(run.messages(), expected);
  ASSERT_EQ(run.complete.size(), 1u);
  EXPECT_EQ(run.complete[0], test::sum_sizes(stream, 0, 4));
  EXPECT_EQ(run.open_picture, test::sum_sizes(stream, 4, n.size()));
}

// ---------------------------------------------------------------------------
// The pass

TEST(Pass, JunkWithoutStartCodeIsReportedAndThePassGoesOn) {
  Streams streams;
  StreamBuilder stream;
  stream.raw(std::vector<uint8_t>(PictureRun::kWindowBytes + 100, 0x55));
  streams.parameter_sets(stream);
  streams.slice(stream, frame(0));
  streams.slice(stream, frame(1));
  PictureRun run;
  run.run(stream);
  const std::vector<std::string> expected = {"GetAnnexbNALU can't read start code",
                                             "Error while getting the Annex B NALU, exit\n"};
  EXPECT_EQ(run.messages(), expected);
  ASSERT_EQ(run.complete.size(), 1u);
  EXPECT_EQ(run.complete[0], test::sum_sizes(stream, 0, 3));
}

TEST(Pass, ResetClearsTheSliceStateButNotTheSliceHeader) {
  Streams streams;
  Slice s = frame(6);
  s.fields.pic_order_cnt_lsb = 10;
  const StreamBuilder stream = streams.build({s});
  PictureRun run;
  run.run(stream);
  EXPECT_EQ(run.state.previous_slice().frame_num, 6);

  run.state.reset_parsing_state();
  EXPECT_EQ(run.state.sps_seen, 0);
  EXPECT_EQ(run.state.pps_seen, 0);
  EXPECT_EQ(run.state.paramsets().active_sps(), nullptr);
  EXPECT_NE(run.state.paramsets().active_pps(), nullptr);
  EXPECT_EQ(run.state.previous_slice().frame_num, -1);
  EXPECT_EQ(run.state.previous_slice().delta_pic_order_cnt_bottom, -1);
  EXPECT_EQ(run.state.slice_header().pic_order_cnt_lsb, 10);
  EXPECT_EQ(run.state.nal_reader().seek_first_start_code(), 1);
}

TEST(Pass, ProbeStyleCallStopsAtTheFirstPictureWithItsSetsParsed) {
  // The probe begins no pass: to it a picture has begun before the first.
  Streams streams;
  const StreamBuilder stream = streams.build({frame(0), frame(1)});
  PictureRun run;
  TempStreamFile file(stream);
  run.state.reset_parsing_state();
  run.state.begin_stream(file.file());
  EXPECT_EQ(run.state.next_picture(), 1);
  EXPECT_EQ(run.state.paramsets().last_profile_idc(), 66u);
  EXPECT_EQ(run.state.previous_slice().frame_num, 0);
}

}  // namespace
}  // namespace tarnwell
