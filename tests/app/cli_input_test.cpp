// What every command does with an input that is not H.264: one line that
// says what it is and what to do, or the JSON outcome unsupported_input,
// exit 2, before anything is read; --format h264 reads it all the same.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_fixture.h"

namespace tarnwell {
namespace {

using Bytes = std::string;

std::string write_file(const test::TempFolder& folder, const std::string& name, const Bytes& bytes) {
  const std::string path = folder.file(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

test::ProcessResult cli(const test::TempFolder& folder, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), TARNWELL_CLI);
  return test::run_and_read(arguments, folder.file("out.txt"), folder.file("err.txt"));
}

// 188-byte packets that start with the sync byte.
Bytes transport_stream() {
  Bytes ts;
  for (int packet = 0; packet < 50; ++packet) {
    Bytes bytes(188, static_cast<char>(0xFF));
    bytes[0] = 0x47;
    ts += bytes;
  }
  return ts;
}

// The message as a JSON string's content: paths on Windows hold backslashes.
std::string json_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

TEST(CliInput, EveryCommandRefusesWhatIsNotH264AndFormatH264ReadsItAnyway) {
  test::TempFolder folder;
  const Bytes x264 = test::read_bytes(test::stream_path(test::kX264Stream));
  const std::string ts = write_file(folder, "in.ts", transport_stream());
  // An MP4 box in front of an H.264 stream: refused as what it looks like,
  // read as the stream behind it when the user says so.
  const std::string mp4 = write_file(folder, "in.mp4", Bytes("\0\0\0\x10" "ftypisom\0\0\0\0", 16) + x264);

  struct Case {
    std::string file;
    std::string what;  // the message after the quoted path, up to the command
  };
  const std::vector<Case> cases = {
      {mp4,
       " is an MP4 file, not an H.264 Annex B stream; extract its video with: ffmpeg -i '" + mp4 +
           "' -c:v copy -bsf:v h264_mp4toannexb -f h264 - | tarnwell-cli "},
  };
  for (const char* command : {"check", "curve", "info", "hrd-check"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(command) + " " + c.file);
      const std::string message = "'" + c.file + "'" + c.what + command + " -";
      const test::ProcessResult text = cli(folder, {command, c.file});
      EXPECT_EQ(text.exit_code, 2);
      EXPECT_EQ(text.out, "");
      EXPECT_EQ(text.err, "tarnwell-cli: " + message + "\n");
      const test::ProcessResult json = cli(folder, {command, c.file, "--json"});
      EXPECT_EQ(json.exit_code, 2);
      EXPECT_EQ(json.out, "{\"outcome\":\"unsupported_input\",\"message\":\"" + json_escaped(message) + "\"}\n");
      EXPECT_EQ(json.err, "");
    }
  }

  const test::ProcessResult checked = cli(folder, {"check", mp4, "--format", "h264", "--warnings", "off"});
  EXPECT_EQ(checked.exit_code, 0) << checked.err;
  EXPECT_EQ(checked.out.substr(0, 5), "PASS\n");
  const test::ProcessResult info = cli(folder, {"info", mp4, "--format=h264"});
  EXPECT_EQ(info.exit_code, 0) << info.err;
  EXPECT_EQ(info.out.substr(0, 27), "Profile: High\nLevel: 3\n---H");
  // The box's last four zero bytes are leading_zero_8bits of the stream behind
  // it: 32 bits more in the first access unit move every later arrival.
  const test::ProcessResult hrd = cli(folder, {"hrd-check", mp4, "--format", "h264"});
  EXPECT_EQ(hrd.exit_code, 1) << hrd.err;
  EXPECT_NE(hrd.out.find("initial_delay at access unit 50"), std::string::npos) << hrd.out;
  // A transport stream is read as one, with or without --format ts: this
  // one has no program table, so no H.264 stream to read.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"check", ts}, std::vector<std::string>{"check", ts, "--format", "ts"}}) {
    const test::ProcessResult read = cli(folder, args);
    EXPECT_EQ(read.exit_code, 2);
    EXPECT_EQ(read.err, "tarnwell-cli: '" + ts + "': no H.264 stream in the transport stream; no program association "
                        "table was found\n");
  }
  const test::ProcessResult json = cli(folder, {"hrd-check", ts, "--json"});
  EXPECT_EQ(json.exit_code, 2);
  EXPECT_EQ(json.out.rfind("{\"outcome\":\"unsupported_input\",\"message\":\"'", 0), 0u) << json.out;
}

}  // namespace
}  // namespace tarnwell
