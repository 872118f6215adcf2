"""trevalon: finds and proves equalities between small quantum circuits."""

from .trevalon import *  # noqa: F401,F403
from . import trevalon as _native

__all__ = [name for name in dir(_native) if not name.startswith("_")]


def _native_abort_type():
    # The native layer raises NativeAbort without exporting it; one
    # deliberate abort (a repeated qubit) hands the type to Python callers.
    try:
        _native.Instr(_native.Gate.from_name("cx"), [0, 0])
    except BaseException as exc:  # noqa: BLE001 - this is the point
        return type(exc)
    raise ImportError("trevalon: expected the native layer to abort")


NativeAbort = _native_abort_type()
