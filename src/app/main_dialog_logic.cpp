#include "app/main_dialog_logic.h"

#include <cstdio>
#include <utility>

#include "app/dialog_check_observer.h"
#include "app/input_check.h"
#include "app/settings_input.h"
#include "inspect/codec_text.h"
#include "stream/input_format.h"
#include "stream/stream_file.h"
#include "verify/check_run.h"

namespace tarnwell {

namespace {

// A path is a C string for the file functions: it ends at its first NUL,
// and the stream path holds at most kStreamPathChars characters.
std::string as_stream_path(std::string text) {
  std::size_t end = text.find('\0');
  if (end == std::string::npos) end = text.size();
  if (end > kStreamPathChars) end = kStreamPathChars;
  text.resize(end);
  return text;
}

}  // namespace

std::string plot_file_path(const std::string& executable_path) {
  std::string path = hrd_report_path(executable_path);
  path.resize(path.size() - (sizeof kHrdReportName - 1));
  return path + kPlotFileName;
}

MainDialogLogic::MainDialogLogic(ApplicationContext& context, std::string executable_path,
                                 ShellOpener open_with_shell, ChangeAgain change_again, ThreadStarter start_worker)
    : context_(context),
      executable_path_(std::move(executable_path)),
      open_with_shell_(std::move(open_with_shell)),
      change_again_(std::move(change_again)),
      start_worker_(std::move(start_worker)) {
  context_.set_on_parsing_released(change_again_);
}

ThreadHandle MainDialogLogic::start_worker_thread(std::function<void()> body) {
  return start_thread(std::move(body), kWorkerStackBytes);
}

void MainDialogLogic::initialise() {
  DialogPort& dialog = context_.dialog;
  dialog.set_unsigned(kEditBufferSize, kDefaultBufferSize);
  dialog.set_unsigned(kEditInitialFill, kDefaultInitialFill);
  dialog.set_unsigned(kEditBitRate, kDefaultBitRate);
  dialog.set_text(kEditFrameRate, kDefaultFrameRate);
  dialog.enable(kButtonAbort, false);
}

void MainDialogLogic::store_stream_path(const std::string& path) {
  ApplicationContext::ParsingLease lease = context_.try_take_parsing();
  if (lease) context_.shared.stream_path = as_stream_path(path);
}

void MainDialogLogic::on_stream_path_changed() {
  DialogPort& dialog = context_.dialog;
  const std::string text = as_stream_path(dialog.get_text(kEditStreamPath, kStreamPathChars));

  ApplicationContext::ParsingLease lease = context_.try_take_parsing();
  if (!lease) {
    // A run or a report is reading the stream named by the path; the path
    // and the probe wait until it lets go, which calls change_again.
    context_.request_probe_after_release();
    return;
  }
  // Tested the way the run opens the stream, so that a folder's name, which
  // POSIX opens for reading, counts as a name that does not open.
  std::FILE* trial = open_stream_file(text.c_str());
  if (trial == nullptr) {
    context_.shared.stream_path.clear();
    dialog.set_text(kEditProfile, "");
    dialog.set_text(kEditLevel, "");
    return;
  }
  context_.shared.stream_path = text;
  // A file that is clearly something else (an MP4, an H.265 stream, ...) is
  // not probed: the parser would fill the reporter's boxes with what it
  // makes of the container. One box says what the file is. A transport
  // stream is probed, run and reported through its H.264 stream. A stream that
  // cannot be sought (a FIFO) is not looked at: its bytes would be gone.
  InputFormat format;
  if (is_seekable_stream(trial)) {
    const InputHead head = read_input_head(trial, kInputHeadBytes);
    format = recognize_input(head.bytes.data(), head.bytes.size());
  }
  std::fclose(trial);
  lease.release();
  if (format.kind != InputKind::H264 && format.kind != InputKind::TransportStream) {
    dialog.set_text(kEditProfile, "");
    dialog.set_text(kEditLevel, "");
    dialog.message_box(unsupported_file_message(format, text), caption_of(BoxKind::Warning), BoxKind::Warning);
    return;
  }
  // Should a worker started just now take the state first, the probe asks
  // to run again when that worker lets go.
  probe_profile_level(context_);
}

bool MainDialogLogic::worker_alive() const { return !has_ended(worker_); }

void MainDialogLogic::on_check() {
  if (worker_alive()) return;
  {
    ApplicationContext::ParsingLease lease = context_.try_take_parsing();
    if (!lease) {
      context_.dialog.message_box(kBusyMessage, caption_of(BoxKind::Error), BoxKind::Error);
      return;
    }
    read_check_settings(context_.dialog, context_.settings, context_.shared);
    plot_input_.stream_path = context_.shared.stream_path;
  }
  plot_input_.strict = context_.dialog.is_checked(kCheckStrictOverflow);
  check_ended_.store(false);
  worker_ = start_worker_([this] {
    DialogCheckObserver observer(context_.dialog);
    CheckRun run(context_, observer);
    run.on_pass_start = [this](uint32_t) { plot_rows_.start_pass(); };
    run.on_picture = [this](const PictureTrace& row) { plot_rows_.record(row); };
    run.run();
    plot_input_.settings = context_.settings;
    plot_input_.outcome = run.result().outcome;
    plot_input_.message = run.result().message;
    check_ended_.store(true);
  });
}

bool MainDialogLogic::plot_available() const { return check_ended_.load() && !worker_alive(); }

bool MainDialogLogic::on_plot_last_check() {
  if (!plot_available()) return false;
  const std::string path = plot_file_path(executable_path_);
  if (!write_check_plot(path, plot_input_, plot_rows_)) {
    context_.dialog.message_box(kPlotWriteFailed, caption_of(BoxKind::Error), BoxKind::Error);
    return false;
  }
  if (open_with_shell_) open_with_shell_(path);
  return true;
}

void MainDialogLogic::on_browse_closed(std::string_view chosen) {
  if (chosen.empty()) return;
  const std::string path(chosen);
  store_stream_path(path);
  // Raises the change notification, which probes the file or clears the
  // Profile and Level fields.
  context_.dialog.set_text(kEditStreamPath, path);
}

void MainDialogLogic::on_abort() { context_.shared.abort_requested.store(1); }

void MainDialogLogic::on_hrd_info() {
  ApplicationContext& context = context_;
  const std::string executable_path = executable_path_;
  ShellOpener open = open_with_shell_;
  // Neither kept nor waited for: the handle is released at once.
  start_worker_([&context, executable_path, open] { hrd_report_thread(context, executable_path, open); });
}

void MainDialogLogic::on_files_dropped(uint32_t count, const std::optional<std::string>& first_path) {
  DialogPort& dialog = context_.dialog;
  if (count > 1) {
    dialog.message_box(kMultipleFilesDropped, caption_of(BoxKind::Warning), BoxKind::Warning);
  }
  if (!first_path) {
    dialog.message_box(kDropInfoFailed, caption_of(BoxKind::Error), BoxKind::Error);
    return;
  }
  // The edit first (its change notification probes the file or clears
  // Profile and Level), then the stream path, whether or not the file opens.
  dialog.set_text(kEditStreamPath, *first_path);
  store_stream_path(*first_path);
}

}  // namespace tarnwell
