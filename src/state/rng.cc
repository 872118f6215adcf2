#include "state/rng.h"

#include <random>

namespace trevalon {
namespace {

uint64_t splitmix64(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void Rng64::seed_with(uint64_t a, uint64_t b) {
  uint64_t x = a;
  s_[0] = splitmix64(x);
  s_[1] = splitmix64(x);
  x ^= b;
  s_[2] = splitmix64(x);
  s_[3] = splitmix64(x);
}

Rng64 Rng64::from_entropy() {
  std::random_device dev;
  const auto word = [&dev] {
    return (static_cast<uint64_t>(dev()) << 32) | static_cast<uint64_t>(dev());
  };
  Rng64 r;
  const uint64_t a = word();
  r.seed_with(a, word());
  return r;
}

Rng64 Rng64::from_seed(uint64_t seed) {
  Rng64 r;
  r.seed_with(seed, 0);
  return r;
}

}  // namespace trevalon
