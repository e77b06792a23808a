#pragma once
// A first-in first-out queue in one ring of slots that grows by doubling and
// is reused as it empties: the queues of the buffer models take and give
// back an element per transport packet, and a ring keeps that free of the
// allocation a std::deque makes every few elements.
#include <cstddef>
#include <utility>
#include <vector>

namespace tarnwell {

template <typename T>
class RingQueue {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }

  T& front() { return slots_.data()[head_]; }
  const T& front() const { return slots_.data()[head_]; }
  T& back() { return slots_.data()[(head_ + size_ - 1) & mask_]; }
  const T& back() const { return slots_.data()[(head_ + size_ - 1) & mask_]; }
  // The i-th element from the front; i below size().
  T& operator[](std::size_t i) { return slots_.data()[(head_ + i) & mask_]; }
  const T& operator[](std::size_t i) const { return slots_.data()[(head_ + i) & mask_]; }

  void push_back(T value) {
    if (size_ == capacity_) grow();
    slots_.data()[(head_ + size_) & mask_] = std::move(value);
    ++size_;
  }
  void pop_front() {
    head_ = (head_ + 1) & mask_;
    --size_;
  }

  template <typename Q, typename E>
  class Iterator {
   public:
    Iterator(Q* queue, std::size_t i) : queue_(queue), i_(i) {}
    E& operator*() const { return (*queue_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return i_ != other.i_; }

   private:
    Q* queue_;
    std::size_t i_;
  };
  Iterator<RingQueue, T> begin() { return {this, 0}; }
  Iterator<RingQueue, T> end() { return {this, size_}; }
  Iterator<const RingQueue, const T> begin() const { return {this, 0}; }
  Iterator<const RingQueue, const T> end() const { return {this, size_}; }

 private:
  void grow() {
    std::vector<T> larger(slots_.empty() ? 16 : 2 * slots_.size());
    for (std::size_t i = 0; i < size_; ++i) larger[i] = std::move((*this)[i]);
    slots_.swap(larger);
    head_ = 0;
    capacity_ = slots_.size();
    mask_ = capacity_ - 1;
  }

  std::vector<T> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t mask_ = 0;
};

}  // namespace tarnwell
