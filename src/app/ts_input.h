#pragma once
// A command's input: what its first bytes show it to be, and, when it is a
// transport stream, the demultiplexer over the open file (read in place when
// it can be sought, else through a temporary copy of what was read, so that
// searches can read it again), and the damage counts every JSON output adds
// for it.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "stream/byte_source.h"
#include "stream/ts_source.h"

namespace tarnwell {

class TsInput {
 public:
  TsInput() = default;
  TsInput(const TsInput&) = delete;
  TsInput& operator=(const TsInput&) = delete;
  ~TsInput();

  // Opens the transport stream in `file` (not closed here) and chooses its
  // stream. False, with `refusal` set to the line to print, when it has
  // none to read. `read_again`: a stream that cannot be sought is copied
  // to a temporary file as it is read, for the readings after the first.
  // `head`: its first bytes when they were taken from it already (a pipe
  // whose start was looked at), read first.
  bool open(std::FILE* file, const TsChoice& choice, bool read_again, TsWarningFn warn, std::string& refusal,
            std::vector<uint8_t> head = {});
  // The packets alone, for a command that demultiplexes them itself: `file`
  // read in place when it can be sought, else through the spool (when
  // `read_again`) with `head` first. Called once, instead of open().
  RewindableSource& open_packets(std::FILE* file, bool read_again, std::vector<uint8_t> head = {});
  // Null until open() succeeded.
  TsSource* source() { return ts_ ? &*ts_ : nullptr; }
  const TsSource* source() const { return ts_ ? &*ts_ : nullptr; }

 private:
  std::optional<FileSource> file_;
  std::FILE* spool_ = nullptr;
  std::optional<SpooledInput> spooled_;
  std::optional<TsSource> ts_;
};

// How a command reads its FILE.
struct InputReading {
  std::string file;                              // FILE as given, for messages
  FormatOption format = FormatOption::Unstated;  // --format; --program and --pid ask for ts
  TsChoice choice;                               // --program N, --pid N
  bool json = false;                             // a refusal as one JSON object on out
  bool read_again = false;                       // a transport stream is read more than once
  const char* command = "";                      // for the ffmpeg line a refusal offers
};

// As the command line asks: check reads a transport stream again for a
// search, info for its report.
InputReading input_reading(const CliOptions& options);

// "tarnwell-cli: cannot open 'PATH': REASON" on err; returns exit code 2.
int cannot_open(std::FILE* err, const std::string& path, const std::string& reason);

// What FILE is read as: what its first bytes show it to be (unless the
// format is stated), then the transport stream layer in `ts` when it is one.
// `head` gets the first bytes taken from a pipe to look at them, for an
// Annex B reading to take first (a transport stream reading takes them
// itself). A null file is left for the command to report. False after the
// refusal is printed (JSON on out, else a line on err): the command ends
// with exit code 2.
bool open_command_input(const InputReading& how, std::FILE* file, TsInput& ts, TsWarningFn warn,
                        std::vector<uint8_t>& head, std::FILE* out, std::FILE* err);

// ,"ts_errors":{"continuity":N,...}: the field every command's JSON gains
// for a transport stream; empty without one.
std::string ts_errors_json(const TsErrorCounts& errors);
std::string ts_errors_json(const TsSource* source);

// Copies every byte of the elementary stream to `out`; false when a write
// failed.
bool copy_elementary_stream(ByteSource& source, std::FILE* out);

}  // namespace tarnwell
