#include "verify/check_run.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "stream/byte_source.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

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

uint64_t stream_file_size(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || info.st_size < 0) return std::numeric_limits<uint64_t>::max();
#else
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return std::numeric_limits<uint64_t>::max();
#endif
  return static_cast<uint64_t>(info.st_size);
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
// What a run leaves behind in the parsing state must not differ either: a
// run that ends in a pass over kept pictures reads the stream again, up to
// where the passes that matter stopped (see the end of run()).
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

namespace {

// Closes the stream at the end of the run unless the caller owns it.
struct StreamCloser {
  std::FILE* file = nullptr;
  bool owned = false;
  ~StreamCloser() {
    if (owned && file != nullptr) std::fclose(file);
  }
};

struct SpoolCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Mutes the reporter for the life of the object.
class ReporterMute {
 public:
  explicit ReporterMute(ErrorReporter& reporter) : reporter_(reporter) { reporter_.set_muted(true); }
  ~ReporterMute() { reporter_.set_muted(false); }
  ReporterMute(const ReporterMute&) = delete;
  ReporterMute& operator=(const ReporterMute&) = delete;

 private:
  ErrorReporter& reporter_;
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
  StreamCloser stream{input, input == nullptr && source == nullptr};
  if (input == nullptr && source == nullptr) stream.file = open_stream_file(path.c_str());
  std::FILE* file = stream.file;
  if (file == nullptr && source == nullptr) {
    result_.outcome = Outcome::CannotOpen;
    result_.message = "Cannot open input file";
    dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
    return;
  }
  // A transport stream named by the path is read as its default H.264
  // stream, for this run only.
  TsFileReading ts_file;
  struct SourceRestore {
    RewindableSource*& field;
    RewindableSource* before;
    ~SourceRestore() { field = before; }
  } restore{source, source};
  if (stream.owned && ts_file.begin(file, [this](const char* text) { context_.reporter.notify_error("%s", text); })) {
    if (ts_file.source() == nullptr) {
      result_.outcome = Outcome::CannotOpen;
      result_.message = ts_file.refusal();
      dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
      return;
    }
    source = ts_file.source();
  }
  set_busy(true);

  // A stream that cannot be sought (a pipe, standard input) is read once. A
  // search may need it again from its first byte, so while a search reads it
  // a temporary copy is kept and later readings take their bytes from there.
  constexpr uint64_t kUnknownSize = std::numeric_limits<uint64_t>::max();
  const bool seekable = source == nullptr && is_seekable_stream(file);
  const bool search = context_.settings.buffer_size == 0 || context_.settings.bit_rate == 0;
  uint64_t file_size = kUnknownSize;
  if (seekable) file_size = input == nullptr ? measure_file_size(path) : stream_file_size(file);
  std::unique_ptr<std::FILE, SpoolCloser> spool(source == nullptr && !seekable && search ? open_spool_file()
                                                                                         : nullptr);
  std::optional<SpooledInput> spooled;
  if (source == nullptr && !seekable) spooled.emplace(file, spool.get(), input_head);
  // Back to the first byte; false when the stream cannot be read again.
  auto begin_reading = [&](bool first) {
    ParsingState& parsing = context_.parsing;
    if (!first) {
      if (source != nullptr) {
        if (!source->restart()) return false;
      } else if (spooled ? !spooled->restart() : std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
      }
    }
    parsing.begin_pass();
    if (source != nullptr) {
      parsing.begin_stream(*source);
    } else if (spooled) {
      parsing.begin_stream(*spooled);
    } else {
      parsing.begin_stream(file);
    }
    parsing.paramsets().set_hrd_report_enabled(0);
    return true;
  };

  ParsingState& parsing = context_.parsing;
  ErrorReporter& reporter = context_.reporter;
  FrameRateFraction& stream_rate = context_.shared.frame_rate;
  BufferModel model(context_.settings, stream_rate, dialog);
  model.set_stream_timing(stream_timing);
  PictureCache cache(replay_cache_bytes);
  if (!replay) cache.give_up();
  std::optional<RecorderAttachment> attachment(std::in_place, reporter, replay ? &cache : nullptr);

  // Where each pass's reading stopped: pictures taken from its first byte
  // (kept or read), or the end of the stream.
  struct PassStop {
    uint64_t pictures = 0;
    bool at_end = false;
  };
  std::vector<PassStop> stops;
  bool last_pass_from_cache = false;
  bool aborted = false;

  bool read_again = true;  // the next pass reads the stream from its first byte
  bool restart = true;
  while (restart) {
    restart = false;
    const bool from_cache = !read_again;
    if (read_again) {
      if (!begin_reading(result_.reads == 0)) {
        result_.outcome = Outcome::CannotOpen;
        result_.message = kCannotReadAgainMessage;
        dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
        set_busy(false);
        return;
      }
      ++result_.reads;
    }

    ++result_.passes;
    result_.pictures = 0;
    if (on_pass_start) on_pass_start(result_.passes);
    if (!model.begin_model_pass()) break;

    uint64_t consumed = 0;
    std::size_t event_cursor = 0;
    last_pass_from_cache = from_cache;
    PassStop stop;

    for (uint64_t index = 0;; ++index) {
      if (context_.shared.abort_requested.load() != 0) {
        dialog.set_progress(kProgressFile, 0);
        dialog.set_progress(kProgressFullness, 0);
        aborted = true;
        break;
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
        if (!parsing.take_picture(bytes)) {  // end of stream: the open picture is never applied
          if (abort_cuts_input && context_.shared.abort_requested.load() != 0) {
            dialog.set_progress(kProgressFile, 0);
            dialog.set_progress(kProgressFullness, 0);
            aborted = true;
            break;
          }
          stop.at_end = true;
          break;
        }
        cache.add_picture(bytes, stream_rate);
      }
      ++stop.pictures;

      const uint32_t bits = picture_bits(bytes);
      consumed += bytes;
      dialog.set_progress(kProgressFile, percent_of(consumed, file_size));
      if (on_bytes_read && file_size == kUnknownSize) on_bytes_read(consumed);

      ModelStep step = model.apply_picture(bits);
      if (on_picture) {
        on_picture(trace_of_picture(model, result_.pictures, bits, step));
      }
      ++result_.pictures;
      if (step == ModelStep::Continue) continue;
      if (step == ModelStep::Restart) restart = true;
      break;
    }
    stops.push_back(stop);
    if (aborted) break;

    if (!cache.usable() || parsing.used_left_over_state()) {
      cache.give_up();
      read_again = true;
    } else {
      read_again = false;
    }
  }
  result_.rate_taken = model.taken_rate();
  result_.taken_fraction = model.taken_fraction();
  if (aborted) {
    result_.outcome = Outcome::Aborted;
  } else {
    result_.outcome = model.outcome();
    result_.message = model.message();
    if (result_.outcome == Outcome::Pass && result_.pictures == 0) {
      result_.outcome = Outcome::NoPictures;
      result_.message = kNoPicturesMessage;
    }
  }

  // A run that ended in a pass over kept pictures left the parsing state
  // where the furthest reading stopped. Reading the stream again for every
  // pass would have left it as the later passes' readings did: each reading
  // starts from the state the one before left and overwrites what it reads,
  // so only the passes that stopped short of every later pass matter. They
  // are read again, silently, from the furthest back to the last.
  if (last_pass_from_cache && cache.usable()) {
    // From the last pass backwards, each pass that read further than every
    // pass after it.
    std::vector<PassStop> chain;
    for (auto it = stops.rbegin(); it != stops.rend(); ++it) {
      const bool further =
          chain.empty() || (!chain.back().at_end && (it->at_end || it->pictures > chain.back().pictures));
      if (further) chain.push_back(*it);
    }
    // The furthest stop of all is where the reading already is.
    if (!chain.empty()) chain.pop_back();
    attachment.reset();
    ReporterMute mute(reporter);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!begin_reading(false)) break;
      uint32_t bytes = 0;
      for (uint64_t taken = 0; it->at_end || taken < it->pictures; ++taken) {
        if (!parsing.take_picture(bytes)) break;
      }
    }
  }
  // The end of the stream without a message passes only a stream that had
  // a picture to check.
  if (result_.outcome == Outcome::NoPictures) {
    dialog.message_box(result_.message, caption_of(BoxKind::Error), BoxKind::Error);
  }
  set_busy(false);
}

}  // namespace tarnwell
