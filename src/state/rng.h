// Rng64: the random generator behind random states (xoshiro256**).
//
// `from_entropy` seeds from the operating system (std::random_device) and is
// what every production caller uses; `from_seed` gives reproducible streams
// for tests and benchmarks. Both spread the seed material over the 256-bit
// state with splitmix64, so no seed yields the all-zero state.
//
// A generator is a plain value owned by one thread at a time; it is not
// internally synchronised.
#ifndef TREVALON_STATE_RNG_H_
#define TREVALON_STATE_RNG_H_

#include <cstdint>

namespace trevalon {

class Rng64 {
 public:
  static Rng64 from_entropy();
  static Rng64 from_seed(uint64_t seed);

  // The next uniformly distributed 64-bit word.
  uint64_t next_u64() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // A double in [0, 1) carrying the top 53 bits of one word.
  double uniform() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

 private:
  Rng64() = default;
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  void seed_with(uint64_t a, uint64_t b);

  uint64_t s_[4] = {0, 0, 0, 0};
};

}  // namespace trevalon

#endif  // TREVALON_STATE_RNG_H_
