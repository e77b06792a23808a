#include "paramsets/timing_sei.h"

#include "paramsets/rbsp_reader.h"

namespace tarnwell {
namespace {

// payloadType or payloadSize: each 0xFF byte adds 255, the first other byte
// ends the value.
bool read_sei_value(const uint8_t* rbsp, int32_t size, int32_t& index, uint32_t& value) {
  uint64_t sum = 0;
  for (;;) {
    if (index >= size) return false;
    const uint8_t byte = rbsp[index++];
    sum += byte;
    if (sum > 0x7FFFFFFF) return false;
    if (byte != 0xFF) break;
  }
  value = static_cast<uint32_t>(sum);
  return true;
}

int field_bits(uint32_t length_minus1) { return static_cast<int>(length_minus1 & 31u) + 1; }

void read_delays(BitReader& r, const HrdParameters& hrd, std::array<uint32_t, kMaxCpbEntries>& delay,
                 std::array<uint32_t, kMaxCpbEntries>& offset) {
  const int bits = field_bits(hrd.initial_cpb_removal_delay_length_minus1);
  for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1 && i < kMaxCpbEntries && r.ok(); ++i) {
    delay[i] = read_u(bits, "BP: initial_cpb_removal_delay", r);
    offset[i] = read_u(bits, "BP: initial_cpb_removal_delay_offset", r);
  }
}

}  // namespace

bool next_sei_message(const uint8_t* rbsp, int32_t size, int32_t& index, SeiMessage& message) {
  if (rbsp == nullptr || index < 0 || index >= size) return false;
  // Only the stop bit's byte left: no more messages.
  if (rbsp[index] == 0x80 && index == size - 1) return false;
  uint32_t type = 0;
  uint32_t payload_size = 0;
  if (!read_sei_value(rbsp, size, index, type)) return false;
  if (!read_sei_value(rbsp, size, index, payload_size)) return false;
  if (int64_t{index} + payload_size > size) return false;
  message.payload_type = type;
  message.payload = rbsp + index;
  message.payload_size = static_cast<int32_t>(payload_size);
  index += static_cast<int32_t>(payload_size);
  return true;
}

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

ReadStatus parse_picture_timing(const uint8_t* payload, int32_t size, const SeqParamSet& sps, PictureTiming& pt) {
  pt = PictureTiming{};
  BitReader r = make_bounded_rbsp_reader(payload, size, true);
  const HrdParameters& hrd = sps.timing_hrd();
  pt.cpb_removal_delay = read_u(field_bits(hrd.cpb_removal_delay_length_minus1), "PT: cpb_removal_delay", r);
  pt.dpb_output_delay = read_u(field_bits(hrd.dpb_output_delay_length_minus1), "PT: dpb_output_delay", r);
  return r.status;
}

}  // namespace tarnwell
