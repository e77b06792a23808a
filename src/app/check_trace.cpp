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
  if (!target_.can_rewind()) {
    kept_.clear();
    return;
  }
  if (!target_.rewind() || std::fputs(kHeader, target_.get()) < 0) write_failed_ = true;
}

void CheckTrace::write(const PictureTrace& row) {
  if (!target_.can_rewind()) {
    kept_.push_back(row);
  } else {
    write_row(target_.get(), row);
  }
}

bool CheckTrace::finish(std::string& reason) {
  if (!target_.can_rewind() && target_.is_open()) {
    std::fputs(kHeader, target_.get());
    for (const PictureTrace& t : kept_) write_row(target_.get(), t);
  }
  if (write_failed_) {
    target_.discard();
    reason = "cannot empty it for the next pass";
    return false;
  }
  return target_.commit(reason);
}

}  // namespace tarnwell
