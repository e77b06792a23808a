#include "stream/nal_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;
using test::StreamBuilder;
using test::TempStreamFile;
using Bytes = std::vector<uint8_t>;

const std::string kNoStartCodeBox = std::string("GetAnnexbNALU can't read start code") + kReporterQuestion;

// One reader over one file, with the dialog that its reports go to.
struct Pass {
  explicit Pass(const Bytes& bytes, uint32_t window = kReadWindowBytes, uint32_t nal_buffer = kNalBufferBytes)
      : file(bytes), reader(reporter, window, nal_buffer) {
    reader.begin_stream(file.file());
  }
  int32_t next() { return reader.GetAnnexbNALU(nal); }
  // The NAL unit as delivered, start code included.
  Bytes delivered() const { return Bytes(nal.bytes, nal.bytes + nal.length); }

  RecordingDialog dialog;
  ErrorReporter reporter{dialog};
  TempStreamFile file;
  NalReader reader;
  NalUnit nal;
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(NalReader, HeaderFieldsComeFromTheByteAfterTheStartCode) {
  Pass pass({0x00, 0x00, 0x01, 0xE5, 0x11, 0x00, 0x00, 0x01, 0x06, 0x22, 0x00, 0x00, 0x01, 0x4C, 0x33});
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.start_code_length, 3);
  EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0xE5, 0x11}));
  EXPECT_EQ(pass.nal.forbidden_zero_bit, 1);
  EXPECT_EQ(pass.nal.nal_ref_idc, 3);
  EXPECT_EQ(pass.nal.nal_unit_type, 5);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.forbidden_zero_bit, 0);
  EXPECT_EQ(pass.nal.nal_ref_idc, 0);
  EXPECT_EQ(pass.nal.nal_unit_type, 6);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.nal_ref_idc, 2);
  EXPECT_EQ(pass.nal.nal_unit_type, 12);
  EXPECT_EQ(pass.next(), 0);
  EXPECT_EQ(pass.next(), 0);
  EXPECT_TRUE(pass.dialog.boxes().empty());
}

TEST(NalReader, StartCodeRightAfterAStartCodeGivesAThreeByteNalUnitOfTypeZero) {
  Pass pass({0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x67, 0x42});
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.length, 3);
  EXPECT_EQ(pass.nal.bytes[3], 0x00);
  EXPECT_EQ(pass.nal.nal_unit_type, 0);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0x67, 0x42}));
}

TEST(NalReader, ZeroBytesBeforeAFourByteStartCodeBelongToNoNalUnit) {
  Pass pass({0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x80});
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0x09, 0xF0}));
  // The next start code's bytes are in the buffer behind the NAL unit.
  EXPECT_EQ(pass.nal.readable, 10);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.start_code_length, 3);
  EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0x06, 0x05, 0x80}));
  EXPECT_EQ(pass.nal.nal_unit_type, 6);
}

TEST(NalReader, ZeroBytesBeforeAThreeByteStartCodeAreCutToo) {
  // Two zeros before 00 00 01: the byte before the start code is zero, so
  // it counts as a 4-byte start code with one trailing zero.
  Pass pass({0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x01, 0x0C, 0xFF});
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.length, 5);
  // A zero header byte is taken for a trailing zero as well: the walk back
  // stops only at the 0x01 of the NAL unit's own start code.
  Pass zero_header({0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0C});
  ASSERT_EQ(zero_header.next(), 1);
  EXPECT_EQ(zero_header.nal.length, 3);
}

TEST(NalReader, FileEndsAfterTrailingZerosOrRightAfterAStartCode) {
  // The last NAL unit of the file keeps its trailing zero bytes.
  Pass zeros({0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00});
  ASSERT_EQ(zeros.next(), 1);
  EXPECT_EQ(zeros.nal.length, 8);
  EXPECT_EQ(zeros.reader.stream_ended(), 1);
  EXPECT_EQ(zeros.next(), 0);

  // A start code at the very end delivers no NAL unit, and leaves the last one as it was.
  Pass pass({0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01});
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.length, 5);
  EXPECT_EQ(pass.next(), 0);
  EXPECT_EQ(pass.nal.length, 5);
  EXPECT_EQ(pass.nal.nal_unit_type, 9);
  EXPECT_EQ(pass.next(), 0);

  Pass only_start_code({0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(only_start_code.next(), 0);
}

TEST(NalReader, EmptyFileAndFileWithoutStartCodeYieldNothingWithoutMessage) {
  Pass empty({});
  EXPECT_EQ(empty.reader.window_fill(), 0u);
  EXPECT_EQ(empty.next(), 0);
  EXPECT_EQ(empty.next(), 0);
  Pass junk(Bytes(5000, 0x00));
  EXPECT_EQ(junk.next(), 0);
  EXPECT_TRUE(empty.dialog.boxes().empty());
  EXPECT_TRUE(junk.dialog.boxes().empty());
}

Bytes two_nal_units() {
  return StreamBuilder().nal(0, 9, Bytes{0xF0}).nal(3, 7, Bytes{0x42, 0x00, 0x1E, 0x80}).bytes();
}

// The search for the first start code may read as many bytes as the NAL
// buffer holds, less one; the start code's last byte must be among them.
void expect_search_limit(uint32_t nal_buffer) {
  const uint32_t limit = nal_buffer - 1;
  Pass fits(concat({Bytes(limit - 4, 0xFF), two_nal_units()}), 1 << 20, nal_buffer);
  ASSERT_EQ(fits.next(), 1);
  EXPECT_EQ(fits.nal.nal_unit_type, 9);
  ASSERT_EQ(fits.next(), 1);
  EXPECT_EQ(fits.nal.nal_unit_type, 7);
  EXPECT_TRUE(fits.dialog.boxes().empty());

  // One byte more: the search reads the junk, the zero byte and the first
  // two bytes of 00 00 01, and gives up.
  Pass too_far(concat({Bytes(limit - 3, 0xFF), two_nal_units()}), 1 << 20, nal_buffer);
  NalUnit untouched = too_far.nal;
  EXPECT_EQ(too_far.next(), -1);
  EXPECT_EQ(too_far.nal.bytes, untouched.bytes);
  ASSERT_EQ(too_far.dialog.boxes().size(), 1u);
  EXPECT_EQ(too_far.dialog.boxes()[0].text, kNoStartCodeBox);
  EXPECT_EQ(too_far.dialog.boxes()[0].caption, "Warning");
  EXPECT_EQ(too_far.reader.seek_first_start_code(), 1);
  // The next search starts afresh at the 0x01 of the lost start code: the
  // first NAL unit is gone, the second is found.
  ASSERT_EQ(too_far.next(), 1);
  EXPECT_EQ(too_far.nal.nal_unit_type, 7);
  EXPECT_EQ(too_far.next(), 0);
}

// The full-size buffer's limit is 7999999 bytes.
TEST(NalReader, SearchForTheFirstStartCodeGivesUpAtTheLimit) {
  for (uint32_t nal_buffer : {64u, kNalBufferBytes}) {
    SCOPED_TRACE(nal_buffer);
    expect_search_limit(nal_buffer);
  }
}

TEST(NalReader, FailedSearchIsReportedAgainForEveryFurtherFailure) {
  Pass pass(concat({Bytes(100, 0x01), two_nal_units()}), 1 << 20, 40);
  EXPECT_EQ(pass.next(), -1);
  EXPECT_EQ(pass.next(), -1);
  // Bytes 78 .. 99 and then the start code.
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.nal_unit_type, 9);
  EXPECT_EQ(pass.dialog.boxes().size(), 2u);
}

TEST(NalReader, NewPassAfterRewindYieldsTheSameNalUnits) {
  Pass pass(two_nal_units());
  ASSERT_EQ(pass.next(), 1);
  ASSERT_EQ(pass.next(), 1);
  ASSERT_EQ(pass.next(), 0);
  // At the end of the file a new pass without rewind finds nothing.
  EXPECT_EQ(pass.reader.begin_stream(pass.file.file()), 0u);
  EXPECT_EQ(pass.next(), 0);
  std::rewind(pass.file.file());
  pass.reader.reset();
  EXPECT_EQ(pass.reader.begin_stream(pass.file.file()), two_nal_units().size());
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.nal_unit_type, 9);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.nal_unit_type, 7);
}

TEST(NalReader, ResetMakesTheNextCallSearchForAStartCode) {
  Bytes bytes = StreamBuilder().nal(0, 9, Bytes{0xF0}).nal(3, 7, Bytes{0x42}).nal(3, 8, Bytes{0xCE}).bytes();
  Pass pass(bytes);
  ASSERT_EQ(pass.next(), 1);
  pass.reader.reset();
  // The SPS's start code was consumed with the delimiter; the search skips
  // the SPS and finds the PPS.
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.nal_unit_type, 8);
}

TEST(NalReader, FileOfExactlyOneWindowEndsCleanly) {
  Bytes bytes = two_nal_units();
  Pass pass(bytes, static_cast<uint32_t>(bytes.size()), 64);
  ASSERT_EQ(pass.next(), 1);
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x80}));
  EXPECT_EQ(pass.next(), 0);
}

TEST(NalReader, StartCodeSplitOverTwoWindowBlocks) {
  Bytes bytes = two_nal_units();  // 00 00 00 01 09 F0 | 00 00 00 01 67 ...
  for (uint32_t window = 1; window <= 9; ++window) {
    SCOPED_TRACE(window);
    Pass pass(bytes, window, 16);
    ASSERT_EQ(pass.next(), 1);
    EXPECT_EQ(pass.delivered(), Bytes({0x00, 0x00, 0x01, 0x09, 0xF0}));
    ASSERT_EQ(pass.next(), 1);
    EXPECT_EQ(pass.nal.length, 8);
    EXPECT_EQ(pass.next(), 0);
  }
}

TEST(NalReader, PreparationRemovesEmulationPreventionBytesAfterTheHeader) {
  // The RBSP 00 00 01 becomes the payload 00 00 03 01 in the file.
  StreamBuilder stream;
  stream.nal(3, 5, Bytes{0x88, 0x00, 0x00, 0x01, 0x80}).nal(0, 12, Bytes{0xFF, 0xFF, 0x80});
  Pass pass(stream.bytes());
  ASSERT_EQ(pass.next(), 1);
  EXPECT_EQ(pass.nal.length, 3 + 7);
  pass.reader.prepare(pass.nal);
  EXPECT_EQ(static_cast<uint32_t>(pass.nal.length), stream.nal_sizes()[0]);
  EXPECT_EQ(pass.delivered(), Bytes({0x65, 0x88, 0x00, 0x00, 0x01, 0x80}));
  EXPECT_EQ(pass.nal.dropped_bytes, 0u);
  EXPECT_EQ(rbsp_data_length(pass.nal.bytes + 1, pass.nal.length - 1), 5);
  // A second preparation changes nothing.
  pass.reader.prepare(pass.nal);
  EXPECT_EQ(pass.delivered(), Bytes({0x65, 0x88, 0x00, 0x00, 0x01, 0x80}));
  ASSERT_EQ(pass.next(), 1);
  pass.reader.prepare(pass.nal);
  EXPECT_EQ(pass.delivered(), Bytes({0x0C, 0xFF, 0xFF, 0x80}));
}

TEST(EmulationPrevention, RemovesEscapesAfterTwoZerosOnlyFromBeginOn) {
  struct Case {
    const char* name;
    Bytes nal;
    int32_t begin;
    Bytes expected;
  };
  const Case cases[] = {
      {"escape after two zeros", {0x65, 0x00, 0x00, 0x03, 0x01}, 1, {0x65, 0x00, 0x00, 0x01}},
      {"escape as the last byte", {0x65, 0x00, 0x00, 0x03}, 1, {0x65, 0x00, 0x00}},
      {"three after three zeros", {0x65, 0x00, 0x00, 0x00, 0x03}, 1, {0x65, 0x00, 0x00, 0x00, 0x03}},
      {"zeros counted again after a removal",
       {0x65, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x03, 0x02},
       1,
       {0x65, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x02}},
      {"bytes before begin never looked at", {0x00, 0x00, 0x03, 0x00, 0x03}, 2, {0x00, 0x00, 0x03, 0x00, 0x03}},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t length = remove_emulation_prevention(c.nal.data(), static_cast<int32_t>(c.nal.size()), c.begin);
    ASSERT_EQ(length, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(Bytes(c.nal.begin(), c.nal.begin() + length), c.expected);
  }
  Bytes short_nal{0x00, 0x00, 0x03};
  EXPECT_EQ(remove_emulation_prevention(short_nal.data(), 1, 2), 1);
}

TEST(RbspDataLength, EndsAtTheLastNonZeroByte) {
  Bytes data{0x12, 0x80, 0x00, 0x00};
  EXPECT_EQ(rbsp_data_length(data.data(), 4), 2);
  EXPECT_EQ(rbsp_data_length(data.data(), 1), 1);
  EXPECT_EQ(rbsp_data_length(data.data() + 2, 2), 0);
  EXPECT_EQ(rbsp_data_length(data.data(), 0), 0);
}

}  // namespace
}  // namespace tarnwell
