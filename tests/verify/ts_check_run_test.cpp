// A check over a transport stream's elementary stream reads the stream
// again, demultiplexed again, for every pass of a search, and ends exactly
// as the check of the elementary stream itself does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "context/application_context.h"
#include "stream/ts_source.h"
#include "support/recording_dialog.h"
#include "support/ts_builder.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using test::Bytes;

std::string stream_path(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

// The elementary stream in PES packets that each begin at a start code, as
// a multiplexer puts access units in them.
Bytes multiplex(const Bytes& es) {
  uint8_t cc[3] = {};
  std::vector<Bytes> packets = test::section_packets(0, test::pat_section({{1, 0x100}}), cc[0]);
  for (const Bytes& p : test::section_packets(0x100, test::pmt_section(1, 0x101, {{0x1B, 0x101}}), cc[1]))
    packets.push_back(p);
  std::size_t begin = 0;
  for (std::size_t i = 1; i <= es.size(); ++i) {
    const bool cut = i == es.size() || (i + 4 <= es.size() && i - begin > 20000 && es[i] == 0 && es[i + 1] == 0 &&
                                        es[i + 2] == 0 && es[i + 3] == 1);
    if (!cut) continue;
    Bytes pes = test::pes_header(static_cast<int64_t>(i));
    pes.insert(pes.end(), es.begin() + static_cast<std::ptrdiff_t>(begin), es.begin() + static_cast<std::ptrdiff_t>(i));
    for (const Bytes& p : test::pes_packets(0x101, pes, cc[2])) packets.push_back(p);
    begin = i;
  }
  return test::join(packets);
}

struct Checked {
  CheckRunResult result;
  CheckSettings settings;
  std::vector<test::ShownBox> boxes;
};

// A bit-rate search that reads the stream for every pass.
Checked check(const std::string& es_path, RewindableSource* source) {
  test::RecordingDialog dialog;
  ApplicationContext context(dialog);
  context.settings = CheckSettings{1000000, 900000, 0, 0.0};
  context.shared.stream_path = es_path;
  CheckRun run(context);
  run.replay = false;
  run.source = source;
  run.run();
  return Checked{run.result(), context.settings, dialog.boxes()};
}

TEST(TsCheckRun, SearchReadsTheTransportStreamAgainAndEndsAsOnTheElementaryStream) {
  const std::string path = stream_path("x264_cbr_1000k_25fps.264");
  const Bytes es = test::read_file_bytes(path);
  ASSERT_GT(es.size(), 100000u);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const Bytes ts = multiplex(es);
  ASSERT_EQ(std::fwrite(ts.data(), 1, ts.size(), file), ts.size());
  std::rewind(file);
  FileSource packets(file);
  std::vector<std::string> warnings;
  TsSource source(packets, {}, [&](const char* text) { warnings.push_back(text); });
  ASSERT_TRUE(source.open());

  const Checked on_es = check(path, nullptr);
  const Checked on_ts = check(path, &source);
  std::fclose(file);
  EXPECT_GT(on_ts.result.reads, 1u);
  EXPECT_EQ(on_ts.result.reads, on_es.result.reads);
  EXPECT_EQ(on_ts.result.passes, on_es.result.passes);
  EXPECT_EQ(on_ts.result.pictures, on_es.result.pictures);
  EXPECT_EQ(on_ts.result.outcome, on_es.result.outcome);
  EXPECT_EQ(on_ts.result.message, on_es.result.message);
  EXPECT_EQ(on_ts.settings.bit_rate, on_es.settings.bit_rate);
  EXPECT_EQ(on_ts.boxes.size(), on_es.boxes.size());
  EXPECT_TRUE(warnings.empty());
}

}  // namespace
}  // namespace tarnwell
