// The reader looks at the stream a block at a time; the reference reads it
// one byte at a time. Both must cut every stream into the same NAL units,
// whatever the sizes of the read window and the NAL buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "reference_reader.h"
#include "stream/nal_reader.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;
using test::ReferenceNal;
using test::ReferenceReader;
using test::TempStreamFile;
using Bytes = std::vector<uint8_t>;

struct Sizes {
  uint32_t window;
  uint32_t nal_buffer;
};

void expect_same_nal_unit(NalReader& reader, NalUnit& nal, const ReferenceNal& expected, uint32_t nal_buffer) {
  const int64_t kept = std::min<int64_t>(expected.length, nal_buffer);
  const int64_t readable = std::min<int64_t>(static_cast<int64_t>(expected.buffer.size()), nal_buffer);
  ASSERT_EQ(nal.start_code_length, expected.start_code_length);
  ASSERT_EQ(nal.length, kept);
  ASSERT_EQ(nal.dropped_bytes, static_cast<uint64_t>(expected.length - kept));
  ASSERT_EQ(nal.readable, readable);
  ASSERT_EQ(nal.nal_unit_type, expected.nal_unit_type);
  ASSERT_EQ(nal.nal_ref_idc, expected.nal_ref_idc);
  ASSERT_EQ(nal.forbidden_zero_bit, expected.forbidden_zero_bit);
  ASSERT_EQ(std::memcmp(nal.bytes, expected.buffer.data(), static_cast<std::size_t>(readable)), 0);

  // Prepared, the kept part is the beginning of the whole NAL unit without
  // its emulation prevention bytes, and the dropped count makes up the rest.
  Bytes whole = expected.buffer;
  const int64_t whole_length = test::reference_remove_emulation_prevention(whole.data() + 3, expected.length - 3, 1);
  const uint8_t* start = nal.bytes;
  reader.prepare(nal);
  ASSERT_EQ(nal.bytes, start + 3);
  ASSERT_EQ(nal.length + static_cast<int64_t>(nal.dropped_bytes), whole_length);
  ASSERT_EQ(std::memcmp(nal.bytes, whole.data() + 3, static_cast<std::size_t>(nal.length)), 0);
  ASSERT_EQ(nal.readable, readable - 3);
}

// Both readers over the same bytes, pass after pass, as a run that restarts
// its search rewinds the file and begins again.
void expect_same_as_reference(const Bytes& bytes, Sizes sizes, int passes = 2) {
  SCOPED_TRACE("window " + std::to_string(sizes.window) + ", NAL buffer " + std::to_string(sizes.nal_buffer) +
               ", " + std::to_string(bytes.size()) + " bytes");
  TempStreamFile file(bytes);
  TempStreamFile reference_file(bytes);
  ASSERT_NE(file.file(), nullptr);
  ASSERT_NE(reference_file.file(), nullptr);
  RecordingDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter, sizes.window, sizes.nal_buffer);
  ASSERT_TRUE(reader.allocated());
  ReferenceReader reference(sizes.window, sizes.nal_buffer - 1);
  NalUnit nal;
  ReferenceNal expected;
  for (int pass = 0; pass < passes; ++pass) {
    std::rewind(file.file());
    std::rewind(reference_file.file());
    reader.reset();
    reference.reset();
    ASSERT_EQ(reader.begin_stream(file.file()), reference.begin_stream(reference_file.file()));
    // Every call delivers a NAL unit or reads past at least one byte.
    for (std::size_t call = 0; call <= bytes.size() + 2; ++call) {
      SCOPED_TRACE("pass " + std::to_string(pass) + ", call " + std::to_string(call));
      const int32_t result = reader.GetAnnexbNALU(nal);
      ASSERT_EQ(result, reference.GetAnnexbNALU(expected));
      ASSERT_EQ(reader.stream_ended(), reference.stream_ended());
      ASSERT_EQ(reader.seek_first_start_code(), reference.seek_first_start_code());
      if (result == 0) break;
      if (result == 1) expect_same_nal_unit(reader, nal, expected, sizes.nal_buffer);
      if (testing::Test::HasFatalFailure()) return;
    }
    ASSERT_EQ(reader.GetAnnexbNALU(nal), 0);
  }
  ASSERT_EQ(static_cast<int>(dialog.boxes().size()), reference.failed_searches());
}

// Streams made of the pieces that matter to the reader: start codes of both
// lengths, zero runs, 0x03 and 0x01 after zeros, and plain bytes between.
Bytes random_stream(std::mt19937& random, std::size_t pieces) {
  Bytes bytes;
  auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (std::size_t i = 0; i < pieces; ++i) {
    switch (pick(10)) {
      case 0: bytes.insert(bytes.end(), {0x00, 0x00, 0x01}); break;
      case 1: bytes.insert(bytes.end(), {0x00, 0x00, 0x00, 0x01}); break;
      case 2: bytes.insert(bytes.end(), pick(5) + 1, 0x00); break;
      case 3: bytes.insert(bytes.end(), {0x00, 0x00, 0x03}); break;
      case 4: bytes.push_back(static_cast<uint8_t>(pick(4))); break;
      case 5: bytes.insert(bytes.end(), {0x00, 0x00, static_cast<uint8_t>(pick(4))}); break;
      default: {
        const uint32_t n = pick(40) + 1;
        for (uint32_t k = 0; k < n; ++k) bytes.push_back(static_cast<uint8_t>(pick(256)));
      }
    }
  }
  return bytes;
}

const Sizes kSmallSizes[] = {{1, 16}, {2, 17}, {3, 19}, {5, 24}, {7, 33}, {16, 64}, {64, 16}, {61, 100}, {4096, 4096}};

TEST(NalReaderEquivalence, RandomStreams) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 300; ++round) {
    Bytes bytes = random_stream(random, 1 + random() % 60);
    const Sizes& sizes = kSmallSizes[static_cast<std::size_t>(round) % std::size(kSmallSizes)];
    expect_same_as_reference(bytes, sizes);
    if (HasFatalFailure()) return;
  }
}

TEST(NalReaderEquivalence, RandomStreamsWithLongNalUnitsAndZeroRuns) {
  std::mt19937 random(77);
  for (int round = 0; round < 60; ++round) {
    Bytes bytes = random_stream(random, 20);
    // A long stretch without start codes, with zero runs and escapes in it.
    Bytes body(2000 + random() % 3000);
    for (uint8_t& b : body) b = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random() % 256);
    for (std::size_t k = 2; k < body.size(); ++k) {
      if (body[k - 2] == 0 && body[k - 1] == 0 && body[k] == 1) body[k] = 3;
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    bytes.insert(bytes.end(), random() % 8, 0x00);
    Bytes tail = random_stream(random, 20);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    const Sizes& sizes = kSmallSizes[static_cast<std::size_t>(round) % std::size(kSmallSizes)];
    expect_same_as_reference(bytes, sizes);
    expect_same_as_reference(bytes, {sizes.window, 1000 + static_cast<uint32_t>(random() % 2000)});
    if (HasFatalFailure()) return;
  }
}

TEST(NalReaderEquivalence, NalUnitsCutAtEveryPlaceAroundTheBufferEnd) {
  // The NAL buffer ends in the middle of an escape, a start code or a run of
  // trailing zeros, at every offset.
  const Bytes patterns[] = {{0x00, 0x00, 0x03, 0x01},       {0x00, 0x00, 0x01},
                            {0x00, 0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x03},
                            {0x00, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x03, 0x00, 0x00, 0x03}};
  for (const Bytes& pattern : patterns) {
    for (uint32_t offset = 0; offset < 12; ++offset) {
      Bytes bytes{0x00, 0x00, 0x01, 0x65};
      bytes.insert(bytes.end(), 30 + offset, 0x5A);
      bytes.insert(bytes.end(), pattern.begin(), pattern.end());
      bytes.insert(bytes.end(), {0x77, 0x00, 0x00, 0x01, 0x41, 0x9A});
      expect_same_as_reference(bytes, {5, 40});
      expect_same_as_reference(bytes, {64, 40});
      if (HasFatalFailure()) return;
    }
  }
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> shared_streams() {
  std::vector<std::filesystem::path> streams;
  for (const auto& entry : std::filesystem::directory_iterator(TARNWELL_STREAMS_DIR)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".264" || ext == ".h264" || ext == ".jsv") streams.push_back(entry.path());
  }
  std::sort(streams.begin(), streams.end());
  return streams;
}

TEST(NalReaderEquivalence, SharedStreams) {
  std::vector<std::filesystem::path> streams = shared_streams();
  ASSERT_GE(streams.size(), 16u);
  for (const auto& path : streams) {
    SCOPED_TRACE(path.filename().string());
    Bytes bytes = read_file(path);
    ASSERT_FALSE(bytes.empty());
    expect_same_as_reference(bytes, {kReadWindowBytes, kNalBufferBytes}, 1);
    expect_same_as_reference(bytes, {4093, 1 << 16}, 1);
    // NAL units of coded pictures run past a buffer of this size.
    expect_same_as_reference(bytes, {997, 1500}, 1);
    if (HasFatalFailure()) return;
  }
}

TEST(NalReaderEquivalence, MutatedSharedStreams) {
  std::mt19937 random(4242);
  std::vector<std::filesystem::path> streams = shared_streams();
  for (const auto& path : streams) {
    SCOPED_TRACE(path.filename().string());
    const Bytes original = read_file(path);
    for (int round = 0; round < 6; ++round) {
      const std::size_t from = random() % (original.size() / 2);
      Bytes bytes(original.begin() + static_cast<std::ptrdiff_t>(from),
                  original.begin() + static_cast<std::ptrdiff_t>(std::min(original.size(), from + 6000)));
      for (int edit = 0; edit < 40 && !bytes.empty(); ++edit) {
        const std::size_t at = random() % bytes.size();
        switch (random() % 5) {
          case 0: bytes[at] = static_cast<uint8_t>(random() % 4); break;
          case 1: bytes[at] = static_cast<uint8_t>(random()); break;
          case 2: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), {0x00, 0x00, 0x01}); break;
          case 3: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), {0x00, 0x00, 0x03}); break;
          default: bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 1 + random() % 8)));
        }
      }
      const Sizes& sizes = kSmallSizes[static_cast<std::size_t>(round) % std::size(kSmallSizes)];
      expect_same_as_reference(bytes, sizes);
      expect_same_as_reference(bytes, {sizes.window, 700});
      if (HasFatalFailure()) return;
    }
  }
}

TEST(NalReaderEquivalence, EmulationPreventionRemovalOnRandomPayloads) {
  std::mt19937 random(99);
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes(random() % 80);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() % 3 == 0 ? random() % 256 : random() % 4 == 0 ? 3 : 0);
    const int32_t begin = static_cast<int32_t>(random() % 4);
    const int32_t end = static_cast<int32_t>(bytes.size());
    Bytes expected = bytes;
    const int64_t expected_end = test::reference_remove_emulation_prevention(expected.data(), end, begin);
    const int32_t got_end = remove_emulation_prevention(bytes.data(), end, begin);
    ASSERT_EQ(got_end, expected_end);
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + std::max(got_end, 0), expected.begin()));
  }
}

}  // namespace
}  // namespace tarnwell
