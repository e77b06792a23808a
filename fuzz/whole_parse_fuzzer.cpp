// The whole parse: the input is a stream file, first recognised as every
// command does. One verification run over it
// through an application context whose read window and NAL buffer are small,
// so that their ends are met by small inputs; the model is fed every picture
// (the settings never stop a run early).
//
// Input: byte 0 chooses the window, 4096 >> (byte % 9) bytes (16 .. 4096; a
// real stream's leading zero byte gives 4096); the rest is the stream file.
// When bits 6 and 7 of byte 0 are both set, the HRD report and the profile
// and level probe take their pass over the file after the run (a quarter of
// the inputs: each of those passes costs about as much as the run's). When
// bit 5 is set, the HRD conformance check takes its own pass, with read
// blocks of the window's size.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "fuzz_support.h"
#include "inspect/codec_text.h"
#include "stream/input_format.h"
#include "verify/check_run.h"
#include "verify/hrd_run.h"

namespace {

using namespace tarnwell;
using tarnwell::fuzz::check;

std::string stream_path() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != 0 ? dir : "/tmp";
  return path + "/tarnwell-fuzz-whole-" + std::to_string(::getpid()) + ".264";
}

bool write_file(const std::string& path, const uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint32_t window = 4096u >> (data[0] % 9);
  const uint8_t* stream = data + 1;
  const std::size_t stream_size = size - 1;
  // What every command looks at first: the recognition of the input.
  const InputFormat format = recognize_input(stream, stream_size);
  check(format.kind != InputKind::TransportStream || format.packet_size != 0, "a transport stream has a packet size");

  const std::string path = stream_path();
  if (!write_file(path, stream, stream_size)) {
    std::perror("writing the fuzz input file");
    std::abort();
  }

  // Report lines and standard-error lines go to memory, not to the terminal.
  char sink[4096];
  std::FILE* memory = fmemopen(sink, sizeof sink, "w");
  check(memory != nullptr, "fmemopen");

  fuzz::QuietDialog dialog;
  ApplicationContext context(dialog, window);
  context.reporter.set_stderr_stream(memory);
  context.shared.stream_path = path;
  // Nothing in a stream of this size can stop these settings: the buffer
  // holds 2^32 - 1 bits and refills by more than any picture here can take.
  context.settings = CheckSettings{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 25.0};

  uint64_t applied_bytes = 0;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.on_picture = [&](const PictureTrace& trace) {
    check(trace.size_bits % 8 == 0, "picture size not a whole number of bytes");
    applied_bytes += trace.size_bits / 8;
  };
  run.run();
  const CheckRunResult& result = run.result();
  // It passes, or it had no picture to check.
  check(result.outcome == (result.pictures > 0 ? Outcome::Pass : Outcome::NoPictures),
        "a run that nothing can stop did not pass");
  check(result.passes == 1, "a run without a search took more than one pass");
  // Sizes count NAL headers and payloads without start codes and emulation
  // prevention bytes: never more than the file holds.
  check(applied_bytes <= stream_size, "applied picture sizes exceed the file size");
  check(!context.parsing_busy(), "the run kept the parsing state");

  if ((data[0] & 0xC0) == 0xC0) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    check(file != nullptr, "reopening the fuzz input file");
    ApplicationContext::ParsingLease lease = context.try_take_parsing();
    check(static_cast<bool>(lease), "parsing state busy after the run");
    write_hrd_report(context, file, memory);
    std::fclose(file);
    lease.release();
    check(probe_profile_level(context) == ProbeResult::Shown, "probe did not show");
  }

  if ((data[0] & 0x20) != 0) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    check(file != nullptr, "reopening the fuzz input file");
    HrdRunOptions options;
    options.max_violations = 3;
    uint64_t rows = 0;
    const HrdRunResult hrd = run_hrd_conformance(
        file, options, [&](std::size_t, const HrdTraceRow&) { ++rows; }, window);
    std::fclose(file);
    check(hrd.untested_access_units <= hrd.access_units, "more untested access units than access units");
    for (const HrdTestResult& test : hrd.tests) {
      check(test.access_units <= hrd.access_units, "a test saw more access units than the stream holds");
      check(test.violations.size() <= 3 && test.violations.size() <= test.violation_count, "violations not capped");
      check(test.conforms == (test.violation_count == 0 && !test.stopped), "verdict disagrees with the violations");
    }
    check(rows <= hrd.access_units * hrd.tests.size(), "more trace rows than access units");
  }

  std::fclose(memory);
  std::remove(path.c_str());
  return 0;
}
