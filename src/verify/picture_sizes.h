#pragma once
// The sizes of the pictures a check applies, from one reading of the stream:
// the input of the rate-buffer curve.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "context/application_context.h"
#include "stream/byte_source.h"
#include "verify/check_observer.h"

namespace tarnwell {

struct PictureSizes {
  // How the reading ended: Pass once the stream was read to its end;
  // CannotOpen, Refused (the state was busy, or the stream holds more than
  // kMaxKeptPictures pictures), NoPictures (the stream ended before a
  // picture was applied) or Aborted otherwise, with the box text in message.
  Outcome outcome = Outcome::Pass;
  std::string message;
  std::vector<uint32_t> bits;   // every applied picture's size, as the check counts it
  FrameRateFraction fraction;   // the stream's frame rate when the first picture was applied
};

// The most pictures a reading keeps (256 MiB of sizes); a longer stream
// ends the reading as Refused with kTooManyPicturesMessage.
inline constexpr uint64_t kMaxKeptPictures = uint64_t{1} << 26;
inline constexpr char kTooManyPicturesMessage[] = "The stream holds more pictures than the curve keeps (67108864).";

// Reads the stream at the context's stream path through CheckRun, in one
// pass over settings no picture can fail (the largest 32-bit buffer, fill and
// bit rate at 1 picture a second: every arrival fills the buffer again), so
// the pictures, their sizes, the warnings and the progress are the check's
// own, shown through `observer`. The reading never stops at an overflow,
// whatever the observer answers. The context's settings are left as they were.
// `input`, `source` and `input_head` as CheckRun's.
PictureSizes read_picture_sizes(ApplicationContext& context, CheckObserver& observer, std::FILE* input = nullptr,
                                RewindableSource* source = nullptr, std::vector<uint8_t> input_head = {});

}  // namespace tarnwell
