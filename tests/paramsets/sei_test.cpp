// SEI NAL units: the walk over the messages (0xFF runs, the 0x80 stop, a
// payload that reaches the last byte), the warning line without an active
// SPS, and the picture timing fields sized by the active SPS's HRD blocks.
#include <gtest/gtest.h>

#include "paramsets_fixture.h"

namespace tarnwell::test {
namespace {

const char kNoActiveSps[] = "Warning: no active SPS, timing SEI cannot be parsed\n";
const char kReservedPicStruct[] = "reserved picture_structure used (can't determine NumClockTs)";

class SeiTest : public ParamSetsTest {
 protected:
  void SetUp() override {
    ASSERT_NE(stderr_file.get(), nullptr);
    reporter.set_stderr_stream(stderr_file.get());
  }

  struct Timing {
    bool nal_hrd = false;
    bool vcl_hrd = false;
    uint32_t pic_struct_present_flag = 1;
    uint32_t nal_cpb_removal_delay_length_minus1 = 9;
    uint32_t nal_dpb_output_delay_length_minus1 = 4;
    uint32_t vcl_cpb_removal_delay_length_minus1 = 2;
    uint32_t vcl_dpb_output_delay_length_minus1 = 2;
    bool vui = true;
  };

  // Stores and activates an SPS whose VUI sizes the picture timing fields.
  void activate(const Timing& t) {
    BitWriter w;
    sps_head(w, 66, 30, 0);
    sps_tail(w, SpsTail{.vui_parameters_present_flag = t.vui ? 1u : 0u});
    if (t.vui) {
      w.u1(0).u1(0).u1(0).u1(0).u1(0);
      w.u1(t.nal_hrd ? 1 : 0);
      if (t.nal_hrd) {
        w.ue(0).u(4, 0).u(4, 0).ue(1).ue(1).u1(0);
        w.u(5, 23).u(5, t.nal_cpb_removal_delay_length_minus1).u(5, t.nal_dpb_output_delay_length_minus1).u(5, 24);
      }
      w.u1(t.vcl_hrd ? 1 : 0);
      if (t.vcl_hrd) {
        w.ue(0).u(4, 0).u(4, 0).ue(1).ue(1).u1(0);
        w.u(5, 23).u(5, t.vcl_cpb_removal_delay_length_minus1).u(5, t.vcl_dpb_output_delay_length_minus1).u(5, 0);
      }
      if (t.nal_hrd || t.vcl_hrd) w.u1(0);
      w.u1(t.pic_struct_present_flag).u1(0);
    }
    w.trailing_bits();
    process_sps(w);
    process_pps(simple_pps());
    sets.use_parameter_sets(0);
    ASSERT_EQ(sets.active_sps(), &sps_slot(0));
  }

  // One picture timing message: `delay_bits` zero bits, then pic_struct.
  void send_pic_timing(int delay_bits, uint32_t pic_struct) {
    BitWriter payload;
    payload.u(delay_bits, 0).u(4, pic_struct).u(8, 0).align_zero();
    std::vector<uint8_t> rbsp = {0x01, static_cast<uint8_t>(payload.data().size())};
    rbsp.insert(rbsp.end(), payload.data().begin(), payload.data().end());
    rbsp.push_back(0x80);
    process_sei(rbsp);
  }

  TempFile stderr_file;
};

TEST_F(SeiTest, PictureTimingWithoutActiveSpsWritesTheWarningLineOnly) {
  process_sei({0x01, 0x01, 0x90, 0x80});
  EXPECT_EQ(stderr_file.text(), kNoActiveSps);
  EXPECT_TRUE(messages().empty());
}

TEST_F(SeiTest, TheWarningLineCanBeSilenced) {
  reporter.set_stderr_enabled(false);
  process_sei({0x01, 0x01, 0x90, 0x80});
  EXPECT_EQ(stderr_file.text(), "");
}

TEST_F(SeiTest, OtherPayloadTypesAreWalkedOverUnread) {
  process_sei({0x00, 0x02, 0x01, 0x01, 0x05, 0x01, 0xFF, 0x80});
  process_sei({0x06, 0x01, 0x84, 0x01, 0x01, 0x00, 0x80});  // recovery point, then timing
  EXPECT_EQ(stderr_file.text(), kNoActiveSps);
  EXPECT_TRUE(messages().empty());
}

TEST_F(SeiTest, TypeAndSizeBytesOf0xFFAdd255Each) {
  // payloadType 256, payloadSize 255, then a picture timing message.
  std::vector<uint8_t> rbsp = {0xFF, 0x01, 0xFF, 0x00};
  rbsp.insert(rbsp.end(), 255, 0x01);
  rbsp.insert(rbsp.end(), {0x01, 0x01, 0x00, 0x80});
  process_sei(rbsp);
  EXPECT_EQ(stderr_file.text(), kNoActiveSps);
}

TEST_F(SeiTest, PayloadEndingAtTheLastByteIsNotRead) {
  process_sei({0x01, 0x01, 0x00});
  process_sei({0x01, 0x02, 0x00, 0x00});
  EXPECT_EQ(stderr_file.text(), "");
  process_sei({0x01, 0x01, 0x00, 0x80});
  EXPECT_EQ(stderr_file.text(), kNoActiveSps);
}

TEST_F(SeiTest, StopByteAfterAPayloadEndsTheWalk) {
  process_sei({0x00, 0x01, 0xAA, 0x80, 0x01, 0x01, 0xBB, 0x80});
  EXPECT_EQ(stderr_file.text(), "");
  process_sei({0x00, 0x01, 0xAA, 0x01, 0x01, 0xBB, 0x80});
  EXPECT_EQ(stderr_file.text(), kNoActiveSps);
}

TEST_F(SeiTest, WalkEndsQuietlyInsideTypeOrSize) {
  process_sei({});
  process_sei({0xFF});
  process_sei({0xFF, 0xFF});
  process_sei({0x01, 0xFF, 0xFF});
  process_sei({0x01, 0x10, 0x00, 0x00});
  EXPECT_EQ(stderr_file.text(), "");
  EXPECT_TRUE(messages().empty());
}

TEST_F(SeiTest, ReservedPicStructIsReported) {
  activate({});
  for (uint32_t pic_struct = 0; pic_struct < 16; ++pic_struct) {
    dialog.clear_calls();
    send_pic_timing(0, pic_struct);
    if (pic_struct > 8) {
      EXPECT_EQ(messages(), std::vector<std::string>{kReservedPicStruct}) << pic_struct;
    } else {
      EXPECT_TRUE(messages().empty()) << pic_struct;
    }
  }
  EXPECT_EQ(stderr_file.text(), "");
}

TEST_F(SeiTest, DelaysTakeTheirLengthsFromTheNalBlockFirst) {
  activate({.nal_hrd = true, .vcl_hrd = true});
  send_pic_timing(10 + 5, 9);
  EXPECT_EQ(messages(), std::vector<std::string>{kReservedPicStruct});

  dialog.clear_calls();
  send_pic_timing(3 + 3, 9);  // the VCL lengths: read as pic_struct 0
  EXPECT_TRUE(messages().empty());
}

TEST_F(SeiTest, DelaysFromTheVclBlockWhenItIsTheOnlyOne) {
  activate({.vcl_hrd = true});
  send_pic_timing(3 + 3, 12);
  EXPECT_EQ(messages(), std::vector<std::string>{kReservedPicStruct});
}

TEST_F(SeiTest, WithoutPicStructOnlyTheDelaysAreRead) {
  activate({.nal_hrd = true, .pic_struct_present_flag = 0});
  send_pic_timing(10 + 5, 9);
  EXPECT_TRUE(messages().empty());
}

TEST_F(SeiTest, ActiveSpsWithoutVuiReadsNothing) {
  activate({.vui = false});
  send_pic_timing(0, 9);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(stderr_file.text(), "");
}

TEST_F(SeiTest, ClockTimestampsRunOffTheEndOfAShortPayloadQuietly) {
  for (bool hrd : {false, true}) {
    activate({.nal_hrd = hrd, .vcl_hrd = hrd});
    for (uint32_t pic_struct : {5u, 7u, 8u}) {
      // Full timestamps, then partial ones with every flag set.
      BitWriter payload;
      if (hrd) payload.u(15, 0);
      payload.u(4, pic_struct);
      payload.u1(1).u(2, 0).u1(0).u(5, 0).u1(1).u1(0).u1(0).u(8, 3).u(6, 1).u(6, 2).u(5, 3).u(24, 7);
      payload.u1(1).u(2, 0).u1(0).u(5, 0).u1(0).u1(0).u1(0).u(8, 3).u1(1).u(6, 1).u1(1).u(6, 2).u1(1).u(5, 3);
      payload.align_zero();
      std::vector<uint8_t> rbsp = {0x01, static_cast<uint8_t>(payload.data().size())};
      rbsp.insert(rbsp.end(), payload.data().begin(), payload.data().end());
      rbsp.push_back(0x80);
      process_sei(rbsp);
    }
  }
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace tarnwell::test
