// Activation for each slice: the five messages in their order, the empty
// records that stand in for missing sets, and ids beyond the tables.
#include <gtest/gtest.h>

#include "paramsets_fixture.h"

namespace tarnwell::test {
namespace {

using ActivationTest = ParamSetsTest;

const char* const kInvalidPps =
    "Trying to use an invalid (uninitialized) Picture Parameter Set with ID %d, expect the unexpected...\n";
const char* const kInvalidSps =
    "PicParset %d references an invalid (uninitialized) Sequence Parameter Set with ID %d, expect the "
    "unexpected...\n";

std::string format(const char* format, int a, int b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

TEST_F(ActivationTest, ValidSetsActivateSilentlySwitchingPpsKeepsTheSpsAndResetClearsOnlyTheSps) {
  process_sps(baseline_sps(2));
  process_pps(simple_pps({.pic_parameter_set_id = 7, .seq_parameter_set_id = 2}));
  process_pps(simple_pps({.pic_parameter_set_id = 1, .seq_parameter_set_id = 2}));
  sets.use_parameter_sets(7);
  sets.use_parameter_sets(7);
  EXPECT_EQ(sets.active_pps(), &pps_slot(7));
  sets.use_parameter_sets(1);
  EXPECT_EQ(sets.active_sps(), &sps_slot(2));
  EXPECT_EQ(sets.active_pps(), &pps_slot(1));
  EXPECT_TRUE(messages().empty());
  sets.clear_active_sps();
  EXPECT_EQ(sets.active_sps(), nullptr);
  EXPECT_EQ(sets.active_pps(), &pps_slot(1));
}

TEST_F(ActivationTest, MissingPpsReportsBothSetsAndActivatesTheEmptySlots) {
  sets.use_parameter_sets(5);
  EXPECT_EQ(messages(), (std::vector<std::string>{format(kInvalidPps, 5), format(kInvalidSps, 5, 0)}));
  EXPECT_EQ(sets.active_pps(), &pps_slot(5));
  EXPECT_EQ(sets.active_sps(), &sps_slot(0));
  EXPECT_EQ(sets.active_sps()->valid, 0u);

  // Every slice reports again.
  sets.use_parameter_sets(5);
  EXPECT_EQ(messages().size(), 4u);
}

TEST_F(ActivationTest, PpsNamingAMissingSpsGivesOnlyTheSecondMessage) {
  process_pps(simple_pps({.pic_parameter_set_id = 1, .seq_parameter_set_id = 9}));
  sets.use_parameter_sets(1);
  EXPECT_EQ(messages(), std::vector<std::string>{format(kInvalidSps, 1, 9)});
  EXPECT_EQ(sets.active_sps(), &sps_slot(9));
}

TEST_F(ActivationTest, CycleOf256FramesIsTooLargeAnd255IsNot) {
  for (uint32_t cycle : {255u, 256u}) {
    dialog.clear_calls();
    BitWriter w;
    sps_head(w, 77, 30, 0).ue(0).ue(1).u1(0).se(0).se(0).ue(cycle);
    for (uint32_t i = 0; i < cycle; ++i) w.se(1);
    w.ue(1).u1(0).ue(1).ue(1).u1(1).u1(1).u1(0).u1(0).trailing_bits();
    process_sps(w);
    process_pps(simple_pps());
    sets.use_parameter_sets(0);
    EXPECT_EQ(messages(), cycle == 256 ? std::vector<std::string>{"num_ref_frames_in_pic_order_cnt_cycle too large"}
                                       : std::vector<std::string>{});
  }
}

TEST_F(ActivationTest, MissingPpsComesBeforeTheSpsPictureOrderMessages) {
  BitWriter type3;
  sps_head(type3, 66, 30, 0).ue(0).ue(3).ue(1).u1(0).ue(1).ue(1).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  process_sps(type3);
  sets.use_parameter_sets(3);
  // The empty slot names SPS 0, which is stored: no second message here,
  // then the two for a type above 2, in a row.
  EXPECT_EQ(messages(), (std::vector<std::string>{format(kInvalidPps, 3), "invalid sps->pic_order_cnt_type = 3\n",
                                                  "pic_order_cnt_type != 1"}));
}

TEST_F(ActivationTest, PpsIdBeyondTheTableActivatesAnEmptyRecord) {
  sets.use_parameter_sets(4000);
  EXPECT_EQ(messages(), (std::vector<std::string>{format(kInvalidPps, 4000), format(kInvalidSps, 4000, 0)}));
  ASSERT_NE(sets.active_pps(), nullptr);
  EXPECT_EQ(sets.active_pps()->valid, 0u);
  EXPECT_EQ(sets.active_pps()->bottom_field_pic_order_in_frame_present_flag, 0u);
  EXPECT_EQ(sets.active_sps(), &sps_slot(0));

  // A valid PPS 0 arriving later is not mistaken for it.
  process_pps(simple_pps());
  EXPECT_NE(sets.active_pps(), nullptr);
}

TEST_F(ActivationTest, SpsIdBeyondTheTableActivatesAnEmptyRecord) {
  process_pps(simple_pps({.pic_parameter_set_id = 6, .seq_parameter_set_id = 40}));
  sets.use_parameter_sets(6);
  EXPECT_EQ(messages(), std::vector<std::string>{format(kInvalidSps, 6, 40)});
  ASSERT_NE(sets.active_sps(), nullptr);
  EXPECT_EQ(sets.active_sps()->valid, 0u);
  EXPECT_EQ(sets.active_sps()->vui_parameters_present_flag, 0u);
  for (const SeqParamSet& slot : sets.sps_table()) EXPECT_NE(sets.active_sps(), &slot);
}

}  // namespace
}  // namespace tarnwell::test
