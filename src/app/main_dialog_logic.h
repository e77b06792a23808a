#pragma once
// What the main dialog's handlers do, apart from the window system: the
// defaults, the reading of the file name and its probe, Check, the result of
// Browse, Abort, HRD Info and dropped files. The Win32 dialog calls these on
// its own thread from its message handlers; the tests drive them through a
// recording dialog.
//
// Every handler that writes the stream path does so while holding the
// parsing lease, so that no worker reads the path while it changes. A
// handler that finds the lease taken either refuses (Check) or waits for the
// holder to let go (the file-name change, which the dialog runs again when
// it is told that the state was released).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/check_plot.h"
#include "context/application_context.h"
#include "platform/thread.h"

namespace tarnwell {

// What the edits show when the dialog opens.
inline constexpr uint32_t kDefaultBufferSize = 10000000;
inline constexpr uint32_t kDefaultInitialFill = 9000000;
inline constexpr uint32_t kDefaultBitRate = 0;
inline constexpr char kDefaultFrameRate[] = "0";

// The open-file dialog's own file-name buffer, in characters, terminator
// included. The stream path itself is written only when a file was chosen.
inline constexpr std::size_t kBrowseBufferChars = 1024;

inline constexpr char kMultipleFilesDropped[] = "Multiple files dropped - only one file will be processed";
inline constexpr char kDropInfoFailed[] = "Unable to get dropped file information";

// The system menu's item that writes the plot of the last check, beside the
// program as hrd.txt is, and opens it.
inline constexpr char kPlotMenuText[] = "&Buffer plot of the last check";
inline constexpr char kPlotFileName[] = "tarnwell-plot.svg";
inline constexpr char kPlotWriteFailed[] = "Cannot open file for the buffer plot";

// tarnwell-plot.svg in the folder of the executable at executable_path, or
// in the current folder when it has none.
std::string plot_file_path(const std::string& executable_path);

class MainDialogLogic {
 public:
  // Starts body on a new thread. The program starts every worker with
  // kWorkerStackBytes; tests hold a worker back to put it at a known point.
  using ThreadStarter = std::function<ThreadHandle(std::function<void()> body)>;
  // The shell's "open" of the written HRD report.
  using ShellOpener = std::function<void(const std::string& path)>;
  // Asks the dialog thread to run the file-name change handling again, later
  // and from its message loop. Called from any thread.
  using ChangeAgain = std::function<void()>;

  // Registers change_again as the context's parsing-released callback, so a
  // probe that found the state taken runs when its holder lets go. Create the
  // logic before any worker starts.
  MainDialogLogic(ApplicationContext& context, std::string executable_path, ShellOpener open_with_shell,
                  ChangeAgain change_again, ThreadStarter start_worker = start_worker_thread);
  MainDialogLogic(const MainDialogLogic&) = delete;
  MainDialogLogic& operator=(const MainDialogLogic&) = delete;

  // The defaults of edits 1004, 1005, 1006 and 1008; Abort disabled.
  void initialise();

  // Edit 1001 changed (typing, Browse, a drop) or a probe that waited may now
  // run. The whole text is read, as Check reads it. A file that opens becomes
  // the stream path and is probed; one that does not empties the stream path
  // and the Profile and Level fields. A file whose first bytes show that it
  // is no H.264 stream (an MP4, a transport stream, ...) empties the Profile
  // and Level fields and shows one box that says what it is, unprobed.
  void on_stream_path_changed();

  // Ignored while the last verification worker lives. Otherwise, with the
  // parsing state free, reads the settings and starts the run; with the state
  // taken by a probe or a report, shows the busy message and starts nothing.
  // A run that checks no picture ends with the box "No picture was checked"
  // (CheckRun). The bars' updates go through the context's port: the
  // program gives it a ProgressThrottle.
  void on_check();

  // The open-file dialog closed; chosen is its file-name buffer, empty when
  // the user cancelled. A cancelled dialog changes nothing.
  void on_browse_closed(std::string_view chosen);

  void on_abort();

  // Starts an HRD report thread; the report itself refuses while another
  // user holds the parsing state.
  void on_hrd_info();

  // count files were dropped on edit 1001; first_path is the first one's
  // whole path, nothing when the system could not give it.
  void on_files_dropped(uint32_t count, const std::optional<std::string>& first_path);

  // Whether the last verification worker has not ended yet.
  bool worker_alive() const;

  // A check has ended since the dialog opened (passed, failed, refused or
  // aborted) and no other runs: the plot item is enabled.
  bool plot_available() const;
  // Writes the plot of the last check that ended to plot_file_path and opens
  // it through the shell; an error box when the file cannot be written.
  // Nothing while no check has ended. False when nothing was written.
  bool on_plot_last_check();

  static ThreadHandle start_worker_thread(std::function<void()> body);

 private:
  // Stores path as the stream path if the parsing state is free. While it
  // is taken, the change handling that waits for it sets the path instead.
  void store_stream_path(const std::string& path);

  ApplicationContext& context_;
  std::string executable_path_;
  ShellOpener open_with_shell_;
  ChangeAgain change_again_;
  ThreadStarter start_worker_;
  ThreadHandle worker_;

  // The last check, for its plot: written by the worker, read on the
  // dialog thread only once the worker has ended (check_ended_ set last).
  CheckPlotRecorder plot_rows_;
  CheckPlotInput plot_input_;
  std::atomic<bool> check_ended_{false};
};

}  // namespace tarnwell
