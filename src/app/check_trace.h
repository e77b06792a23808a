#pragma once
// check --trace: picture,size_bits,fullness_before,fullness_after for every
// picture of the last pass. The rows of the pass are held aside (emptied at
// every pass start) and written when the run ends, under a temporary name
// until then; standard output ("-") and devices get them only then, since
// what went there cannot be taken back.
#include <string>

#include "app/output_target.h"
#include "verify/check_run.h"

namespace tarnwell {

class CheckTrace {
 public:
  // False, with the system's reason, when the path cannot be written.
  bool open(const std::string& path, std::string& reason);
  void start_pass();
  void write(const PictureTrace& row);
  // The trace in place (the kept rows on standard output); false, with the
  // reason, when it could not be written.
  bool finish(std::string& reason);

 private:
  OutputTarget target_;
  OutputParts rows_;
  bool write_failed_ = false;
  bool started_ = false;
};

}  // namespace tarnwell
