#include "identity/subcircuit.h"

#include <algorithm>
#include <bit>
#include <span>

#include "utils/abort.h"
#include "utils/parallel_for.h"

namespace trevalon {
namespace {

// Selections per task of the parallel enumeration: a selection is rejected
// in about ten nanoseconds, so a task is some ten microseconds of work,
// far above its scheduling cost, while a 12-gate identity (3,302
// selections) still makes four tasks and a 19-gate one (354,522) hundreds.
constexpr std::size_t kSelectionsPerTask = 1024;

void check_cuttable_len(std::size_t len) {
  if (len > WireTable::kMaxLen) abort_with("Subcircuits cover at most 64 instructions");
}

constexpr GateMask bit(std::size_t i) { return GateMask{1} << i; }

// Bits 0..len-1; len <= 64.
constexpr GateMask low_bits(std::size_t len) { return len >= 64 ? ~GateMask{0} : bit(len) - 1; }

// The flags of an L-entry list rotated left (as `Circ::rotate(k)`) or right
// (as `Circ::rotate(-k)`) by k, 0 <= k <= L <= 64.
GateMask rotate_left(GateMask m, std::size_t k, std::size_t len) {
  if (k == 0 || k == len) return m;
  return (m >> k) | ((m & low_bits(k)) << (len - k));
}
GateMask rotate_right(GateMask m, std::size_t k, std::size_t len) {
  if (k == 0 || k == len) return m;
  return rotate_left(m, len - k, len);
}

// The circuit being cut, with its selection flags, in fixed storage: the
// moves of `split_selection` are rotations and neighbour swaps that would
// otherwise copy a `Circ` each.
class CutState {
 public:
  CutState(const Circ& c, GateMask selection)
      : len_(c.len()), perm_(c.perm()), fwd_(qubit_table(perm_)), back_(qubit_table(perm_.inv())), sel_(selection) {
    std::copy(c.instrs().begin(), c.instrs().end(), instrs_.begin());
  }

  std::size_t len() const { return len_; }
  GateMask selection() const { return sel_; }
  const Instr32& operator[](std::size_t i) const { return instrs_[i]; }
  // Union of the qubit masks of instructions first..last-1.
  uint8_t mask_of(std::size_t first, std::size_t last) const {
    uint8_t m = 0;
    for (std::size_t i = first; i < last; ++i) m |= instrs_[i].arg_mask();
    return m;
  }

  // The same for the instructions as they come out of the trailing
  // permutation: the frame of the front of the cycle.
  uint8_t mask_through_perm(std::size_t first, std::size_t last) const {
    uint8_t m = 0;
    for (std::size_t i = first; i < last; ++i) m |= relabel(instrs_[i], fwd_).arg_mask();
    return m;
  }

  // `Circ::rotate(k)`: the first k instructions return through the
  // permutation's inverse and go to the end.
  void rotate_front_to_back(std::size_t k) {
    for (std::size_t i = 0; i < k; ++i) instrs_[i] = relabel(instrs_[i], back_);
    std::rotate(instrs_.begin(), instrs_.begin() + k, instrs_.begin() + len_);
    sel_ = rotate_left(sel_, k, len_);
  }
  // `Circ::rotate(-k)`: the last k instructions pass through the
  // permutation and go to the front.
  void rotate_back_to_front(std::size_t k) {
    for (std::size_t i = len_ - k; i < len_; ++i) instrs_[i] = relabel(instrs_[i], fwd_);
    std::rotate(instrs_.begin(), instrs_.begin() + (len_ - k), instrs_.begin() + len_);
    sel_ = rotate_right(sel_, k, len_);
  }
  // Exchanges instructions i and i+1 with their flags.
  void swap_next(std::size_t i) {
    std::swap(instrs_[i], instrs_[i + 1]);
    const GateMask pair = (sel_ >> i) & 3;
    if (pair == 1 || pair == 2) sel_ ^= GateMask{3} << i;
  }
  Instr32 pop_front() {
    const Instr32 out = instrs_[0];
    std::copy(instrs_.begin() + 1, instrs_.begin() + len_, instrs_.begin());
    --len_;
    sel_ >>= 1;
    return out;
  }
  // The last instruction, carried through the trailing permutation.
  Instr32 pop_back_through_perm() {
    --len_;
    sel_ &= ~bit(len_);
    return relabel(instrs_[len_], fwd_);
  }

  Circ rest() const {
    return Circ::create(std::vector<Instr32>(instrs_.begin(), instrs_.begin() + len_), perm_);
  }

 private:
  std::array<Instr32, WireTable::kMaxLen> instrs_;
  std::size_t len_;
  Permut32 perm_;
  std::array<uint8_t, 8> fwd_, back_;
  GateMask sel_;
};

// The extracted piece: a double-ended queue in fixed storage, filled at the
// back by the first phase and at the front by the second.
class Piece {
 public:
  void push_back(const Instr32& in) {
    items_[end_++] = in;
    mask_ |= in.arg_mask();
  }
  void push_front(const Instr32& in) {
    items_[--begin_] = in;
    mask_ |= in.arg_mask();
  }
  uint8_t mask() const { return mask_; }
  std::vector<Instr32> to_vector() const {
    return std::vector<Instr32>(items_.begin() + begin_, items_.begin() + end_);
  }

 private:
  std::array<Instr32, 2 * WireTable::kMaxLen> items_;
  std::size_t begin_ = WireTable::kMaxLen, end_ = WireTable::kMaxLen;
  uint8_t mask_ = 0;
};

enum class PortSide { kEntry, kExit };

std::vector<Port> ports_of(const WireTable& table, GateMask selection, PortSide side) {
  std::vector<Port> out;
  for (GateMask rest = selection; rest != 0; rest &= rest - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(rest));
    for (uint8_t k = 0; k < table.nslots(i); ++k) {
      const std::size_t other = side == PortSide::kEntry ? table.backward(i, k) : table.forward(i, k);
      if (other == i || (selection & bit(other)) == 0) out.push_back(Port{table.qubit(i, k), i, k});
    }
  }
  return out;
}

}  // namespace

WireTable::WireTable(const IdentityCirc& circuit, GateMask rows) : circuit_(&circuit), len_(circuit.len()) {
  check_cuttable_len(len_);
  for (GateMask rest = rows & low_bits(len_); rest != 0; rest &= rest - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(rest));
    const WireNeighbours fw = circuit.qargs_forward(i);
    const WireNeighbours bw = circuit.qargs_backward(i);
    const QArgs16& q = circuit[i].qargs();
    nslots_[i] = q.len();
    for (uint8_t k = 0; k < q.len(); ++k) {
      qubit_[i][k] = q.slot(k);
      forward_[i][k] = static_cast<uint8_t>(fw[k]);
      backward_[i][k] = static_cast<uint8_t>(bw[k]);
      neighbours_[i] |= bit(fw[k]) | bit(bw[k]);
    }
  }
}

bool WireTable::is_connected(GateMask selection) const {
  if (selection == 0) return true;
  // Breadth-first search over bit sets: `frontier` holds the visited
  // instructions whose neighbours have not been looked at yet.
  GateMask visited = selection & (~selection + 1);
  GateMask frontier = visited;
  while (frontier != 0) {
    const auto x = static_cast<std::size_t>(std::countr_zero(frontier));
    frontier &= frontier - 1;
    const GateMask fresh = neighbours_[x] & selection & ~visited;
    visited |= fresh;
    frontier |= fresh;
  }
  return visited == selection;
}

bool WireTable::is_convex(GateMask selection) const {
  // Qubits are below 8 by the circuit invariant, so one byte per side
  // records the qubits of the ports seen so far.
  unsigned entries = 0, exits = 0;
  for (GateMask rest = selection; rest != 0; rest &= rest - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(rest));
    for (uint8_t k = 0; k < nslots_[i]; ++k) {
      const unsigned q = 1u << (qubit_[i][k] & 7);
      const std::size_t prev = backward_[i][k], next = forward_[i][k];
      if (prev == i || (selection & bit(prev)) == 0) {
        if (entries & q) return false;
        entries |= q;
      }
      if (next == i || (selection & bit(next)) == 0) {
        if (exits & q) return false;
        exits |= q;
      }
    }
  }
  return true;
}

std::optional<std::pair<Circ, Circ>> split_selection(const IdentityCirc& circuit, GateMask selection) {
  const std::size_t n = circuit.len();
  check_cuttable_len(n);
  if (selection == 0) return std::nullopt;
  check_index(static_cast<std::size_t>(63 - std::countl_zero(selection)), n);

  // The selection's first gate goes to the front; then, as long as E
  // followed by the remaining circuit is the identity cycle, selected gates
  // are commuted or rotated out to either end of the remaining circuit.
  CutState c(circuit.circ(), selection);
  Piece e;
  c.rotate_front_to_back(static_cast<std::size_t>(std::countr_zero(selection)));

  while (c.selection() != 0) {
    const auto a = static_cast<std::size_t>(std::countr_zero(c.selection()));
    if (a == 0) {
      e.push_back(c.pop_front());
    } else if (c[a - 1].disjoint(c[a])) {
      c.swap_next(a - 1);
    } else if ((c.mask_of(0, a) & e.mask()) == 0) {
      c.rotate_front_to_back(a);
    } else {
      break;
    }
  }
  while (c.selection() != 0) {
    const auto a = static_cast<std::size_t>(63 - std::countl_zero(c.selection()));
    const std::size_t last = c.len() - 1;
    if (a == last) {
      e.push_front(c.pop_back_through_perm());
    } else if (c[a].disjoint(c[a + 1])) {
      c.swap_next(a);
    } else if ((c.mask_through_perm(a + 1, c.len()) & e.mask()) == 0) {
      // The tail crosses the permutation and then E, which stands in the
      // front's frame: compare it there, not by its labels before the
      // permutation.
      c.rotate_back_to_front(last - a);
    } else {
      return std::nullopt;
    }
  }
  return std::pair<Circ, Circ>(Circ::create(e.to_vector(), Permut32::identity(circuit.nqubits())), c.rest());
}

namespace {

GateMask selection_of(const IdentityCirc& circuit, const std::vector<bool>& gates) {
  check_cuttable_len(circuit.len());
  GateMask m = 0;
  for (std::size_t i = 0; i < gates.size(); ++i) {
    if (!gates[i]) continue;
    check_index(i, circuit.len());
    m |= bit(i);
  }
  return m;
}

}  // namespace

IdentitySubcircuit::IdentitySubcircuit(const IdentityCirc& circuit, std::vector<bool> gates)
    : selection_(selection_of(circuit, gates)), table_(circuit, selection_) {}

std::vector<Port> IdentitySubcircuit::inputs() const { return ports_of(table_, selection_, PortSide::kEntry); }

std::vector<Port> IdentitySubcircuit::outputs() const { return ports_of(table_, selection_, PortSide::kExit); }

std::vector<std::pair<Circ, Circ>> par_subcircuit_splits(const IdentityCirc& circuit, const SplitOptions& options) {
  const GateSubsets& subsets = combinations(circuit.len());
  const WireTable table(circuit);
  const std::size_t total = subsets.size();

  // Appends the accepted cuts of subsets first..last-1 to `out`, in order.
  auto cut_range = [&](std::size_t first, std::size_t last, std::vector<std::pair<Circ, Circ>>& out) {
    for (std::size_t s = first; s < last; ++s) {
      GateMask m = 0;
      for (uint8_t i : subsets[s]) m |= bit(i);
      if (!table.is_connected(m) || !table.is_convex(m)) continue;
      if (auto cut = split_selection(circuit, m)) out.push_back(std::move(*cut));
    }
  };

  std::vector<std::pair<Circ, Circ>> out;
  const std::size_t ntasks = (total + kSelectionsPerTask - 1) / kSelectionsPerTask;
  if (options.execution == SplitOptions::Execution::kSequential || ntasks <= 1) {
    cut_range(0, total, out);
    return out;
  }
  // One result list per run of selections, joined in run order.
  std::vector<std::vector<std::pair<Circ, Circ>>> parts(ntasks);
  parallel_for_ranges(ntasks, [&](std::size_t first_task, std::size_t last_task) {
    for (std::size_t t = first_task; t != last_task; ++t) {
      cut_range(t * kSelectionsPerTask, std::min(total, (t + 1) * kSelectionsPerTask), parts[t]);
    }
  });
  std::size_t count = 0;
  for (const auto& p : parts) count += p.size();
  out.reserve(count);
  for (auto& p : parts) std::move(p.begin(), p.end(), std::back_inserter(out));
  return out;
}

}  // namespace trevalon
