// tarnwell-cli in a shell pipeline: standard input as the stream, output
// options that must never overwrite the input, the defaults and warning
// policy a user meets first. Run through /bin/sh, so natively only.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "app/app_fixture.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace tarnwell {
namespace {

struct Shell {
  int exit_code = -1;
  std::string out;
  std::string err;
};

#ifndef _WIN32
// Runs `command` through the shell; standard error is kept apart.
Shell shell(const std::string& command, const test::TempFolder& folder) {
  const std::string err_path = folder.file("shell-stderr.txt");
  Shell result;
  std::FILE* pipe = popen((command + " 2>'" + err_path + "'").c_str(), "r");
  if (pipe == nullptr) return result;
  char block[4096];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) result.out.append(block, n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = test::read_bytes(err_path);
  return result;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }
const std::string kCli = quoted(TARNWELL_CLI);
#endif

TEST(CliPipeline, StandardInputGivesTheSameLinesAsTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "shell pipelines are tested natively";
#else
  test::TempFolder folder;
  const std::string x264 = quoted(test::stream_path(test::kX264Stream));
  for (const std::string args : {"check - --json --bit-rate 0", "check - --json --buffer-size 0 --bit-rate 900000",
                                 "info - --json", "info -", "hrd-check - --json", "curve - --json"}) {
    SCOPED_TRACE(args);
    std::string as_file_args = args;
    as_file_args.replace(as_file_args.find(" -"), 2, " " + x264);
    const Shell as_file = shell(kCli + " " + as_file_args, folder);
    const Shell piped = shell("cat " + x264 + " | " + kCli + " " + args, folder);
    EXPECT_EQ(piped.exit_code, as_file.exit_code);
    EXPECT_EQ(piped.out, as_file.out);
    EXPECT_NE(piped.out, "");
  }
  // The info JSON carries the numbers of the stream's HRD block.
  const Shell info = shell(kCli + " info " + x264 + " --json", folder);
  EXPECT_NE(info.out.find("\"profile\":\"High\",\"level\":\"3\",\"profile_idc\":100,\"level_idc\":30"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\"nal_hrd\":{"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"cbr\":true"), std::string::npos) << info.out;
  // No SPS: the texts of today, exit 1 and one line saying so.
  const std::string empty = folder.file("empty.264");
  { std::FILE* f = std::fopen(empty.c_str(), "wb"); std::fclose(f); }
  const Shell none = shell(kCli + " info " + quoted(empty), folder);
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.err, "tarnwell-cli: no sequence parameter set in '" + empty + "'\n");
#endif
}

TEST(CliPipeline, OutputOptionsNamingTheInputAreRefusedAndTheInputKept) {
#ifdef _WIN32
  GTEST_SKIP() << "shell pipelines are tested natively";
#else
  test::TempFolder folder;
  const std::string stream = folder.file("S.264");
  std::filesystem::copy_file(test::stream_path(test::kX264Stream), stream);
  const std::string link = folder.file("link.264");
  std::filesystem::create_symlink(stream, link);
  const std::string before = test::read_bytes(stream);
  for (const std::string args : {"check S --trace S", "check S --trace ./link.264", "check S --plot S",
                                 "info S --hrd S", "info link.264 --hrd=S", "check - --trace S < S",
                                 "curve S --csv S", "curve S --plot=./link.264"}) {
    SCOPED_TRACE(args);
    const Shell run = shell("cd " + quoted(folder.path()) + " && " + kCli + " " +
                                std::regex_replace(args, std::regex("\\bS\\b"), "S.264"),
                            folder);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("is the input file"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);
    EXPECT_TRUE(test::read_bytes(stream) == before);
  }
  // "-" is standard output, and nothing is left beside it.
  const Shell traced = shell(kCli + " check " + quoted(stream) + " --bit-rate 1000000 --trace -", folder);
  EXPECT_EQ(traced.out.rfind("picture,size_bits,fullness_before,fullness_after\n0,", 0), 0u);
  const Shell hrd_traced = shell("cd " + quoted(folder.path()) + " && " + kCli + " hrd-check S.264 --trace=-", folder);
  EXPECT_EQ(hrd_traced.out.rfind("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,", 0), 0u);
  EXPECT_NE(hrd_traced.out.find("conforms"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder.file("-.part0")));
  EXPECT_FALSE(std::filesystem::exists(folder.file("-")));
#endif
}

TEST(CliPipeline, DefaultFillFollowsTheBufferAndOnceShowsEachLineOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "shell pipelines are tested natively";
#else
  test::TempFolder folder;
  const std::string x264 = quoted(test::stream_path(test::kX264Stream));
  const Shell small = shell(kCli + " check " + x264 + " --buffer-size 500000 --bit-rate 1000000", folder);
  EXPECT_NE(small.out.find("initial_fill=450000\n"), std::string::npos) << small.out;
  EXPECT_EQ(small.out.find("Initial fill cannot exceed"), std::string::npos);

  // A search of many passes: the picture-timing line comes at every pass
  // with each, never otherwise.
  const std::string search = kCli + " check " + x264 + " --bit-rate 0 --buffer-size 1000000";
  const Shell each = shell(search + " --warnings each", folder);
  const Shell once = shell(search, folder);
  const std::string line = "Warning: no active SPS, timing SEI cannot be parsed\n";
  std::size_t count = 0;
  for (std::size_t at = each.err.find(line); at != std::string::npos; at = each.err.find(line, at + 1)) ++count;
  EXPECT_GT(count, 5u);
  EXPECT_EQ(once.err.find(line), std::string::npos) << once.err;
  EXPECT_EQ(once.out, each.out);
#endif
}

// From a pipe, the first bytes are looked at too, and handed back to the
// reading when the input is H.264; zeros are no format but no pass either.
TEST(CliPipeline, WhatComesThroughAPipeIsToldFromItsFirstBytes) {
#ifdef _WIN32
  GTEST_SKIP() << "shell pipelines are tested natively";
#else
  test::TempFolder folder;
  const Shell ts = shell("head -c 20000 /dev/zero | tr '\\0' 'G' | " + kCli + " hrd-check -", folder);
  EXPECT_EQ(ts.exit_code, 2);
  // Read as the transport stream it looks like, the bytes looked at included.
  EXPECT_NE(ts.err.find("tarnwell-cli: '-': no H.264 stream in the transport stream; no program association table "
                        "was found\n"),
            std::string::npos)
      << ts.err;
  const Shell zeros = shell("head -c 5000000 /dev/zero | " + kCli + " check - --json", folder);
  EXPECT_EQ(zeros.exit_code, 2);
  EXPECT_NE(zeros.out.find("{\"outcome\":\"no_pictures\",\"message\":\"No picture was checked\","), std::string::npos)
      << zeros.out;
  // Junk without zero bytes before the stream, longer than the bytes looked
  // at: the reading gets every byte back, in order.
  const std::string x264 = quoted(test::stream_path(test::kX264Stream));
  const std::string junk = "head -c 100000 /dev/zero | tr '\\0' 'j'";
  const std::string search = " --json --buffer-size 0 --bit-rate 900000";
  const std::string joined = quoted(folder.file("j.264"));
  const Shell as_file =
      shell("(" + junk + "; cat " + x264 + ") > " + joined + " && " + kCli + " check " + joined + search, folder);
  const Shell piped = shell("(" + junk + "; cat " + x264 + ") | " + kCli + " check -" + search, folder);
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.out, as_file.out);
  EXPECT_NE(piped.out.find("\"pictures\":249"), std::string::npos) << piped.out;
#endif
}

}  // namespace
}  // namespace tarnwell
