#include "app/ts_input.h"

#include <cinttypes>
#include <memory>
#include <utility>

#include "app/exit_codes.h"
#include "app/input_check.h"
#include "app/json_text.h"
#include "base/error_reporter.h"
#include "stream/stream_file.h"

namespace tarnwell {

TsInput::~TsInput() {
  ts_.reset();
  spooled_.reset();
  if (spool_ != nullptr) std::fclose(spool_);
}

RewindableSource& TsInput::open_packets(std::FILE* file, bool read_again, std::vector<uint8_t> head) {
  if (head.empty() && is_seekable_stream(file)) return file_.emplace(file);
  // Without a spool the stream is read once; a reading that must start
  // again then ends as a stream that cannot be read again does.
  if (read_again) spool_ = open_spool_file();
  return spooled_.emplace(file, spool_, std::move(head));
}

bool TsInput::open(std::FILE* file, const TsChoice& choice, bool read_again, TsWarningFn warn,
                   std::string& refusal, std::vector<uint8_t> head) {
  ts_.emplace(open_packets(file, read_again, std::move(head)), choice, std::move(warn));
  if (!ts_->open()) {
    refusal = ts_->refusal();
    ts_.reset();
    return false;
  }
  return true;
}

InputReading input_reading(const CliOptions& options) {
  const bool search = options.settings.buffer_size == 0 || options.settings.bit_rate == 0;
  const bool read_again = options.command == CliCommand::Info || (options.command == CliCommand::Check && search);
  return {options.file, options.format, options.ts, options.json, read_again, command_name(options.command)};
}

int cannot_open(std::FILE* err, const std::string& path, const std::string& reason) {
  std::fprintf(err, "tarnwell-cli: cannot open '%s': %s\n", path.c_str(), reason.c_str());
  return kExitUsage;
}

bool open_command_input(const InputReading& how, std::FILE* file, TsInput& ts, TsWarningFn warn,
                        std::vector<uint8_t>& head, std::FILE* out, std::FILE* err) {
  // The refusal: with JSON one object on out, else one line on err.
  const auto refuse = [&](const std::string& message) {
    if (how.json) {
      std::fprintf(out, "{\"outcome\":\"unsupported_input\",\"message\":%s}\n", json_string(message).c_str());
    } else {
      std::fprintf(err, "tarnwell-cli: %s\n", message.c_str());
    }
    return false;
  };
  if (file == nullptr) return true;
  FormatOption format = how.format;
  if (format == FormatOption::Unstated) {
    InputCheck check = check_input(file, how.file, how.command);
    if (check.format.kind == InputKind::TransportStream) {
      format = FormatOption::Ts;
    } else if (!check.supported) {
      return refuse(check.message);
    }
    head = std::move(check.head);
  }
  if (format != FormatOption::Ts) return true;
  std::string refusal;
  const bool opened = ts.open(file, how.choice, how.read_again, std::move(warn), refusal, std::move(head));
  head.clear();
  return opened || refuse("'" + how.file + "': " + refusal);
}

bool copy_elementary_stream(ByteSource& source, std::FILE* out) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[1 << 16]);
  std::size_t n = 0;
  while ((n = source.read(block.get(), 1 << 16)) > 0) {
    if (std::fwrite(block.get(), 1, n, out) != n) return false;
  }
  return std::ferror(out) == 0;
}

std::string ts_errors_json(const TsErrorCounts& e) {
  return format_text(",\"ts_errors\":{\"continuity\":%" PRIu64 ",\"transport_error\":%" PRIu64 ",\"sync_loss\":%" PRIu64
                     ",\"pes_mid_access_unit\":%" PRIu64 ",\"bad_crc\":%" PRIu64 "}",
                     e.continuity, e.transport_error, e.sync_loss, e.pes_mid_access_unit, e.bad_crc);
}

std::string ts_errors_json(const TsSource* source) { return source != nullptr ? ts_errors_json(source->errors()) : ""; }

}  // namespace tarnwell
