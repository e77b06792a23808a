#pragma once
// The exact answer of a search: where the check's own searches step through
// a grid of buffer sizes or bit rates (500,000 bits at a time in the common
// range) and report the first grid value that passes, this finds the least
// value that passes, to the bit, from one reading of the stream.
//
// - Buffer size 0: the curve's least buffer size at the bit rate, with the
//   curve's least initial fill (the least buffer at any fill is the least at
//   the least fill; the search's own fill rule is not used).
// - Bit rate 0: least_bit_rate at the buffer size and initial fill given.
//
// The found values are then checked with the buffer model over the same
// picture sizes, so the verdict, the trace and the picture count are the
// check's at those settings.
#include <cstdio>
#include <functional>
#include <vector>

#include "context/application_context.h"
#include "verify/check_run.h"

namespace tarnwell {

inline constexpr char kSlowExactMessage[] = "The stream's frame rate is below 1 picture a second: give a frame rate";

class ExactSearch {
 public:
  // The observer is told what the reading and the check show the user;
  // `strict` is the check's strict choice, made before it runs.
  ExactSearch(ApplicationContext& context, CheckObserver& observer, bool strict)
      : context_(context), strict_(strict), observer_(observer, strict) {}

  // As CheckRun's.
  std::FILE* input = nullptr;
  RewindableSource* source = nullptr;
  std::vector<uint8_t> input_head;
  bool stream_timing = false;
  std::function<void(uint32_t pass)> on_pass_start;
  std::function<void(const PictureTrace&)> on_picture;

  // Reads the stream once, finds the value and checks it. The context's
  // settings end as the check of the found value leaves them. The result's
  // passes are the reading's and the check's, reads 1.
  void run();
  const CheckRunResult& result() const { return result_; }

 private:
  ApplicationContext& context_;
  bool strict_;
  FixedStrictObserver observer_;  // the caller's, answering strict_
  CheckRunResult result_;
};

}  // namespace tarnwell
