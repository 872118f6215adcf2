// Cost of Evaluator::evaluate_multiple against the bare simulation it runs.
//
// For random circuits over the search gate set (h x z t tdg s sdg cx swap),
// prints nanoseconds per evaluate_multiple (reusing its result buffers) and
// the bare cost of the same circuits: the forward pass plus, per candidate,
// one state copy and one backward pass, without canonicalisation, sorting or
// comparison, once with the kernels bound in advance ("bare") and once
// through apply() per gate ("apply"). Also counts heap allocations per
// evaluation after warm-up (operator new is replaced here).
//
//   cmake -S . -B /tmp/b -G Ninja -DTREVALON_BUILD_BENCH=ON -DTREVALON_BUILD_MODULE=OFF
//   ninja -C /tmp/b evaluator_bench && /tmp/b/evaluator_bench
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "circ/gate.h"
#include "circ/instr.h"
#include "state/evaluator.h"
#include "state/gates.h"
#include "state/order_info.h"
#include "state/rng.h"
#include "state/state_vec.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, std::align_val_t a) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t align = static_cast<std::size_t>(a);
  if (void* p = std::aligned_alloc(align, (n + align - 1) / align * align)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace trevalon {
namespace {

using Clock = std::chrono::steady_clock;
using Circuit = std::vector<Instr32>;

Circuit random_circuit(Rng64& rng, uint32_t n, std::size_t len) {
  const Gate16 pool[] = {gates::H(),   gates::X(), gates::Z(),   gates::T(),   gates::TDG(),
                         gates::S(),   gates::SDG(), gates::CX(), gates::SWAP()};
  Circuit out;
  while (out.size() < len) {
    const Gate16 g = pool[rng.next_u64() % 9];
    const uint8_t a = static_cast<uint8_t>(rng.next_u64() % n);
    const uint8_t b = static_cast<uint8_t>(rng.next_u64() % n);
    if (g.nqargs() == 1) {
      out.push_back(Instr32::create(g, std::vector<uint8_t>{a}));
    } else if (a != b) {
      out.push_back(Instr32::create(g, std::vector<uint8_t>{a, b}));
    }
  }
  return out;
}

struct Prepared {
  BoundCircuit forward;
  BoundCircuit inverse;
  Circuit adjoint_reversed;  // adjoint instructions, last first
  std::size_t candidates = 0;
};

struct Row {
  double eval_ns;
  double bare_ns;
  double apply_ns;
  double candidates;
  double allocations;
};

Row measure(uint32_t n, std::size_t len) {
  Rng64 rng = Rng64::from_seed(1000 * n + len);
  const Evaluator ev = Evaluator::from_random(n, rng);
  constexpr int kCircuits = 256;
  std::vector<Circuit> circuits;
  std::vector<Prepared> prepared(kCircuits);
  std::size_t total_candidates = 0;
  for (int i = 0; i < kCircuits; ++i) {
    circuits.push_back(random_circuit(rng, n, len));
    Prepared& p = prepared[i];
    p.forward.bind(circuits.back(), n);
    for (std::size_t k = circuits.back().size(); k-- > 0;) {
      p.adjoint_reversed.push_back(circuits.back()[k].adjoint());
    }
    p.inverse.bind_inverse(circuits.back(), n);
    p.candidates = ev.evaluate_multiple(circuits.back()).forward.get_orderinfo().as_perms().size();
    total_candidates += p.candidates;
  }

  // The machine may be shared: passes alternate between the two loops and
  // the fastest pass of each counts.
  const int rounds = n <= 3 ? 300 : 100;
  uint64_t sink = 0;
  Evaluation out;
  for (const Circuit& c : circuits) ev.evaluate_multiple(c, out);  // warm-up
  StateVec fwd = ev.initial_state();
  StateVec back = ev.backtrack_state();
  double best_eval = 1e300;
  double best_bare = 1e300;
  double best_apply = 1e300;
  long allocs = 0;
  for (int r = 0; r < rounds; ++r) {
    const long alloc_before = g_allocations.load();
    const auto t0 = Clock::now();
    for (const Circuit& c : circuits) {
      ev.evaluate_multiple(c, out);
      sink += static_cast<uint64_t>(out.back.re()[0] * 1e9) + out.pairs.size();
    }
    const auto t1 = Clock::now();
    allocs += g_allocations.load() - alloc_before;
    for (const Prepared& p : prepared) {
      fwd.copy_from(ev.initial_state());
      p.forward.run(fwd);
      for (std::size_t k = 0; k < p.candidates; ++k) {
        back.copy_from(ev.backtrack_state());
        p.inverse.run(back);
        sink += static_cast<uint64_t>(back.re()[1] * 1e9);
      }
      sink += static_cast<uint64_t>(fwd.re()[1] * 1e9);
    }
    const auto t2 = Clock::now();
    for (std::size_t i = 0; i < prepared.size(); ++i) {
      fwd.copy_from(ev.initial_state());
      for (const Instr32& instr : circuits[i]) apply(fwd, instr);
      for (std::size_t k = 0; k < prepared[i].candidates; ++k) {
        back.copy_from(ev.backtrack_state());
        for (const Instr32& instr : prepared[i].adjoint_reversed) apply(back, instr);
        sink += static_cast<uint64_t>(back.re()[1] * 1e9);
      }
      sink += static_cast<uint64_t>(fwd.re()[1] * 1e9);
    }
    const auto t3 = Clock::now();
    best_apply = std::min(best_apply, std::chrono::duration<double, std::nano>(t3 - t2).count());
    best_eval = std::min(best_eval, std::chrono::duration<double, std::nano>(t1 - t0).count());
    best_bare = std::min(best_bare, std::chrono::duration<double, std::nano>(t2 - t1).count());
  }
  if (sink == 42) std::puts("");

  const double calls = static_cast<double>(rounds) * kCircuits;
  return {best_eval / kCircuits, best_bare / kCircuits, best_apply / kCircuits,
          static_cast<double>(total_candidates) / kCircuits,
          static_cast<double>(allocs) / calls};
}

}  // namespace
}  // namespace trevalon

int main() {
  std::printf("bare: pre-bound kernels; apply: apply() per gate. Fastest of many passes.\n");
  std::printf("%-7s %-6s %12s %10s %7s %10s %7s %11s %12s\n", "qubits", "gates", "evaluate ns", "bare ns",
              "ratio", "apply ns", "ratio", "candidates", "allocs/call");
  for (uint32_t n : {3u, 5u}) {
    for (std::size_t len : {std::size_t{4}, std::size_t{8}}) {
      const trevalon::Row r = trevalon::measure(n, len);
      std::printf("%-7u %-6zu %12.1f %10.1f %7.2f %10.1f %7.2f %11.2f %12.3f\n", n, len, r.eval_ns, r.bare_ns,
                  r.eval_ns / r.bare_ns, r.apply_ns, r.eval_ns / r.apply_ns, r.candidates, r.allocations);
    }
  }
  return 0;
}
