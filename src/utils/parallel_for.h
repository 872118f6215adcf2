// Index-range loops on the oneTBB worker pool, with the pool's ordering
// made visible to ThreadSanitizer.
//
// The system's libtbb is not built with TSan, so the synchronisation inside
// it (spawning a task, waiting for the tasks of a loop) is invisible. Under
// TSan the loop therefore
//  - tells TSan exactly the edges TBB guarantees and no more: the caller's
//    start happens before each task body, and the end of each task body
//    happens before the loop returns (or rethrows). Two task bodies stay
//    unordered, so races between them are still reported;
//  - has TSan ignore the memory accesses of TBB's own scheduling code (the
//    parts of TBB's templates that run outside task bodies: splitting,
//    stealing, joining). That code only touches TBB's task objects, wait
//    nodes and contexts, which libtbb orders invisibly; tracking it would
//    report them, and every later reuse of their memory by us, as races.
//    Task bodies and everything outside the loop stay fully checked.
// Without TSan all of this compiles to a plain tbb::parallel_for.
#ifndef TREVALON_UTILS_PARALLEL_FOR_H_
#define TREVALON_UTILS_PARALLEL_FOR_H_

#include <cstddef>

#include "oneapi/tbb/blocked_range.h"
#include "oneapi/tbb/parallel_for.h"

#if defined(__SANITIZE_THREAD__)
#define TREVALON_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TREVALON_THREAD_SANITIZER 1
#endif
#endif

#ifdef TREVALON_THREAD_SANITIZER
#include "oneapi/tbb/task_arena.h"
#include "oneapi/tbb/task_scheduler_observer.h"

// Entry points of the TSan runtime.
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace trevalon {
namespace parallel_detail {

#ifdef TREVALON_THREAD_SANITIZER
// One happens-before edge: what a thread did before release() happens
// before what another thread does after a later acquire().
class SyncEdge {
 public:
  void release() { __tsan_release(this); }
  void acquire() { __tsan_acquire(this); }

 private:
  char address_ = 0;  // each edge needs an address of its own
};

// This thread's count of TSan ignores. A task body may be reached through
// several levels of scheduler code (a loop run while the thread waits in
// another one), so it lifts all of them and restores them afterwards.
inline thread_local int ignore_depth = 0;

inline void ignore_begin() {
  __tsan_ignore_thread_begin();
  ++ignore_depth;
}

inline void ignore_end() {
  __tsan_ignore_thread_end();
  --ignore_depth;
}

// Scheduler code runs with TSan ignoring this thread's memory accesses.
struct SchedulerCode {
  SchedulerCode() { ignore_begin(); }
  ~SchedulerCode() { ignore_end(); }
  SchedulerCode(const SchedulerCode&) = delete;
  SchedulerCode& operator=(const SchedulerCode&) = delete;
};

// Task bodies run fully checked.
class OurCode {
 public:
  OurCode() : lifted_(ignore_depth) {
    while (ignore_depth > 0) ignore_end();
  }
  ~OurCode() {
    while (ignore_depth < lifted_) ignore_begin();
  }
  OurCode(const OurCode&) = delete;
  OurCode& operator=(const OurCode&) = delete;

 private:
  const int lifted_;
};

// Workers run scheduler code whenever they are in the arena: they ignore
// from entering it until leaving it. An observer sees only one arena, so
// under TSan every loop runs in this one. Never destroyed: workers may
// still be leaving it at exit.
class WorkerArena : public tbb::task_scheduler_observer {
 public:
  static tbb::task_arena& get() {
    static WorkerArena* const instance = new WorkerArena;
    return instance->arena_;
  }

  void on_scheduler_entry(bool is_worker) override {
    if (is_worker) ignore_begin();
  }
  void on_scheduler_exit(bool is_worker) override {
    if (is_worker) ignore_end();
  }

 private:
  WorkerArena() : tbb::task_scheduler_observer(arena_) {
    arena_.initialize();
    observe(true);
  }

  tbb::task_arena arena_;
};
#endif

}  // namespace parallel_detail

// Runs body(begin, end) on subranges that together cover [0, n), on the
// pool. An exception from a body cancels the rest and is rethrown here.
template <class Body>
void parallel_for_ranges(std::size_t n, const Body& body) {
#ifdef TREVALON_THREAD_SANITIZER
  parallel_detail::SyncEdge started, finished;
  started.release();
  struct AcquireOnExit {  // also when a body's exception leaves
    parallel_detail::SyncEdge& edge;
    ~AcquireOnExit() { edge.acquire(); }
  } joined{finished};
  parallel_detail::WorkerArena::get().execute([&] {
    const parallel_detail::SchedulerCode scheduler;
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n), [&](const tbb::blocked_range<std::size_t>& r) {
      const parallel_detail::OurCode ours;
      started.acquire();
      struct ReleaseOnExit {
        parallel_detail::SyncEdge& edge;
        ~ReleaseOnExit() { edge.release(); }
      } done{finished};
      body(r.begin(), r.end());
    });
  });
#else
  tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n), [&](const tbb::blocked_range<std::size_t>& r) {
    body(r.begin(), r.end());
  });
#endif
}

}  // namespace trevalon

#endif  // TREVALON_UTILS_PARALLEL_FOR_H_
