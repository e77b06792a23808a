// Picture parameter sets: every slice group map type, the extension that
// more_rbsp_data admits, storage and the slice_group_id buffer's ownership,
// the active PPS when a PPS is re-sent, and counts beyond the capacities.
#include <gtest/gtest.h>

#include <functional>

#include "paramsets/rbsp_reader.h"
#include "paramsets_fixture.h"

namespace tarnwell::test {
namespace {

using PpsTest = ParamSetsTest;

// A PPS with slice groups: `groups` writes what follows slice_group_map_type.
// The fields after the slice groups carry pic_init_qp_minus26 = -5 so a test
// sees whether the slice groups took exactly their bits.
BitWriter grouped_pps(uint32_t id, uint32_t num_slice_groups_minus1, uint32_t map_type,
                      const std::function<void(BitWriter&)>& groups) {
  BitWriter w;
  w.ue(id).ue(0).u1(0).u1(1).ue(num_slice_groups_minus1).ue(map_type);
  groups(w);
  pps_after_slice_groups(w, {.pic_init_qp_minus26 = -5, .chroma_qp_index_offset = 3});
  w.trailing_bits();
  return w;
}

TEST_F(PpsTest, PpsWithoutExtensionCopiesTheChromaOffset) {
  process_pps(simple_pps({.pic_parameter_set_id = 4, .seq_parameter_set_id = 2, .pic_init_qp_minus26 = -5,
                          .chroma_qp_index_offset = -7}));
  const PicParamSet& pps = pps_slot(4);
  EXPECT_EQ(pps.valid, 1u);
  EXPECT_EQ(pps.seq_parameter_set_id, 2u);
  EXPECT_EQ(pps.pic_init_qp_minus26, -5);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, -7);
  EXPECT_EQ(pps.deblocking_filter_control_present_flag, 1u);
  EXPECT_NE(pps.slice_group_id, nullptr);  // the slot owns the record's buffer
  EXPECT_TRUE(messages().empty());
}

TEST_F(PpsTest, ExtensionInTheLastByteIsRead) {
  BitWriter w;
  w.ue(0).ue(0).u1(0).u1(0).ue(0);
  pps_after_slice_groups(w);
  ASSERT_EQ(w.bit_count(), 16);
  w.u1(1).u1(0).se(-2).trailing_bits();  // seven bits of extension, then the stop bit
  ASSERT_EQ(w.data().size(), 3u);
  process_pps(w);

  const PicParamSet& pps = pps_slot(0);
  EXPECT_EQ(pps.transform_8x8_mode_flag, 1u);
  EXPECT_EQ(pps.pic_scaling_matrix_present_flag, 0u);
  EXPECT_EQ(pps.chroma_qp_index_offset, 0);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, -2);
}

TEST_F(PpsTest, ExtensionWithScalingMatrixReadsEightListsWithTransform8x8) {
  BitWriter w;
  w.ue(1).ue(0).u1(1).u1(0).ue(0);
  pps_after_slice_groups(w);
  w.u1(1).u1(1);
  w.u1(1).se(-8);                                  // list 0: default
  for (int i = 1; i < 7; ++i) w.u1(0);
  w.u1(1).se(2);                                   // list 7: 10 throughout
  for (int j = 1; j < 64; ++j) w.se(0);
  w.se(4).trailing_bits();
  process_pps(w);

  const PicParamSet& pps = pps_slot(1);
  EXPECT_EQ(pps.UseDefaultScalingMatrixFlag[0], 1u);
  EXPECT_EQ(pps.pic_scaling_list_present_flag[6], 0u);
  EXPECT_EQ(pps.UseDefaultScalingMatrixFlag[7], 0u);
  EXPECT_EQ(pps.ScalingList8x8[1][63], 10);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, 4);
}

// Each map type takes exactly its own fields: pic_init_qp_minus26 after them is in place.
TEST_F(PpsTest, MapTypes0To5AndAbove6ReadTheirOwnFields) {
  process_pps(grouped_pps(0, 2, 0, [](BitWriter& w) { w.ue(4).ue(5).ue(6); }));
  EXPECT_EQ(pps_slot(0).run_length_minus1[2], 6u);
  EXPECT_EQ(pps_slot(0).second_chroma_qp_index_offset, 3);
  EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5);

  // Type 2: a rectangle for all but the last group.
  process_pps(grouped_pps(0, 2, 2, [](BitWriter& w) { w.ue(1).ue(2).ue(3).ue(4); }));
  EXPECT_EQ(pps_slot(0).top_left[1], 3u);
  EXPECT_EQ(pps_slot(0).bottom_right[1], 4u);
  EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5);

  for (uint32_t type : {3u, 4u, 5u}) {
    process_pps(grouped_pps(0, 1, type, [](BitWriter& w) { w.u1(1).ue(17); }));
    EXPECT_EQ(pps_slot(0).slice_group_change_direction_flag, 1u);
    EXPECT_EQ(pps_slot(0).slice_group_change_rate_minus1, 17u);
    EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5) << type;
  }
  for (uint32_t type : {1u, 7u, 40u}) {
    process_pps(grouped_pps(0, 3, type, [](BitWriter&) {}));
    EXPECT_EQ(pps_slot(0).slice_group_map_type, type);
    EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5) << type;
  }
}

TEST_F(PpsTest, MapType6IdWidthFollowsTheNumberOfSliceGroups) {
  const std::vector<std::pair<uint32_t, int>> widths = {{1, 1}, {2, 2}, {3, 2}, {4, 3}, {7, 3}};
  for (const auto& [minus1, bits] : widths) {
    process_pps(grouped_pps(0, minus1, 6, [minus1 = minus1, bits = bits](BitWriter& w) {
      w.ue(98);
      for (uint32_t i = 0; i < 99; ++i) w.u(bits, i % (minus1 + 1));
    }));
    const PicParamSet& pps = pps_slot(0);
    EXPECT_EQ(pps.pic_size_in_map_units_minus1, 98u);
    EXPECT_EQ(pps.slice_group_id[98], 98 % (minus1 + 1)) << minus1;
    EXPECT_EQ(pps.slice_group_id[5], 5 % (minus1 + 1)) << minus1;
    EXPECT_EQ(pps.pic_init_qp_minus26, -5) << minus1;
  }
}

TEST_F(PpsTest, MapUnitsBeyondTheBufferAreReadButNotKept) {
  const auto map = [](BitWriter& w) {
    w.ue(60001);  // 60002 ids
    for (uint32_t i = 0; i < 60002; ++i) w.u1(i % 3 == 0 ? 1 : 0);
  };
  process_pps(grouped_pps(0, 1, 6, map));
  const PicParamSet& pps = pps_slot(0);
  EXPECT_EQ(pps.pic_size_in_map_units_minus1, 60001u);
  EXPECT_EQ(pps.slice_group_id[59999], 59999 % 3 == 0 ? 1u : 0u);
  EXPECT_EQ(pps.pic_init_qp_minus26, -5);

  // Equal to itself when re-sent: the comparison stays within the buffer.
  process_pps(simple_pps({.pic_parameter_set_id = 1}));
  process_pps(grouped_pps(0, 1, 6, map));
  sets.use_parameter_sets(0);
  process_pps(grouped_pps(0, 1, 6, map));
  EXPECT_EQ(sets.active_pps(), &pps_slot(0));
}

TEST_F(PpsTest, SliceGroupsBeyondEightAreReadButNotKept) {
  process_pps(grouped_pps(0, 9, 0, [](BitWriter& w) {
    for (uint32_t i = 0; i < 10; ++i) w.ue(i + 20);
  }));
  EXPECT_EQ(pps_slot(0).run_length_minus1[7], 27u);
  EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5);

  process_pps(grouped_pps(0, 9, 2, [](BitWriter& w) {
    for (uint32_t i = 0; i < 9; ++i) w.ue(i).ue(i + 100);
  }));
  EXPECT_EQ(pps_slot(0).bottom_right[7], 107u);
  EXPECT_EQ(pps_slot(0).pic_init_qp_minus26, -5);
}

TEST_F(PpsTest, HugeCountsEndWithTheData) {
  for (uint32_t type : {0u, 2u, 6u}) {
    BitWriter w;
    w.ue(2).ue(0).u1(0).u1(0).ue(type == 6 ? 7 : 4294967294u).ue(type);
    if (type == 6) w.ue(4294967294u);
    w.ue(1).ue(1).trailing_bits();
    process_pps(w);
    EXPECT_EQ(pps_slot(2).valid, 1u) << type;
    EXPECT_EQ(pps_slot(2).slice_group_map_type, type);
  }
  EXPECT_EQ(pps_slot(2).pic_size_in_map_units_minus1, 4294967294u);
}

TEST_F(PpsTest, IdBeyondTheTableIsReportedAndNotStored) {
  process_pps(simple_pps({.pic_parameter_set_id = 4000, .pic_init_qp_minus26 = 9}));
  EXPECT_EQ(messages(), std::vector<std::string>{"Picture Parameter Set ID 4000 out of range (0..255), ignore PPS, moving on\n"});
  for (const PicParamSet& slot : sets.pps_table()) EXPECT_EQ(slot.valid, 0u);
}

TEST_F(PpsTest, ReplacingAStoredPpsHandsTheSlotTheNewBuffer) {
  for (uint32_t round = 0; round < 3; ++round) {
    process_pps(grouped_pps(3, 1, 6, [round](BitWriter& w) {
      w.ue(9);
      for (uint32_t i = 0; i < 10; ++i) w.u1((i + round) & 1);
    }));
    EXPECT_EQ(pps_slot(3).slice_group_id[0], round & 1);
    EXPECT_EQ(pps_slot(3).slice_group_id[1], (round + 1) & 1);
  }
}

// --- Re-sent PPS while active ---------------------------------------------

class ResentPpsTest : public ParamSetsTest {
 protected:
  void SetUp() override {
    process_sps(baseline_sps(0));
    process_pps(simple_pps({.pic_init_qp_minus26 = 2}));
    sets.use_parameter_sets(0);
    ASSERT_EQ(sets.active_pps(), &pps_slot(0));
  }
};

TEST_F(ResentPpsTest, OnlyChangesOutsideTheExtensionClearTheActivePps) {
  process_pps(simple_pps({.pic_init_qp_minus26 = 2}));
  EXPECT_EQ(sets.active_pps(), &pps_slot(0));
  process_pps(simple_pps({.pic_parameter_set_id = 1, .pic_init_qp_minus26 = 7}));
  EXPECT_EQ(sets.active_pps(), &pps_slot(0));

  BitWriter w;
  w.ue(0).ue(0).u1(0).u1(0).ue(0);
  pps_after_slice_groups(w, {.pic_init_qp_minus26 = 2});
  w.u1(1).u1(1);
  w.u1(0).u1(0).u1(1).se(-8);  // list 2: the default
  for (int i = 3; i < 8; ++i) w.u1(0);
  w.se(11).trailing_bits();
  process_pps(w);
  ASSERT_EQ(sets.active_pps(), &pps_slot(0));
  EXPECT_EQ(sets.active_pps()->second_chroma_qp_index_offset, 11);

  // Another initial QP clears it, and the next slice activates it again.
  process_pps(simple_pps({.pic_init_qp_minus26 = 3}));
  EXPECT_EQ(sets.active_pps(), nullptr);
  sets.use_parameter_sets(0);
  ASSERT_EQ(sets.active_pps(), &pps_slot(0));
  EXPECT_EQ(sets.active_pps()->pic_init_qp_minus26, 3);
  EXPECT_TRUE(messages().empty());

  // A PPS for an empty slot that is active clears it too.
  sets.use_parameter_sets(5);
  ASSERT_EQ(sets.active_pps(), &pps_slot(5));
  process_pps(simple_pps({.pic_parameter_set_id = 5}));
  EXPECT_EQ(sets.active_pps(), nullptr);
  EXPECT_EQ(pps_slot(5).valid, 1u);
}

TEST(PpsEqualTest, MapType6ComparesTheIdsUpToTheMapUnitCount) {
  PicParamSet a, b;
  for (PicParamSet* p : {&a, &b}) {
    p->valid = 1;
    p->num_slice_groups_minus1 = 1;
    p->slice_group_map_type = 6;
    p->pic_size_in_map_units_minus1 = 2;
    p->slice_group_id = std::make_unique<uint32_t[]>(kMaxSliceGroupMapUnits);
  }
  EXPECT_EQ(pps_equal(a, b), 1);

  b.slice_group_id[3] = 1;  // beyond the map units
  EXPECT_EQ(pps_equal(a, b), 1);
  b.slice_group_id[2] = 1;
  EXPECT_EQ(pps_equal(a, b), 0);

  b.slice_group_id[2] = 0;
  b.slice_group_map_type = 5;
  EXPECT_EQ(pps_equal(a, b), 0);

  b.slice_group_map_type = 6;
  b.valid = 0;
  EXPECT_EQ(pps_equal(a, b), 0);
}


// The standard reading: the ranges it checks, a set that ends early, and the
// High profile extension it leaves to the check's dialect.
TEST(PpsStandardReading, RangesTruncationAndTheExtension) {
  auto read = [](const BitWriter& w, PicParamSet& pps, SyntaxDialect dialect) {
    pps = PicParamSet{};
    BitReader reader = make_bounded_rbsp_reader(w.data().data(), static_cast<int32_t>(w.data().size()));
    return parse_pps(reader, pps, dialect);
  };
  PicParamSet pps;
  BitWriter extended;
  extended.ue(7).ue(31).u1(0).u1(1).ue(0);
  pps_after_slice_groups(extended).u1(1).u1(0).se(4).trailing_bits();
  ASSERT_EQ(parse_pps(extended.data().data(), static_cast<int32_t>(extended.data().size()), pps), ReadStatus::kOk);
  EXPECT_EQ(pps.pic_parameter_set_id, 7u);
  EXPECT_EQ(pps.seq_parameter_set_id, 31u);
  EXPECT_EQ(pps.bottom_field_pic_order_in_frame_present_flag, 1u);
  EXPECT_EQ(pps.redundant_pic_cnt_present_flag, 0u);
  EXPECT_EQ(pps.transform_8x8_mode_flag, 0u);  // the check's reading of it: ExtensionInTheLastByteIsRead

  BitWriter bad_sps_id;
  bad_sps_id.ue(0).ue(32).u1(0).u1(0).ue(0);
  pps_after_slice_groups(bad_sps_id).trailing_bits();
  EXPECT_EQ(read(bad_sps_id, pps, SyntaxDialect::kStandard), ReadStatus::kOutOfRange);
  BitWriter nine_groups;
  nine_groups.ue(0).ue(0).u1(0).u1(0).ue(8).ue(1);
  pps_after_slice_groups(nine_groups).trailing_bits();
  EXPECT_EQ(read(nine_groups, pps, SyntaxDialect::kStandard), ReadStatus::kOutOfRange);
  // Map type 6 announcing more ids than the set holds.
  BitWriter short_map;
  short_map.ue(0).ue(0).u1(0).u1(0).ue(1).ue(6).ue(4000).u(8, 0xFF).trailing_bits();
  EXPECT_EQ(read(short_map, pps, SyntaxDialect::kStandard), ReadStatus::kTruncated);
  const std::vector<uint8_t> cut(extended.data().begin(), extended.data().begin() + 2);
  EXPECT_EQ(parse_pps(cut.data(), static_cast<int32_t>(cut.size()), pps), ReadStatus::kTruncated);
}

}  // namespace
}  // namespace tarnwell::test
