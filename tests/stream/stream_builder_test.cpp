// The test support that later tests build their streams with: what it
// writes must be what the reader and the bit reader take back.
#include "support/stream_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "app/error_reporter.h"
#include "stream/bit_reader.h"
#include "stream/nal_reader.h"
#include "support/bit_writer.h"
#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;
using test::add_emulation_prevention;
using test::BitWriter;
using test::StreamBuilder;

TEST(BitWriter, WritesTheCodesOfTheStandard) {
  EXPECT_EQ(BitWriter().ue(0).align_zero().data(), Bytes{0x80});
  EXPECT_EQ(BitWriter().ue(4).align_zero().data(), Bytes{0x28});
  EXPECT_EQ(BitWriter().se(-1).align_zero().data(), Bytes{0x60});
  EXPECT_EQ(BitWriter().se(2).align_zero().data(), Bytes{0x20});
  EXPECT_EQ(BitWriter().u(3, 5).trailing_bits().data(), Bytes{0xB0});
  EXPECT_EQ(BitWriter().u(8, 0x12).trailing_bits().data(), Bytes({0x12, 0x80}));
  BitWriter writer;
  writer.u(4, 0xA).u1(1).u(3, 0).bytes({0x01, 0x02});
  EXPECT_EQ(writer.data(), Bytes({0xA8, 0x01, 0x02}));
  EXPECT_EQ(writer.bit_count(), 24);
}

TEST(StreamBuilder, EscapesEveryZeroPairFollowedByASmallByte) {
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x00}), Bytes({0x00, 0x00, 0x03, 0x00}));
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x01, 0x00, 0x00, 0x02}),
            Bytes({0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x02}));
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x04}), Bytes({0x00, 0x00, 0x04}));
  EXPECT_EQ(add_emulation_prevention({0x80, 0x00, 0x00}), Bytes({0x80, 0x00, 0x00, 0x03}));
}

TEST(StreamBuilder, EscapedPayloadsComeBackThroughEmulationPreventionRemoval) {
  std::mt19937 random(8);
  for (int round = 0; round < 2000; ++round) {
    Bytes rbsp(random() % 40);
    for (uint8_t& b : rbsp) b = static_cast<uint8_t>(random() % 2 ? 0 : random() % 5);
    if (rbsp.size() >= 2 && rbsp[rbsp.size() - 1] == 0 && rbsp[rbsp.size() - 2] != 0) rbsp.back() = 0x80;
    Bytes nal{0x65};
    Bytes payload = add_emulation_prevention(rbsp);
    nal.insert(nal.end(), payload.begin(), payload.end());
    const int32_t end = remove_emulation_prevention(nal.data(), static_cast<int32_t>(nal.size()), 1);
    ASSERT_EQ(Bytes(nal.begin() + 1, nal.begin() + end), rbsp) << "round " << round;
  }
}

TEST(StreamBuilder, JoinsNalUnitsWithThreeOrFourByteStartCodes) {
  StreamBuilder stream;
  stream.nal(3, 7, Bytes{0x42}, 3).nal(0, 6, Bytes{0x05}).nal_with_header(0x85, Bytes{0x00, 0x00, 0x01}, 3);
  EXPECT_EQ(stream.bytes(), Bytes({0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x00, 0x00, 0x01,
                                   0x85, 0x00, 0x00, 0x03, 0x01}));
  EXPECT_EQ(stream.nal_sizes(), std::vector<uint32_t>({2, 2, 4}));
}

TEST(StreamBuilder, ReaderDeliversWhatTheBuilderWrote) {
  BitWriter sps;
  sps.u(8, 66).u(8, 0).u(8, 30).ue(0).ue(0).ue(0).ue(0).ue(1).u1(0).ue(19).ue(14).u1(1).u1(0).u1(0).u1(0).trailing_bits();
  BitWriter slice;
  slice.ue(0).ue(7).ue(0).u(4, 0).ue(0).trailing_bits();
  StreamBuilder stream;
  stream.raw({0x00}).nal(3, 7, sps).nal(3, 8, BitWriter().ue(0).ue(0).u1(0).trailing_bits(), 3).nal(3, 5, slice);
  stream.nal(0, 12, Bytes(300, 0x00)).raw({0x00, 0x00});
  test::TempStreamFile file(stream);
  test::RecordingDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter, 64, 1024);
  reader.begin_stream(file.file());
  NalUnit nal;
  const int types[] = {7, 8, 5, 12};
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(reader.GetAnnexbNALU(nal), 1);
    EXPECT_EQ(nal.nal_unit_type, types[i]);
    reader.prepare(nal);
    // The filler's zeros are followed by the two zero bytes at the end of the
    // file, which stay with it.
    EXPECT_EQ(static_cast<uint32_t>(nal.length), stream.nal_sizes()[i] + (i == 3 ? 2 : 0));
  }
  EXPECT_EQ(reader.GetAnnexbNALU(nal), 0);
}

TEST(StreamBuilder, SliceHeaderFieldsReadBackThroughTheNalBuffer) {
  BitWriter slice;
  slice.ue(0).ue(7).ue(3).u(4, 9).u1(1).u1(0).ue(300).se(-12).trailing_bits();
  StreamBuilder stream;
  stream.nal(2, 1, slice);
  test::TempStreamFile file(stream);
  test::RecordingDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter);
  reader.begin_stream(file.file());
  NalUnit nal;
  ASSERT_EQ(reader.GetAnnexbNALU(nal), 1);
  reader.prepare(nal);
  BitReader bits = make_bit_reader(nal.bytes + 1, rbsp_data_length(nal.bytes + 1, nal.length - 1), nal.readable - 1);
  EXPECT_EQ(read_ue("SH: first_mb_in_slice", bits), 0);
  EXPECT_EQ(read_ue("SH: slice_type", bits), 7);
  EXPECT_EQ(read_ue("SH: pic_parameter_set_id", bits), 3);
  EXPECT_EQ(read_u(4, "SH: frame_num", bits), 9);
  EXPECT_EQ(read_u1("SH: field_pic_flag", bits), 1);
  EXPECT_EQ(read_u1("SH: bottom_field_flag", bits), 0);
  EXPECT_EQ(read_ue("SH: idr_pic_id", bits), 300);
  EXPECT_EQ(read_se("SH: delta_pic_order_cnt_bottom", bits), -12);
  EXPECT_EQ(more_rbsp_data(bits), 0);
}

}  // namespace
}  // namespace tarnwell
