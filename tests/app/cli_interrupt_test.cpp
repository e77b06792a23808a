// Ctrl-C and the output files of every tarnwell-cli command, in a child
// process whose standard input is a pipe that stalls after the start of a
// stream: the interrupt ends the wait at once, the command ends as aborted
// (exit 130), and the folder of its outputs holds exactly what it held
// before (no temporary file, no empty or half file, an existing file
// unchanged), after one SIGINT or two. The outputs are checked before the
// stream is read: a command that cannot write one ends without waiting for
// the input. POSIX signals, so natively only.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/app_fixture.h"
#include "support/process_runner.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace tarnwell {
namespace {

#ifndef _WIN32

using test::TempFolder;

// A hang is a failure, not a wait: the child is killed after this long.
constexpr int kLimitSeconds = 60;

std::map<std::string, std::string> folder_contents(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = test::read_bytes(entry.path().string());
  }
  return files;
}

// True once a file of the command's own (a temporary output) is in the
// folder: the command has its interrupt handling in place and has made its
// outputs, so it is reading, or about to read, the stalled input.
bool wait_for_temporary_file(const std::string& folder) {
  for (int i = 0; i < kLimitSeconds * 100; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename().string().find(".tarnwell-") != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

struct InterruptCase {
  std::vector<std::string> arguments;  // "-" reads the pipe; outputs named as files of the folder
  std::string aborted;                 // the start of standard output after one Ctrl-C
};

// ThreadSanitizer holds an asynchronous signal back until the thread leaves
// a blocking call it cannot see into (the read inside fread): the Ctrl-C of
// a command waiting for input is then seen only when the input ends.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSignalsHeldBack = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSignalsHeldBack = true;
#else
constexpr bool kSignalsHeldBack = false;
#endif
#else
constexpr bool kSignalsHeldBack = false;
#endif

TEST(CliInterrupt, EveryCommandEndsAtOnceAndLeavesItsOutputsAsTheyWere) {
  if (kSignalsHeldBack) GTEST_SKIP() << "ThreadSanitizer delays signals during blocking reads";
  const std::string stream = test::read_bytes(test::stream_path(test::kX264Stream));
  ASSERT_GT(stream.size(), 3000u);
  // The parameter sets and part of the first picture, then the writer
  // stalls: the end of the input that the interrupt brings must not read as
  // the end of a stream that passed.
  const std::string start = stream.substr(0, 3000);
  const InterruptCase cases[] = {
      {{"check", "-", "--plot", "old.svg", "--trace", "new.csv", "--bit-rate", "1M"}, "ABORTED\n"},
      {{"check", "-", "--json", "--trace", "old.csv", "--exact"}, "{\"outcome\":\"aborted\","},
      {{"curve", "-", "--csv", "old.csv", "--plot", "new.svg"}, "ABORTED\n"},
      {{"curve", "-", "--json", "--plot", "old.svg"}, "{\"outcome\":\"aborted\"}\n"},
      {{"info", "-", "--hrd", "old.txt"}, "ABORTED\n"},
      {{"hrd-check", "-", "--trace", "old.csv", "--plot", "new.svg"}, "ABORTED\n"},
      {{"hrd-check", "-", "--json", "--trace", "new.csv"}, "{\"outcome\":\"aborted\"}\n"},
      {{"tstd-check", "-", "--trace", "old.csv", "--plot", "new.svg"}, "ABORTED\n"},
  };
  for (const InterruptCase& c : cases) {
    for (int presses : {1, 2}) {
      SCOPED_TRACE(testing::Message() << c.arguments[0] << " " << c.arguments[2] << ", Ctrl-C x" << presses);
      TempFolder outputs;
      TempFolder logs;
      for (const char* old : {"old.svg", "old.csv", "old.txt"}) {
        std::FILE* f = std::fopen(outputs.file(old).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("what was there before\n", f);
        std::fclose(f);
      }
      const std::map<std::string, std::string> before = folder_contents(outputs.path());
      std::vector<std::string> argv{TARNWELL_CLI};
      for (const std::string& a : c.arguments) {
        const bool output = a.find('.') != std::string::npos && a != "-";
        argv.push_back(output ? outputs.file(a) : a);
      }
      test::StalledInputProcess child(argv, start, logs.file("out.txt"), logs.file("err.txt"));
      ASSERT_TRUE(child.started());
      ASSERT_TRUE(wait_for_temporary_file(outputs.path()));
      for (int i = 0; i < presses; ++i) child.send_signal(SIGINT);
      // The input never ends: only the interrupt can end the command.
      EXPECT_EQ(child.wait(kLimitSeconds), 130) << test::read_text(logs.file("err.txt"));
      if (presses == 1) {
        EXPECT_EQ(test::read_text(logs.file("out.txt")).rfind(c.aborted, 0), 0u)
            << test::read_text(logs.file("out.txt"));
      }
      EXPECT_EQ(folder_contents(outputs.path()), before);
    }
  }
}

TEST(CliInterrupt, OutputsThatCannotBeWrittenEndTheCommandBeforeItReads) {
  TempFolder folder;
  TempFolder logs;
  std::filesystem::create_directory(folder.file("a-folder"));
  const std::string missing = folder.file("no-such-folder/out.csv");
  const std::string is_folder = folder.file("a-folder");
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  const Case cases[] = {
      {{"check", "-", "--trace", missing},
       "tarnwell-cli: cannot write the trace file " + missing + ": No such file or directory\n"},
      {{"check", "-", "--plot", is_folder},
       "tarnwell-cli: cannot write the plot file " + is_folder + ": Is a directory\n"},
      {{"curve", "-", "--csv", missing},
       "tarnwell-cli: cannot write the CSV file " + missing + ": No such file or directory\n"},
      {{"curve", "-", "--plot", is_folder},
       "tarnwell-cli: cannot write the plot file " + is_folder + ": Is a directory\n"},
      {{"info", "-", "--hrd", missing},
       "tarnwell-cli: Cannot open file for HRD info: " + missing + ": No such file or directory\n"},
      {{"hrd-check", "-", "--trace", missing},
       "tarnwell-cli: cannot write the trace file " + missing + ": No such file or directory\n"},
      {{"hrd-check", "-", "--plot", is_folder},
       "tarnwell-cli: cannot write the plot file " + is_folder + ": Is a directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[2]);
    std::vector<std::string> argv{TARNWELL_CLI};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    test::StalledInputProcess child(argv, "", logs.file("out.txt"), logs.file("err.txt"));
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.wait(kLimitSeconds), 2);
    EXPECT_EQ(test::read_text(logs.file("err.txt")), c.error);
    EXPECT_EQ(test::read_text(logs.file("out.txt")), "");
  }
  // Nothing made beside the outputs either: the folder holds the folder only.
  const auto entries = std::filesystem::directory_iterator(folder.path());
  EXPECT_EQ(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)), 1);
}

#endif

}  // namespace
}  // namespace tarnwell
