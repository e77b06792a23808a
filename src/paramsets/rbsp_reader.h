#pragma once
// The reader every parameter-set NAL unit is parsed with: from the byte after
// the header byte up to and including the byte that holds the stop bit.
#include "stream/bit_reader.h"
#include "stream/nal_unit.h"

namespace tarnwell {

BitReader make_rbsp_reader(const NalUnit& nal);

}  // namespace tarnwell
