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
  last_key_ = SliceKey{};
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

AccessUnitSplitter::SliceKey AccessUnitSplitter::read_slice_key(const ScannedNal& nal, int32_t size) {
  SliceKey key;
  key.idr = nal.nal_unit_type == 5;
  BitReader r = make_bounded_rbsp_reader(rbsp_.get(), size);
  key.first_mb_in_slice = read_ue("SH: first_mb_in_slice", r);
  read_ue("SH: slice_type", r);
  key.pic_parameter_set_id = read_ue_max("SH: pic_parameter_set_id", 255, r);
  if (!r.ok() || !pps_valid_[key.pic_parameter_set_id]) return key;
  const PicParamSet& pps = pps_[key.pic_parameter_set_id];
  if (!sps_valid_[pps.seq_parameter_set_id]) return key;
  const SeqParamSet& sps = sps_[pps.seq_parameter_set_id];
  key.seq_parameter_set_id = pps.seq_parameter_set_id;
  if (sps.separate_colour_plane_flag == 1) read_u(2, "SH: colour_plane_id", r);
  key.frame_num = read_u(static_cast<int>(sps.log2_max_frame_num_minus4) + 4, "SH: frame_num", r);
  if (sps.frame_mbs_only_flag == 0) {
    key.field_pic_flag = read_u1("SH: field_pic_flag", r);
    if (key.field_pic_flag == 1) key.bottom_field_flag = read_u1("SH: bottom_field_flag", r);
  }
  key.nal_ref_idc_zero = nal.nal_ref_idc == 0;
  if (key.idr) key.idr_pic_id = read_ue("SH: idr_pic_id", r);
  key.pic_order_cnt_type = sps.pic_order_cnt_type;
  const bool bottom_present = pps.bottom_field_pic_order_in_frame_present_flag == 1 && key.field_pic_flag == 0;
  if (sps.pic_order_cnt_type == 0) {
    key.pic_order_cnt_lsb = read_u(static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4) + 4, "SH: pic_order_cnt_lsb", r);
    if (bottom_present) key.delta_pic_order_cnt_bottom = read_se("SH: delta_pic_order_cnt_bottom", r);
  }
  if (sps.pic_order_cnt_type == 1 && sps.delta_pic_order_always_zero_flag == 0) {
    key.delta_pic_order_cnt0 = read_se("SH: delta_pic_order_cnt[0]", r);
    if (bottom_present) key.delta_pic_order_cnt1 = read_se("SH: delta_pic_order_cnt[1]", r);
  }
  if (pps.redundant_pic_cnt_present_flag == 1) key.redundant_pic_cnt = read_ue("SH: redundant_pic_cnt", r);
  key.valid = r.ok();
  return key;
}

// 7.4.1.2.4: what sets the first VCL NAL unit of a new primary coded picture
// apart from the previous one's slices.
bool AccessUnitSplitter::new_picture(const SliceKey& a, const SliceKey& b) {
  if (!a.valid || !b.valid) return b.first_mb_in_slice == 0;
  if (b.redundant_pic_cnt > 0) return false;
  if (a.frame_num != b.frame_num || a.pic_parameter_set_id != b.pic_parameter_set_id ||
      a.field_pic_flag != b.field_pic_flag || a.bottom_field_flag != b.bottom_field_flag ||
      a.nal_ref_idc_zero != b.nal_ref_idc_zero || a.idr != b.idr) {
    return true;
  }
  if (a.idr && b.idr && a.idr_pic_id != b.idr_pic_id) return true;
  if (b.pic_order_cnt_type == 0 &&
      (a.pic_order_cnt_lsb != b.pic_order_cnt_lsb || a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom)) {
    return true;
  }
  if (b.pic_order_cnt_type == 1 &&
      (a.delta_pic_order_cnt0 != b.delta_pic_order_cnt0 || a.delta_pic_order_cnt1 != b.delta_pic_order_cnt1)) {
    return true;
  }
  return false;
}

void AccessUnitSplitter::open_unit(const ScannedNal& nal) {
  open_ = true;
  // The zero bytes in front of the first start code (leading_zero_8bits)
  // belong to the first access unit.
  unit_start_ = index_ == 0 ? nal.start - std::min<uint64_t>(nal.start, scanner_.leading_zero_bytes()) : nal.start;
  vcl_bytes_ = 0;
  has_vcl_ = false;
  first_key_ = SliceKey{};
  unit_sps_id_ = -1;
  has_bp_ = false;
  pt_size_ = -1;
}

void AccessUnitSplitter::add_to_unit(const ScannedNal& nal, const SliceKey* key) {
  const int32_t type = nal.nal_unit_type;
  if (is_vcl(type) || type == 12) vcl_bytes_ += nal.size();
  last_nal_broken_ = key != nullptr && !key->valid;
  if (key != nullptr) {
    if (!has_vcl_) {
      first_key_ = *key;
      if (unit_sps_id_ < 0 && key->valid) unit_sps_id_ = static_cast<int32_t>(key->seq_parameter_set_id);
    }
    has_vcl_ = true;
    if (key->redundant_pic_cnt == 0) last_key_ = *key;
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
  au.idr = first_key_.idr;
  if (unit_sps_id_ < 0) unit_sps_id_ = last_sps_id_;
  if (unit_sps_id_ >= 0 && sps_valid_[static_cast<uint32_t>(unit_sps_id_)]) {
    last_sps_id_ = unit_sps_id_;
    delivered_sps_ = sps_[static_cast<uint32_t>(unit_sps_id_)];
    au.sps = &delivered_sps_;
    au.field_pic = first_key_.valid && first_key_.field_pic_flag == 1;
    au.pic_size_in_mbs = delivered_sps_.frame_size_in_mbs() / (au.field_pic ? 2 : 1);
  }
  au.has_buffering_period = has_bp_;
  if (has_bp_) au.buffering_period = bp_;
  if (pt_size_ >= 0 && au.sps != nullptr && au.sps->cpb_dpb_delays_present()) {
    if (parse_picture_timing(pt_bytes_.data(), pt_size_, *au.sps, au.picture_timing) == ReadStatus::kOk) {
      au.has_picture_timing = true;
    } else {
      ++notes_.broken_sei;
    }
  }
  open_ = false;
}

int32_t AccessUnitSplitter::next(AccessUnit& au) {
  if (!allocated()) return 0;
  for (;;) {
    ScannedNal nal;
    SliceKey key;
    bool keyed = false;
    if (has_pending_) {
      nal = pending_;
      key = pending_key_;
      keyed = true;
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
    if (slice && !keyed) {
      key = read_slice_key(nal, to_rbsp(nal));
      if (!key.valid) ++notes_.broken_slice_headers;
    }

    const bool starts_next =
        open_ && has_vcl_ && (slice ? new_picture(last_key_, key) : begins_access_unit(nal.nal_unit_type));
    if (starts_next) {
      // This NAL unit is taken in at the next call, after the unit it ends
      // has been delivered.
      pending_ = nal;
      pending_key_ = key;
      has_pending_ = true;
      close_unit(nal.start, au);
      return 1;
    }
    if (!open_) open_unit(nal);
    add_to_unit(nal, slice ? &key : nullptr);
  }
}

}  // namespace tarnwell
