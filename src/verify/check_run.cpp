#include "verify/check_run.h"

#include <fcntl.h>

#include <cstdio>
#include <limits>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "stream/stream_file.h"

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

// Going over the pictures again instead of reading the stream again.
//
// A pass after a search step needs the same pictures as the pass before it:
// their sizes, the frame-rate fraction in force at each, and the reports the
// reading made along the way. The first pass reads the stream and keeps all
// of that (PictureCache); a later pass takes the pictures from the cache,
// shows the kept reports again through the reporter at the same points (so
// suppression by No and Cancel works as before), restores the fraction
// before each picture, and reads the stream on, from where the reading
// stopped, only when it needs more pictures than were read. The parsing
// state stays where the reading stopped, counters included: a pass that goes
// over kept pictures neither rewinds nor resets anything.
//
// The rule that makes this exact: a reading of the stream (everything from
// reset_parsing_state on) depends on the file and on the state earlier
// readings left behind: the parameter-set tables, the active PPS and the
// slice-header values carried from slice to slice. Reading the stream again
// gives the same pictures and reports as long as the reading never used such
// left-over state. The parsing state tracks that
// (ParsingState::used_left_over_state): an activation of a table slot the
// reading had not stored, a boundary test whose answer turned on a carried
// slice-header value that no slice of the reading had assigned. The
// frame-rate fraction needs no tracking of its own: a picture is complete
// only after an activation, and activating a slot stored in this reading
// means an SPS of this reading published its fraction. When the reading did
// use left-over state, or the cache passed its limit, every later pass reads
// the stream again from its first byte, as a run without the cache does.
//
// What a run leaves behind in the parsing state can differ: a run that ends
// in a pass over kept pictures leaves the reading where the furthest pass
// stopped, not where the last one did.
namespace {

// Attaches a recorder to the reporter for the life of the object.
class RecorderAttachment {
 public:
  RecorderAttachment(ErrorReporter& reporter, ReportRecorder* recorder)
      : reporter_(reporter), previous_(reporter.recorder()) {
    if (recorder != nullptr) reporter_.set_recorder(recorder);
  }
  ~RecorderAttachment() { reporter_.set_recorder(previous_); }
  RecorderAttachment(const RecorderAttachment&) = delete;
  RecorderAttachment& operator=(const RecorderAttachment&) = delete;

 private:
  ErrorReporter& reporter_;
  ReportRecorder* previous_;
};

}  // namespace

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
  std::FILE* file = open_stream_file(path.c_str());
  if (file == nullptr) {
    result_.outcome = Outcome::CannotOpen;
    result_.message = "Cannot open input file";
    dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
    return;
  }
  set_busy(true);
  const uint64_t file_size = measure_file_size(path);

  ParsingState& parsing = context_.parsing;
  ErrorReporter& reporter = context_.reporter;
  FrameRateFraction& stream_rate = context_.shared.frame_rate;
  BufferModel model(context_.settings, stream_rate, dialog);
  PictureCache cache(replay_cache_bytes);
  if (!replay) cache.give_up();
  RecorderAttachment attachment(reporter, replay ? &cache : nullptr);

  bool read_again = true;  // the next pass reads the stream from its first byte
  bool restart = true;
  while (restart) {
    restart = false;
    const bool from_cache = !read_again;
    if (read_again) {
      if (result_.reads > 0) std::rewind(file);
      parsing.reset_parsing_state();
      parsing.begin_stream(file);
      parsing.paramsets().set_hrd_report_enabled(0);
      ++result_.reads;
    }

    ++result_.passes;
    result_.pictures = 0;
    if (on_pass_start) on_pass_start(result_.passes);
    if (!model.begin_model_pass()) break;

    uint64_t consumed = 0;
    if (read_again) {
      parsing.no_picture_begun = 1;
      parsing.picture_bytes = 0;
      parsing.pending_bytes = 0;
      parsing.first_field_marker = -1;
    }
    std::size_t event_cursor = 0;

    for (uint64_t index = 0;; ++index) {
      if (context_.shared.abort_requested.load() != 0) {
        dialog.set_progress(kProgressFile, 0);
        dialog.set_progress(kProgressFullness, 0);
        result_.outcome = Outcome::Aborted;
        std::fclose(file);
        set_busy(false);
        return;
      }
      uint32_t bytes = 0;
      if (from_cache && index < cache.pictures()) {
        cache.replay_events(index, event_cursor, reporter);
        stream_rate = cache.fraction(index);
        bytes = cache.picture_bytes(index);
      } else {
        // The reading goes on where it stopped (or starts, in a pass that
        // reads the stream again). The fraction in force is the one it left:
        // the last picture gone over restored it. A reading that finds the
        // end ends the run, so no pass ever goes over the end again.
        if (parsing.next_picture() == 0) break;  // end of stream: the open picture is never applied
        bytes = parsing.picture_bytes;
        parsing.picture_bytes = parsing.opening_nal_bytes + parsing.pending_bytes;
        parsing.pending_bytes = 0;
        cache.add_picture(bytes, stream_rate);
      }

      const uint32_t bits = picture_bits(bytes);
      consumed += bytes;
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
      if (step == ModelStep::Restart) restart = true;
      break;
    }

    if (!cache.usable() || parsing.used_left_over_state()) {
      cache.give_up();
      read_again = true;
    } else {
      read_again = false;
    }
  }
  result_.outcome = model.outcome();
  result_.message = model.message();
  std::fclose(file);
  set_busy(false);
}

}  // namespace tarnwell
