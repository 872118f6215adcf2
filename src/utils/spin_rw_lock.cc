#include "utils/spin_rw_lock.h"

#include <thread>

#include "utils/abort.h"

namespace trevalon {

void SpinRwLock::lock_shared() {
  uint32_t cur = word_.load(std::memory_order_relaxed);
  for (;;) {
    if (cur & kWriter) {
      std::this_thread::yield();
      cur = word_.load(std::memory_order_relaxed);
      continue;
    }
    if ((cur & kReaderMask) == kReaderMask) {
      abort_with("Too many lock readers, cannot safely proceed");
    }
    if (word_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire,
                                    std::memory_order_relaxed)) {
      return;
    }
  }
}

void SpinRwLock::lock() {
  for (;;) {
    uint32_t expected = 0;
    if (word_.compare_exchange_weak(expected, kWriter, std::memory_order_acquire,
                                    std::memory_order_relaxed)) {
      return;
    }
    std::this_thread::yield();
  }
}

}  // namespace trevalon
