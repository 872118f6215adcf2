// The process-wide gate registry and the 16-bit gate handle.
//
// Every gate lives in INSTRUCTION_SET, built on first use with the 23
// built-in gates, which fixes their handles 0..22. A gate is identified by
// its matrix at quantised precision: registering a known matrix returns the
// existing handle. Records are only appended, so handles stay valid forever;
// the only edit is filling in a record's cached adjoint once.
//
// Thread safety: every operation may be called from any thread, with or
// without the interpreter lock. Reads take the registry's shared spin lock,
// registration its exclusive lock. A handle beyond the registry (possible
// only from corrupted input) aborts with an index message.
#ifndef TREVALON_CIRC_GATE_H_
#define TREVALON_CIRC_GATE_H_

#include <compare>
#include <cstdint>
#include <type_traits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "circ/complex_matrix.h"

namespace trevalon {

struct GateData {
  std::string name;
  std::vector<std::string> params;
  ComplexMatrix matrix;
  std::optional<uint16_t> adjoint;

  // SipHash-1-3 of the shape and the quantised entries, column-major.
  uint64_t hash_value() const;
  // Name, then "(" params joined by ", " ")" when there are any.
  std::string display_name() const;
};

class Gate16 {
 public:
  constexpr Gate16() = default;
  constexpr explicit Gate16(uint16_t id) : id_(id) {}

  // Registers a gate, or returns the handle of the known equal matrix.
  // Aborts when the row count is not a power of two or the matrix is not
  // square; the registry is then unchanged.
  static Gate16 create(std::string name, std::vector<std::string> params, ComplexMatrix matrix);
  // The lowest id whose display form equals `text`.
  static std::optional<Gate16> from_name(std::string_view text);
  // The serialized form's reader: like `from_name`, but aborts with
  // "Failed to deserialize Gate16 from {}" when nothing matches.
  static Gate16 from_serialized(std::string_view text);
  // Number of registered gates (grows over time).
  static std::size_t registry_size();

  constexpr uint16_t id() const { return id_; }
  std::string name() const;
  std::vector<std::string> params() const;
  std::string display_name() const;
  // "Gate(17 -> rz(pi/3))".
  std::string debug_text() const;
  // Runs f(const ComplexMatrix&) under the shared lock; f must be short and
  // must not register gates. Results leave through f's captures.
  template <class F>
  void matrix(F&& f) const;
  ComplexMatrix matrix_copy() const;
  uint8_t nqargs() const;
  // The conjugate transpose, registered on first use and cached.
  Gate16 adjoint() const;

  friend constexpr bool operator==(Gate16, Gate16) = default;
  friend constexpr auto operator<=>(Gate16 a, Gate16 b) { return a.id_ <=> b.id_; }

 private:
  // Runs f(const GateData&) under the shared lock.
  // A plain function pointer with context keeps the read path free of
  // allocation and type erasure.
  using RecordFn = void (*)(void* ctx, const GateData&);
  static void with_record(uint16_t id, void* ctx, RecordFn fn);
  uint16_t id_ = 0;
};

template <class F>
void Gate16::matrix(F&& f) const {
  with_record(id_, &f, [](void* ctx, const GateData& g) {
    (*static_cast<std::remove_reference_t<F>*>(ctx))(g.matrix);
  });
}

// The shape checks of registration, in their order: the row count is a
// power of two, the matrix is square, and it acts on at most 8 qubits (the
// most any circuit has). Callers copying a matrix from outside run them
// first so that absurd shapes are refused before any allocation.
void check_gate_matrix_shape(uint64_t rows, uint64_t cols);

// Display form "name(params)" of a handle, for FmtJoin.
void append_text(std::string& out, Gate16 g);

// Named built-in handles, resolved by display name once on first use.
namespace gates {
Gate16 H();
Gate16 S();
Gate16 T();
Gate16 X();
Gate16 Z();
Gate16 CX();
Gate16 SDG();
Gate16 TDG();
Gate16 SWAP();
}  // namespace gates

}  // namespace trevalon

#endif  // TREVALON_CIRC_GATE_H_
