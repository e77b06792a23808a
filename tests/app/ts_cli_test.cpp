// tarnwell-cli on transport streams made by ffmpeg: every command gives on
// the multiplex what it gives on ffmpeg's extraction of the video, with the
// transport stream's fields added; demux writes that extraction byte for
// byte; damage is warned and counted; options and refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "support/process_runner.h"
#include "support/ts_builder.h"

namespace tarnwell {
namespace {

using test::Bytes;

class TsCli : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "ffmpeg makes the multiplexes natively";
#endif
  }
  test::ProcessResult run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TARNWELL_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::run_and_read(argv, folder.file("out.txt"), folder.file("err.txt"), 300);
  }
  // A multiplex from ffmpeg with these arguments, and ffmpeg's extraction.
  std::string make(const std::string& name, const std::string& arguments) {
    const std::string ts = folder.file(name);
    EXPECT_TRUE(test::run_ffmpeg(arguments + " -f mpegts '" + ts + "'")) << arguments;
    EXPECT_TRUE(test::ffmpeg_extract(ts, ts + ".264"));
    return ts;
  }
  test::TempFolder folder;
};

constexpr char kVideo[] = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 ";
constexpr char kHrdVideo[] =
    "-c:v libx264 -g 25 -b:v 400k -maxrate 400k -bufsize 400k -x264-params nal-hrd=cbr:force-cfr=1 ";

// The same output, but for the fields a transport stream adds at the end of
// a JSON object.
void expect_same_but_ts_fields(const std::string& on_ts, const std::string& on_es) {
  ASSERT_GE(on_es.size(), 2u);
  ASSERT_GT(on_ts.size(), on_es.size());
  const std::string head = on_es.substr(0, on_es.size() - 2);  // without "}\n"
  EXPECT_EQ(on_ts.substr(0, head.size()), head);
  EXPECT_EQ(on_ts.substr(head.size(), 2), ",\"");
  EXPECT_EQ(on_ts.substr(on_ts.size() - 2), "}\n");
}

TEST_F(TsCli, EveryCommandGivesWhatItGivesOnTheExtraction) {
  const std::vector<std::string> streams = {
      make("audio.ts", std::string(kVideo) + "-f lavfi -i sine=duration=3 " + kHrdVideo + "-c:a aac -muxrate 2000000"),
      make("interlaced.ts", std::string(kVideo) + kHrdVideo + "-flags +ildct+ilme -x264-params tff=1:nal-hrd=cbr"),
      make("m2ts.m2ts", std::string(kVideo) + kHrdVideo + "-mpegts_m2ts_mode 1"),
  };
  const std::vector<std::vector<std::string>> commands = {
      {"check", "--json"},
      {"check", "--json", "--buffer-size", "0", "--bit-rate", "300000"},
      {"check", "--buffer-size", "100000", "--bit-rate", "200000"},
      {"curve", "--json"},
      {"hrd-check", "--json"},
      {"info", "--json"},
  };
  for (const std::string& ts : streams) {
    for (const std::vector<std::string>& command : commands) {
      std::vector<std::string> on_ts = command;
      on_ts.insert(on_ts.begin() + 1, {ts, "--format", "ts"});
      std::vector<std::string> on_es = command;
      on_es.insert(on_es.begin() + 1, ts + ".264");
      SCOPED_TRACE(ts + " " + command[0] + " " + command[1]);
      const test::ProcessResult es = run(on_es);
      const test::ProcessResult t = run(on_ts);
      EXPECT_EQ(t.exit_code, es.exit_code);
      EXPECT_EQ(t.err, es.err);
      if (command[1] == "--json") {
        expect_same_but_ts_fields(t.out, es.out);
        EXPECT_NE(t.out.find(",\"ts_errors\":{\"continuity\":0,\"transport_error\":0,\"sync_loss\":0,"
                             "\"pes_mid_access_unit\":0,\"bad_crc\":0}}"),
                  std::string::npos);
      } else {
        EXPECT_EQ(t.out, es.out);
      }
    }
    const test::ProcessResult demuxed = run({"demux", ts, "--output", folder.file("out.264")});
    EXPECT_EQ(demuxed.exit_code, 0) << demuxed.err;
    EXPECT_TRUE(test::read_file_bytes(folder.file("out.264")) == test::read_file_bytes(ts + ".264")) << ts;
  }
}

TEST_F(TsCli, TwoProgramsChosenAndShownByInfo) {
  const std::string two = make("two.ts", std::string(kVideo) +
                                             "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 -f lavfi -i "
                                             "sine=duration=3 -map 0:v -map 1:v -map 2:a -c:v libx264 -pix_fmt yuv420p -c:a mp2 "
                                             "-program program_num=7:st=1:st=2 -program program_num=3:st=0");
  const test::ProcessResult text = run({"info", two, "--program", "7"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  const std::vector<std::string> lines = {
      "Container: MPEG transport stream, 188-byte packets, H.264 from PID 257",
      "Program 3: PMT PID 4097, PCR PID 256",
      "  PID 256: stream_type 0x1B, H.264 video",
      "Program 7: PMT PID 4096, PCR PID 257",
      "  PID 257: stream_type 0x1B, H.264 video",
      "  PID 258: stream_type 0x03, MPEG-1 audio",
  };
  std::string expected = "Profile: High\nLevel: 1.3\n";
  for (const std::string& line : lines) expected += line + "\n";
  EXPECT_EQ(text.out.substr(0, expected.size()), expected);
  // The default is the lowest program_number's stream, not the first PMT's.
  ASSERT_EQ(run({"demux", two, "--output", folder.file("default.264")}).exit_code, 0);
  ASSERT_TRUE(test::ffmpeg_extract(two, folder.file("p3.264"), "0:p:3:v:0"));
  EXPECT_TRUE(test::read_file_bytes(folder.file("default.264")) == test::read_file_bytes(folder.file("p3.264")));
  ASSERT_EQ(run({"demux", two, "--program", "7", "--output", folder.file("seven.264")}).exit_code, 0);
  ASSERT_TRUE(test::ffmpeg_extract(two, folder.file("p7.264"), "0:p:7:v:0"));
  EXPECT_TRUE(test::read_file_bytes(folder.file("seven.264")) == test::read_file_bytes(folder.file("p7.264")));
  const test::ProcessResult json = run({"info", two, "--pid", "0x100", "--json"});
  EXPECT_NE(json.out.find(",\"container\":\"ts\",\"packet_size\":188,\"pid\":256,\"programs\":[{\"program_number\":3,"
                          "\"pmt_pid\":4097,\"pcr_pid\":256,\"streams\":[{\"pid\":256,\"stream_type\":27,\"codec\":"
                          "\"h264\"}]},{\"program_number\":7,\"pmt_pid\":4096,\"pcr_pid\":257,\"streams\":[{\"pid\":257,"
                          "\"stream_type\":27,\"codec\":\"h264\"},{\"pid\":258,\"stream_type\":3,\"codec\":\"mp2\"}]}]"),
            std::string::npos)
      << json.out;
}

TEST_F(TsCli, DamageIsWarnedAndCountedAndTheCheckGoesOn) {
  const std::string ts = make("clean.ts", std::string(kVideo) + kHrdVideo);
  std::vector<Bytes> packets = test::split_packets(test::read_file_bytes(ts));
  std::vector<std::size_t> video;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    if (test::packet_pid(packets[i]) == 256 && (packets[i][1] & 0x40) == 0 && (packets[i][3] & 0x10) != 0) {
      video.push_back(i);
    }
  }
  ASSERT_GT(video.size(), 100u);
  packets[video[80]][1] |= 0x80;
  packets.erase(packets.begin() + static_cast<std::ptrdiff_t>(video[40]));
  Bytes damaged = test::join(packets);
  const Bytes junk = {0x01, 0x02, 0x03};
  damaged.insert(damaged.begin() + 188 * 300, junk.begin(), junk.end());
  const std::string path = folder.file("damaged.ts");
  ASSERT_TRUE(test::write_file_bytes(path, damaged));
  ASSERT_TRUE(test::ffmpeg_extract(path, path + ".264"));

  const test::ProcessResult check = run({"check", path, "--format", "ts", "--json"});
  EXPECT_EQ(check.exit_code, run({"check", path + ".264", "--json"}).exit_code);
  EXPECT_NE(check.out.find("\"ts_errors\":{\"continuity\":1,\"transport_error\":1,\"sync_loss\":1,"), std::string::npos)
      << check.out;
  char continuity[128];
  std::snprintf(continuity, sizeof continuity, "Warning: Transport stream: continuity error on PID 256 at packet %zu",
                video[40]);
  EXPECT_NE(check.err.find(continuity), std::string::npos) << check.err;
  EXPECT_NE(check.err.find("Warning: Transport stream: sync lost before packet 300; 3 bytes skipped"),
            std::string::npos);
  EXPECT_EQ(run({"check", path, "--format", "ts", "--warnings", "off"}).err, "");
  const test::ProcessResult demuxed = run({"demux", path, "--output", folder.file("damaged.out")});
  EXPECT_TRUE(test::read_file_bytes(folder.file("damaged.out")) == test::read_file_bytes(path + ".264"));
}

TEST_F(TsCli, RefusalsAndOptions) {
  const std::string mpeg2 = folder.file("mpeg2.ts");
  ASSERT_TRUE(test::run_ffmpeg(std::string(kVideo) + "-c:v mpeg2video -f mpegts '" + mpeg2 + "'"));
  const test::ProcessResult refused = run({"check", mpeg2, "--format", "ts"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.err, "tarnwell-cli: '" + mpeg2 +
                             "': no H.264 stream in the transport stream; program 1 (PMT PID 4096): PID 256 MPEG-2 "
                             "video (stream_type 0x02)\n");
  EXPECT_EQ(refused.out, "");
  const std::string ts = make("one.ts", std::string(kVideo) + "-c:v libx264");
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"check", ts, "--pid", "8192"},
       "tarnwell-cli: --pid needs a PID from 0 to 8191 (or 0x0 to 0x1FFF), not '8192'\n"},
      {{"check", ts, "--pid", "0x2000"},
       "tarnwell-cli: --pid needs a PID from 0 to 8191 (or 0x0 to 0x1FFF), not '0x2000'\n"},
      {{"info", ts, "--program", "0"}, "tarnwell-cli: --program needs a program_number from 1 to 65535, not '0'\n"},
      {{"curve", ts, "--program", "1", "--pid", "256"},
       "tarnwell-cli: --program and --pid cannot be given together\n"},
      {{"check", ts, "--format", "mp4"}, "tarnwell-cli: --format needs ts or h264, not 'mp4'\n"},
      {{"check", ts, "--format", "h264", "--pid", "256"}, "tarnwell-cli: --pid reads a transport stream, not --format h264\n"},
      {{"demux", ts}, "tarnwell-cli: demux needs --output PATH\n"},
      {{"demux", ts, "--output", ts}, "tarnwell-cli: --output '" + ts + "' is the input file; it is not overwritten\n"},
      {{"hrd-check", ts, "--program", "2"},
       "tarnwell-cli: '" + ts +
           "': no program 2 in the transport stream; program 1 (PMT PID 4096): PID 256 H.264 video (stream_type "
           "0x1B)\n"},
  };
  for (const Case& c : cases) {
    const test::ProcessResult result = run(c.arguments);
    EXPECT_EQ(result.exit_code, 2) << c.err;
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(test::read_file_bytes(ts).size() % 188, 0u);  // the input is left as it was
  // --pid in decimal and hexadecimal, --program: the same stream.
  const std::string plain = run({"check", ts, "--format", "ts", "--json"}).out;
  EXPECT_EQ(run({"check", ts, "--pid", "0x100", "--json"}).out, plain);
  EXPECT_EQ(run({"check", ts, "--pid", "256", "--json"}).out, plain);
  EXPECT_EQ(run({"check", ts, "--program", "1", "--json"}).out, plain);
}

#ifndef _WIN32
TEST_F(TsCli, PipedTransportStreamGivesWhatTheFileGives) {
  const std::string ts = make("pipe.ts", std::string(kVideo) + kHrdVideo);
  for (const std::string args : {"check --json --buffer-size 0 --bit-rate 300000", "info --json", "hrd-check --json",
                                 "curve --json"}) {
    SCOPED_TRACE(args);
    const std::string cli = std::string("'") + TARNWELL_CLI + "' " + args + " --format ts ";
    const std::string from_file = cli + "'" + ts + "' 2>&1";
    const std::string piped = "cat '" + ts + "' | " + cli + "- 2>&1";
    auto output_of = [](const std::string& command) {
      std::string out;
      std::FILE* pipe = popen(command.c_str(), "r");
      if (pipe == nullptr) return out;
      char block[4096];
      std::size_t n = 0;
      while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) out.append(block, n);
      pclose(pipe);
      return out;
    };
    const std::string expected = output_of(from_file);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(output_of(piped), expected);
  }
}
#endif

}  // namespace
}  // namespace tarnwell
