#pragma once
// What a check tells the user while it runs, and the one thing it asks. The
// check knows no window system: each front end maps these calls to what it
// shows (the dialog's edits, bars and buttons, the console's progress line
// and verdict), and answers the question from its own controls.
#include <cstdint>
#include <string>

namespace tarnwell {

// A setting that the model or a search writes while it runs.
enum class CheckValue { BufferSize, InitialFill, BitRate };

class CheckObserver {
 public:
  virtual ~CheckObserver() = default;

  // The run starts (true) or stops (false) reading the stream: while busy,
  // nothing else may start reading it.
  virtual void on_busy(bool busy) = 0;
  // Progress through the stream and the buffer's fullness, in percent.
  virtual void on_stream_progress(uint32_t percent) = 0;
  virtual void on_fullness(uint32_t percent) = 0;
  // The model or a search wrote a setting; `value` is its new value.
  virtual void on_value(CheckValue which, uint32_t value) = 0;
  // The frame rate the model took from the stream.
  virtual void on_frame_rate(double frame_rate) = 0;
  // The text of the outcome that ends the run (a violation, a refusal, a
  // file that cannot be read); returns once the user has been told.
  virtual void on_stop(const std::string& text) = 0;
  // Whether an overflow ends the run; asked at every overflow, so a change
  // of the answer during a run counts from the next overflow on.
  virtual bool strict_overflow() = 0;
};

// Passes every call on to another observer, but answers the strict question
// with a fixed choice of its own: for readings that must not stop at an
// overflow, and for checks whose strict choice was made before they ran.
class FixedStrictObserver final : public CheckObserver {
 public:
  FixedStrictObserver(CheckObserver& observer, bool strict) : observer_(observer), strict_(strict) {}

  void on_busy(bool busy) override { observer_.on_busy(busy); }
  void on_stream_progress(uint32_t percent) override { observer_.on_stream_progress(percent); }
  void on_fullness(uint32_t percent) override { observer_.on_fullness(percent); }
  void on_value(CheckValue which, uint32_t value) override { observer_.on_value(which, value); }
  void on_frame_rate(double frame_rate) override { observer_.on_frame_rate(frame_rate); }
  void on_stop(const std::string& text) override { observer_.on_stop(text); }
  bool strict_overflow() override { return strict_; }

 private:
  CheckObserver& observer_;
  bool strict_;
};

}  // namespace tarnwell
