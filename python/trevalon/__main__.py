"""Command-line entry: `python -m trevalon`.

Shows the built-in gate set: each gate's handle, display name, qubit count,
numeric parameters and adjoint.
"""
import sys

import numpy as np

from . import Gate

BUILTIN_NAMES = [
    "i", "h", "x", "z", "y", "s", "sdg", "t", "tdg", "cx", "cz", "cy", "cs", "csdg", "swap",
    "t1/2", "tdg1/2", "rz(pi/3)", "rz(-pi/3)", "rz(pi/5)", "rz(-pi/5)", "rz(pi/16)", "rz(-pi/16)",
]


def main(argv=None):
    print("trevalon built-in gates")
    print(f"{'gate':<11} {'qubits':>6}  {'params':<22} adjoint")
    for name in BUILTIN_NAMES:
        gate = Gate.from_name(name)
        params = ", ".join(f"{v:.6f}" for v in gate.params_f) or "-"
        print(f"{str(gate):<11} {gate.nqargs:>6}  {params:<22} {gate.adjoint()}")
    theta = 0.3
    custom = Gate("phase", ["3*pi/10"], np.diag([1, np.exp(1j * theta * np.pi)]))
    print()
    print(f"user gate {custom}: params_f = {custom.params_f}, adjoint = {custom.adjoint()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
