// tarnwell-cli given files nobody planned for. Each one must end in an exit
// code and a message, never a crash or a hang: every run is watched and
// killed after 30 seconds (a guard against hangs, not a speed target).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/bit_writer.h"
#include "support/h264_writers.h"
#include "support/process_runner.h"
#include "support/stream_builder.h"


namespace tarnwell {
namespace {

using test::BitWriter;
using test::pps_rbsp;
using test::SliceOptions;
using test::slice_rbsp;
using test::SpsOptions;
using test::sps_rbsp;
using test::StreamBuilder;

constexpr int kWatchdogSeconds = 30;

std::vector<uint8_t> read_stream(const char* name) {
  std::ifstream in(std::string(TARNWELL_STREAMS_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using CliRun = test::ProcessResult;

// A scratch folder for the files and the CLI's output, removed afterwards.
class Scratch {
 public:
  Scratch() {
    std::random_device device;
    folder_ = std::filesystem::temp_directory_path() / ("tarnwell-hostile-" + std::to_string(device()));
    std::filesystem::create_directories(folder_);
  }
  ~Scratch() {
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }
  CliRun cli(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{TARNWELL_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::run_and_read(argv, path("out.txt"), path("err.txt"), kWatchdogSeconds);
  }

 private:
  std::filesystem::path folder_;
};

// A check whose settings let every ordinary stream pass, so that what a
// test sees comes from the file alone.
std::vector<std::string> check_args(const std::string& file, bool json = true) {
  std::vector<std::string> args{"check", file, "--buffer-size", "100000000", "--initial-fill", "90000000",
                                "--bit-rate", "100000000", "--frame-rate", "25"};
  if (json) args.push_back("--json");
  return args;
}

std::string pass_json(uint64_t pictures) {
  return "{\"outcome\":\"pass\",\"message\":\"\",\"buffer_size\":100000000,\"initial_fill\":90000000,"
         "\"bit_rate\":100000000,\"frame_rate\":25.000,\"passes\":1,\"reads\":1,\"pictures\":" +
         std::to_string(pictures) + "}\n";
}

// The number after "pictures": in a JSON verdict; -1 without one.
int64_t pictures_of(const std::string& json) {
  const std::size_t at = json.find("\"pictures\":");
  return at == std::string::npos ? -1 : std::stoll(json.substr(at + 11));
}

// The verdict of a check that found no picture to check.
constexpr char kNoPicturesJson[] =
    "{\"outcome\":\"no_pictures\",\"message\":\"No picture was checked\",\"buffer_size\":100000000,"
    "\"initial_fill\":90000000,\"bit_rate\":100000000,\"frame_rate\":25.000,\"passes\":1,\"reads\":1,"
    "\"pictures\":0}\n";

// Bytes without a single zero, so without any start code.
std::vector<uint8_t> junk(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) {
    b = static_cast<uint8_t>(random());
    if (b == 0) b = 0x5A;
  }
  return bytes;
}

// A Baseline slice under sps_rbsp() without VUI, `body_bytes` bytes of slice
// data after its header; built bytewise, as the 20 MB one is too long for a
// bit writer.
std::vector<uint8_t> slice(bool idr, uint32_t pps_id, uint32_t frame_num, std::size_t body_bytes = 8) {
  SliceOptions options;
  options.idr = idr;
  options.pic_parameter_set_id = pps_id;
  options.frame_num = frame_num;
  options.body_bytes = 0;
  std::vector<uint8_t> bytes = slice_rbsp(options).data();
  bytes.insert(bytes.end(), body_bytes, 0xAB);
  bytes.push_back(0x80);
  return bytes;
}

BitWriter plain_sps() {
  SpsOptions options;
  options.vui = false;
  return sps_rbsp(options);
}

// --- The hostile files -------------------------------------------------------

TEST(HostileCli, EmptyFileEndsWithNoPictureChecked) {
  Scratch s;
  const std::string file = s.write("empty.264", {});
  CliRun run = s.cli(check_args(file, false));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out,
            "No picture was checked\nbuffer_size=100000000\ninitial_fill=90000000\nbit_rate=100000000\n"
            "frame_rate=25.000\n");
  EXPECT_EQ(run.err, "");
}

TEST(HostileCli, FileWithoutAStartCodeEndsWithNoPictureChecked) {
  Scratch s;
  const std::string file = s.write("junk.264", junk(1000000, 1));
  CliRun run = s.cli(check_args(file));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, kNoPicturesJson);
  EXPECT_EQ(run.err, "");
}

// The search for the first start code gives up after 7,999,999 bytes and
// starts afresh with the next byte. 7,999,998 bytes of junk leave the 4-byte
// start code's last three bytes to the fresh search: the stream is whole.
// 7,999,997 leave only 0x00 0x01 of it: the SPS goes unseen, and with it
// every slice of this stream of one SPS.
TEST(HostileCli, JunkAtTheEdgeOfTheStartCodeSearch) {
  Scratch s;
  const std::vector<uint8_t> stream = read_stream("SVA_BA2_D.264");
  ASSERT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 5), (std::vector<uint8_t>{0, 0, 0, 1, 0x67}));
  const std::string lost_message =
      "Warning: GetAnnexbNALU can't read start code\n"
      "Warning: Error while getting the Annex B NALU, exit\n";
  for (std::size_t junk_bytes : {std::size_t{7999997}, std::size_t{7999998}}) {
    SCOPED_TRACE(junk_bytes);
    std::vector<uint8_t> bytes = junk(junk_bytes, 2);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    const std::string file = s.write("junk-then-stream.264", bytes);
    CliRun run = s.cli(check_args(file));
    if (junk_bytes == 7999998) {
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.out, pass_json(16));
    } else {
      EXPECT_EQ(run.exit_code, 2);
      EXPECT_EQ(run.out, kNoPicturesJson);
    }
    EXPECT_EQ(run.err, lost_message);
  }
}

TEST(HostileCli, TwentyMegabyteNalUnitIsCountedWhole) {
  Scratch s;
  StreamBuilder stream;
  stream.nal(3, 7, plain_sps()).nal(3, 8, pps_rbsp(0, 0));
  stream.nal(3, 5, slice(true, 0, 0, 20000000));
  stream.nal(2, 1, slice(false, 0, 1)).nal(2, 1, slice(false, 0, 2));
  const std::vector<uint32_t>& sizes = stream.nal_sizes();
  const uint64_t first_picture_bits = 8ull * (sizes[0] + sizes[1] + sizes[2]);
  ASSERT_GT(first_picture_bits, 160000000u);
  const std::string file = s.write("long-nal.264", stream.bytes());

  CliRun run = s.cli({"check", file, "--bit-rate", "1000000"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "UNDERSIZED BUFFER frame size=" + std::to_string(first_picture_bits) +
                         " bits can't fit in buffer.\nIncrease your buffer size.\n"
                         "buffer_size=10000000\ninitial_fill=9000000\nbit_rate=1000000\nframe_rate=0.000\n");
  EXPECT_EQ(run.err, "");

  // With a buffer that holds it, the picture is applied and the run passes.
  CliRun roomy = s.cli({"check", file, "--buffer-size", "400000000", "--initial-fill", "400000000", "--bit-rate",
                        "400000000", "--frame-rate", "1", "--json"});
  EXPECT_EQ(roomy.exit_code, 0);
  EXPECT_NE(roomy.out.find("\"outcome\":\"pass\""), std::string::npos) << roomy.out;
  EXPECT_EQ(pictures_of(roomy.out), 2);
}

TEST(HostileCli, FileCutInTheMiddleOfANalUnitPassesWithThePicturesBeforeIt) {
  Scratch s;
  std::vector<uint8_t> stream = read_stream("SVA_BA2_D.264");
  // Half way through the file, inside a slice NAL unit (no start code near).
  const std::size_t cut = stream.size() / 2;
  for (std::size_t i = cut - 4; i < cut + 4; ++i) ASSERT_NE(stream[i], 0) << i;
  stream.resize(cut);
  const std::string file = s.write("cut.264", stream);
  CliRun run = s.cli(check_args(file));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("\"outcome\":\"pass\""), std::string::npos) << run.out;
  EXPECT_GT(pictures_of(run.out), 0);
  EXPECT_LT(pictures_of(run.out), 16);
  EXPECT_EQ(run.err, "");
}

// Every line on standard error is a warning; standard output is a verdict
// and the four values.
void expect_verdict_shape(const CliRun& run) {
  ASSERT_TRUE(run.exit_code == 0 || run.exit_code == 1) << run.exit_code << "\n" << run.out << run.err;
  const std::string first = run.out.substr(0, run.out.find('\n'));
  const char* kStarts[] = {"PASS", "UNDERFLOW frame size=", "OVERFLOW frame size=", "UNDERSIZED BUFFER frame size=",
                           "Dont' know the frame rate!", "Cannot find a workable"};
  bool known = false;
  for (const char* start : kStarts) known = known || first.rfind(start, 0) == 0;
  EXPECT_TRUE(known) << run.out;
  EXPECT_EQ(run.exit_code == 0, first == "PASS") << run.out;
  EXPECT_NE(run.out.find("\nbuffer_size="), std::string::npos) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  std::size_t at = 0;
  while (at < run.err.size()) {
    EXPECT_EQ(run.err.compare(at, 9, "Warning: "), 0) << run.err.substr(at, 200);
    const std::size_t end = run.err.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "unfinished line";
    at = end + 1;
  }
}

TEST(HostileCli, BytesFlippedAtRandomAcrossARealStream) {
  Scratch s;
  const std::vector<uint8_t> original = read_stream("x264_cbr_1000k_25fps.264");
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    std::vector<uint8_t> bytes = original;
    std::mt19937 random(seed);
    // About one byte in 2,000, each with one to eight bits flipped.
    for (std::size_t i = 0; i < bytes.size() / 2000; ++i) {
      const std::size_t at = random() % bytes.size();
      bytes[at] = static_cast<uint8_t>(bytes[at] ^ (1u + random() % 255u));
    }
    const std::string file = s.write("flipped.264", bytes);
    CliRun run = s.cli({"check", file, "--buffer-size", "1000000", "--initial-fill", "900000", "--bit-rate",
                        "1000000", "--warnings", "each"});
    expect_verdict_shape(run);
  }
}

TEST(HostileCli, DirectoryIsNoStreamAndADeviceIsAnEmptyOne) {
  Scratch s;
  std::filesystem::create_directories(s.path("folder.264"));
  CliRun folder = s.cli(check_args(s.path("folder.264"), false));
  EXPECT_EQ(folder.exit_code, 2);
  EXPECT_EQ(folder.out,
            "Cannot open input file\nbuffer_size=100000000\ninitial_fill=90000000\nbit_rate=100000000\n"
            "frame_rate=25.000\n");
  const std::string cannot_open = "tarnwell-cli: cannot open '" + s.path("folder.264") + "': it is a folder\n";
  EXPECT_EQ(folder.err, cannot_open);
  CliRun folder_info = s.cli({"info", s.path("folder.264")});
  EXPECT_EQ(folder_info.exit_code, 2);
  EXPECT_EQ(folder_info.out, "");
  EXPECT_EQ(folder_info.err, cannot_open);

#ifdef _WIN32
  const std::string device = "NUL";
#else
  const std::string device = "/dev/null";
#endif
  CliRun empty = s.cli(check_args(device));
  EXPECT_EQ(empty.exit_code, 2);
  EXPECT_EQ(empty.out, kNoPicturesJson);
  EXPECT_EQ(empty.err, "");
}

// ids and counts far past every table, each ue(v) as long as it can be
// written. num_ref_frames_in_pic_order_cnt_cycle 4294967295 has no ue(v)
// code below 32 leading zeros (the reader refuses longer ones), so the
// largest writable count, 4294967294, stands in for it.
TEST(HostileCli, IdsAndCountsFarBeyondTheTables) {
  Scratch s;
  BitWriter huge_hrd;  // SPS 0: a VUI whose NAL HRD block announces 2^32 - 1 entries
  huge_hrd.u(8, 66).u(8, 0).u(8, 30).ue(0).ue(0).ue(2).ue(1).u1(0).ue(10).ue(8).u1(1).u1(1).u1(0);
  huge_hrd.u1(1);                                // vui_parameters_present_flag
  huge_hrd.u1(0).u1(0).u1(0).u1(0).u1(0);        // aspect ratio, overscan, video signal, chroma loc, timing
  huge_hrd.u1(1).ue(4294967294u).u(4, 0).u(4, 0);  // NAL HRD: cpb_cnt_minus1, scales
  for (int i = 0; i < 3; ++i) huge_hrd.ue(1000).ue(2000).u1(1);
  huge_hrd.trailing_bits();

  BitWriter huge_counts;  // SPS 1: 4004-bit frame_num, a POC cycle of 4294967294 frames
  huge_counts.u(8, 66).u(8, 0).u(8, 30).ue(1);
  huge_counts.ue(4000).ue(1).u1(0).se(0).se(0).ue(4294967294u);
  for (int i = 0; i < 4; ++i) huge_counts.se(i);
  huge_counts.trailing_bits();

  StreamBuilder stream;
  stream.nal(3, 7, huge_hrd).nal(3, 7, huge_counts).nal(3, 8, pps_rbsp(0, 1)).nal(3, 8, pps_rbsp(1, 0));
  stream.nal(3, 5, slice(true, 4000, 0));  // a slice naming PPS 4000
  BitWriter long_frame_num;                // a slice under SPS 1: 4004 bits of frame_num
  long_frame_num.ue(0).ue(5).ue(0);
  for (int i = 0; i < 4004; ++i) long_frame_num.u1(i % 3 == 0 ? 1 : 0);
  long_frame_num.trailing_bits();
  stream.nal(2, 1, long_frame_num);
  stream.nal(2, 1, slice(false, 1, 1)).nal(2, 1, slice(false, 1, 2));
  const std::string file = s.write("beyond.264", stream.bytes());

  CliRun run = s.cli(check_args(file));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("\"outcome\":\"pass\""), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Warning: Trying to use an invalid (uninitialized) Picture Parameter Set with ID 4000, "
                         "expect the unexpected...\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Warning: num_ref_frames_in_pic_order_cnt_cycle too large\n"), std::string::npos)
      << run.err;

  CliRun info = s.cli({"info", file});
  EXPECT_EQ(info.exit_code, 0);
  EXPECT_EQ(info.out.rfind("Profile: Baseline\nLevel: 3\n---HRD INFO---\n\nNAL HRD INFO:\n\ncpb_cnt_minus1 = -2\n", 0),
            0u)
      << info.out.substr(0, 300);
  EXPECT_NE(info.out.find("bit_rate_value_minus1[2] = 1000 [64064 bits/s]\n"), std::string::npos);
  EXPECT_NE(info.out.find("4294967263 more entries announced by cpb_cnt_minus1 not printed\n"), std::string::npos);
  EXPECT_EQ(info.out.substr(info.out.size() - 20), "---END HRD INFO---\n\n");
}

TEST(HostileCli, SeiWhosePayloadRunsPastItsNalUnitIsNotRead) {
  Scratch s;
  // A picture timing message (type 1) announcing 200 bytes, 5 of them there.
  const std::vector<uint8_t> sei{0x01, 200, 0x12, 0x34, 0x56, 0x78, 0x80};
  StreamBuilder stream;
  stream.nal(3, 7, plain_sps()).nal(3, 8, pps_rbsp(0, 0)).nal(0, 6, sei);
  stream.nal(3, 5, slice(true, 0, 0)).nal(0, 6, sei).nal(2, 1, slice(false, 0, 1));
  stream.nal(0, 6, sei).nal(2, 1, slice(false, 0, 2));
  const std::string file = s.write("sei.264", stream.bytes());
  CliRun run = s.cli(check_args(file));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, pass_json(2));
  // Read, the first one would have said that no SPS is active yet.
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace tarnwell
