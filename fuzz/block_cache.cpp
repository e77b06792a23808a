// Keeps large freed blocks for the next allocation of the same size.
//
// Every fuzz input builds its parsing state afresh (tables of a few hundred
// kilobytes, a 240,000-byte slice_group_id buffer per PPS). The sanitizer's
// allocator maps blocks that large anew each time and unmaps them when they
// are freed, and on this kind of virtual machine touching fresh pages costs
// about 25 microseconds a page: a few milliseconds per input, where the
// parsing itself takes tens of microseconds. Handing a freed block of the
// same size back keeps its pages, and the runs reach millions of inputs.
//
// The blocks still come from AddressSanitizer's malloc, so their redzones
// catch overflows as before; a block waiting in the cache is poisoned, so a
// use after free is still caught (reported as use-after-poison).
#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLargeBytes = 64 * 1024;
constexpr std::size_t kSlots = 64;

struct Slot {
  void* block = nullptr;
  std::size_t size = 0;
};

// Process-wide by nature: it stands in for the allocator.
struct Cache {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  std::array<Slot, kSlots> slots{};
};

Cache& cache() {
  static Cache instance;
  return instance;
}

class Lock {
 public:
  explicit Lock(Cache& c) : c_(c) {
    while (c_.busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Lock() { c_.busy.clear(std::memory_order_release); }

 private:
  Cache& c_;
};

void* take(std::size_t size) {
  if (size >= kLargeBytes) {
    Cache& c = cache();
    Lock lock(c);
    for (Slot& slot : c.slots) {
      if (slot.block != nullptr && slot.size == size) {
        void* block = slot.block;
        slot.block = nullptr;
        ASAN_UNPOISON_MEMORY_REGION(block, size);
        return block;
      }
    }
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void give_back(void* block) {
  if (block == nullptr) return;
  const std::size_t size = __sanitizer_get_allocated_size(block);
  if (size >= kLargeBytes) {
    Cache& c = cache();
    Lock lock(c);
    for (Slot& slot : c.slots) {
      if (slot.block == nullptr) {
        slot.block = block;
        slot.size = size;
        ASAN_POISON_MEMORY_REGION(block, size);
        return;
      }
    }
  }
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return take(size); }
void* operator new[](std::size_t size) { return take(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return take(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return take(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { give_back(block); }
void operator delete[](void* block) noexcept { give_back(block); }
void operator delete(void* block, std::size_t) noexcept { give_back(block); }
void operator delete[](void* block, std::size_t) noexcept { give_back(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { give_back(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { give_back(block); }
