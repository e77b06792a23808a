#pragma once
// check --trace: picture,size_bits,fullness_before,fullness_after for every
// picture of the last pass. The file is emptied at every pass start and
// written as the run goes, under a temporary name until the run ends. On
// standard output ("-") or a device the rows of the pass are kept and
// written when the run ends, since what went there cannot be taken back.
#include <string>
#include <vector>

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
  bool write_failed_ = false;
  std::vector<PictureTrace> kept_;
};

}  // namespace tarnwell
