// The PCR of an adaptation field and the AVC timing and HRD descriptor of a
// program map section, from hand-built bytes.
#include "stream/ts_packet_fields.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace tarnwell {
namespace {

TEST(TsPacketFieldsTest, PcrIsBaseTimes300PlusExtension) {
  std::array<uint8_t, 188> packet{};
  packet[0] = 0x47;
  packet[3] = 0x30;  // adaptation field and payload
  packet[4] = 7;
  packet[5] = 0x90;  // discontinuity_indicator, PCR_flag
  // base 0x1'2345'6789 (33 bits), 6 reserved bits, extension 0x155
  const uint64_t base = 0x123456789ull;
  packet[6] = static_cast<uint8_t>(base >> 25);
  packet[7] = static_cast<uint8_t>(base >> 17);
  packet[8] = static_cast<uint8_t>(base >> 9);
  packet[9] = static_cast<uint8_t>(base >> 1);
  packet[10] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | 0x01);
  packet[11] = 0x55;
  const TsPcr pcr = read_pcr(packet.data());
  EXPECT_TRUE(pcr.present);
  EXPECT_TRUE(pcr.discontinuity);
  EXPECT_EQ(pcr.value, base * 300 + 0x155);

  packet[5] = 0x00;  // no PCR_flag
  EXPECT_FALSE(read_pcr(packet.data()).present);
  packet[3] = 0x10;  // payload only
  EXPECT_FALSE(read_pcr(packet.data()).present);
}

TEST(TsPacketFieldsTest, HrdManagementFlagOfTheStreamsDescriptor) {
  // PMT: program 1, PCR PID 256; PID 257 with another descriptor, PID 256
  // with an AVC timing and HRD descriptor whose first bit is set.
  std::vector<uint8_t> s = {0x02, 0xB0, 0x00, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00,
                            0x0F, 0xE1, 0x01, 0xF0, 0x03, 0x0A, 0x01, 0x00, 0x1B, 0xE1, 0x00, 0xF0,
                            0x04, 0x2A, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00};  // CRC_32, not checked here
  s[2] = static_cast<uint8_t>(s.size() - 3);
  EXPECT_EQ(avc_hrd_management_flag(s.data(), s.size(), 256), 1);
  EXPECT_EQ(avc_hrd_management_flag(s.data(), s.size(), 257), -1);
  EXPECT_EQ(avc_hrd_management_flag(s.data(), s.size(), 300), -1);
  s[27] = 0x7F;
  EXPECT_EQ(avc_hrd_management_flag(s.data(), s.size(), 256), 0);
  EXPECT_EQ(avc_hrd_management_flag(s.data(), 10, 256), -1);  // cut short
}

}  // namespace
}  // namespace tarnwell
