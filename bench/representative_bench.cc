// Microseconds per `rotate_representative` for 2- and 3-qubit identities of
// 6, 10 and 14 instructions (C followed by C.inverse() for random C of 3, 5
// and 7 gates); beside it the identity check alone (which every
// rotate_representative ends with) and `representative` (the relabelling
// search without rotations or check) on the same circuits.
//
//   cmake -DTREVALON_BUILD_BENCH=ON ... && ninja representative_bench
//   ./representative_bench
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "circ/gate.h"
#include "identity/circuit.h"
#include "identity/idcircuit.h"

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

// Mean microseconds per call of f over the inputs, repeated for at least
// `min_seconds`.
template <class F>
double micros_per_call(const std::vector<Circ>& inputs, double min_seconds, F&& f) {
  using Clock = std::chrono::steady_clock;
  std::size_t calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (const Circ& c : inputs) f(c);
    calls += inputs.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < min_seconds);
  return elapsed * 1e6 / static_cast<double>(calls);
}

int run() {
  std::mt19937 rng(2024);
  std::printf("%-7s %-7s %24s %10s %18s\n", "qubits", "instrs", "rotate_representative_us", "check_us",
              "representative_us");
  std::size_t sink = 0;
  for (uint8_t n : {2, 3}) {
    for (std::size_t half : {3, 5, 7}) {
      std::vector<Circ> identities;
      std::vector<Circ> canonical;
      for (int i = 0; i < 64; ++i) {
        const Circ c = random_circ(rng, n, half);
        identities.push_back(c + c.inverse());
        canonical.push_back(identities.back().rotate_representative().inner());
      }
      const double rep_us = micros_per_call(identities, 0.3, [&](const Circ& c) {
        sink += c.rotate_representative().len();
      });
      const double check_us = micros_per_call(canonical, 0.3, [&](const Circ& c) {
        sink += IdentityCirc::unchecked(c).len();
      });
      const double plain_us = micros_per_call(identities, 0.3, [&](const Circ& c) {
        sink += c.representative().len();
      });
      std::printf("%-7d %-7zu %24.2f %10.2f %18.2f\n", n, 2 * half, rep_us, check_us, plain_us);
    }
  }
  return sink == 0 ? 1 : 0;
}

}  // namespace
}  // namespace trevalon

int main() { return trevalon::run(); }
