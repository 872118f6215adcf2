// Throughput of `par_subcircuit_splits` for canonical 2- and 3-qubit
// identities of 8, 12 and 16 instructions (C followed by C.inverse() for a
// random C of 4, 6 and 8 gates), on 1 and 2 worker threads. Per row:
// enumerations (whole identities) per second, selections examined per
// second, and accepted cuts (S, R) produced per second.
//
//   cmake -DTREVALON_BUILD_BENCH=ON ... && ninja splits_bench
//   ./splits_bench
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "circ/gate.h"
#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "identity/subcircuit.h"
#include "oneapi/tbb/global_control.h"

namespace trevalon {
namespace {

Circ random_circ(std::mt19937& rng, uint8_t n, std::size_t len) {
  const Gate16 one[] = {gates::H(), gates::S(), gates::T(), gates::X()};
  std::uniform_int_distribution<int> q(0, n - 1);
  std::vector<Instr32> instrs;
  for (std::size_t i = 0; i < len; ++i) {
    if (rng() % 2 == 0) {
      const uint8_t a = static_cast<uint8_t>(q(rng));
      uint8_t b = static_cast<uint8_t>(q(rng));
      while (b == a) b = static_cast<uint8_t>(q(rng));
      instrs.push_back(Instr32::create(gates::CX(), std::vector<uint8_t>{a, b}));
    } else {
      instrs.push_back(Instr32::create(one[rng() % 4], std::vector<uint8_t>{static_cast<uint8_t>(q(rng))}));
    }
  }
  const auto& all = Permut32::all(n);
  return Circ::create(std::move(instrs), all[rng() % all.size()]);
}

int run() {
  std::mt19937 rng(2024);
  std::printf("%-7s %-7s %-8s %14s %16s %13s\n", "qubits", "instrs", "threads", "identities/s", "selections/s",
              "cuts/s");
  std::size_t sink = 0;
  for (uint8_t n : {2, 3}) {
    for (std::size_t len : {8, 12, 16}) {
      // Canonical forms, as the prover stores them; they keep the length
      // unless C happens to cancel, which the length filter drops.
      std::vector<IdentityCirc> ids;
      while (ids.size() < 32) {
        const Circ c = random_circ(rng, n, len / 2);
        IdentityCirc id = (c + c.inverse()).rotate_representative();
        if (id.len() == len) ids.push_back(std::move(id));
      }
      const std::size_t selections = combinations(len).size();
      for (std::size_t threads : {1, 2}) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
        using Clock = std::chrono::steady_clock;
        std::size_t calls = 0, cuts = 0;
        const auto start = Clock::now();
        double elapsed = 0;
        do {
          for (const IdentityCirc& id : ids) cuts += par_subcircuit_splits(id).size();
          calls += ids.size();
          elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < 0.5);
        sink += cuts;
        std::printf("%-7d %-7zu %-8zu %14.0f %16.3g %13.3g\n", n, len, threads, calls / elapsed,
                    static_cast<double>(calls * selections) / elapsed, static_cast<double>(cuts) / elapsed);
      }
    }
  }
  return sink == 0 ? 1 : 0;
}

}  // namespace
}  // namespace trevalon

int main() { return trevalon::run(); }
