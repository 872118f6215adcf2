// The bound classes: one PyClass specialisation per native type, naming its
// Python class and kind. Each `type()` is defined in the class's bind_*.cc
// and builds the type object once, on first use.
#ifndef TREVALON_LIB_PY_CLASSES_H_
#define TREVALON_LIB_PY_CLASSES_H_

#include "circ/gate.h"
#include "circ/instr.h"
#include "circ/instruction.h"
#include "identity/circuit.h"
#include "identity/eccprove.h"
#include "identity/idcircuit.h"
#include "identity/proof.h"
#include "lib/py_class.h"
#include "search/ecc.h"
#include "search/raw_eccs.h"
#include "state/evaluator.h"
#include "state/state_vec.h"

namespace trevalon::py {

#define TREVALON_PY_CLASS(Native, Name, Frozen)          \
  template <>                                           \
  struct PyClass<Native> {                              \
    static constexpr const char* kName = Name;          \
    static constexpr bool kFrozen = Frozen;             \
    static PyTypeObject* type();                        \
  }

TREVALON_PY_CLASS(Argument, "Argument", false);
TREVALON_PY_CLASS(Instruction, "Instruction", false);
TREVALON_PY_CLASS(Gate16, "Gate", true);
TREVALON_PY_CLASS(Instr32, "Instr", false);
TREVALON_PY_CLASS(StateVec, "StateVec", false);
TREVALON_PY_CLASS(ECC, "ECC", false);
TREVALON_PY_CLASS(ECCs, "ECCs", false);
TREVALON_PY_CLASS(RawECCs, "RawECCs", false);
TREVALON_PY_CLASS(Evaluator, "Evaluator", false);
TREVALON_PY_CLASS(Circ, "Circ", false);
TREVALON_PY_CLASS(IdentityCirc, "IdentityCirc", false);
TREVALON_PY_CLASS(IdentityProver, "IdentityProver", false);
TREVALON_PY_CLASS(Proof, "Proof", false);

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_CLASSES_H_
