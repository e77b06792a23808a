// The H.264 buffering period and picture timing readers, and the check's
// walk over an SEI NAL unit.
#include "paramsets/sei.h"

#include <algorithm>

#include "paramsets/parameter_sets.h"
#include "paramsets/rbsp_reader.h"

namespace tarnwell {
namespace {

// Clock timestamps per picture for pic_struct 0 .. 8.
constexpr int kNumClockTs[9] = {1, 1, 1, 2, 2, 3, 3, 2, 3};

// The lengths come from the SPS's 5-bit syntax elements (0 .. 31); a record
// built by hand can hold more, but the reads stay within 32 bits.
int field_bits(uint32_t length_minus1) { return static_cast<int>(std::min<uint32_t>(length_minus1, 31u)) + 1; }

void read_delays(BitReader& r, const HrdParameters& hrd, std::array<uint32_t, kMaxCpbEntries>& delay,
                 std::array<uint32_t, kMaxCpbEntries>& offset) {
  const int bits = field_bits(hrd.initial_cpb_removal_delay_length_minus1);
  for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1 && i < kMaxCpbEntries && r.ok(); ++i) {
    delay[i] = read_u(bits, "BP: initial_cpb_removal_delay", r);
    offset[i] = read_u(bits, "BP: initial_cpb_removal_delay_offset", r);
  }
}

void read_clock_timestamp(BitReader& reader, int time_offset_length) {
  read_u(2, "SEI: ct_type", reader);
  read_u1("SEI: nuit_field_based_flag", reader);
  read_u(5, "SEI: counting_type", reader);
  const int32_t full_timestamp_flag = read_u1("SEI: full_timestamp_flag", reader);
  read_u1("SEI: discontinuity_flag", reader);
  read_u1("SEI: cnt_dropped_flag", reader);
  read_u(8, "SEI: nframes", reader);
  if (full_timestamp_flag == 1) {
    read_u(6, "SEI: seconds_value", reader);
    read_u(6, "SEI: minutes_value", reader);
    read_u(5, "SEI: hours_value", reader);
  } else if (read_u1("SEI: seconds_flag", reader) == 1) {
    read_u(6, "SEI: seconds_value", reader);
    if (read_u1("SEI: minutes_flag", reader) == 1) {
      read_u(6, "SEI: minutes_value", reader);
      if (read_u1("SEI: hours_flag", reader) == 1) read_u(5, "SEI: hours_value", reader);
    }
  }
  if (time_offset_length != 0) read_u(time_offset_length, "SEI: time_offset", reader);
}

}  // namespace

ReadStatus peek_buffering_period_sps_id(const uint8_t* payload, int32_t size, uint32_t& seq_parameter_set_id) {
  BitReader r = make_bounded_rbsp_reader(payload, size, true);
  seq_parameter_set_id = read_ue_max("BP: seq_parameter_set_id", kSpsSlots - 1, r);
  return r.status;
}

ReadStatus parse_buffering_period(const uint8_t* payload, int32_t size, const SeqParamSet& sps, BufferingPeriod& bp) {
  bp = BufferingPeriod{};
  BitReader r = make_bounded_rbsp_reader(payload, size, true);
  bp.seq_parameter_set_id = read_ue_max("BP: seq_parameter_set_id", kSpsSlots - 1, r);
  bp.nal_present = sps.vui.nal_hrd_parameters_present_flag != 0;
  bp.vcl_present = sps.vui.vcl_hrd_parameters_present_flag != 0;
  if (bp.nal_present) {
    read_delays(r, sps.vui.nal_hrd, bp.nal_initial_cpb_removal_delay, bp.nal_initial_cpb_removal_delay_offset);
  }
  if (bp.vcl_present) {
    read_delays(r, sps.vui.vcl_hrd, bp.vcl_initial_cpb_removal_delay, bp.vcl_initial_cpb_removal_delay_offset);
  }
  return r.status;
}

ReadStatus parse_picture_timing(BitReader& reader, const SeqParamSet& sps, PictureTiming& pt, SyntaxDialect dialect,
                                ErrorReporter* reporter) {
  pt = PictureTiming{};
  if (sps.vui_parameters_present_flag == 0) return reader.status;
  const VuiParameters& vui = sps.vui;
  if (sps.cpb_dpb_delays_present()) {
    const HrdParameters& hrd = sps.timing_hrd();
    pt.cpb_removal_delay = read_u(field_bits(hrd.cpb_removal_delay_length_minus1), "SEI: cpb_removal_delay", reader);
    pt.dpb_output_delay = read_u(field_bits(hrd.dpb_output_delay_length_minus1), "SEI: dpb_output_delay", reader);
  }
  if (dialect == SyntaxDialect::kStandard || vui.pic_struct_present_flag == 0) return reader.status;

  const uint32_t pic_struct = read_u(4, "SEI: pic_struct", reader);
  if (pic_struct > 8) {
    if (reporter != nullptr) reporter->notify_error("reserved picture_structure used (can't determine NumClockTs)");
    return reader.status;
  }
  // The check sizes time_offset by the VCL block first.
  int time_offset_length = 24;
  if (vui.vcl_hrd_parameters_present_flag == 1) {
    time_offset_length = static_cast<int>(std::min<uint32_t>(vui.vcl_hrd.time_offset_length, 32u));
  } else if (vui.nal_hrd_parameters_present_flag == 1) {
    time_offset_length = static_cast<int>(std::min<uint32_t>(vui.nal_hrd.time_offset_length, 32u));
  }
  for (int i = 0; i < kNumClockTs[pic_struct]; ++i) {
    if (read_u1("SEI: clock_time_stamp_flag", reader) == 1) read_clock_timestamp(reader, time_offset_length);
  }
  return reader.status;
}

ReadStatus parse_picture_timing(const uint8_t* payload, int32_t size, const SeqParamSet& sps, PictureTiming& pt) {
  BitReader reader = make_bounded_rbsp_reader(payload, size, true);
  return parse_picture_timing(reader, sps, pt, SyntaxDialect::kStandard);
}

void ParameterSets::process_sei_nal(const uint8_t* nal_bytes, int32_t length, int32_t readable) {
  if (nal_bytes == nullptr || length < 1) return;
  // The messages start after the NAL header byte.
  const uint8_t* rbsp = nal_bytes + 1;
  readable = std::max(readable, length) - 1;
  int32_t index = 0;
  SeiMessage message;
  while (next_sei_message(rbsp, length - 1, index, message, SyntaxDialect::kCheck)) {
    if (message.payload_type != 1) continue;
    if (active_sps_ == nullptr) {
      reporter_.write_stderr_line("Warning: no active SPS, timing SEI cannot be parsed\n");
      continue;
    }
    const int32_t offset = static_cast<int32_t>(message.payload - rbsp);
    BitReader reader = make_bit_reader(message.payload, message.payload_size, readable - offset);
    PictureTiming ignored;
    parse_picture_timing(reader, *active_sps_, ignored, SyntaxDialect::kCheck, &reporter_);
  }
}

}  // namespace tarnwell
