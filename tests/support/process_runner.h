#pragma once
// Runs a program as a separate process, as a user would from a shell: its
// standard input the null device, its standard output and error into files.
// The same on Linux (fork and exec) and on Windows, Wine included
// (CreateProcess with a command line the C runtime parses back into argv).
#include <string>
#include <vector>

namespace tarnwell::test {

// The exit code of a process that had not ended within its time limit; it
// was killed.
inline constexpr int kTimedOut = -2;

struct ProcessResult {
  int exit_code = -1;  // -1: did not start, or ended by a signal
  std::string out;     // standard output as text mode reads it (CR LF is LF)
  std::string err;     // standard error, likewise
};

// Runs argv[0] with the arguments argv, standard output into out_path and
// standard error into err_path. With limit_seconds above 0 a process still
// running after that long is killed and kTimedOut returned: a guard against a
// hang, not a measure of speed. Returns the exit code, or -1.
int run_process(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path,
                int limit_seconds = 0);

#ifndef _WIN32
// A program whose standard input is a pipe the test holds open: it gets
// `input`, then waits for more that never comes, as behind a stalled
// writer. For the tests of Ctrl-C, which POSIX sends as SIGINT.
class StalledInputProcess {
 public:
  StalledInputProcess(const std::vector<std::string>& argv, const std::string& input, const std::string& out_path,
                      const std::string& err_path);
  // A child still running is killed; the pipe is closed.
  ~StalledInputProcess();
  StalledInputProcess(const StalledInputProcess&) = delete;
  StalledInputProcess& operator=(const StalledInputProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void send_signal(int number);
  // The exit code, or 128 + the signal's number when a signal ended the
  // process (what a shell shows); kTimedOut, the child killed, when it had
  // not ended after limit_seconds: a guard against a hang.
  int wait(int limit_seconds);

 private:
  int pid_ = -1;
  int pipe_ = -1;  // the writing end
};
#endif

// run_process, then the two files' texts.
ProcessResult run_and_read(const std::vector<std::string>& argv, const std::string& out_path,
                           const std::string& err_path, int limit_seconds = 0);

// The file's bytes as text mode reads them (CR LF becomes LF on Windows);
// empty when it cannot be opened.
std::string read_text(const std::string& path);

}  // namespace tarnwell::test
