#include "support/process_runner.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#endif

namespace tarnwell::test {

#ifdef _WIN32

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

}  // namespace

int run_process(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path,
                int limit_seconds) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto open = [&inherit](const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE in = open("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = open(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = open(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  std::string program = argv[0];
  for (char& c : program) {
    if (c == '/') c = '\\';
  }
  std::string command_line = quote(program);
  for (std::size_t i = 1; i < argv.size(); ++i) {
    command_line += ' ';
    command_line += quote(argv[i]);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  int exit_code = -1;
  if (CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    const DWORD wait = limit_seconds > 0 ? static_cast<DWORD>(limit_seconds) * 1000 : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      exit_code = kTimedOut;
    } else {
      DWORD code = 0;
      if (GetExitCodeProcess(process.hProcess, &code)) exit_code = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : {in, out, err}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return exit_code;
}

#else

namespace {

// Waits for the child; with a limit, polls and kills it when the limit passes.
// A child ended by a signal gives -1, or 128 + the signal with by_signal.
int wait_for(pid_t child, int limit_seconds, bool by_signal = false) {
  int status = 0;
  if (limit_seconds <= 0) {
    pid_t ended = 0;
    do {
      ended = waitpid(child, &status, 0);
    } while (ended < 0 && errno == EINTR);
    if (ended != child) return -1;
  } else {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
    for (;;) {
      const pid_t ended = waitpid(child, &status, WNOHANG);
      if (ended == child) break;
      if (ended < 0 && errno != EINTR) return -1;
      if (std::chrono::steady_clock::now() > give_up) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return kTimedOut;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return by_signal && WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

StalledInputProcess::StalledInputProcess(const std::vector<std::string>& argv, const std::string& input,
                                         const std::string& out_path, const std::string& err_path) {
  int ends[2];
  if (pipe(ends) != 0) return;
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(ends[0], 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(ends[1]);
    // The test's own Ctrl-C handling is not the child's.
    signal(SIGINT, SIG_DFL);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  close(ends[0]);
  if (child < 0) {
    close(ends[1]);
    return;
  }
  pid_ = child;
  pipe_ = ends[1];
  // Less than a pipe holds, so the write never waits for the reader. A child
  // that has ended already makes it fail with SIGPIPE, which must not end the
  // test: blocked, then taken if it came.
  sigset_t pipe_signal;
  sigset_t previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = write(pipe_, input.data() + done, input.size() - done);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  const struct timespec no_wait {};
  sigtimedwait(&pipe_signal, nullptr, &no_wait);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

StalledInputProcess::~StalledInputProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (pipe_ >= 0) close(pipe_);
}

void StalledInputProcess::send_signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int StalledInputProcess::wait(int limit_seconds) {
  if (pid_ <= 0) return -1;
  const int code = wait_for(pid_, limit_seconds, true);
  pid_ = -1;
  return code;
}

int run_process(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path,
                int limit_seconds) {
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  if (child < 0) return -1;
  return wait_for(child, limit_seconds);
}

#endif

ProcessResult run_and_read(const std::vector<std::string>& argv, const std::string& out_path,
                           const std::string& err_path, int limit_seconds) {
  ProcessResult result;
  result.exit_code = run_process(argv, out_path, err_path, limit_seconds);
  result.out = read_text(out_path);
  result.err = read_text(err_path);
  return result;
}

std::string read_text(const std::string& path) {
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return text;
  char chunk[4096];
  for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
  std::fclose(file);
  return text;
}

}  // namespace tarnwell::test
