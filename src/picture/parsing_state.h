#pragma once
// The one parsing state of an application: the NAL unit reader with its read
// window and NAL buffer, the parameter sets, the slice state and the picture
// counters. The verification run, the profile/level probe and the HRD report
// each use it for one reading at a time. The run takes pictures in passes:
//
//   state.begin_pass();
//   state.begin_stream(file);
//   uint32_t size = 0;
//   while (state.take_picture(size)) { ... }
//
// the probe and the HRD report read with reset_parsing_state, begin_stream
// and next_picture, and take no pictures.
#include <cstdint>
#include <cstdio>

#include "base/check_settings.h"
#include "base/error_reporter.h"
#include "paramsets/parameter_sets.h"
#include "picture/picture_assembler.h"
#include "stream/nal_reader.h"

namespace tarnwell {

// The reader and the parameter sets, built before the assembler that works
// on them (a base class is constructed before the next one).
struct ParsingParts {
  ParsingParts(ErrorReporter& reporter, FrameRateFraction& frame_rate, uint32_t window_bytes)
      : reader(reporter, window_bytes, window_bytes), parameter_sets(reporter, frame_rate) {}
  NalReader reader;
  ParameterSets parameter_sets;
};

// The passes, the probe's reading and the counts are PictureAssembler's.
class ParsingState : private ParsingParts, public PictureAssembler {
 public:
  // window_bytes: size of the read window and of the NAL buffer (8,000,000 in
  // the program; smaller in tests). Both are allocated here, once.
  ParsingState(ErrorReporter& reporter, FrameRateFraction& frame_rate, uint32_t window_bytes = kReadWindowBytes)
      : ParsingParts(reporter, frame_rate, window_bytes), PictureAssembler(reader, parameter_sets, reporter) {}

  // Fills the first read window from the file's current position; call it
  // after begin_pass or reset_parsing_state. The caller opens, rewinds and closes the file.
  uint32_t begin_stream(std::FILE* file) { return reader.begin_stream(file); }
  uint32_t begin_stream(ByteSource& source) { return reader.begin_stream(source); }

  ParameterSets& paramsets() { return parameter_sets; }
  const ParameterSets& paramsets() const { return parameter_sets; }
  NalReader& nal_reader() { return reader; }
};

}  // namespace tarnwell
