#pragma once
// An output file of tarnwell-cli (a trace, a plot, a CSV, an HRD report),
// written under a temporary name beside it and put in its place only when
// complete: an interrupted or failed command never leaves an empty or half
// file under the user's name, and a file that was there stays as it was.
// "-" is standard output, written as it goes; so is a device or a pipe
// (/dev/null), which is never replaced.
#include <cstdio>
#include <string>
#include <vector>

namespace tarnwell {

class OutputTarget {
 public:
  OutputTarget() = default;
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;
  // Not committed: the temporary file goes, the path is untouched.
  ~OutputTarget() { discard(); }

  // Checks that `path` can be written (not a folder; an existing file
  // writable) and creates the temporary file beside it, so that a command
  // finds out before it reads its input. False, with the system's reason,
  // when it cannot. A second Ctrl-C removes the temporary file as it ends the
  // process (InterruptGuard::track_temporary).
  // `text`: written in text mode (CR LF line ends on Windows), as the HRD
  // report and the traces are; otherwise byte for byte.
  bool open(const std::string& path, std::string& reason, bool text = false);
  bool is_open() const { return file_ != nullptr; }
  std::FILE* get() const { return file_; }

  // False for standard output and for a device or pipe (written where it
  // is, as it goes): what was written there cannot be taken back.
  bool can_rewind() const { return file_ != nullptr && !temp_.empty(); }
  // The whole text, written after what is there.
  bool write(const std::string& text);
  // Closes the temporary file and puts it in the path's place (on standard
  // output: flushes it). False, with the system's reason, when a write, the
  // close or the renaming failed; the path is then untouched.
  bool commit(std::string& reason);
  // Drops what was written; the path is untouched.
  void discard();

 private:
  std::string path_;  // the file the output becomes (a link's target)
  std::string temp_;
  std::FILE* file_ = nullptr;
  bool to_stdout_ = false;
  int slot_ = -1;  // the interrupt guard's record of the temporary file
};

// "tarnwell-cli: cannot write the WHAT file PATH: REASON" on err; returns
// exit code 2.
int cannot_write(std::FILE* err, const char* what, const std::string& path, const std::string& reason);

// The whole text as the file at path ("-": standard output), made as an
// OutputTarget makes it; false, with the system's reason, when it cannot be.
bool write_output_file(const std::string& path, const std::string& text, std::string& reason, bool text_mode = false);

// Rows held aside until a command knows which of them the output gets (the
// last pass's, the chosen test's): numbered parts in unnamed temporary
// files, so nothing is left behind however the run ends.
class OutputParts {
 public:
  OutputParts() = default;
  OutputParts(const OutputParts&) = delete;
  OutputParts& operator=(const OutputParts&) = delete;
  ~OutputParts();

  // Part i, made when first asked for; null once a part could not be made.
  std::FILE* part(std::size_t i);
  // Empties part i; false when it cannot.
  bool clear(std::size_t i);
  // Part i (nothing when it was never made) written onto out; false when a
  // part could not be made, read or written.
  bool copy(std::size_t i, std::FILE* out);

 private:
  std::vector<std::FILE*> files_;
  bool failed_ = false;
};

}  // namespace tarnwell
