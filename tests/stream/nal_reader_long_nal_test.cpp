// A NAL unit longer than the NAL buffer: its first part stays in the buffer
// for the parsers, its whole size still reaches the counters.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/error_reporter.h"
#include "reference_reader.h"
#include "stream/nal_reader.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(NalReaderLongNalUnit, TwentyMegabyteNalUnitKeepsItsFirstPartAndCountsItsWholeSize) {
  // Coded-looking bytes with a zero pair every few kilobytes, escaped as an
  // encoder escapes them.
  std::mt19937 random(5);
  Bytes rbsp(20'000'000);
  for (uint8_t& b : rbsp) b = static_cast<uint8_t>(random());
  for (std::size_t at = 1000; at + 3 < rbsp.size(); at += 1000 + random() % 5000) {
    rbsp[at] = 0x00;
    rbsp[at + 1] = 0x00;
    rbsp[at + 2] = static_cast<uint8_t>(random() % 4);
  }
  Bytes payload = test::add_emulation_prevention(rbsp);
  // An escape whose zero bytes straddle the end of the NAL buffer: buffer
  // index 7,999,999 is the last one kept, payload index p is buffer index p + 4.
  const std::size_t cut = kNalBufferBytes - 4;
  const Bytes across{0x5A, 0x5A, 0x00, 0x00, 0x03, 0x01, 0x5A, 0x5A};
  std::memcpy(payload.data() + cut - 3, across.data(), across.size());
  Bytes whole_rbsp = payload;
  const int64_t rbsp_length = test::reference_remove_emulation_prevention(
      whole_rbsp.data(), static_cast<int64_t>(whole_rbsp.size()), 0);

  test::StreamBuilder stream;
  stream.raw({0x00, 0x00, 0x00, 0x01, 0x65}).raw(payload).nal(2, 1, Bytes{0x9A, 0x80}, 3);
  test::TempStreamFile file(stream);
  test::RecordingDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter);
  reader.begin_stream(file.file());
  NalUnit nal;

  ASSERT_EQ(reader.GetAnnexbNALU(nal), 1);
  EXPECT_EQ(nal.nal_unit_type, 5);
  EXPECT_EQ(nal.length, static_cast<int32_t>(kNalBufferBytes));
  EXPECT_EQ(nal.readable, static_cast<int32_t>(kNalBufferBytes));
  EXPECT_EQ(nal.dropped_bytes, 4 + payload.size() - kNalBufferBytes);
  EXPECT_EQ(std::memcmp(nal.bytes + 4, payload.data(), cut), 0);

  reader.prepare(nal);
  EXPECT_EQ(nal.bytes[0], 0x65);
  EXPECT_EQ(nal.length + static_cast<int64_t>(nal.dropped_bytes), 1 + rbsp_length);
  ASSERT_GT(nal.length, 1);
  EXPECT_EQ(std::memcmp(nal.bytes + 1, whole_rbsp.data(), static_cast<std::size_t>(nal.length - 1)), 0);

  // The NAL unit after it comes out whole.
  ASSERT_EQ(reader.GetAnnexbNALU(nal), 1);
  reader.prepare(nal);
  EXPECT_EQ(nal.nal_unit_type, 1);
  EXPECT_EQ(nal.length, 3);
  EXPECT_EQ(nal.dropped_bytes, 0u);
  EXPECT_EQ(reader.GetAnnexbNALU(nal), 0);
  EXPECT_TRUE(dialog.boxes().empty());
}

TEST(NalReaderLongNalUnit, EscapesBeyondTheBufferAreCountedWhereverTheCutFalls) {
  // The NAL unit's size does not depend on where the buffer ends.
  const Bytes rbsp{0x11, 0x00, 0x00, 0x01, 0x22, 0x00, 0x00, 0x00, 0x33, 0x00, 0x00, 0x02,
                   0x00, 0x00, 0x03, 0x44, 0x00, 0x00, 0x00, 0x00, 0x03, 0x55, 0x80};
  test::StreamBuilder stream;
  for (int i = 0; i < 3; ++i) stream.nal(3, 5, rbsp, 4);
  stream.nal(3, 5, rbsp, 3);
  test::TempStreamFile file(stream);
  for (uint32_t nal_buffer = 16; nal_buffer < 48; ++nal_buffer) {
    SCOPED_TRACE(nal_buffer);
    std::rewind(file.file());
    test::RecordingDialog dialog;
    ErrorReporter reporter(dialog);
    NalReader reader(reporter, 7, nal_buffer);
    reader.begin_stream(file.file());
    NalUnit nal;
    for (std::size_t i = 0; i < stream.nal_sizes().size(); ++i) {
      ASSERT_EQ(reader.GetAnnexbNALU(nal), 1);
      reader.prepare(nal);
      EXPECT_EQ(nal.length + nal.dropped_bytes, stream.nal_sizes()[i]);
    }
    EXPECT_EQ(reader.GetAnnexbNALU(nal), 0);
  }
}

}  // namespace
}  // namespace tarnwell
