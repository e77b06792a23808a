#pragma once
// What the benchmarks share: a dialog that shows nothing, the stream named on
// the command line (or the one bench/make-stream writes), a warm page cache,
// one pass of the NAL unit reader, and a console reporter that keeps the
// medians it prints.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/dialog_port.h"
#include "stream/nal_reader.h"

namespace tarnwell::bench {

// Shows nothing and answers every box with Yes.
class SilentDialog : public DialogPort {
 public:
  void set_progress(int, uint32_t) override {}
  void set_text(int, const std::string&) override {}
  void set_unsigned(int, uint32_t) override {}
  std::string get_text(int, std::size_t) override { return {}; }
  void enable(int, bool) override {}
  bool is_checked(int) override { return false; }
  BoxAnswer message_box(const std::string&, const char*, BoxKind) override { return BoxAnswer::Yes; }
};

inline constexpr char kNoStream[] = "cannot open the stream; make it with bench/make-stream";

// Google Benchmark takes its own flags; the first argument left names the
// stream, else the one bench/make-stream writes into the build folder.
inline std::string initialize(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  return argc >= 2 ? argv[1] : TARNWELL_BENCH_STREAM;
}

// The stream, opened once for all the benchmarks of a program, which read it
// from its first byte each time; it says on standard error when it cannot be
// opened.
class OpenStream {
 public:
  explicit OpenStream(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
    if (file_ == nullptr) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), kNoStream);
      return;
    }
    std::fseek(file_, 0, SEEK_END);
    size_ = std::ftell(file_);
    std::rewind(file_);
  }
  ~OpenStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OpenStream(const OpenStream&) = delete;
  OpenStream& operator=(const OpenStream&) = delete;

  explicit operator bool() const { return file_ != nullptr; }
  std::FILE* file() const { return file_; }
  int64_t size() const { return size_; }

 private:
  std::FILE* file_;
  int64_t size_ = 0;
};

// Reads the whole file once, so that nothing timed waits for the disk.
// Returns the megabytes read (10^6 bytes).
inline double warm_page_cache(const std::string& path) {
  double megabytes = 0;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::vector<char> block(kReadWindowBytes);
    std::size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) megabytes += static_cast<double>(n) / 1e6;
    std::fclose(file);
  }
  return megabytes;
}

struct ReaderCounts {
  uint64_t nal_units = 0;
  uint64_t nal_bytes = 0;  // as the pictures count them: kept and dropped bytes
};

// One pass of the reader over the whole file from its first byte, each NAL
// unit prepared as the picture assembler prepares it.
inline ReaderCounts reader_pass(NalReader& reader, std::FILE* file) {
  ReaderCounts counts;
  NalUnit nal;
  std::rewind(file);
  reader.reset();
  reader.begin_stream(file);
  while (reader.GetAnnexbNALU(nal) == 1) {
    reader.prepare(nal);
    ++counts.nal_units;
    counts.nal_bytes += static_cast<uint64_t>(nal.length) + nal.dropped_bytes;
  }
  return counts;
}

// The console output, plus the median real time of each benchmark, by the
// name it was registered with, in the unit it was registered with.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  explicit MedianReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // 0 when the benchmark did not run (filtered out, or skipped).
  double median(const std::string& name) const {
    auto found = medians_.find(name);
    return found == medians_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace tarnwell::bench
