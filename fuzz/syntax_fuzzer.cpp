// The syntax readers on their own, each on an arbitrary RBSP: the SPS with
// its VUI and HRD parameters (report lines on, into a memory file), the PPS,
// the SEI walk and the slice header after activation.
//
// Input: byte 0 chooses the reader (bits 0-1) and, for a slice, its NAL
// header and the first-field marker (bits 2-6). For the SPS and the PPS the
// rest of the input is the RBSP. For SEI and slices the rest is split at
// 0x00 0x00 0x01 into an SPS RBSP, a PPS RBSP and the SEI or slice RBSP; an
// SEI input without a PPS part is read with no active SPS.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/error_reporter.h"
#include "fuzz_support.h"
#include "inspect/codec_text.h"
#include "paramsets/parameter_sets.h"
#include "paramsets/rbsp_reader.h"
#include "picture/picture_assembler.h"
#include "picture/slice_header.h"
#include "stream/nal_reader.h"

namespace {

using namespace tarnwell;
using tarnwell::fuzz::check;

constexpr uint8_t kSpsHeader = 0x67;
constexpr uint8_t kPpsHeader = 0x68;
constexpr uint8_t kSeiHeader = 0x06;

// A NAL unit as the picture assembler hands it to the parsers: header byte,
// RBSP, then the three bytes of the next start code that the NAL buffer holds
// behind it. The buffer is exactly that long, so a read past it is caught.
class PreparedNal {
 public:
  PreparedNal(uint8_t header, const uint8_t* rbsp, std::size_t size) : bytes_(new uint8_t[size + 4]) {
    bytes_[0] = header;
    for (std::size_t i = 0; i < size; ++i) bytes_[i + 1] = rbsp[i];
    bytes_[size + 1] = 0x00;
    bytes_[size + 2] = 0x00;
    bytes_[size + 3] = 0x01;
    nal_.start_code_length = 3;
    nal_.length = static_cast<int32_t>(size + 1);
    nal_.nal_unit_type = header & 0x1F;
    nal_.nal_ref_idc = (header >> 5) & 3;
    nal_.bytes = bytes_.get();
    nal_.readable = static_cast<int32_t>(size + 4);
  }
  const NalUnit& nal() const { return nal_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  NalUnit nal_;
};

struct Part {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Up to three parts, split at 0x00 0x00 0x01; the last part takes the rest.
std::vector<Part> split_parts(const uint8_t* data, std::size_t size) {
  std::vector<Part> parts;
  std::size_t begin = 0;
  for (std::size_t i = 0; i + 2 < size && parts.size() < 2; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      parts.push_back({data + begin, i - begin});
      begin = i + 3;
      i += 2;
    }
  }
  parts.push_back({data + begin, size - begin});
  while (parts.size() < 3) parts.push_back({data + size, 0});
  return parts;
}

// The id a PPS RBSP names, read as the handler reads it.
uint32_t pps_id_of(const PreparedNal& pps) {
  BitReader reader = make_rbsp_reader(pps.nal());
  return static_cast<uint32_t>(read_ue("PPS: pic_parameter_set_id", reader));
}

void check_reader_within(const BitReader& reader) {
  // Fixed-length reads and code bits end within the byte after the data; the
  // 1 bit of a code without leading zeros is tested against nothing but the
  // bytes written for the NAL unit (the next start code's 0x01 is one).
  const int64_t limit = std::max<int64_t>(reader.readable_bytes, int64_t{reader.byte_length} + 1);
  check(reader.bit_offset >= 0 && int64_t{reader.bit_offset} <= limit * 8, "bit reader beyond the readable bytes");
}

// The check's dialect and the standard reading, over the same bits, agree on
// every field both read alike whenever the check accepts the profile: they
// part only at the former High 4:4:4 profile (144), at chroma_format_idc 3,
// and where the standard reading stops (the bitstream restriction).
void check_dialects_agree(const NalUnit& nal) {
  auto by_check = std::make_unique<SeqParamSet>();
  BitReader reader = make_rbsp_reader(nal);
  parse_seq_parameter_set(reader, *by_check, SyntaxDialect::kCheck);
  if (by_check->valid != 1) return;
  auto by_standard = std::make_unique<SeqParamSet>();
  reader = make_rbsp_reader(nal);
  parse_seq_parameter_set(reader, *by_standard, SyntaxDialect::kStandard);
  check(by_standard->valid == 1, "the standard reading refused a profile the check accepts");
  const SeqParamSet& a = *by_check;
  const SeqParamSet& b = *by_standard;
  check(a.profile_idc == b.profile_idc && a.constraint_set0_flag == b.constraint_set0_flag &&
            a.constraint_set1_flag == b.constraint_set1_flag && a.constraint_set2_flag == b.constraint_set2_flag &&
            a.constraint_set3_flag == b.constraint_set3_flag && a.constraint_set4_flag == b.constraint_set4_flag &&
            a.constraint_set5_flag == b.constraint_set5_flag && a.level_idc == b.level_idc &&
            a.seq_parameter_set_id == b.seq_parameter_set_id,
        "the dialects disagree before chroma_format_idc");
  if (a.profile_idc == 144 || a.chroma_format_idc == 3) return;
  auto expected = std::make_unique<SeqParamSet>(a);
  VuiParameters& vui = expected->vui;
  vui.bitstream_restriction_flag = 0;
  vui.motion_vectors_over_pic_boundaries_flag = 0;
  vui.max_bytes_per_pic_denom = 0;
  vui.max_bits_per_mb_denom = 0;
  vui.log2_max_mv_length_horizontal = 0;
  vui.log2_max_mv_length_vertical = 0;
  vui.max_num_reorder_frames = 0;
  vui.max_dec_frame_buffering = 0;
  check(*expected == b, "the check's dialect and the standard reading disagree on a shared field");
}

void fuzz_sps(ParameterSets& sets, const uint8_t* rbsp, std::size_t size) {
  PreparedNal nal(kSpsHeader, rbsp, size);
  sets.process_sps_nal(nal.nal());
  check_dialects_agree(nal.nal());

  std::unique_ptr<SeqParamSet> fresh = sets.AllocSPS();
  BitReader reader = make_rbsp_reader(nal.nal());
  sets.parse_sps(reader, *fresh);
  check_reader_within(reader);
  const uint32_t id = fresh->seq_parameter_set_id;
  if (fresh->valid != 1 || id >= kSpsSlots) return;
  check(sps_equal(*fresh, sets.sps_table()[id]) == 1, "a stored SPS differs from the same SPS parsed again");

  // The same SPS sent again while it is active keeps it active.
  PicParamSet pps;
  pps.valid = 1;
  pps.seq_parameter_set_id = id;
  sets.store_pps(0, pps);
  sets.use_parameter_sets(0);
  check(sets.active_sps() == &sets.sps_table()[id], "activation did not pick the named SPS");
  sets.process_sps_nal(nal.nal());
  check(sets.active_sps() == &sets.sps_table()[id], "a re-sent equal SPS cleared the active SPS");
}

void fuzz_pps(ParameterSets& sets, const uint8_t* rbsp, std::size_t size) {
  PreparedNal nal(kPpsHeader, rbsp, size);
  sets.process_pps_nal(nal.nal());

  std::unique_ptr<PicParamSet> fresh = sets.AllocPPS();
  BitReader reader = make_rbsp_reader(nal.nal());
  parse_pps(reader, *fresh, SyntaxDialect::kCheck);
  check_reader_within(reader);
  const uint32_t id = fresh->pic_parameter_set_id;
  if (id >= kPpsSlots) return;
  check(pps_equal(*fresh, sets.pps_table()[id]) == 1, "a stored PPS differs from the same PPS parsed again");

  // The same PPS sent again while it is active keeps it active.
  sets.use_parameter_sets(id);
  check(sets.active_pps() == &sets.pps_table()[id], "activation did not pick the named PPS");
  sets.process_pps_nal(nal.nal());
  check(sets.active_pps() == &sets.pps_table()[id], "a re-sent equal PPS cleared the active PPS");
}

// Stores the SPS and PPS parts and, when there is a PPS part, activates it.
void store_and_activate(ParameterSets& sets, const Part& sps, const Part& pps) {
  PreparedNal sps_nal(kSpsHeader, sps.data, sps.size);
  PreparedNal pps_nal(kPpsHeader, pps.data, pps.size);
  sets.process_sps_nal(sps_nal.nal());
  sets.process_pps_nal(pps_nal.nal());
  if (pps.size > 0) {
    sets.use_parameter_sets(pps_id_of(pps_nal));
    check(sets.active_sps() != nullptr && sets.active_pps() != nullptr, "activation left no active set");
  }
}

void fuzz_sei(ParameterSets& sets, const std::vector<Part>& parts) {
  store_and_activate(sets, parts[0], parts[1]);
  PreparedNal sei(kSeiHeader, parts[2].data, parts[2].size);
  sets.process_sei_nal(sei.nal());
}

void fuzz_slice(ParameterSets& sets, ErrorReporter& reporter, uint8_t control, const std::vector<Part>& parts) {
  store_and_activate(sets, parts[0], parts[1]);
  const bool idr = (control & 0x04) != 0;
  const uint8_t header_byte = static_cast<uint8_t>(((control >> 3) & 3) << 5 | (idr ? 5 : 1));
  PreparedNal slice(header_byte, parts[2].data, parts[2].size);
  const NalUnit& nal = slice.nal();

  SliceHeader header;
  header.idr_flag = idr ? 1 : 0;
  header.nal_ref_idc = nal.nal_ref_idc;
  BitReader reader = make_bit_reader(nal.bytes + 1, rbsp_data_length(nal.bytes + 1, nal.length - 1), nal.readable - 1);
  read_slice_header_first_part(reader, header);
  sets.use_parameter_sets(static_cast<uint32_t>(header.pic_parameter_set_id));
  check(sets.active_sps() != nullptr && sets.active_pps() != nullptr, "activation left no active set");
  const SeqParamSet& sps = *sets.active_sps();
  int32_t marker = static_cast<int32_t>((control >> 5) % 3) - 1;
  const int32_t marker_before = marker;
  read_slice_header_rest(reader, header, sps, *sets.active_pps(), SyntaxDialect::kCheck);
  note_first_field(header, marker);
  check_reader_within(reader);
  check(marker >= -1 && marker <= 1, "first-field marker out of its values");
  check(marker_before == -1 || marker == marker_before, "a known first-field marker changed");
  check_picture_order(header, sps, reporter);

  // The first slice of a pass always begins a picture; a slice never
  // differs from itself.
  check(test_boundary(header, PreviousSlice{}, sps.pic_order_cnt_type, 0, 0).differs,
        "first slice of a pass did not differ");
  PreviousSlice same;
  record_slice(header, same);
  check(!test_boundary(header, same, sps.pic_order_cnt_type, 0, 0).differs, "a slice differs from itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const uint8_t* rest = data + 1;
  const std::size_t rest_size = size - 1;

  char sink[4096];
  std::FILE* memory = fmemopen(sink, sizeof sink, "w");
  check(memory != nullptr, "fmemopen");

  fuzz::QuietDialog dialog;
  ErrorReporter reporter(dialog);
  reporter.set_stderr_stream(memory);
  FrameRateFraction frame_rate;
  ParameterSets sets(reporter, frame_rate);
  sets.set_sps_listener([memory](const SeqParamSet& sps) { print_hrd_blocks(sps, memory); });

  switch (control & 3) {
    case 0: fuzz_sps(sets, rest, rest_size); break;
    case 1: fuzz_pps(sets, rest, rest_size); break;
    case 2: fuzz_sei(sets, split_parts(rest, rest_size)); break;
    default: fuzz_slice(sets, reporter, control, split_parts(rest, rest_size)); break;
  }

  sets.set_sps_listener(nullptr);
  std::fclose(memory);
  return 0;
}
