"""The gate registry and the Gate class."""
import os
import subprocess
import sys

import numpy as np
import pytest

import trevalon
from trevalon import Gate

C = 0.7071067811865476
BUILTINS = [
    ("i", [[1, 0], [0, 1]]),
    ("h", [[C, C], [C, -C]]),
    ("x", [[0, 1], [1, 0]]),
    ("z", [[1, 0], [0, -1]]),
    ("y", [[0, -1j], [1j, 0]]),
    ("s", [[1, 0], [0, 1j]]),
    ("sdg", [[1, 0], [0, -1j]]),
    ("t", [[1, 0], [0, np.exp(1j * np.pi / 4)]]),
    ("tdg", [[1, 0], [0, np.exp(-1j * np.pi / 4)]]),
    ("cx", [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]),
    ("cz", np.diag([1, 1, 1, -1])),
    ("cy", [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, -1j], [0, 0, 1j, 0]]),
    ("cs", np.diag([1, 1, 1, 1j])),
    ("csdg", np.diag([1, 1, 1, -1j])),
    ("swap", [[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]]),
    ("t1/2", [[1, 0], [0, np.exp(1j * np.pi / 8)]]),
    ("tdg1/2", [[1, 0], [0, np.exp(-1j * np.pi / 8)]]),
    ("rz(pi/3)", [[1, 0], [0, np.exp(1j * np.pi / 3)]]),
    ("rz(-pi/3)", [[1, 0], [0, np.exp(-1j * np.pi / 3)]]),
    ("rz(pi/5)", [[1, 0], [0, np.exp(1j * np.pi / 5)]]),
    ("rz(-pi/5)", [[1, 0], [0, np.exp(-1j * np.pi / 5)]]),
    ("rz(pi/16)", [[1, 0], [0, np.exp(1j * np.pi / 16)]]),
    ("rz(-pi/16)", [[1, 0], [0, np.exp(-1j * np.pi / 16)]]),
]
ADJOINTS = {"s": "sdg", "sdg": "s", "t": "tdg", "tdg": "t", "cs": "csdg", "csdg": "cs",
            "t1/2": "tdg1/2", "tdg1/2": "t1/2", "rz(pi/3)": "rz(-pi/3)", "rz(-pi/3)": "rz(pi/3)",
            "rz(pi/5)": "rz(-pi/5)", "rz(-pi/5)": "rz(pi/5)", "rz(pi/16)": "rz(-pi/16)",
            "rz(-pi/16)": "rz(pi/16)"}


def fresh_process(code):
    """Runs code in a new interpreter (so handles start from the built-ins)."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stderr
    return out.stdout


@pytest.mark.parametrize("handle, display, matrix", [(i, d, m) for i, (d, m) in enumerate(BUILTINS)])
def test_builtin_table(handle, display, matrix):
    g = Gate.from_name(display)
    assert g is not None and str(g) == display
    np.testing.assert_allclose(g.matrix, np.array(matrix, dtype=complex), atol=1e-15)
    assert g.nqargs == (1 if len(matrix) == 2 else 2)
    # Handles are fixed: the n-th built-in is the gate with hash of handle n.
    assert hash(g) == hash(Gate.from_name(BUILTINS[handle][0]))
    assert str(g.adjoint()) == ADJOINTS.get(display, display)


def test_new_gates_append_handles_and_adjoints():
    out = fresh_process(
        "import trevalon, numpy as np\n"
        "u = trevalon.Gate('u', [], np.array([[1, 1], [1j, -1j]]) / np.sqrt(2))\n"
        "a = u.adjoint()\n"
        "print(u, a, trevalon.Gate.from_name('u\\u2020') == a, u.adjoint() == a)\n"
        "print(hash(u) == hash(bytes([23, 0])), hash(a) == hash(bytes([24, 0])))\n"
        "c, s = np.cos(0.3), np.sin(0.3)\n"
        "herm = trevalon.Gate('hm', [], np.array([[c, s], [s, -c]], dtype=complex))\n"
        "print(herm.adjoint() == herm, hash(herm) == hash(bytes([25, 0])))\n")
    assert out.split() == ["u", "u†", "True", "True", "True", "True", "True", "True"]


def test_matrix_comes_back_fortran_ordered_copy():
    m = Gate.from_name("cy").matrix
    assert m.dtype == np.complex128 and m.flags["F_CONTIGUOUS"]
    m[0, 0] = 5
    assert Gate.from_name("cy").matrix[0, 0] == 1


@pytest.mark.parametrize("text", ["rz", "H", "", "cx ", "rz(pi/3"])
def test_from_name_misses(text):
    assert Gate.from_name(text) is None


def test_known_matrix_returns_existing_gate():
    g = Gate("not", [], np.array([[0, 1], [1, 0]], dtype=complex))
    assert g == Gate.from_name("x") and g.name == "x"
    # Equal at the quantised precision counts as known.
    g2 = Gate("almost", [], np.array([[1e-9, 1], [1, 0]], dtype=complex))
    assert g2 == Gate.from_name("x")


def test_new_gate_under_a_taken_name_keeps_lowest_id_lookup():
    m = np.diag([1, np.exp(0.123j)])
    g = Gate("h", [], m)
    assert g != Gate.from_name("h") and str(g) == "h"
    assert Gate.from_name("h").matrix[0, 1] != 0


def test_user_gate_adjoint_is_conjugate_transpose(rng):
    from conftest import random_unitary

    u = random_unitary(4, rng)
    g = Gate("two", ["a"], u)
    adj = g.adjoint()
    assert adj.name == "two†" and adj.params == ["a"] and adj.nqargs == 2
    np.testing.assert_allclose(adj.matrix, u.conj().T, atol=1e-15)
    assert adj.adjoint() == g and g.adjoint() == adj


@pytest.mark.parametrize(
    "matrix, message",
    [
        (np.eye(3, dtype=complex), "Matrix must have a number of rows that is a power of two"),
        (np.zeros((0, 0), dtype=complex), "Matrix must have a number of rows that is a power of two"),
        (np.zeros((2, 4), dtype=complex), "Matrix must be squared"),
        (np.zeros((3, 4), dtype=complex), "Matrix must have a number of rows that is a power of two"),
        (np.eye(2, dtype=complex)[::-1], "Matrix array strides cannot be viewed as a matrix"),
        (np.eye(2, dtype=complex)[:, ::-1], "Matrix array strides cannot be viewed as a matrix"),
        (np.broadcast_to(np.complex128(1), (1 << 20, 1 << 20)), "Matrix must act on at most 8 qubits"),
    ],
)
def test_bad_matrices_abort(matrix, message):
    with pytest.raises(trevalon.NativeAbort) as info:
        Gate("bad", [], matrix)
    assert str(info.value) == message


def test_failed_registration_leaves_registry_unchanged():
    out = fresh_process(
        "import trevalon, numpy as np\n"
        "try:\n"
        "    trevalon.Gate('bad', [], np.zeros((2, 4), dtype=complex))\n"
        "except BaseException:\n"
        "    pass\n"
        "g = trevalon.Gate('u', [], np.diag([1, np.exp(0.3j)]))\n"
        "print(hash(g) == hash(bytes([23, 0])))\n")
    assert out.strip() == "True"


@pytest.mark.parametrize(
    "matrix, message",
    [
        (np.eye(2), "argument 'matrix': type mismatch:\n from=float64, to=complex128"),
        (np.eye(2, dtype=np.complex64), "argument 'matrix': type mismatch:\n from=complex64, to=complex128"),
        (np.arange(4), "argument 'matrix': dimensionality mismatch:\n from=1, to=2"),
        (np.complex128(1), "argument 'matrix': dimensionality mismatch:\n from=0, to=2"),
        (np.zeros((2, 2, 2), dtype=complex), "argument 'matrix': dimensionality mismatch:\n from=3, to=2"),
        ([[1, 0], [0, 1]], "argument 'matrix': type mismatch:\n from=int64, to=complex128"),
    ],
)
def test_matrix_type_errors(matrix, message):
    with pytest.raises(TypeError) as info:
        Gate("bad", [], matrix)
    assert str(info.value) == message


def test_list_of_complex_goes_through_asarray():
    g = Gate("viaasarray", [], [[0j, 1 + 0j], [1 + 0j, 0j]])
    assert g == Gate.from_name("x")


def test_non_contiguous_positive_strides_are_read_correctly():
    big = np.zeros((4, 4), dtype=complex)
    big[::2, ::2] = [[0, 1], [1, 0]]
    assert Gate("strided", [], big[::2, ::2]) == Gate.from_name("x")
    assert Gate("transposed", [], np.array([[1, 0], [0, 1j]], dtype=complex).T) == Gate.from_name("s")


def test_nan_matrix_does_not_crash():
    g = Gate("nan", [], np.full((2, 2), np.nan, dtype=complex))
    assert np.isnan(g.matrix).all()
    g.adjoint()


@pytest.mark.parametrize("dim, nq", [(1, 0), (2, 1), (4, 2), (8, 3)])
def test_nqargs(dim, nq):
    m = np.eye(dim, dtype=complex)
    m[-1, -1] = np.exp(0.77j * dim)
    assert Gate("d", [], m).nqargs == nq


def test_equality_and_hash():
    h1, h2 = Gate.from_name("h"), Gate.from_name("h")
    assert h1 == h2 and not (h1 != h2) and hash(h1) == hash(h2)
    assert {h1: 1}[h2] == 1
    assert h1 != Gate.from_name("x")
    assert (h1 == "h") is False
    with pytest.raises(TypeError):
        h1 < h2  # noqa: B015


def test_hash_is_siphash13_of_the_handle():
    # Under PYTHONHASHSEED=0, CPython hashes bytes with SipHash-1-3 and zero
    # keys: an independent reference for our digest.
    out = fresh_process(
        "import trevalon\n"
        "g = trevalon.Gate.from_name('rz(pi/3)')\n"
        "print(hash(g) == hash(bytes([17, 0])))\n")
    assert out.strip() == "True"


def test_frozen_gate_attributes_are_read_only():
    h = Gate.from_name("h")
    with pytest.raises(AttributeError):
        h.name = "k"
    with pytest.raises(TypeError):
        Gate.extra = 1


def test_call_with_integers_and_arguments():
    cx = Gate.from_name("cx")
    i = cx(0, 1)
    assert isinstance(i, trevalon.Instr) and str(i) == "cx(0, 1)"
    q0, q1, c0 = trevalon.Argument("q", 0), trevalon.Argument("q", 1), trevalon.Argument("c", 0)
    inst = cx(q0, q1, c0)
    assert isinstance(inst, trevalon.Instruction)
    assert inst.qargs == [q0, q1] and inst.cargs == [c0]
    assert Gate.from_name("cx").__call__.__doc__.startswith("Binds arguments and returns either compact `Instr` (integer qargs)\n")


@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((0,), trevalon.NativeAbort, "Number of arguments not match for gate cx"),
        ((0, 1, 2), trevalon.NativeAbort, "Number of arguments not match for gate cx"),
        ((), trevalon.NativeAbort, "Number of arguments not match for gate cx"),
        ((0, 8), trevalon.NativeAbort, "Qubit arguments must be less than 8"),
        (("a",), TypeError, "'tuple' object cannot be converted to 'Union[Sequence[int], Sequence[Argument]]'"),
        ((trevalon.Argument("q", 0),), trevalon.NativeAbort, "index out of bounds"),
    ],
)
def test_call_errors(args, exc, message):
    with pytest.raises(exc) as info:
        Gate.from_name("cx")(*args)
    assert str(info.value).startswith(message)


def test_call_three_qubit_gate_with_integers_aborts():
    ccz = Gate("ccz", [], np.diag([1, 1, 1, 1, 1, 1, 1, -1]).astype(complex))
    with pytest.raises(trevalon.NativeAbort, match="index out of bounds"):
        ccz(0, 1, 2)


@pytest.mark.parametrize(
    "exprs, values, phase",
    [
        (["pi/3"], [1.0471975511965976], 0.11),
        (["-pi/16"], [-0.19634954084936207], 0.12),
        (["2*pi/3", "  pi / 2 "], [2 * np.pi / 3, 1.5707963267948966], 0.13),
        ([], [], 0.14),
    ],
)
def test_params_f(exprs, values, phase):
    assert Gate("p", exprs, np.diag([1, np.exp(1j * phase)])).params_f == values


def test_builtin_params_f():
    assert Gate.from_name("rz(pi/3)").params_f == [1.0471975511965976]
    assert Gate.from_name("rz(-pi/16)").params_f == [-0.19634954084936207]


def test_params_f_errors_are_value_errors():
    m = np.diag([1, np.exp(0.4321j)])
    with pytest.raises(ValueError, match="^DivisionByZero$"):
        Gate("p", ["1/0"], m).params_f
    with pytest.raises(ValueError, match="^theta$"):
        Gate("p", ["theta"], np.diag([1, np.exp(0.4322j)])).params_f
