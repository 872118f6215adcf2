// Helpers shared by the C++ unit tests: compact instruction and permutation
// builders, and abort capture.
#ifndef TREVALON_TESTS_CPP_TEST_SUPPORT_H_
#define TREVALON_TESTS_CPP_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "circ/gate.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "utils/abort.h"

namespace trevalon::testing {

inline Instr32 I1(Gate16 g, uint8_t q) { return Instr32::create(g, std::vector<uint8_t>{q}); }
inline Instr32 I2(Gate16 g, uint8_t a, uint8_t b) { return Instr32::create(g, std::vector<uint8_t>{a, b}); }
inline Permut32 P(std::vector<uint8_t> v) { return Permut32::from_iter(v); }

// The message of the Abort that f() throws, or "<no abort>".
template <class F>
std::string abort_message(F&& f) {
  try {
    f();
  } catch (const Abort& e) {
    return e.message();
  }
  return "<no abort>";
}

}  // namespace trevalon::testing

#endif  // TREVALON_TESTS_CPP_TEST_SUPPORT_H_
