// StateVec: the 2^n complex amplitudes of an n-qubit register, held as two
// separate 64-byte aligned arrays of doubles (real parts, imaginary parts).
//
// Qubit q is bit q of the amplitude index. Invariant of every state built by
// the named constructors: both arrays have the same power-of-two length (at
// least 1); they are never resized, only filled, swapped or reallocated by
// `copy_from` when the lengths differ. A default-constructed state is the
// empty scratch value (length 0) and only serves as a slot to copy into.
// The norm is not an invariant: `check` tests it, `normalize` makes it so.
//
// Comparison, order and hashing use the quantised scalar (state/qreal.h),
// so states that differ only by rounding noise compare equal and hash alike.
// Copies are deep. A state is not internally synchronised: many threads may
// read one state, but each thread mutates only its own.
#ifndef TREVALON_STATE_STATE_VEC_H_
#define TREVALON_STATE_STATE_VEC_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "circ/complex_matrix.h"
#include "groups/permutation.h"
#include "state/rng.h"

namespace trevalon {

class OrderInfo;

// The factor `normalize_arg` multiplies every amplitude by; `identity` when
// the reference amplitude is zero and the amplitudes stay as they are.
struct PhaseFactor {
  double re = 1.0;
  double im = 0.0;
  bool identity = true;

  // The product with amplitude (r, i), computed as normalize_arg does.
  void apply(double r, double i, double& out_re, double& out_im) const {
    if (identity) {
      out_re = r;
      out_im = i;
    } else {
      out_re = re * r - im * i;
      out_im = re * i + im * r;
    }
  }
};

// The index relabelling of a qubit permutation: bit k of an index moves to
// bit perm.at(k); bits at or beyond perm.len(), and from 8 up, stay. Built
// for one qubit count (aborting when perm sends a qubit of it outside);
// valid for indices below 2^nqubits.
class IndexMap {
 public:
  IndexMap(Permut32 perm, uint32_t nqubits);
  std::size_t operator()(std::size_t x) const { return low_[x & 255] | (x & ~std::size_t{255}); }

 private:
  uint8_t low_[256];
};

class StateVec {
 public:
  // The largest register the constructors build: 2^28 amplitudes take 4 GiB
  // (real and imaginary parts). Larger counts abort with the size message
  // instead of asking the allocator for tens of gigabytes or more.
  static constexpr uint32_t kMaxQubits = 28;

  StateVec() = default;
  StateVec(const StateVec& other);
  StateVec& operator=(const StateVec& other);
  StateVec(StateVec&&) noexcept = default;
  StateVec& operator=(StateVec&&) noexcept = default;

  // Copies both arrays; aborts when their lengths differ or the length is
  // not a power of two.
  static StateVec create(std::span<const double> re, std::span<const double> im);
  // 2^n exact zeros (not the basis state |0...0>).
  static StateVec zeros(uint32_t n);
  // Uniform draws for re[0..], then im[0..]; then length- and phase-normalised.
  static StateVec from_random(Rng64& rng, uint32_t n);
  // Amplitudes that depend only on the Hamming weight of the index, so every
  // relabelling of qubits leaves the state unchanged; normalised as above.
  static StateVec from_random_symmetric(Rng64& rng, uint32_t n);

  uint32_t nqubits() const;
  std::size_t len() const { return len_; }
  double* re() { return re_.get(); }
  double* im() { return im_.get(); }
  const double* re() const { return re_.get(); }
  const double* im() const { return im_.get(); }

  // Amplitude `index`; aborts when index >= len().
  Complex at(std::size_t index) const;
  void set(std::size_t index, Complex value);

  // Divides by the norm, then `normalize_arg`. A state whose squared norm is
  // exactly zero becomes |0...0> instead of dividing by zero.
  void normalize();
  // Removes the global phase: amplitude 0 (else the last, else the
  // normalised sum) becomes the real positive reference, and im[0] is 0.
  void normalize_arg();
  // The factor normalize_arg would apply (it also sets im[0] to 0).
  PhaseFactor phase_factor() const;
  // True when the squared norm is within 2^-24 of 1.
  bool check() const;
  // SipHash-1-3 (zero keys) of the lengths and quantised amplitudes. Does
  // not normalise: callers normalise first.
  uint64_t hash_value() const;
  // Coarse comparison (buckets of 1/256) over the common positions.
  bool loose_eq(const StateVec& other) const;
  StateVec clone() const { return *this; }
  // Makes this state a copy of `other`, reusing the buffers when the lengths
  // agree (no allocation then).
  void copy_from(const StateVec& other);
  void swap(StateVec& other) noexcept;

  // Relabels qubits: the qubit at position k moves to position perm.at(k);
  // qubits at or beyond perm.len() stay where they are. Aborts, before
  // touching the state, when perm sends a qubit of the state outside it.
  // Uses this thread's scratch cache and exchanges buffers with it, so it
  // allocates only while the cache grows. Invalidates re()/im() pointers.
  void apply_permutation(Permut32 perm);
  // Writes the relabelled copy of this state to `out` (same rule and check
  // as `apply_permutation`), reusing out's buffers when the lengths agree.
  void permute_into(Permut32 perm, StateVec& out) const;

  // The canonical qubit order of this state (state/order_info.h).
  OrderInfo get_orderinfo() const;
  // The permutation part of `get_orderinfo().as_bits()`.
  Permut32 get_permutation() const;

  // "[a0, a1, ...]" with every part printed at 4 decimals.
  std::string to_text() const;

  // Quantised equality of lengths and every part.
  friend bool operator==(const StateVec& a, const StateVec& b);
  // Real parts lexicographically (a prefix is smaller), then imaginary parts.
  friend std::strong_ordering operator<=>(const StateVec& a, const StateVec& b);

 private:
  struct AlignedFree {
    void operator()(double* p) const;
  };
  using Buffer = std::unique_ptr<double[], AlignedFree>;
  static Buffer allocate(std::size_t len);
  explicit StateVec(std::size_t len);

  Buffer re_;
  Buffer im_;
  std::size_t len_ = 0;
};

// Aborts with the size message unless a state of n qubits may be built.
void check_state_qubits(uint32_t n);

// This thread's scratch states: entry k, once present, holds 2^k amplitudes.
// Entries are appended by `reserve` and never removed; the cache lives until
// the thread ends. `borrow` hands out exclusive use and aborts with
// "already borrowed" if the cache is already in use on this thread.
class StateVecCache {
 public:
  class Borrow {
   public:
    explicit Borrow(StateVecCache& cache);
    ~Borrow();
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    // Appends zero states until entries 0..n exist.
    void reserve(uint32_t n);
    StateVec& entry(uint32_t k);
    std::size_t size() const;

   private:
    StateVecCache& cache_;
  };

  // STATE_VEC_CACHE of the calling thread.
  static StateVecCache& this_thread();

 private:
  std::vector<StateVec> entries_;
  bool in_use_ = false;
};

}  // namespace trevalon

#endif  // TREVALON_STATE_STATE_VEC_H_
