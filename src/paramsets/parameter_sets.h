#pragma once
// The parameter-set state of one parsing context: the SPS and PPS tables, the
// active sets that activation picks for each slice, the profile and level of
// the last SPS parsed, and who listens to the SPSs parsed. The picture
// assembler hands it every SPS, PPS and SEI NAL unit and activates the sets
// for each slice.
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "base/check_settings.h"
#include "base/error_reporter.h"
#include "paramsets/pps.h"
#include "paramsets/sps.h"
#include "stream/bit_reader.h"
#include "stream/nal_unit.h"

namespace tarnwell {

class ParameterSets {
 public:
  // `frame_rate` receives the frame-rate fraction of every stored SPS.
  ParameterSets(ErrorReporter& reporter, FrameRateFraction& frame_rate);
  // The active sets point into the tables: the object stays where it was made.
  ParameterSets(const ParameterSets&) = delete;
  ParameterSets& operator=(const ParameterSets&) = delete;

  // --- NAL unit handlers, called by the picture assembler -----------------
  // `nal` as prepared: `bytes` at the header byte, `length` = header plus
  // payload without emulation prevention bytes, `readable` from `bytes` on.
  void process_sps_nal(const NalUnit& nal);
  void process_pps_nal(const NalUnit& nal);
  // `rbsp` starts with the NAL header byte; `length` counts it. `readable`
  // bytes may be looked at from `rbsp` on (at least `length`). Picture
  // timing is read with the active SPS (paramsets/sei.h); nothing read is
  // kept.
  void process_sei_nal(const uint8_t* rbsp, int32_t length, int32_t readable);
  void process_sei_nal(const NalUnit& nal) { process_sei_nal(nal.bytes, nal.length, nal.readable); }

  // Activation for one slice that names PPS `pps_id`. Afterwards both active
  // sets exist (possibly empty records, after a message).
  void use_parameter_sets(uint32_t pps_id);
  // Start of a pass: no SPS is active until the first slice activates one.
  // The active PPS stays.
  void clear_active_sps() { active_sps_ = nullptr; }

  // --- Left-over state ----------------------------------------------------
  // The tables are never emptied, so a reading can activate a slot an earlier
  // reading stored (verify/replay_plan.h). begin_reading marks the start of a
  // reading: no slot stored in it yet, no left-over slot used.
  void begin_reading();
  // An activation of this reading used a PPS slot, or the SPS slot its PPS
  // names, that this reading had not stored. Ids beyond a table activate a
  // fixed empty record and count as stored.
  bool used_left_over_slot() const { return used_left_over_slot_; }

  // --- SPS operations -----------------------------------------------------
  // A fresh record with every field 0, or null after the out-of-memory report.
  std::unique_ptr<SeqParamSet> AllocSPS();
  // The record is valid when its profile_idc is accepted.
  void parse_sps(BitReader& reader, SeqParamSet& sps);

  // --- PPS operations -----------------------------------------------------
  // A fresh record with its slice_group_id buffer, or null after the
  // out-of-memory report.
  std::unique_ptr<PicParamSet> AllocPPS();
  // Moves the record, buffer included, into slot `id`, releasing the buffer
  // the slot held; the record keeps no buffer. False (nothing stored, the
  // record untouched) for an id beyond the table.
  bool store_pps(uint32_t id, PicParamSet& pps);

  // --- State --------------------------------------------------------------
  std::span<const SeqParamSet> sps_table() const { return sps_table_; }
  std::span<const PicParamSet> pps_table() const { return pps_table_; }
  // Null when none is active.
  const SeqParamSet* active_sps() const { return active_sps_; }
  const PicParamSet* active_pps() const { return active_pps_; }

  uint32_t last_profile_idc() const { return last_profile_idc_; }
  uint32_t last_level_idc() const { return last_level_idc_; }
  uint32_t last_constraint_set3_flag() const { return last_constraint_set3_flag_; }

  // Hears of every SPS parse_sps completes with an accepted profile (a
  // repeated one, one that will be refused for its id, a truncated one), right
  // after the parse. The HRD report prints from it; parsing writes nothing.
  using SpsListener = std::function<void(const SeqParamSet&)>;
  const SpsListener& sps_listener() const { return sps_listener_; }
  void set_sps_listener(SpsListener listener) { sps_listener_ = std::move(listener); }

 private:
  void publish_frame_rate(const SeqParamSet& sps);

  ErrorReporter& reporter_;
  FrameRateFraction& frame_rate_;

  std::vector<SeqParamSet> sps_table_;
  std::vector<PicParamSet> pps_table_;
  // What activation makes active for an id beyond a table: an empty record
  // that is never written.
  const SeqParamSet empty_sps_{};
  const PicParamSet empty_pps_{};

  const SeqParamSet* active_sps_ = nullptr;
  const PicParamSet* active_pps_ = nullptr;
  // The ids the active sets were activated with (the slot index, or the id
  // beyond the table that led to the empty record).
  uint32_t active_sps_id_ = 0;
  uint32_t active_pps_id_ = 0;

  uint32_t last_profile_idc_ = 0;
  uint32_t last_level_idc_ = 0;
  uint32_t last_constraint_set3_flag_ = 0;

  SpsListener sps_listener_;

  // Slots stored since begin_reading; only activation consults them. The SPS and PPS handlers need no check: no
  // SPS is active when a reading starts, and the PPS handler's dropping of a left-over active PPS is never seen,
  // since every slice activates its PPS before anything reads the active one.
  std::bitset<kSpsSlots> sps_stored_;
  std::bitset<kPpsSlots> pps_stored_;
  bool used_left_over_slot_ = false;
};

}  // namespace tarnwell
