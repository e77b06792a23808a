#include "verify/check_run.h"

#include <fcntl.h>

#include <cstdio>
#include <limits>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tarnwell {

namespace {

uint32_t percent_of(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0;
  double percent = static_cast<double>(part) * 100.0 / static_cast<double>(whole);
  if (!(percent > 0.0)) return 0;
  if (percent >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(percent);
}

// A picture's size in bits. Pictures of 512 MiB and more do not fit 32 bits;
// they saturate, so the model sees a picture no buffer holds rather than a
// small wrapped one.
uint32_t picture_bits(uint32_t bytes) {
  uint64_t bits = uint64_t{bytes} * 8;
  return bits > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(bits);
}

}  // namespace

uint64_t measure_file_size(const std::string& path) {
  constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();
#ifdef _WIN32
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
  if (fd < 0) return kUnknown;
  __int64 end = _lseeki64(fd, 0, SEEK_END);
  _close(fd);
#else
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return kUnknown;
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  off_t end = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
#endif
  return end < 0 ? kUnknown : static_cast<uint64_t>(end);
}

void CheckRun::set_busy(bool busy) {
  DialogPort& dialog = context_.dialog;
  dialog.enable(kButtonCheck, !busy);
  dialog.enable(kButtonBrowse, !busy);
  dialog.enable(kButtonHrdInfo, !busy);
  dialog.enable(kButtonAbort, busy);
}

void CheckRun::run() {
  result_ = CheckRunResult();
  DialogPort& dialog = context_.dialog;

  ApplicationContext::ParsingLease lease = context_.try_take_parsing();
  if (!lease) {
    result_.outcome = Outcome::Refused;
    result_.message = kBusyMessage;
    dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
    return;
  }

  const std::string path = context_.shared.stream_path;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    result_.outcome = Outcome::CannotOpen;
    result_.message = "Cannot open input file";
    dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
    return;
  }
  set_busy(true);
  const uint64_t file_size = measure_file_size(path);

  ParsingState& parsing = context_.parsing;
  BufferModel model(context_.settings, context_.shared.frame_rate, dialog);
  bool restart = true;
  while (restart) {
    restart = false;
    parsing.reset_parsing_state();
    parsing.begin_stream(file);
    parsing.paramsets().set_hrd_report_enabled(0);

    ++result_.passes;
    result_.pictures = 0;
    if (on_pass_start) on_pass_start(result_.passes);
    if (!model.begin_model_pass()) break;

    uint64_t consumed = 0;
    parsing.no_picture_begun = 1;
    parsing.picture_bytes = 0;
    parsing.pending_bytes = 0;
    parsing.first_field_marker = -1;

    for (;;) {
      if (context_.shared.abort_requested.load() != 0) {
        dialog.set_progress(kProgressFile, 0);
        dialog.set_progress(kProgressFullness, 0);
        result_.outcome = Outcome::Aborted;
        std::fclose(file);
        set_busy(false);
        return;
      }
      if (parsing.next_picture() == 0) break;  // end of stream: the open picture is never applied

      const uint32_t bytes = parsing.picture_bytes;
      const uint32_t bits = picture_bits(bytes);
      consumed += bytes;
      parsing.picture_bytes = parsing.opening_nal_bytes + parsing.pending_bytes;
      parsing.pending_bytes = 0;
      dialog.set_progress(kProgressFile, percent_of(consumed, file_size));

      ModelStep step = model.apply_picture(bits);
      if (on_picture) {
        PictureTrace trace;
        trace.index = result_.pictures;
        trace.size_bits = bits;
        trace.fullness_before = model.fullness_before();
        trace.has_fullness_after = step == ModelStep::Continue;
        trace.fullness_after = trace.has_fullness_after ? model.fullness() : 0;
        on_picture(trace);
      }
      ++result_.pictures;
      if (step == ModelStep::Continue) continue;
      if (step == ModelStep::Restart) {
        std::rewind(file);
        restart = true;
      }
      break;
    }
  }
  result_.outcome = model.outcome();
  result_.message = model.message();
  std::fclose(file);
  set_busy(false);
}

}  // namespace tarnwell
