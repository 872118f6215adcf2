// Register-style instructions for Python callers: `Argument` (a named
// register position such as q[0]) and `Instruction` (a gate applied to
// quantum and classical arguments). Plain values; nothing relates the
// argument count to the gate's arity, and the search never uses them.
#ifndef TREVALON_CIRC_INSTRUCTION_H_
#define TREVALON_CIRC_INSTRUCTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "circ/gate.h"
#include "utils/siphash.h"

namespace trevalon {

struct Argument {
  std::string regid;
  uint64_t index = 0;

  std::string to_text() const;   // q[0]
  std::string debug_text() const;  // Argument { regid: "q", index: 0 }
  void hash_into(SipHasher13& h) const;
  friend bool operator==(const Argument&, const Argument&) = default;
};

struct Instruction {
  Gate16 gate;
  std::vector<Argument> qargs;
  std::vector<Argument> cargs;

  std::string to_text() const;  // cx q[0], q[1];
  std::string debug_text() const;
  void hash_into(SipHasher13& h) const;
  friend bool operator==(const Instruction&, const Instruction&) = default;
};

// A string in double quotes with backslash escapes, as debug forms show it.
std::string debug_quoted(const std::string& s);

}  // namespace trevalon

#endif  // TREVALON_CIRC_INSTRUCTION_H_
