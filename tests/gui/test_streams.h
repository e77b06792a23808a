#pragma once
// Streams of the GUI tests: the shared test streams, named as a user of the
// program names them, and a damaged variant built by the tests themselves.
#include <string>

namespace tarnwell::gui {

// A path of the shared test streams folder as the program sees it.
std::string stream_path(const std::string& file);

inline constexpr char kX264Stream[] = "x264_cbr_1000k_25fps.264";
// Baseline, level 1.1; its type-15 and type-20 NAL units are reported as
// undefined, and it holds no picture, so every parse reads it to its end.
inline constexpr char kUndefinedNalStream[] = "sps_subsetsps_bothVUI.264";
// High profile, level 4.
inline constexpr char kScalingListStream[] = "test_scalinglist_jm.264";

// The picture before whose first slice the damaged stream carries a NAL unit
// of the undefined type 23. A bit-rate search from 0 with a 1,000,000-bit
// buffer filled to 900,000 bits first reaches it in the pass at 600,000 bit/s;
// the underflow at 300,000 / 270,000 / 1,000,000 comes after it (picture 50).
inline constexpr int kDamagedPicture = 40;
inline constexpr char kDamagedNalMessageStart[] = "Found NALU type 23, len ";

// Writes the x264 stream with the undefined NAL unit in front of picture
// kDamagedPicture into work_dir (a Unix path) and returns the file's path as
// the program sees it; empty on failure.
std::string make_damaged_stream(const std::string& work_dir);

}  // namespace tarnwell::gui
