#pragma once
// What the fuzz targets share: a dialog that answers every reporter question
// with No and remembers nothing, and a check that stops the target on an
// input that broke a rule the code promises (the fuzzer then keeps the input
// as a crash).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/dialog_port.h"

namespace tarnwell::fuzz {

// The reporter's Yes/No/Cancel box answered No (that message is silenced),
// every other box answered OK. The strict overflow box is as the target sets it.
class QuietDialog : public DialogPort {
 public:
  explicit QuietDialog(bool strict = false) : strict_(strict) {}
  void set_progress(int, uint32_t position) override {
    if (position > 100) fail("progress position above 100");
  }
  void set_text(int, const std::string&) override {}
  void set_unsigned(int, uint32_t) override {}
  std::string get_text(int, std::size_t) override { return std::string(); }
  void enable(int, bool) override {}
  bool is_checked(int) override { return strict_; }
  BoxAnswer message_box(const std::string& text, const char*, BoxKind kind) override {
    ++boxes_;
    last_box_ = text;
    return kind == BoxKind::ReporterQuestion ? BoxAnswer::No : BoxAnswer::Ok;
  }

  void set_strict(bool strict) { strict_ = strict; }
  uint32_t boxes() const { return boxes_; }
  const std::string& last_box() const { return last_box_; }

  [[noreturn]] static void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }

 private:
  bool strict_;
  uint32_t boxes_ = 0;
  std::string last_box_;
};

inline void check(bool condition, const char* what) {
  if (!condition) QuietDialog::fail(what);
}

// Little-endian fields taken from the front of the input; 0 once it runs out.
class InputCursor {
 public:
  InputCursor(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint64_t take(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      const uint64_t byte = pos_ < size_ ? data_[pos_] : 0;
      value |= byte << (8 * i);
      ++pos_;
    }
    return value;
  }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  bool at_end() const { return pos_ >= size_; }
  std::size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace tarnwell::fuzz
