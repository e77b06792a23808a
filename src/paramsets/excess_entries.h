#pragma once
// Counts read from the stream may announce more entries than a record holds.
// The entries beyond the capacity are still read, so the bit position stays
// where the syntax puts it, but the walk stops at the first entry that no
// longer moves the reader: the data has run out, and a count near 2^32 must
// not turn into billions of failed reads.
#include <cstdint>

#include "stream/bit_reader.h"

namespace tarnwell {

// Reads up to `count` entries with `read_entry`; `read_entry` keeps nothing.
template <typename ReadEntry>
void read_excess_entries(uint64_t count, BitReader& reader, ReadEntry read_entry) {
  for (uint64_t i = 0; i < count; ++i) {
    const int32_t before = reader.bit_offset;
    read_entry();
    if (reader.bit_offset == before) return;
  }
}

}  // namespace tarnwell
