#pragma once
// The H.264 SEI payloads that concern the buffer: buffering_period(), read
// with the SPS it names, and pic_timing(), read with the active SPS's HRD
// lengths. One reader of each for every command; the walk over the messages
// and the records they fill are in sei_message.h.
#include <cstdint>

#include "base/error_reporter.h"
#include "paramsets/sei_message.h"
#include "paramsets/sps.h"
#include "stream/bit_reader.h"

namespace tarnwell {

// Reads seq_parameter_set_id only, so the caller can find the SPS.
ReadStatus peek_buffering_period_sps_id(const uint8_t* payload, int32_t size, uint32_t& seq_parameter_set_id);
ReadStatus parse_buffering_period(const uint8_t* payload, int32_t size, const SeqParamSet& sps, BufferingPeriod& bp);

// pic_timing(): the delays when the SPS has CpbDpbDelaysPresentFlag set,
// sized by its NAL HRD block, else its VCL block. The standard reading stops
// there (nothing further concerns timing). The check's reading goes on
// through pic_struct and the clock timestamps, whose time_offset_length it
// takes from the VCL block first, and tells `reporter` of a reserved
// pic_struct.
ReadStatus parse_picture_timing(BitReader& reader, const SeqParamSet& sps, PictureTiming& pt, SyntaxDialect dialect,
                                ErrorReporter* reporter = nullptr);
// The standard reading of a payload of `size` bytes.
ReadStatus parse_picture_timing(const uint8_t* payload, int32_t size, const SeqParamSet& sps, PictureTiming& pt);

}  // namespace tarnwell
