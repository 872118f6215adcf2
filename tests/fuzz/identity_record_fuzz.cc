// libFuzzer harness for identity records in their dict form: a list of
// (gate name, (slot 0, slot 1)) instructions and a raw permutation word, as
// `IdentityCirc.from_python` receives them. The bytes are read as:
//   count, then per instruction: gate selector, [name length, name bytes
//   when the selector picks "raw name"], slot 0, slot 1; then 4 bytes of the
//   permutation word, little-endian. Missing bytes read as zero.
// Any input must end in an identity or an Abort; an accepted identity must
// survive every read-only operation (each may abort cleanly) and rebuild
// equal from its own record fields.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "circ/gate.h"
#include "circ/instr.h"
#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

class ByteStream {
 public:
  ByteStream(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Known names of every arity, a parameterised one, and the raw-name escape.
constexpr std::array<const char*, 8> kNames = {"h", "x", "t", "tdg", "cx", "swap", "cz", "rz(pi/3)"};

template <class F>
void tolerate_abort(F&& f) {
  try {
    f();
  } catch (const Abort&) {
  }
}

IdentityCirc decode(ByteStream& in) {
  const std::size_t count = in.next() % 24;  // past 20 reaches the size limits
  std::vector<Instr32> instrs;
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t selector = in.next() % (kNames.size() + 1);
    std::string name;
    if (selector < kNames.size()) {
      name = kNames[selector];
    } else {
      const uint8_t len = in.next() % 16;
      for (uint8_t k = 0; k < len; ++k) name.push_back(static_cast<char>(in.next()));
    }
    const Gate16 gate = Gate16::from_serialized(name);
    const uint8_t s0 = in.next(), s1 = in.next();
    instrs.emplace_back(gate, QArgs16(s0, s1));
  }
  uint32_t raw = 0;
  for (int k = 0; k < 4; ++k) raw |= static_cast<uint32_t>(in.next()) << (8 * k);
  return IdentityCirc::from_record(std::move(instrs), Permut32::from_raw(raw));
}

void exercise(const IdentityCirc& id) {
  (void)id.to_text();
  (void)id.debug_text();
  (void)id.hash_value();
  for (std::size_t i = 0; i <= id.len(); ++i) {
    tolerate_abort([&] { (void)id.qargs_forward(i); });
    tolerate_abort([&] { (void)id.qargs_backward(i); });
  }
  tolerate_abort([&] { (void)id.at_cyclic(-1); });
  // Simulation and canonical forms cost 2^n and up to n! per call: keep runs fast.
  if (id.nqubits() <= 4) {
    tolerate_abort([&] { (void)id.check(); });
    tolerate_abort([&] { (void)id.circ().inverse(); });
    tolerate_abort([&] { (void)id.circ().representative(); });
    tolerate_abort([&] { (void)id.circ().rotate_representative(); });
  }
  const Circ& c = id.circ();
  if (!(IdentityCirc::from_record(c.instrs(), c.perm()) == id)) __builtin_trap();
}

}  // namespace
}  // namespace trevalon

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace trevalon;
  ByteStream in(data, size);
  try {
    exercise(decode(in));
  } catch (const Abort&) {
  }
  return 0;
}
