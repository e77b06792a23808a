#pragma once
// A command's input read as a transport stream: the demultiplexer over the
// open file (read in place when it can be sought, else through a temporary
// copy of what was read, so that searches can read it again), and the texts
// the commands add for it: the structure for info, the damage counts for
// every JSON output.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

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
  bool open(std::FILE* file, const TsChoice& choice, bool read_again, TsWarningFn warn, std::string& refusal);
  // Null until open() succeeded.
  TsSource* source() { return ts_ ? &*ts_ : nullptr; }
  const TsSource* source() const { return ts_ ? &*ts_ : nullptr; }

 private:
  std::optional<FileSource> file_;
  std::FILE* spool_ = nullptr;
  std::optional<SpooledInput> spooled_;
  std::optional<TsSource> ts_;
};

// ,"ts_errors":{"continuity":N,...}: the field every command's JSON gains
// for a transport stream; empty without one.
std::string ts_errors_json(const TsSource* source);

// Copies every byte of the elementary stream to `out`; false when a write
// failed.
bool copy_elementary_stream(ByteSource& source, std::FILE* out);

// `object` (one JSON object, maybe with a final line end) with `fields`
// added before its closing brace.
std::string add_json_fields(const std::string& object, const std::string& fields);

// For info: the lines after profile and level, and the JSON fields
// (,"container":"ts","packet_size":...,"pid":...,"programs":[...]).
std::string ts_structure_text(const TsSource& source);
std::string ts_structure_json(const TsSource& source);

}  // namespace tarnwell
