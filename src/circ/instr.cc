#include "circ/instr.h"

#include "utils/abort.h"
#include "utils/fmt_join.h"
#include "utils/siphash.h"

namespace trevalon {
namespace {

QArgs16 slots_from(std::span<const uint8_t> qargs) {
  // A compact instruction has two slots: a third argument is out of range.
  if (qargs.size() > 2) check_index(2, 2);
  for (uint8_t q : qargs) {
    if (q > Instr32::kMaxQubit) abort_with("Qubit arguments must be less than 8");
  }
  return QArgs16(qargs.size() > 0 ? qargs[0] : QArgs16::kUnused,
                 qargs.size() > 1 ? qargs[1] : QArgs16::kUnused);
}

}  // namespace

Instr32 Instr32::create(Gate16 gate, std::span<const uint8_t> qargs) {
  if (qargs.size() != gate.nqargs()) abort_with("Number of qubit arguments does not match gate arity");
  if (qargs.size() > 2) check_index(2, 2);
  if (qargs.size() == 2 && qargs[0] == qargs[1]) abort_with("Qubit arguments must be unique");
  return Instr32(gate, slots_from(qargs));
}

Instr32 Instr32::create_unchecked_unique(Gate16 gate, std::span<const uint8_t> qargs) {
  if (qargs.size() != gate.nqargs()) {
    abort_with("Number of arguments not match for gate " + gate.display_name());
  }
  return Instr32(gate, slots_from(qargs));
}

uint8_t Instr32::arg_mask() const {
  uint8_t m = 0;
  for (uint8_t q : qargs_.used()) m |= static_cast<uint8_t>(1u << (q & 7));
  return m;
}

uint8_t Instr32::largest_qubit() const {
  uint8_t m = 0;
  for (uint8_t q : qargs_.used()) m = q > m ? q : m;
  return m;
}

std::optional<uint8_t> Instr32::position_of_qubit(uint8_t qubit) const {
  const auto used = qargs_.used();
  for (uint8_t i = 0; i < used.size(); ++i) {
    if (used[i] == qubit) return i;
  }
  return std::nullopt;
}

Instr32 Instr32::apply_permutation(Permut32 perm) const {
  uint8_t s[2] = {qargs_.slot(0), qargs_.slot(1)};
  for (uint8_t i = 0; i < qargs_.len(); ++i) s[i] = perm.at(s[i]);
  return Instr32(gate_, QArgs16(s[0], s[1]));
}

std::optional<uint8_t> Instr32::pass_mask(uint8_t mask) const {
  for (uint8_t q : qargs_.used()) {
    if (mask & (1u << (q & 7))) continue;
    uint8_t k = 0;
    while (k < 8 && (mask & (1u << k))) ++k;
    if (q != k) return std::nullopt;
    mask |= static_cast<uint8_t>(1u << q);
  }
  return mask;
}

std::string Instr32::to_text() const {
  std::string out;
  append_text(out, *this);
  return out;
}

void Instr32::hash_into(SipHasher13& h) const {
  h.write_u16(gate_.id());
  h.write_u32(2);
  h.write_u8(qargs_.slot(0));
  h.write_u8(qargs_.slot(1));
}

void append_text(std::string& out, const Instr32& instr) {
  append_text(out, instr.gate());
  out += '(';
  fjoin(out, instr.qargs().used(), ", ");
  out += ')';
}

}  // namespace trevalon
