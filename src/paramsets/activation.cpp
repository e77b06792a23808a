// Activation of the PPS a slice names and of the SPS that PPS names. Every
// problem is reported and activation completes with what the slots hold.
#include "paramsets/parameter_sets.h"

namespace tarnwell {

void ParameterSets::use_parameter_sets(uint32_t pps_id) {
  // An id beyond a table activates an empty record, as a slot never filled
  // would be: it gets the same message and never indexes past the table.
  const PicParamSet* pps = pps_id < kPpsSlots ? &pps_table_[pps_id] : &empty_pps_;
  if (pps->valid != 1) {
    reporter_.notify_error(
        "Trying to use an invalid (uninitialized) Picture Parameter Set with ID %d, expect the unexpected...\n",
        static_cast<int32_t>(pps_id));
  }

  const uint32_t sps_id = pps->seq_parameter_set_id;
  const SeqParamSet* sps = sps_id < kSpsSlots ? &sps_table_[sps_id] : &empty_sps_;
  if (sps->valid != 1) {
    reporter_.notify_error(
        "PicParset %d references an invalid (uninitialized) Sequence Parameter Set with ID %d, expect the "
        "unexpected...\n",
        static_cast<int32_t>(pps_id), static_cast<int32_t>(sps_id));
  }

  if (sps->pic_order_cnt_type > 2) {
    reporter_.notify_error("invalid sps->pic_order_cnt_type = %d\n", static_cast<int32_t>(sps->pic_order_cnt_type));
    reporter_.notify_error("pic_order_cnt_type != 1");
  }
  if (sps->pic_order_cnt_type == 1 && sps->num_ref_frames_in_pic_order_cnt_cycle >= kMaxRefFramesInPocCycle) {
    reporter_.notify_error("num_ref_frames_in_pic_order_cnt_cycle too large");
  }

  // A slot this reading did not store holds what an earlier reading left.
  if ((pps_id < kPpsSlots && !pps_stored_[pps_id]) || (sps_id < kSpsSlots && !sps_stored_[sps_id])) {
    used_left_over_slot_ = true;
  }

  active_sps_ = sps;
  active_sps_id_ = sps_id;
  active_pps_ = pps;
  active_pps_id_ = pps_id;
}

void ParameterSets::begin_reading() {
  sps_stored_.reset();
  pps_stored_.reset();
  used_left_over_slot_ = false;
}

}  // namespace tarnwell
