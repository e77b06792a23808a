// SEI NAL units: the walk over the messages (0xFF runs, the 0x80 stop, a
// payload that reaches the last byte), the warning line without an active
// SPS, and the picture timing fields sized by the active SPS's HRD blocks.
#include <gtest/gtest.h>

#include "paramsets/sei_message.h"
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
    bool vui = true;
  };

  // Stores and activates an SPS whose VUI sizes the picture timing fields:
  // the NAL block's delays take 24 + 5 bits, the VCL block's 10 + 5.
  void activate(const Timing& t) {
    const std::vector<HrdEntry> one = {{1, 1, 0}};
    const std::vector<HrdEntry> none;
    process_sps(t.vui ? sps_with_hrd(t.nal_hrd ? one : none, t.vcl_hrd ? one : none, 0, t.pic_struct_present_flag)
                      : baseline_sps());
    process_pps(simple_pps());
    sets.use_parameter_sets(0);
    ASSERT_EQ(sets.active_sps(), &sps_slot(0));
  }

  // One picture timing message of the payload's bits, then the stop byte.
  void send_pic_timing(BitWriter& payload) {
    payload.align_zero();
    std::vector<uint8_t> rbsp = {0x01, static_cast<uint8_t>(payload.data().size())};
    rbsp.insert(rbsp.end(), payload.data().begin(), payload.data().end());
    rbsp.push_back(0x80);
    process_sei(rbsp);
  }
  // `delay_bits` zero bits, then pic_struct.
  void send_pic_timing(int delay_bits, uint32_t pic_struct) {
    BitWriter payload;
    send_pic_timing(payload.u(delay_bits, 0).u(4, pic_struct).u(16, 0));
  }

  TempFile stderr_file;
};

// Without an active SPS a picture timing message writes the warning line,
// which shows whether the walk over the messages reached it.
TEST_F(SeiTest, WalkOverTheMessagesReachesPictureTimingOnlyWhenItShould) {
  using Bytes = std::vector<uint8_t>;
  std::vector<uint8_t> ff_type_and_size = {0xFF, 0x01, 0xFF, 0x00};  // payloadType 256, payloadSize 255
  ff_type_and_size.insert(ff_type_and_size.end(), 255, 0x01);
  ff_type_and_size.insert(ff_type_and_size.end(), {0x01, 0x01, 0x00, 0x80});
  const struct {
    const char* name;
    Bytes rbsp;
    bool warns;
  } cases[] = {
      {"picture timing", {0x01, 0x01, 0x90, 0x80}, true},
      {"other types walked over unread", {0x00, 0x02, 0x01, 0x01, 0x05, 0x01, 0xFF, 0x80}, false},
      {"recovery point, then timing", {0x06, 0x01, 0x84, 0x01, 0x01, 0x00, 0x80}, true},
      {"0xFF bytes of type and size add 255 each", ff_type_and_size, true},
      {"payload ending at the last byte", {0x01, 0x01, 0x00}, false},
      {"no stop byte after a payload", {0x00, 0x01, 0xAA, 0x01, 0x01, 0xBB, 0x80}, true},
      {"empty", {}, false},
      {"ends inside the type", {0xFF}, false},
      {"ends inside the type, two bytes", {0xFF, 0xFF}, false},
      {"ends inside the size", {0x01, 0xFF, 0xFF}, false},
  };
  std::string expected;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    process_sei(c.rbsp);
    if (c.warns) expected += kNoActiveSps;
    EXPECT_EQ(stderr_file.text(), expected);
  }
  EXPECT_TRUE(messages().empty());
  // The warning line can be silenced.
  reporter.set_stderr_enabled(false);
  process_sei({0x01, 0x01, 0x90, 0x80});
  EXPECT_EQ(stderr_file.text(), expected);
}

// The payload types one walk finds, in each dialect.
std::vector<uint32_t> walked_types(const std::vector<uint8_t>& rbsp, SyntaxDialect dialect) {
  std::vector<uint32_t> types;
  int32_t index = 0;
  for (SeiMessage m; next_sei_message(rbsp.data(), static_cast<int32_t>(rbsp.size()), index, m, dialect);) {
    types.push_back(m.payload_type);
  }
  return types;
}

TEST(SeiWalk, TheCheckAndTheStandardPartAtTheLastByteAndAtAStopByteInside) {
  using Types = std::vector<uint32_t>;
  const struct {
    const char* name;
    std::vector<uint8_t> rbsp;
    Types check, standard;
  } cases[] = {
      {"two messages, then the stop byte", {0x00, 0x01, 0xAA, 0x06, 0x01, 0xBB, 0x80}, Types{0, 6}, Types{0, 6}},
      {"payload taking the last byte", {0x01, 0x01, 0x00}, Types{}, Types{1}},
      {"0x80 after a payload, not last", {0x00, 0x01, 0xAA, 0x80, 0x01, 0x01, 0xBB, 0x80}, Types{0}, Types{0, 128}},
      {"0x80 first, not last", {0x80, 0x01, 0xAA, 0x80}, Types{128}, Types{128}},
      {"payload beyond the data", {0x05, 0x09, 0x01}, Types{}, Types{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(walked_types(c.rbsp, SyntaxDialect::kCheck), c.check);
    EXPECT_EQ(walked_types(c.rbsp, SyntaxDialect::kStandard), c.standard);
  }
}

TEST_F(SeiTest, ReservedPicStructIsReported) {
  activate({});
  for (uint32_t pic_struct = 0; pic_struct < 16; ++pic_struct) {
    dialog.clear_calls();
    send_pic_timing(0, pic_struct);
    EXPECT_EQ(messages().size(), pic_struct > 8 ? 1u : 0u) << pic_struct;
  }
  EXPECT_EQ(messages(), std::vector<std::string>{kReservedPicStruct});
  EXPECT_EQ(stderr_file.text(), "");
}

// pic_struct 9 is reserved: it is reported only when the delays took
// exactly the bits the active SPS gives them.
TEST_F(SeiTest, DelayLengthsComeFromTheNalBlockFirstThenTheVclBlock) {
  const struct {
    const char* name;
    Timing timing;
    int delay_bits;
    bool reported;
  } cases[] = {
      {"NAL lengths", {.nal_hrd = true, .vcl_hrd = true}, 24 + 5, true},
      {"VCL lengths with both blocks: read as pic_struct 0", {.nal_hrd = true, .vcl_hrd = true}, 10 + 5, false},
      {"VCL block only", {.vcl_hrd = true}, 10 + 5, true},
      {"no pic_struct: only the delays", {.nal_hrd = true, .pic_struct_present_flag = 0}, 24 + 5, false},
      {"no VUI: nothing read", {.vui = false}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    activate(c.timing);
    dialog.clear_calls();
    send_pic_timing(c.delay_bits, 9);
    EXPECT_EQ(messages(), c.reported ? std::vector<std::string>{kReservedPicStruct} : std::vector<std::string>{});
  }
  EXPECT_EQ(stderr_file.text(), "");
}

TEST_F(SeiTest, ClockTimestampsRunOffTheEndOfAShortPayloadQuietly) {
  for (bool hrd : {false, true}) {
    activate({.nal_hrd = hrd, .vcl_hrd = hrd});
    for (uint32_t pic_struct : {5u, 7u, 8u}) {
      // Full timestamps, then partial ones with every flag set.
      BitWriter payload;
      if (hrd) payload.u(24 + 5, 0);
      payload.u(4, pic_struct);
      payload.u1(1).u(2, 0).u1(0).u(5, 0).u1(1).u1(0).u1(0).u(8, 3).u(6, 1).u(6, 2).u(5, 3).u(24, 7);
      payload.u1(1).u(2, 0).u1(0).u(5, 0).u1(0).u1(0).u1(0).u(8, 3).u1(1).u(6, 1).u1(1).u(6, 2).u1(1).u(5, 3);
      send_pic_timing(payload);
    }
  }
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace tarnwell::test
