// The 23 built-in gate records, in handle order (ids 0..22).
#ifndef TREVALON_CIRC_BUILTIN_GATES_H_
#define TREVALON_CIRC_BUILTIN_GATES_H_

#include <vector>

#include "circ/gate.h"

namespace trevalon {

// Fresh copies of the built-in records, each with an empty adjoint link.
std::vector<GateData> builtin_gate_records();

}  // namespace trevalon

#endif  // TREVALON_CIRC_BUILTIN_GATES_H_
