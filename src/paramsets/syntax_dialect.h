#pragma once
// The dialect argument of every syntax reader (SPS, PPS, SEI, slice header):
// one syntax, two readers of it. kCheck is the check's reading, kStandard the
// standard's (hrd-check's); each reader says beside the lines it changes
// where the check's reading departs. For the SPS:

namespace tarnwell {

enum class SyntaxDialect {
  // The check's rules: its own list of profiles (others end the reading with
  // the record invalid), chroma_format_idc 3 read as the former High 4:4:4
  // profile's (residue_transform_flag, eight scaling lists, in a PPS too), and
  // the status ignored: a truncated set keeps the values that read.
  kCheck,
  // Every profile the standard defines, with its High 4:4:4 Predictive syntax.
  // An SPS is read up to pic_struct_present_flag, a PPS up to
  // redundant_pic_cnt_present_flag: nothing further concerns timing or picture
  // boundaries. The caller refuses a set whose status is not ok.
  kStandard,
};

}  // namespace tarnwell
