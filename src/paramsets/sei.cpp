// SEI NAL units: the walk over their messages, and the two payloads read
// element by element (picture timing, recovery point). Nothing read is kept.
#include <algorithm>

#include "paramsets/parameter_sets.h"

namespace tarnwell {
namespace {

// payloadType or payloadSize: 0xFF bytes add 255 each, the first other byte
// ends the value. False when the data ends first.
bool read_sei_value(const uint8_t* rbsp, int32_t length, int32_t& index, uint64_t& value) {
  value = 0;
  for (;;) {
    if (index >= length) return false;
    const uint8_t byte = rbsp[index++];
    value += byte;
    if (byte != 0xFF) return true;
  }
}

// Clock timestamps per picture for pic_struct 0 .. 8.
constexpr int kNumClockTs[9] = {1, 1, 1, 2, 2, 3, 3, 2, 3};

// Lengths of the timing fields come from the SPS's 5-bit syntax elements;
// an empty record can hold nothing larger, but the reads stay within 32 bits.
int field_bits(uint32_t length_minus1) { return static_cast<int>(std::min<uint32_t>(length_minus1, 31u)) + 1; }

}  // namespace

void ParameterSets::process_sei_nal(const uint8_t* rbsp, int32_t length, int32_t readable) {
  if (rbsp == nullptr) return;
  readable = std::max(readable, length);
  int32_t index = 1;  // the byte after the NAL header
  for (;;) {
    uint64_t payload_type = 0;
    uint64_t payload_size = 0;
    if (!read_sei_value(rbsp, length, index, payload_type)) return;
    if (!read_sei_value(rbsp, length, index, payload_size)) return;
    // A payload that reaches the last byte, or beyond, is not read.
    if (static_cast<uint64_t>(index) + payload_size >= static_cast<uint64_t>(length)) return;

    const uint8_t* payload = rbsp + index;
    const uint32_t size = static_cast<uint32_t>(payload_size);
    if (payload_type == 1) {
      parse_pic_timing(payload, size, readable - index);
    } else if (payload_type == 6) {
      parse_recovery_point(payload, size, readable - index);
    }

    index += static_cast<int32_t>(payload_size);
    // 0x80: the RBSP stop bit with its seven zero bits.
    if (rbsp[index] == 0x80) return;
  }
}

void ParameterSets::parse_pic_timing(const uint8_t* payload, uint32_t size, int32_t readable) {
  if (active_sps_ == nullptr) {
    reporter_.write_stderr_line("Warning: no active SPS, timing SEI cannot be parsed\n");
    return;
  }
  const SeqParamSet& sps = *active_sps_;
  if (sps.vui_parameters_present_flag == 0) return;
  const VuiParameters& vui = sps.vui;

  BitReader reader = make_bit_reader(payload, static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)), readable);

  // The NAL HRD block is preferred for the delays...
  if (vui.nal_hrd_parameters_present_flag == 1) {
    read_u(field_bits(vui.nal_hrd.cpb_removal_delay_length_minus1), "SEI: cpb_removal_delay", reader);
    read_u(field_bits(vui.nal_hrd.dpb_output_delay_length_minus1), "SEI: dpb_output_delay", reader);
  } else if (vui.vcl_hrd_parameters_present_flag == 1) {
    read_u(field_bits(vui.vcl_hrd.cpb_removal_delay_length_minus1), "SEI: cpb_removal_delay", reader);
    read_u(field_bits(vui.vcl_hrd.dpb_output_delay_length_minus1), "SEI: dpb_output_delay", reader);
  }
  if (vui.pic_struct_present_flag == 0) return;

  const uint32_t pic_struct = read_u(4, "SEI: pic_struct", reader);
  if (pic_struct > 8) {
    reporter_.notify_error("reserved picture_structure used (can't determine NumClockTs)");
    return;
  }

  // ...the VCL block for the time offset.
  int time_offset_length = 24;
  if (vui.vcl_hrd_parameters_present_flag == 1) {
    time_offset_length = static_cast<int>(std::min<uint32_t>(vui.vcl_hrd.time_offset_length, 32u));
  } else if (vui.nal_hrd_parameters_present_flag == 1) {
    time_offset_length = static_cast<int>(std::min<uint32_t>(vui.nal_hrd.time_offset_length, 32u));
  }

  for (int i = 0; i < kNumClockTs[pic_struct]; ++i) {
    const int32_t clock_time_stamp_flag = read_u1("SEI: clock_time_stamp_flag", reader);
    if (clock_time_stamp_flag == 0) continue;
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
        if (read_u1("SEI: hours_flag", reader) == 1) {
          read_u(5, "SEI: hours_value", reader);
        }
      }
    }
    if (time_offset_length != 0) read_u(time_offset_length, "SEI: time_offset", reader);
  }
}

void parse_recovery_point(const uint8_t* payload, uint32_t size, int32_t readable) {
  BitReader reader = make_bit_reader(payload, static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)), readable);
  read_ue("SEI: recovery_frame_cnt", reader);
  read_u1("SEI: exact_match_flag", reader);
  read_u1("SEI: broken_link_flag", reader);
  read_u(2, "SEI: changing_slice_group_idc", reader);
}

}  // namespace tarnwell
