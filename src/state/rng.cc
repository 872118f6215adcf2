#include "state/rng.h"

#include <sys/random.h>

#include <cerrno>
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
  // getrandom costs a fraction of a microsecond; std::random_device reads
  // the CPU's seed instruction here, about 46 us a draw, and every identity
  // check seeds a fresh generator.
  uint64_t seed[2];
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(seed);
  while (got < sizeof seed) {
    const ssize_t n = getrandom(bytes + got, sizeof seed - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;  // no getrandom: fall back to the standard device below
    }
  }
  if (got < sizeof seed) {
    std::random_device dev;
    for (uint64_t& w : seed) w = (static_cast<uint64_t>(dev()) << 32) | dev();
  }
  Rng64 r;
  r.seed_with(seed[0], seed[1]);
  return r;
}

Rng64 Rng64::from_seed(uint64_t seed) {
  Rng64 r;
  r.seed_with(seed, 0);
  return r;
}

}  // namespace trevalon
