"""Gate application (`state *= instr`) against an independent NumPy model."""

import itertools

import numpy as np
import pytest

import trevalon
from trevalon import Gate, Instr, StateVec

from state_sim import amplitudes, full_unitary, random_unitary, to_state

BUILTINS = [Gate.from_name(n) for n in (
    "i", "h", "x", "z", "y", "s", "sdg", "t", "tdg", "cx", "cz", "cy", "cs", "csdg", "swap",
    "t1/2", "tdg1/2", "rz(pi/3)", "rz(-pi/3)", "rz(pi/5)", "rz(-pi/5)", "rz(pi/16)", "rz(-pi/16)")]
_RNG = np.random.default_rng(2024)
USER = [Gate("kernels_u1", [], random_unitary(2, _RNG)), Gate("kernels_u2", [], random_unitary(4, _RNG))]

# Reference matrices written out here, not read from the registry.
_S2 = 1 / np.sqrt(2)
_W = np.exp(1j * np.pi / 4)
WRITTEN = {
    "h": [[_S2, _S2], [_S2, -_S2]],
    "x": [[0, 1], [1, 0]],
    "z": [[1, 0], [0, -1]],
    "s": [[1, 0], [0, 1j]],
    "sdg": [[1, 0], [0, -1j]],
    "t": [[1, 0], [0, _W]],
    "tdg": [[1, 0], [0, np.conj(_W)]],
    "cx": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]],
    "swap": [[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]],
}


def placements(gate, n):
    return list(itertools.permutations(range(n), gate.nqargs))


@pytest.mark.parametrize("n", [1, 2, 3, 4])
@pytest.mark.parametrize("gate", BUILTINS + USER, ids=str)
def test_every_gate_on_every_placement(gate, n):
    rng = np.random.default_rng(n)
    for qubits in placements(gate, n):
        psi = rng.normal(size=1 << n) + 1j * rng.normal(size=1 << n)
        state = to_state(psi)
        same = state
        state *= Instr(gate, list(qubits))
        assert state is same
        expect = full_unitary(gate.matrix, list(qubits), n) @ psi
        np.testing.assert_allclose(amplitudes(state), expect, atol=1e-13)


@pytest.mark.parametrize("name", sorted(WRITTEN))
def test_specialised_kernels_match_written_matrices(name):
    """The nine kernel gates, in both argument orders for two-qubit gates."""
    gate = Gate.from_name(name)
    rng = np.random.default_rng(5)
    n = 3
    for qubits in placements(gate, n):
        psi = rng.normal(size=8) + 1j * rng.normal(size=8)
        state = to_state(psi)
        state *= Instr(gate, list(qubits))
        expect = full_unitary(WRITTEN[name], list(qubits), n) @ psi
        np.testing.assert_allclose(amplitudes(state), expect, atol=1e-15)


def test_controlled_not_uses_first_argument_as_control():
    cx = Gate.from_name("cx")
    a = StateVec([0, 0, 1, 0], [0, 0, 0, 0])  # qubit 1 set
    a *= cx(1, 0)
    assert amplitudes(a).tolist() == [0, 0, 0, 1]
    b = StateVec([0, 0, 1, 0], [0, 0, 0, 0])
    b *= cx(0, 1)
    assert amplitudes(b).tolist() == [0, 0, 1, 0]


def test_swap_and_x_move_amplitudes():
    s = to_state([1, 2, 3, 4])
    s *= Gate.from_name("swap")(0, 1)
    assert amplitudes(s).tolist() == [1, 3, 2, 4]
    x = to_state(range(8))
    x *= Gate.from_name("x")(2)
    assert amplitudes(x).tolist() == [4, 5, 6, 7, 0, 1, 2, 3]


def test_hadamard_twice_restores_state():
    s = StateVec.random(3)
    before = amplitudes(s)
    h = Gate.from_name("h")
    s *= h(1)
    s *= h(1)
    np.testing.assert_allclose(amplitudes(s), before, atol=1e-15)


@pytest.mark.parametrize(
    "n, instr, message",
    [
        (2, Gate.from_name("h")(2), "index out of bounds: the len is 2 but the index is 2"),
        (2, Gate.from_name("cx")(0, 7), "index out of bounds: the len is 2 but the index is 7"),
        (1, Gate.from_name("cz")(0, 1), "index out of bounds: the len is 1 but the index is 1"),
        (3, USER[1](2, 5), "index out of bounds: the len is 3 but the index is 5"),
    ],
)
def test_out_of_range_qubits_abort_and_leave_state(n, instr, message):
    state = StateVec.random(n)
    before = amplitudes(state)
    with pytest.raises(trevalon.NativeAbort, match=f"^{message}$"):
        state *= instr
    assert amplitudes(state).tolist() == before.tolist()


def test_non_instruction_operand_is_a_type_error():
    state = StateVec.random(1)
    with pytest.raises(TypeError):
        state *= 3
    with pytest.raises(TypeError):
        state *= Gate.from_name("h")


def test_imul_method_is_documented_and_callable():
    assert StateVec.__imul__.__doc__ == "In-place application of one instruction."
    assert StateVec.__imul__.__text_signature__ == "($self, other)"
    s = StateVec([1, 0], [0, 0])
    assert s.__imul__(Gate.from_name("x")(0)) is s
    assert amplitudes(s).tolist() == [0, 1]
    assert s.__imul__(1.5) is NotImplemented
