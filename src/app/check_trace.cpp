#include "app/check_trace.h"

#include <cstdio>

namespace tarnwell {

namespace {

constexpr char kHeader[] = "picture,size_bits,fullness_before,fullness_after\n";

void write_row(std::FILE* out, const PictureTrace& t) {
  if (t.has_fullness_after) {
    std::fprintf(out, "%llu,%u,%u,%u\n", static_cast<unsigned long long>(t.index), t.size_bits, t.fullness_before,
                 t.fullness_after);
  } else {
    std::fprintf(out, "%llu,%u,%u,\n", static_cast<unsigned long long>(t.index), t.size_bits, t.fullness_before);
  }
}

}  // namespace

bool CheckTrace::open(const std::string& path, std::string& reason) { return target_.open(path, reason, true); }

void CheckTrace::start_pass() {
  started_ = true;
  if (!rows_.clear(0)) write_failed_ = true;
}

void CheckTrace::write(const PictureTrace& row) {
  if (std::FILE* part = rows_.part(0)) write_row(part, row);
}

bool CheckTrace::finish(std::string& reason) {
  // A file that no pass began stays empty; standard output and devices get
  // the header whatever happened.
  const bool header = started_ || !target_.can_rewind();
  if (write_failed_ || (header && (std::fputs(kHeader, target_.get()) < 0 || !rows_.copy(0, target_.get())))) {
    target_.discard();
    reason = write_failed_ ? "cannot empty it for the next pass" : "cannot copy its rows";
    return false;
  }
  return target_.commit(reason);
}

}  // namespace tarnwell
