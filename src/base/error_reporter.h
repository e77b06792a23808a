#pragma once
// How problems found while reading a stream reach the user: a Yes/No/Cancel
// "Warning" box per report, with per-message suppression (No) and a switch
// that silences everything (Cancel). Parsing goes on after every report.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

// gnu_printf keeps mingw's checks to the C99 formats; clang knows only printf.
#if defined(__clang__)
#define TARNWELL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define TARNWELL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define TARNWELL_PRINTF(fmt, args)
#endif

namespace tarnwell {

// printf's text as a string, however long.
std::string format_text(const char* format, ...) TARNWELL_PRINTF(1, 2);

class DialogPort;

// The question appended to every shown report (121 characters).
inline constexpr char kReporterQuestion[] =
    "\nHit Yes to continue notifying this specific error type; hit No to disable it.\n"
    "Hit Cancel to suppress all further errors.";

// djb2 over the bytes of text up to its NUL.
uint32_t message_hash(const char* text);

// Watches what reaches the reporter, so that a verification run can show the
// same reports again, at the same points, when it goes over pictures it has
// already read (verify/picture_cache.h).
class ReportRecorder {
 public:
  // A report as formatted (and cut to kMessageRoom), before the reporter
  // decides whether to show it.
  virtual void on_report(const char* text) = 0;
  // A standard-error line, before the reporter decides whether to write it.
  virtual void on_stderr_line(const char* line) = 0;

 protected:
  ~ReportRecorder() = default;
};

class ErrorReporter {
 public:
  static constexpr int kTextBytes = 1024;
  static constexpr int kSuppressedUsed = 255;
  // Room for the formatted report itself; longer reports are cut to this.
  static constexpr int kMessageRoom = kTextBytes - 1 - (static_cast<int>(sizeof kReporterQuestion) - 1);

  explicit ErrorReporter(DialogPort& dialog) : dialog_(dialog) {}

  void notify_error(const char* format, ...) TARNWELL_PRINTF(2, 3);
  // "Could not allocate memory: %s" with the label of the failed allocation.
  void report_out_of_memory(const char* label);

  // A recorder sees every report made while the reporter is enabled, shown
  // or suppressed, and every standard-error line, written or silenced.
  // Reports made after Cancel are not formatted and not passed on: Cancel is
  // for good, so no replay could show them. Null: none.
  void set_recorder(ReportRecorder* recorder) { recorder_ = recorder; }
  ReportRecorder* recorder() const { return recorder_; }
  // A recorded report or line handled as if it were made now: the same
  // suppression, box and Cancel as notify_error, the same switch as
  // write_stderr_line. Not passed to the recorder.
  void replay_report(const char* text);
  void replay_stderr_line(const char* line);

  // Lines that the parsers write to standard error (the picture-timing
  // warning). A front end may silence them.
  void write_stderr_line(const char* line);
  void set_stderr_enabled(bool enabled) { stderr_enabled_ = enabled; }
  // Where standard-error lines go; tests point it at a memory file.
  void set_stderr_stream(std::FILE* stream) { stderr_stream_ = stream; }

  // While muted, reports and standard-error lines are dropped unseen: not
  // shown, not recorded, no change to suppression. For readings the user
  // does not see (putting the parsing state back where a reading left it).
  void set_muted(bool muted) { muted_ = muted; }

  // Cancel: every later report is dropped for the life of the reporter.
  bool enabled() const { return enabled_; }
  void disable() { enabled_ = false; }
  int suppressed_count() const { return suppressed_count_; }

 private:
  // The decision on the report in text_: dropped when suppressed, else shown
  // with the question; No suppresses it, Cancel silences every later report.
  void ask_about_text();
  void put_stderr_line(const char* line);

  DialogPort& dialog_;
  ReportRecorder* recorder_ = nullptr;
  bool enabled_ = true;
  bool muted_ = false;
  bool stderr_enabled_ = true;
  std::FILE* stderr_stream_ = nullptr;
  char text_[kTextBytes] = {};
  std::array<uint32_t, 256> suppressed_{};
  int suppressed_count_ = 0;
};

}  // namespace tarnwell
