"""Bad input never kills the process: every public entry point of the 13
classes, fed wrong types, None, out-of-range integers, empty and oversized
sequences and objects of the other classes, returns or raises (an ordinary
exception or NativeAbort). The calls run in a child process, so a crash fails
the test with the call that caused it."""
import os
import subprocess
import sys

import pytest

import trevalon

SWEEP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sweep_calls.py")

GROUPS = [
    ("Argument", "Instruction", "Gate", "Instr"),
    ("StateVec", "Evaluator", "Circ"),
    ("ECC", "ECCs", "RawECCs"),
    ("IdentityCirc", "IdentityProver", "Proof"),
]


def test_groups_cover_every_class():
    from sweep_calls import CLASSES
    assert sorted(c for g in GROUPS for c in g) == sorted(CLASSES)
    assert all(hasattr(trevalon, c) for c in CLASSES)


@pytest.mark.parametrize("group", GROUPS, ids=lambda g: "-".join(g))
def test_sweep(group):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (os.path.dirname(trevalon.__path__[0]),
                                                    env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, SWEEP, *group], env=env, capture_output=True,
                          text=True, timeout=600, cwd="/")
    lines = proc.stdout.splitlines()
    calls = [line[5:] for line in lines if line.startswith("CALL ")]
    last = calls[-1] if calls else "<before the first call>"
    assert proc.returncode == 0 and lines[-1:] == ["SWEEP DONE"], (
        f"sweep child exited with {proc.returncode} during: {last}\n{proc.stderr[-3000:]}")
