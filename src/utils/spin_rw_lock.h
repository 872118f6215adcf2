// A spin read-write lock for the gate registry, the one structure written
// while worker threads (which never hold the interpreter lock) read it.
//
// Any number of readers, or one writer. Neither side queues: a blocked side
// yields the processor and retries. The lock word holds the reader count and
// a writer bit; a reader count that would overflow aborts.
#ifndef TREVALON_UTILS_SPIN_RW_LOCK_H_
#define TREVALON_UTILS_SPIN_RW_LOCK_H_

#include <atomic>
#include <cstdint>

namespace trevalon {

class SpinRwLock {
 public:
  SpinRwLock() = default;
  SpinRwLock(const SpinRwLock&) = delete;
  SpinRwLock& operator=(const SpinRwLock&) = delete;

  void lock_shared();
  void unlock_shared() { word_.fetch_sub(1, std::memory_order_release); }
  void lock();
  void unlock() { word_.fetch_and(~kWriter, std::memory_order_release); }

 private:
  static constexpr uint32_t kWriter = 0x80000000u;
  static constexpr uint32_t kReaderMask = kWriter - 1;
  std::atomic<uint32_t> word_{0};
};

}  // namespace trevalon

#endif  // TREVALON_UTILS_SPIN_RW_LOCK_H_
