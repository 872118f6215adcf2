// Cutting an identity's gate cycle into a selected piece S and the rest R
// (S followed by R is again an identity), and the enumeration of all such
// cuts that the prover rewrites with.
//
// A selection is a set of instruction indices of one identity, held as a
// 64-bit mask (`GateMask`, bit i = instruction i), so identities of more
// than 64 instructions cannot be cut; the enumeration is further limited to
// the 19 instructions that COMBINATIONS covers.
//
// Wire neighbours (`qargs_forward`/`qargs_backward`) rotate a copy of the
// circuit per query. `WireTable` computes them once per identity into flat
// arrays, so that testing a selection for connectivity and convexity is a
// few bit operations and allocates nothing; only accepted selections copy
// instructions, in `split`.
//
// Thread safety: all types here are plain values, read-only after
// construction; any number of threads may query one table or subcircuit.
#ifndef TREVALON_IDENTITY_SUBCIRCUIT_H_
#define TREVALON_IDENTITY_SUBCIRCUIT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "identity/circuit.h"
#include "identity/idcircuit.h"

namespace trevalon {

// Bit i set: instruction i is selected.
using GateMask = uint64_t;

// An entry or exit point of a selection: argument position `qargs_idx` of
// the selected instruction `instr_id`, whose qubit slot is `qubit`.
struct Port {
  uint8_t qubit;
  std::size_t instr_id;
  uint8_t qargs_idx;
  bool operator==(const Port&) const = default;
};

// The wire neighbours of some or all instructions of one identity.
// Borrows the identity, which must outlive the table.
class WireTable {
 public:
  // Most instructions a selection mask can address.
  static constexpr std::size_t kMaxLen = 64;

  // Neighbours of every instruction. Aborts like `qargs_forward` and
  // `qargs_backward` (in index order, forward first) on a circuit that is
  // not an identity, and with "Subcircuits cover at most 64 instructions"
  // for longer circuits.
  explicit WireTable(const IdentityCirc& circuit) : WireTable(circuit, ~GateMask{0}) {}
  // Neighbours of the instructions in `rows` only; the others read as
  // having no slots and no neighbours.
  WireTable(const IdentityCirc& circuit, GateMask rows);

  const IdentityCirc& circuit() const { return *circuit_; }
  std::size_t len() const { return len_; }
  // Number of used slots of instruction i.
  uint8_t nslots(std::size_t i) const { return nslots_[i]; }
  // Slot k of instruction i (k < nslots(i)).
  uint8_t qubit(std::size_t i, uint8_t k) const { return qubit_[i][k]; }
  // Next / previous instruction on the wire through slot k of instruction i.
  uint8_t forward(std::size_t i, uint8_t k) const { return forward_[i][k]; }
  uint8_t backward(std::size_t i, uint8_t k) const { return backward_[i][k]; }
  // Union of the forward and backward neighbours of instruction i.
  GateMask neighbours(std::size_t i) const { return neighbours_[i]; }

  // The tests below are those of `IdentitySubcircuit`, for a selection
  // that only holds rows of this table.
  bool is_connected(GateMask selection) const;
  bool is_convex(GateMask selection) const;

 private:
  const IdentityCirc* circuit_;
  std::size_t len_;
  std::array<uint8_t, kMaxLen> nslots_{};
  std::array<std::array<uint8_t, 2>, kMaxLen> qubit_{};
  std::array<std::array<uint8_t, 2>, kMaxLen> forward_{};
  std::array<std::array<uint8_t, 2>, kMaxLen> backward_{};
  std::array<GateMask, kMaxLen> neighbours_{};
};

// The cut (S, R) of `circuit` at `selection`, or nothing when the selected
// gates cannot be commuted out to one end of the cycle. S holds the selected
// gates with the identity permutation on the identity's qubit count; R the
// rest with its trailing permutation. Needs no neighbours; does not check
// connectivity or convexity. Allocates only the two result circuits.
std::optional<std::pair<Circ, Circ>> split_selection(const IdentityCirc& circuit, GateMask selection);

// A selection of instructions of one identity, which it borrows and must
// not outlive.
class IdentitySubcircuit {
 public:
  // `gates[i]` selects instruction i. Flags past the circuit's length must
  // be false (a true one aborts with the index message); missing flags
  // read as false. Computes the neighbours of the selected instructions,
  // aborting as `WireTable` does.
  IdentitySubcircuit(const IdentityCirc& circuit, std::vector<bool> gates);

  GateMask selection() const { return selection_; }

  // Entry ports: each selected instruction's slots whose previous
  // instruction is unselected or the instruction itself, by ascending
  // instruction and slot.
  std::vector<Port> inputs() const;
  // Exit ports, the same with the next instruction.
  std::vector<Port> outputs() const;
  // No qubit twice among the entry ports, nor among the exit ports.
  bool is_convex() const { return table_.is_convex(selection_); }
  // Every selected instruction is reached from the lowest selected one
  // through wires between selected instructions; true when empty.
  bool is_connected() const { return table_.is_connected(selection_); }
  // `split_selection` of this selection.
  std::optional<std::pair<Circ, Circ>> split() const { return split_selection(table_.circuit(), selection_); }

 private:
  GateMask selection_;
  WireTable table_;
};

struct SplitOptions {
  enum class Execution { kSequential, kParallel };
  Execution execution = Execution::kParallel;
};

// The cuts (S, R) of every connected, convex selection listed in
// COMBINATIONS entry circuit.len() that `split` accepts, in the order of
// that entry. kParallel spreads contiguous runs of selections over the
// oneTBB pool and concatenates their results in order, so the output is the
// same for every thread count and equals the kSequential one. Reads
// `circuit` and COMBINATIONS only. Aborts with the index message for 20 or
// more instructions, and as `WireTable` does for a non-identity.
std::vector<std::pair<Circ, Circ>> par_subcircuit_splits(const IdentityCirc& circuit,
                                                         const SplitOptions& options = {});

}  // namespace trevalon

#endif  // TREVALON_IDENTITY_SUBCIRCUIT_H_
