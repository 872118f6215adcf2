// Search throughput and memory: {h, t, cx} on 3 qubits, permutation-aware
// and naive, with 1 and 2 worker threads. Each measurement runs in a fresh
// child process so that peak memory is its own.
//
//   cmake -DTREVALON_BUILD_BENCH=ON ... && ./search_bench [max_size]
// Without an argument it runs sizes 8 and 9 (the largest that finishes
// within about a minute here) and the reference job at size 5.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "oneapi/tbb/global_control.h"
#include "search/search.h"
#include "state/rng.h"

namespace trevalon {
namespace {

long current_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

void measure(std::size_t max_size, int threads, bool naive) {
  Rng64 rng = Rng64::from_seed(2026);
  const Evaluator ev = Evaluator::from_random(3, rng);
  const std::vector<Gate16> gates = {gates::H(), gates::T(), gates::CX()};
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
  const long base_kib = current_rss_kib();
  const auto start = std::chrono::steady_clock::now();
  SearchResult r = naive ? generate_naive(ev, gates, max_size) : generate(ev, gates, max_size);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peak_bytes = static_cast<double>(usage.ru_maxrss - base_kib) * 1024.0;
  std::printf("%-6s size %2zu threads %d: %9zu classes, counters [%llu, %llu, %llu], %8.3f s, "
              "%10.0f evaluated/s, peak %7.1f MiB, %6.1f bytes/bucket\n",
              naive ? "naive" : "aware", max_size, threads, r.map.size(),
              static_cast<unsigned long long>(r.counters.explored),
              static_cast<unsigned long long>(r.counters.evaluated),
              static_cast<unsigned long long>(r.counters.offered), secs,
              static_cast<double>(r.counters.evaluated) / secs, peak_bytes / (1 << 20),
              peak_bytes / static_cast<double>(r.map.size()));
  std::fflush(stdout);
}

void measure_in_child(std::size_t max_size, int threads, bool naive) {
  std::fflush(stdout);  // the child must not inherit unwritten output
  const pid_t pid = fork();
  if (pid == 0) {
    measure(max_size, threads, naive);
    std::_Exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace
}  // namespace trevalon

int main(int argc, char** argv) {
  using trevalon::measure_in_child;
  std::vector<std::size_t> sizes = {8, 9};
  if (argc > 1) sizes = {static_cast<std::size_t>(std::atoi(argv[1]))};
  std::printf("reference job: generate(Evaluator(3), [h, cx, t], 5)\n");
  measure_in_child(5, 1, false);
  for (bool naive : {false, true}) {
    for (std::size_t size : sizes) {
      // The naive search explores every placement: keep it a size smaller.
      const std::size_t s = naive ? size - 1 : size;
      for (int threads : {1, 2}) measure_in_child(s, threads, naive);
    }
  }
  return 0;
}
