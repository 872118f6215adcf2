"""The shipped type stubs: stubtest against the native module under test, and
mypy --strict on programs that use the API, right and wrong."""
import ast
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import trevalon

PACKAGE_DIR = Path(trevalon.__file__).parent
STUB_FILES = ("__init__.pyi", "trevalon.pyi", "py.typed")
ALLOWLIST = Path(__file__).with_name("stubtest_allowlist.txt")


def tool_env(*, keep_preload: bool) -> dict:
    """The environment for a mypy subprocess that sees the package under test.

    Under the sanitizer run LD_PRELOAD carries the sanitizer runtime: mypy
    runs without it, except where it must import the instrumented module.
    """
    env = dict(os.environ)
    env["PYTHONPATH"] = str(PACKAGE_DIR.parent)
    if not keep_preload:
        env.pop("LD_PRELOAD", None)
    return env


def run_mypy(args: list, tmp_path: Path) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path / "mypy-cache"), *args],
        cwd=tmp_path, env=tool_env(keep_preload=False), capture_output=True, text=True, timeout=600,
    )


def test_package_ships_stubs():
    missing = [name for name in STUB_FILES if not (PACKAGE_DIR / name).is_file()]
    assert missing == [], f"{PACKAGE_DIR} lacks {missing}"


def test_stubtest_matches_runtime(tmp_path):
    # Only the package's stubs go on mypy's path, so stubtest compares them
    # with the imported native module and leaves the Python modules alone
    # (importing `trevalon.__main__` to compare it could run the CLI).
    stubs = tmp_path / "stubs" / "trevalon"
    stubs.mkdir(parents=True)
    for name in STUB_FILES:
        shutil.copy(PACKAGE_DIR / name, stubs)
    env = tool_env(keep_preload=True)
    env["MYPYPATH"] = str(stubs.parent)
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "trevalon", "--allowlist", str(ALLOWLIST)],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success: no issues found" in result.stdout


TYPED_SAMPLE = '''
import numpy as np
import numpy.typing as npt

import trevalon
from trevalon import Argument, Circ, ECCs, Evaluator, Gate, IdentityCirc, IdentityProver, Instr, Instruction
from trevalon import Proof, RawECCs, StateVec


def gate(name: str) -> Gate:
    found = Gate.from_name(name)
    if found is None:
        raise KeyError(name)
    return found


h, t, cx = gate("h"), gate("t"), gate("cx")
tdg = t.adjoint()
flip: npt.NDArray[np.complex128] = np.array([[0, 1], [1, 0]], dtype=np.complex128)
same_as_x: bool = Gate("not", [], flip) == gate("x")
angles: list[float] = t.params_f
instr: Instr = cx(0, 1)
slots: bytes = instr.qargs
placed: Instruction = cx(Argument("q", 0), Argument("q", 1))
placed.qargs = [Argument("r", 2), Argument("r", 3)]
high = Instruction(cx, [("q", 0), Argument("q", 1)])

raw, (explored, evaluated, offered) = RawECCs.generate(Evaluator(2), [h, t, cx], 2)
eccs: ECCs = raw.simplify()
classes = eccs.filter_single()
sizes = sorted(len(ecc.circuits()) for ecc in classes.to_list())
witnesses: list[tuple[IdentityCirc, Circ, Circ]] = classes.to_identity_circuits()
next_key: int | None = raw.compute_next_key(Evaluator(2), Evaluator(2).initial_key(), instr)

state = StateVec.random(2)
state *= instr
state[1] = 0.5j
amplitude: complex = state[0]
back, front_perm, back_perm, forward = Evaluator(2).evaluate([instr])

circ = Circ([cx(0, 1), t(0), cx(0, 1), tdg(0)], [0, 1])
perm: tuple[int, ...] = circ.perm
both: Circ = circ + circ.inverse()
identity: IdentityCirc = circ.rotate_representative()
ordered: bool = identity < identity
record = identity.pythonize()
raw_perm: int = record["perm"]["raw"]
again = IdentityCirc.from_python(record)
prover = IdentityProver.build_from_eccs(classes)
visited: set[IdentityCirc] = prover.prove_identity_with_visited(identity, 1, 10)[1]
proof = prover.export_proof(identity, 3, 100_000)
if proof is not None:
    for entry, derived_from in proof.raw:
        if derived_from is not None:
            lhs, rhs = derived_from
    copied = Proof(proof.raw)

try:
    Instr(cx, [0, 0])
except trevalon.NativeAbort as exc:
    message = str(exc)
'''


def test_strict_sample_type_checks(tmp_path):
    (tmp_path / "sample.py").write_text(TYPED_SAMPLE)
    result = run_mypy(["--strict", "sample.py"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_package_python_modules_type_check_strictly(tmp_path):
    # The command-line module is typed inline against the stubs.
    result = run_mypy(["--strict", "-p", "trevalon"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


# Each a wrong use of the API and the mypy error code it must draw: if the
# stubs degraded to Any, none of them would be reported.
WRONG_USES = [
    ("Gate.from_name(3)", "arg-type"),
    ("Gate.from_name('h').adjoint()", "union-attr"),  # the lookup may find nothing
    ("cx.nqargs = 3", "misc"),  # read-only property
    ("as_list: list[int] = Circ([]).perm", "assignment"),  # permutations come back as tuples
    ("Circ([]) < Circ([])", "operator"),  # circuits have no order
    ("Instr(cx, 0)", "arg-type"),
    ("RawECCs.generate(Evaluator(2), [cx(0, 1)], 2)", "list-item"),  # gates, not instructions
    ("IdentityCirc.from_python({'instrs': [], 'perm': {}})", "typeddict-item"),
    ("StateVec.random(1)['0']", "index"),
    ("cx(0, 1).qargs.append(1)", "attr-defined"),  # bytes
]


def test_wrong_uses_are_reported(tmp_path):
    prelude = [
        "from trevalon import Circ, Evaluator, Gate, IdentityCirc, Instr, RawECCs, StateVec",
        "cx = Gate.from_name('cx')",
        "assert cx is not None",
    ]
    lines = prelude + [code for code, _ in WRONG_USES]
    (tmp_path / "wrong.py").write_text("\n".join(lines) + "\n")
    result = run_mypy(["--strict", "--show-error-codes", "wrong.py"], tmp_path)
    reported = {}
    for match in re.finditer(r"^wrong\.py:(\d+): error: .*\[([\w-]+)\]$", result.stdout, re.MULTILINE):
        reported.setdefault(int(match[1]), set()).add(match[2])
    expected = {len(prelude) + i + 1: {code} for i, (_, code) in enumerate(WRONG_USES)}
    assert reported == expected, result.stdout + result.stderr


def stub_classes() -> dict:
    tree = ast.parse((PACKAGE_DIR / "trevalon.pyi").read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef) and not node.name.startswith("_")}


CLASS_NAMES = sorted(name for name in vars(trevalon.trevalon) if isinstance(getattr(trevalon.trevalon, name), type))


# stubtest skips `__hash__`, and it takes object's constructor for a class
# whose stub declares none; these two are checked here instead.
@pytest.mark.parametrize("name", CLASS_NAMES)
def test_stub_hashability_and_constructor_match_runtime(name):
    cls = getattr(trevalon, name)
    body = stub_classes()[name].body
    declared_unhashable = any(
        isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name) and item.target.id == "__hash__"
        for item in body
    )
    assert declared_unhashable == (cls.__hash__ is None)
    if any(isinstance(item, ast.FunctionDef) and item.name == "__new__" for item in body):
        with pytest.raises(TypeError, match=r"missing \d+ required"):
            cls()
    else:
        with pytest.raises(TypeError, match=rf"cannot create 'trevalon\.{name}' instances"):
            cls()
