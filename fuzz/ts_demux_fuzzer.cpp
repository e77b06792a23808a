// The transport stream demultiplexer: TS bytes in, the chosen elementary
// stream out, twice (the second reading after a restart, as a search does).
//
// Input: byte 0, bits 0-1: the packet size (found from the bytes, 188, 192
// or 204); bits 2-3: the choice (the default, a program_number, a PID, the
// default again); bits 4-7: the size of the reads (1 << n bytes, so reads of
// 1 byte to 32 KiB); bytes 1-2: the program_number or PID; the rest: the
// transport stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "ts_fuzz_choice.h"
#include "stream/ts_source.h"

namespace {

using namespace tarnwell;
using tarnwell::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const TsChoice choice = fuzz::ts_choice_from(data);
  const std::size_t block = std::size_t{1} << std::min<uint32_t>(data[0] >> 4, 15);
  const uint8_t* stream = data + 3;
  const std::size_t stream_size = size - 3;

  MemorySource memory(stream, stream_size);
  uint64_t warnings = 0;
  TsSource source(memory, choice, [&](const char* text) {
    check(std::strlen(text) > 0 && std::strlen(text) < 256, "a warning of 1 to 255 characters");
    ++warnings;
  });
  if (!source.open()) {
    check(!source.refusal().empty(), "a refusal says why");
    return 0;
  }
  const uint32_t packet_size = source.packet_size();
  check(packet_size == 188 || packet_size == 192 || packet_size == 204, "a packet size of 188, 192 or 204");

  std::vector<uint8_t> first;
  std::vector<uint8_t> buffer(block);
  std::size_t n = 0;
  while ((n = source.read(buffer.data(), buffer.size())) > 0) {
    check(n <= buffer.size(), "a read within its count");
    first.insert(first.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  }
  // Every output byte is a payload byte of a whole packet.
  const uint64_t packets = source.packets_read();
  check(packets <= stream_size / 188, "no more packets than the bytes hold");
  check(first.size() <= packets * 184, "no more bytes than the packets' payloads");
  const TsErrorCounts errors = source.errors();
  // A packet can be both lost-after and flagged, and begin a broken PES.
  check(std::max({errors.continuity, errors.transport_error, errors.pes_mid_access_unit}) <= packets + 1,
        "at most one damage of each kind of the chosen PID per packet");
  check(errors.sync_loss <= packets + 1, "at most one sync loss per packet");
  const uint64_t first_warnings = warnings;
  check(first_warnings <= 2 * packets + 2, "warnings bounded by the packets");

  // A second reading gives the same bytes and the same warnings.
  check(source.restart(), "a restart of a readable stream");
  std::vector<uint8_t> second;
  while ((n = source.read(buffer.data(), buffer.size())) > 0) {
    second.insert(second.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  }
  check(second == first, "the second reading gives the first one's bytes");
  check(warnings == 2 * first_warnings, "the second reading warns as the first");
  return 0;
}
