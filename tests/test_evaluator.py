"""The Python class Evaluator: keys and permutation pairs."""

import itertools

import numpy as np
import pytest

import trevalon
from trevalon import Evaluator, Gate, Instr

from state_sim import amplitudes, circuit_unitary, index_permutation, phase_normalized, random_unitary

_RNG = np.random.default_rng(99)
POOL = [Gate.from_name(n) for n in (
    "i", "h", "x", "z", "y", "s", "sdg", "t", "tdg", "cx", "cz", "cy", "cs", "csdg", "swap",
    "t1/2", "tdg1/2", "rz(pi/3)", "rz(-pi/3)", "rz(pi/5)", "rz(-pi/5)", "rz(pi/16)", "rz(-pi/16)")]
POOL += [Gate("evaluator_u1", [], random_unitary(2, _RNG)), Gate("evaluator_u2", [], random_unitary(4, _RNG))]
X, Z, T, SWAP = (Gate.from_name(n) for n in ("x", "z", "t", "swap"))


def random_circuit(rng, n, length):
    usable = [g for g in POOL if g.nqargs <= n]
    out = []
    for _ in range(length):
        g = usable[rng.integers(len(usable))]
        out.append(Instr(g, [int(q) for q in rng.permutation(n)[: g.nqargs]]))
    return out


def key(ev, circuit):
    return ev.evaluate(circuit)[0].hash_value()


def relabel(circuit, sigma):
    return [i.apply_permutation(sigma) for i in circuit]


def inverse(perm):
    out = [0] * len(perm)
    for i, p in enumerate(perm):
        out[p] = i
    return out


@pytest.mark.parametrize("n", range(1, 9))
def test_key_invariances(n):
    rng = np.random.default_rng(10 + n)
    ev = Evaluator(n)
    for length in (2, 5, 8):
        c = random_circuit(rng, n, length)
        k = key(ev, c)
        assert key(ev, relabel(c, [int(q) for q in rng.permutation(n)])) == k
        if n >= 2:
            a, b = (int(q) for q in rng.permutation(n)[:2])
            assert key(ev, [SWAP(a, b)] + c) == k
            assert key(ev, c + [SWAP(a, b)]) == k
        assert key(ev, c + [T(int(rng.integers(n)))]) != k
    q = n - 1
    assert key(ev, [X(q), Z(q)]) == key(ev, [Z(q), X(q)])
    assert key(ev, [X(q)]) != key(ev, [Z(q)])


@pytest.mark.parametrize("n", range(1, 9))
def test_empty_circuit(n):
    ev = Evaluator(n)
    back, front_perm, back_perm, forward = ev.evaluate([])
    identity = tuple(range(n))
    assert front_perm == identity and back_perm == identity
    assert isinstance(front_perm, tuple)
    assert ev.initial_key() == back.hash_value()
    assert back.check() and forward.check()
    # The symmetric input state depends on the Hamming weight only.
    f = amplitudes(forward)
    for x in range(1 << n):
        assert f[x] == f[(1 << bin(x).count("1")) - 1]


@pytest.mark.parametrize("n", [1, 2, 3, 5, 8])
def test_states_and_pairs_against_numpy(n):
    """forward = phase-normalised U psi0 and, for the reported pair (F, B),
    back = phase-normalised P(F^-1) U^dagger P(B^-1) backtrack."""
    rng = np.random.default_rng(40 + n)
    ev = Evaluator(n)
    backtrack, _, _, initial = ev.evaluate([])
    psi0 = amplitudes(initial)
    bt = amplitudes(backtrack)
    for length in (1, 4, 7):
        c = random_circuit(rng, n, length)
        u = circuit_unitary(c, n)
        back, f, b, forward = ev.evaluate(c)
        np.testing.assert_allclose(amplitudes(forward), phase_normalized(u @ psi0), atol=1e-10)
        expect = index_permutation(n, inverse(f)) @ u.conj().T @ index_permutation(n, inverse(b)) @ bt
        np.testing.assert_allclose(amplitudes(back), phase_normalized(expect), atol=1e-10)


@pytest.mark.parametrize("n", [2, 3, 4, 6])
def test_pairs_line_up_relabelled_circuits(n):
    """P(B) C P(F) is the same operator, up to phase, for equal-keyed circuits."""
    rng = np.random.default_rng(70 + n)
    ev = Evaluator(n)
    c1 = random_circuit(rng, n, 6)
    c2 = relabel(c1, [int(q) for q in rng.permutation(n)])
    ops = []
    for c in (c1, c2):
        _, f, b, _ = ev.evaluate(c)
        ops.append(index_permutation(n, b) @ circuit_unitary(c, n) @ index_permutation(n, f))
    probe = rng.normal(size=1 << n) + 1j * rng.normal(size=1 << n)
    np.testing.assert_allclose(phase_normalized(ops[0] @ probe), phase_normalized(ops[1] @ probe), atol=1e-10)


def test_one_qubit_pairs_are_trivial():
    ev = Evaluator(1)
    rng = np.random.default_rng(3)
    for _ in range(10):
        _, f, b, _ = ev.evaluate(random_circuit(rng, 1, 4))
        assert f == (0,) and b == (0,)


def test_equality():
    a = Evaluator(3)
    assert a == a and not (a != a)
    assert a != Evaluator(3)
    assert a != Evaluator(4)
    assert (a == 3) is False
    with pytest.raises(TypeError):
        a < a
    c = [Gate.from_name("h")(0), Gate.from_name("cx")(0, 1)]
    assert key(a, c) != key(Evaluator(3), c)


@pytest.mark.parametrize(
    "n, error, message",
    [
        (9, trevalon.NativeAbort, "^Evaluator supports at most 8 qubits$"),
        (40, trevalon.NativeAbort, "^Number of qubits too large, resulting in overflow for state vector size.$"),
        (2**32, OverflowError, None),
        (-1, OverflowError, None),
    ],
)
def test_construction_errors(n, error, message):
    with pytest.raises(error, match=message):
        Evaluator(n)


def test_evaluation_errors():
    ev = Evaluator(3)
    with pytest.raises(trevalon.NativeAbort, match="^index out of bounds: the len is 3 but the index is 5$"):
        ev.evaluate([Gate.from_name("h")(0), Gate.from_name("h")(5)])
    with pytest.raises(trevalon.NativeAbort, match="^index out of bounds: the len is 3 but the index is 3$"):
        ev.evaluate([POOL[-1](3, 0)])
    with pytest.raises(TypeError, match="^argument 'instrs': "):
        ev.evaluate([1])
    with pytest.raises(TypeError):
        ev.evaluate("h(0)")
    assert ev.initial_key() == key(ev, [])


def test_docstrings_and_signatures():
    assert Evaluator.__text_signature__ == "(nqubits)"
    assert Evaluator.__doc__ == "Randomized evaluator used to hash circuits and recover permutation metadata."
    assert Evaluator.evaluate.__text_signature__ == "($self, instrs)"
    assert Evaluator.evaluate.__doc__ == "Python wrapper for circuit evaluation."
    assert Evaluator.initial_key.__doc__ == "Hash key for the empty circuit under this evaluator."
    assert Evaluator.nqubits.__doc__ == "Returns evaluator qubit count."
    assert Evaluator(2).nqubits() == 2
