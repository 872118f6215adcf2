"""Compact instructions."""
import os
import subprocess
import sys

import pytest

import trevalon
from trevalon import Gate, Instr

h, x, s, cx = (Gate.from_name(n) for n in ("h", "x", "s", "cx"))


def test_construction_and_text():
    i = Instr(h, [0])
    assert i.qargs == b"\x00" and str(i) == "h(0)" and repr(i) == "h(0)"
    assert i.gate == h
    assert str(Instr(cx, [3, 1])) == "cx(3, 1)"
    assert str(Instr(Gate.from_name("rz(pi/3)"), [2])) == "rz(pi/3)(2)"


@pytest.mark.parametrize(
    "gate, qargs, message",
    [
        (cx, [1, 1], "Qubit arguments must be unique"),
        (cx, [1], "Number of qubit arguments does not match gate arity"),
        (cx, [1, 1, 1], "Number of qubit arguments does not match gate arity"),
        (h, [8], "Qubit arguments must be less than 8"),
        (h, [255], "Qubit arguments must be less than 8"),
    ],
)
def test_construction_aborts(gate, qargs, message):
    with pytest.raises(trevalon.NativeAbort) as info:
        Instr(gate, qargs)
    assert str(info.value) == message


def test_qargs_as_string_is_refused():
    with pytest.raises(TypeError, match="^argument 'qargs': "):
        Instr(h, "0")


def test_apply_permutation():
    assert str(Instr(cx, [0, 1]).apply_permutation([1, 0])) == "cx(1, 0)"
    assert str(Instr(cx, [0, 2]).permut((2, 0, 1))) == "cx(2, 1)"
    # Qubits beyond the permutation's length map to 0.
    assert str(Instr(h, [3]).apply_permutation([1, 0])) == "h(0)"


@pytest.mark.parametrize(
    "perm, message",
    [
        ([0, 0], "Permutation values must be unique"),
        ([0, 8], "Permutation values must be less than 8"),
        ([8, 8], "Permutation values must be less than 8"),
        ([0, 1, 2, 3, 4, 5, 6, 7, 0], "Permutation values must be unique"),
    ],
)
def test_apply_permutation_validates(perm, message):
    with pytest.raises(trevalon.NativeAbort) as info:
        Instr(cx, [0, 1]).apply_permutation(perm)
    assert str(info.value) == message


def test_apply_permutation_string_and_range():
    with pytest.raises(TypeError, match="^argument 'perm': "):
        Instr(cx, [0, 1]).apply_permutation("01")
    with pytest.raises(OverflowError):
        Instr(cx, [0, 1]).apply_permutation([0, 256])


def test_masks_and_queries():
    i = Instr(cx, [0, 3])
    assert i.arg_mask() == 9
    assert i.disjoint(Instr(h, [1])) and not i.disjoint(Instr(h, [3]))
    assert i.position_of_qubit(3) == 1 and Instr(h, [0]).position_of_qubit(3) is None
    assert Instr(cx, [3, 1]).largest_qubit() == 3
    assert str(Instr(s, [0]).adjoint()) == "sdg(0)" and str(Instr(h, [0]).adjoint()) == "h(0)"


@pytest.mark.parametrize(
    "instr, mask, expected",
    [
        (Instr(h, [0]), 0, 1),
        (Instr(h, [1]), 0, None),
        (Instr(cx, [0, 1]), 0, 3),
        (Instr(cx, [1, 0]), 0, None),
        (Instr(cx, [2, 3]), 0b0011, 0b1111),
        (Instr(cx, [3, 2]), 0b0011, None),
        (Instr(h, [1]), 0b0011, 0b0011),
        (Instr(h, [3]), 0b0011, None),
        (Instr(h, [7]), 0b01111111, 0xFF),
        (Instr(h, [5]), 0xFF, 0xFF),
    ],
)
def test_pass_mask(instr, mask, expected):
    assert instr.pass_mask(mask) == expected


def test_identity_comparison_but_value_hash():
    a, b = Instr(cx, [0, 1]), Instr(cx, [0, 1])
    assert a != b and a == a
    assert hash(a) == hash(b)
    with pytest.raises(TypeError):
        a < b  # noqa: B015


def test_hash_matches_reference_siphash():
    env = dict(os.environ, PYTHONHASHSEED="0")
    code = (
        "import trevalon\n"
        "i = trevalon.Instr(trevalon.Gate.from_name('cx'), [2, 5])\n"
        "j = trevalon.Instr(trevalon.Gate.from_name('h'), [3])\n"
        "print(hash(i) == hash(bytes([9, 0, 2, 0, 0, 0, 2, 5])),"
        " hash(j) == hash(bytes([1, 0, 2, 0, 0, 0, 3, 255])))\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)
    assert out.stdout.split() == ["True", "True"]


def test_gate_call_skips_uniqueness_check():
    i = cx(1, 1)
    assert str(i) == "cx(1, 1)"
