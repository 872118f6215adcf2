"""trevalon: finds and proves equalities between small quantum circuits."""

from .trevalon import (
    ECC as ECC,
    ECCs as ECCs,
    Argument as Argument,
    Circ as Circ,
    Evaluator as Evaluator,
    Gate as Gate,
    IdentityCirc as IdentityCirc,
    IdentityProver as IdentityProver,
    Instr as Instr,
    Instruction as Instruction,
    Proof as Proof,
    RawECCs as RawECCs,
    StateVec as StateVec,
)

__all__ = [
    "Argument",
    "Circ",
    "ECC",
    "ECCs",
    "Evaluator",
    "Gate",
    "IdentityCirc",
    "IdentityProver",
    "Instr",
    "Instruction",
    "Proof",
    "RawECCs",
    "StateVec",
]

class NativeAbort(BaseException):
    """Raised when native code called from Python aborts."""
