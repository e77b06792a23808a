#include "picture/access_unit_splitter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "paramsets/rbsp_reader.h"
#include "stream/nal_reader.h"

namespace tarnwell {
namespace {

constexpr uint32_t kKeepBytes = 1u << 20;

// VCL NAL units: slices, data partitions A, B and C, IDR slices.
bool is_vcl(int32_t type) { return type >= 1 && type <= 5; }

// Those that begin with a slice header. Partitions B and C (types 3 and 4)
// begin with slice_id and belong to the picture of their partition A.
bool has_slice_header(int32_t type) { return type == 1 || type == 2 || type == 5; }

// NAL unit types that, after the last VCL NAL unit of a primary coded
// picture, begin the next access unit.
bool begins_access_unit(int32_t type) {
  return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
}

}  // namespace

AccessUnitSplitter::AccessUnitSplitter(uint32_t block_bytes) : scanner_(block_bytes, kKeepBytes) {
  rbsp_.reset(new (std::nothrow) uint8_t[kKeepBytes + 1]);
}

void AccessUnitSplitter::begin(ByteSource& source) {
  begin(static_cast<std::FILE*>(nullptr));
  scanner_.begin(source);
}

void AccessUnitSplitter::begin(std::FILE* file, std::vector<uint8_t> head) {
  scanner_.begin(file, std::move(head));
  sps_valid_.fill(false);
  pps_valid_.fill(false);
  notes_ = SplitterNotes{};
  has_pending_ = false;
  ended_ = false;
  end_status_ = 0;
  open_ = false;
  index_ = 0;
  last_sps_id_ = -1;
  last_slice_ = UnitSlice{};
}

// The NAL unit's kept bytes after the header, emulation prevention removed,
// into rbsp_; returns their count.
int32_t AccessUnitSplitter::to_rbsp(const ScannedNal& nal) {
  if (nal.kept <= 1 || rbsp_ == nullptr) return 0;
  const int32_t n = static_cast<int32_t>(nal.kept - 1);
  std::memcpy(rbsp_.get(), nal.data + 1, static_cast<std::size_t>(n));
  rbsp_[n] = 0;
  return remove_emulation_prevention(rbsp_.get(), n, 0);
}

void AccessUnitSplitter::take_sps(int32_t size) {
  SeqParamSet sps;
  if (parse_seq_parameter_set(rbsp_.get(), size, sps) != ReadStatus::kOk) {
    ++notes_.broken_sps;
    last_nal_broken_ = true;
    return;
  }
  sps_[sps.seq_parameter_set_id] = sps;
  sps_valid_[sps.seq_parameter_set_id] = true;
}

void AccessUnitSplitter::take_pps(int32_t size) {
  PicParamSet pps;
  if (parse_pps(rbsp_.get(), size, pps) != ReadStatus::kOk) {
    ++notes_.broken_pps;
    last_nal_broken_ = true;
    return;
  }
  pps_[pps.pic_parameter_set_id] = std::move(pps);
  pps_valid_[pps.pic_parameter_set_id] = true;
}

void AccessUnitSplitter::take_sei(int32_t size, bool complete) {
  int32_t index = 0;
  SeiMessage message;
  while (next_sei_message(rbsp_.get(), size, index, message)) {
    if (message.payload_type == 0 && !has_bp_) {
      uint32_t id = 0;
      if (peek_buffering_period_sps_id(message.payload, message.payload_size, id) != ReadStatus::kOk) {
        ++notes_.broken_sei;
        continue;
      }
      if (!sps_valid_[id]) {
        if (notes_.buffering_period_without_sps++ == 0) notes_.missing_sps_id = id;
        continue;
      }
      if (parse_buffering_period(message.payload, message.payload_size, sps_[id], bp_) != ReadStatus::kOk) {
        ++notes_.broken_sei;
        continue;
      }
      has_bp_ = true;
      unit_sps_id_ = static_cast<int32_t>(id);
    } else if (message.payload_type == 1 && pt_size_ < 0) {
      pt_size_ = std::min<int32_t>(message.payload_size, static_cast<int32_t>(pt_bytes_.size()));
      std::memcpy(pt_bytes_.data(), message.payload, static_cast<std::size_t>(pt_size_));
    }
  }
  // The walk ends at the rbsp_trailing_bits when the unit is whole.
  const bool read_all = index >= 0 && index == size - 1 && rbsp_[index] == 0x80;
  last_nal_broken_ = complete && !read_all;
  // An SEI NAL unit longer than what is kept loses its later messages.
  if (!complete) ++notes_.broken_sei;
}

UnitSlice AccessUnitSplitter::read_slice(const ScannedNal& nal, int32_t size) {
  UnitSlice slice;
  SliceHeader& header = slice.header;
  header.idr_flag = nal.nal_unit_type == 5 ? 1 : 0;
  header.nal_ref_idc = nal.nal_ref_idc;
  BitReader r = make_bounded_rbsp_reader(rbsp_.get(), size);
  read_slice_header_first_part(r, header);
  if (!r.ok()) return slice;
  const auto pps_id = static_cast<uint32_t>(header.pic_parameter_set_id);
  if (!pps_valid_[pps_id]) return slice;
  const PicParamSet& pps = pps_[pps_id];
  if (!sps_valid_[pps.seq_parameter_set_id]) return slice;
  const SeqParamSet& sps = sps_[pps.seq_parameter_set_id];
  slice.seq_parameter_set_id = pps.seq_parameter_set_id;
  slice.pic_order_cnt_type = sps.pic_order_cnt_type;
  read_slice_header_rest(r, header, sps, pps, SyntaxDialect::kStandard);
  slice.valid = r.ok();
  return slice;
}

void AccessUnitSplitter::open_unit(const ScannedNal& nal) {
  open_ = true;
  // The zero bytes in front of the first start code (leading_zero_8bits)
  // belong to the first access unit.
  unit_start_ = index_ == 0 ? nal.start - std::min<uint64_t>(nal.start, scanner_.leading_zero_bytes()) : nal.start;
  vcl_bytes_ = 0;
  has_vcl_ = false;
  first_slice_ = UnitSlice{};
  unit_sps_id_ = -1;
  has_bp_ = false;
  pt_size_ = -1;
}

void AccessUnitSplitter::add_to_unit(const ScannedNal& nal, const UnitSlice* slice) {
  const int32_t type = nal.nal_unit_type;
  if (is_vcl(type) || type == 12) vcl_bytes_ += nal.size();
  last_nal_broken_ = slice != nullptr && !slice->valid;
  if (slice != nullptr) {
    if (!has_vcl_) {
      first_slice_ = *slice;
      if (unit_sps_id_ < 0 && slice->valid) unit_sps_id_ = static_cast<int32_t>(slice->seq_parameter_set_id);
    }
    has_vcl_ = true;
    if (slice->header.redundant_pic_cnt == 0) last_slice_ = *slice;
    return;
  }
  const int32_t size = to_rbsp(nal);
  if (type == 7) take_sps(size);
  if (type == 8) take_pps(size);
  if (type == 6) take_sei(size, nal.complete);
}

void AccessUnitSplitter::close_unit(uint64_t end, AccessUnit& au) {
  au = AccessUnit{};
  au.index = index_++;
  au.start = unit_start_;
  au.nal_bits = (end - unit_start_) * 8;
  au.vcl_bits = vcl_bytes_ * 8;
  au.has_picture = has_vcl_;
  au.idr = first_slice_.header.idr_flag == 1;
  if (unit_sps_id_ < 0) unit_sps_id_ = last_sps_id_;
  if (unit_sps_id_ >= 0 && sps_valid_[static_cast<uint32_t>(unit_sps_id_)]) {
    last_sps_id_ = unit_sps_id_;
    delivered_sps_ = sps_[static_cast<uint32_t>(unit_sps_id_)];
    au.sps = &delivered_sps_;
    au.field_pic = first_slice_.valid && first_slice_.header.field_pic_flag == 1;
    au.pic_size_in_mbs = delivered_sps_.frame_size_in_mbs() / (au.field_pic ? 2 : 1);
  }
  au.has_buffering_period = has_bp_;
  if (has_bp_) au.buffering_period = bp_;
  if (pt_size_ >= 0 && au.sps != nullptr && au.sps->cpb_dpb_delays_present()) {
    au.has_picture_timing =
        parse_picture_timing(pt_bytes_.data(), pt_size_, *au.sps, au.picture_timing) == ReadStatus::kOk;
    if (!au.has_picture_timing) ++notes_.broken_sei;
  }
  open_ = false;
}

int32_t AccessUnitSplitter::next(AccessUnit& au) {
  if (!allocated()) return 0;
  for (;;) {
    ScannedNal nal;
    UnitSlice unit_slice;
    bool read = false;
    if (has_pending_) {
      nal = pending_;
      unit_slice = pending_slice_;
      read = true;
      has_pending_ = false;
    } else if (ended_) {
      return end_status_;
    } else {
      const int32_t got = scanner_.next(nal);
      if (got != 1) {
        ended_ = true;
        end_status_ = got < 0 ? -1 : 0;
        if (open_) {
          notes_.incomplete_last_unit = !has_vcl_ || last_nal_broken_;
          close_unit(last_end_, au);
          return 1;
        }
        return end_status_;
      }
    }
    last_end_ = nal.next_start;

    const bool slice = has_slice_header(nal.nal_unit_type);
    if (slice && !read) {
      unit_slice = read_slice(nal, to_rbsp(nal));
      if (!unit_slice.valid) ++notes_.broken_slice_headers;
    }

    const bool starts_next = open_ && has_vcl_ &&
                             (slice ? begins_new_primary_picture(last_slice_, unit_slice)
                                    : begins_access_unit(nal.nal_unit_type));
    if (starts_next) {
      // This NAL unit is taken in at the next call, after the unit it ends
      // has been delivered.
      pending_ = nal;
      pending_slice_ = unit_slice;
      has_pending_ = true;
      close_unit(nal.start, au);
      return 1;
    }
    if (!open_) open_unit(nal);
    add_to_unit(nal, slice ? &unit_slice : nullptr);
  }
}

}  // namespace tarnwell
