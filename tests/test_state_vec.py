"""The Python class StateVec."""

import math
import struct

import numpy as np
import pytest

import trevalon
from trevalon import StateVec

from state_sim import amplitudes, to_state

TOO_LARGE = "Number of qubits too large, resulting in overflow for state vector size."
MASK = (1 << 64) - 1


def _rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def siphash13(data):
    """SipHash-1-3 with both key words zero, written from the algorithm."""
    v = [0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573]

    def rnd():
        v[0] = (v[0] + v[1]) & MASK
        v[1] = _rotl(v[1], 13) ^ v[0]
        v[0] = _rotl(v[0], 32)
        v[2] = (v[2] + v[3]) & MASK
        v[3] = _rotl(v[3], 16) ^ v[2]
        v[0] = (v[0] + v[3]) & MASK
        v[3] = _rotl(v[3], 21) ^ v[0]
        v[2] = (v[2] + v[1]) & MASK
        v[1] = _rotl(v[1], 17) ^ v[2]
        v[2] = _rotl(v[2], 32)

    tail = len(data) % 8
    for i in range(0, len(data) - tail, 8):
        m = int.from_bytes(data[i:i + 8], "little")
        v[3] ^= m
        rnd()
        v[0] ^= m
    last = (len(data) & 0xFF) << 56 | int.from_bytes(data[len(data) - tail:], "little")
    v[3] ^= last
    rnd()
    v[0] ^= last
    v[2] ^= 0xFF
    for _ in range(3):
        rnd()
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def quantised(x):
    y = x * 2.0**24
    r = math.floor(abs(y) + 0.5)
    return int(math.copysign(r, y))


def expected_hash(re, im):
    data = struct.pack("<I", len(re)) + b"".join(struct.pack("<q", quantised(x)) for x in re)
    data += struct.pack("<I", len(im)) + b"".join(struct.pack("<q", quantised(x)) for x in im)
    return siphash13(data)


def test_construction_and_sizes():
    s = StateVec([1.0, 0.0], [0.0, 0.0])
    assert (s.nqubits(), s.len()) == (1, 2)
    z = StateVec([1.0], [0.0])
    assert (z.nqubits(), z.len()) == (0, 1)
    assert StateVec(re=(0.0,) * 8, im=[0.0] * 8).nqubits() == 3


@pytest.mark.parametrize(
    "re, im, message",
    [
        ([1.0, 0.0, 0.0], [0.0, 0.0, 0.0], "^Length must be a power of 2$"),
        ([], [], "^Length must be a power of 2$"),
        ([1.0, 0.0], [0.0], "Real and imaginary parts must have the same length"),
    ],
)
def test_construction_errors(re, im, message):
    with pytest.raises(trevalon.NativeAbort, match=message):
        StateVec(re, im)


def test_construction_type_errors():
    with pytest.raises(TypeError, match="^argument 're': "):
        StateVec("10", [0.0, 0.0])
    with pytest.raises(TypeError):
        StateVec([1.0, "x"], [0.0, 0.0])


def test_item_access():
    s = StateVec.random(2)
    s[3] = 0.25 - 0.5j
    assert s[3] == 0.25 - 0.5j and isinstance(s[3], complex)
    s[0] = 1
    assert s[0] == 1 + 0j
    with pytest.raises(trevalon.NativeAbort, match="^index out of bounds: the len is 4 but the index is 4$"):
        s[4]
    with pytest.raises(trevalon.NativeAbort, match="index out of bounds"):
        s[9] = 1.0
    with pytest.raises(OverflowError):
        s[-1]
    with pytest.raises(NotImplementedError, match="^can't delete item$"):
        del s[0]
    assert s.__getitem__(3) == 0.25 - 0.5j
    s.__setitem__(index=2, value=1j)
    assert s[2] == 1j


def test_random_states_are_normalised():
    for n in range(0, 7):
        s = StateVec.random(n)
        v = amplitudes(s)
        assert s.check() and s.len() == 1 << n
        assert abs(np.vdot(v, v) - 1) < 1e-12
        assert v[0].imag == 0 and v[0].real > 0
    assert StateVec.random(3) != StateVec.random(3)


def test_random_symmetric_depends_on_weight_only():
    s = StateVec.random_symmetric(3)
    v = amplitudes(s)
    assert s.check()
    assert v[1] == v[2] == v[4]
    assert v[3] == v[5] == v[6]
    assert v[0].imag == 0


@pytest.mark.parametrize("n", [29, 40, 63, 64, 1000])
@pytest.mark.parametrize("make", [StateVec.random, StateVec.random_symmetric])
def test_too_many_qubits(make, n):
    with pytest.raises(trevalon.NativeAbort, match=f"^{TOO_LARGE}$"):
        make(n)


def test_qubit_count_outside_u32():
    with pytest.raises(OverflowError):
        StateVec.random(2**32)
    with pytest.raises(OverflowError):
        StateVec.random(-1)


def test_normalize_with_zero_first_amplitude():
    s = StateVec([0.0, 3.0], [0.0, 4.0])
    assert s.normalize() is None
    assert str(s) == "[0.0000, 1.0000]"
    assert s[0] == 0 and math.copysign(1.0, s[0].imag) == 1.0


def test_normalize_with_zero_ends_uses_the_sum():
    s = StateVec([0, 0, 0, 0], [0, 1e-9, 1e-9, 0])
    s.normalize()
    v = amplitudes(s)
    np.testing.assert_allclose(v, [0, math.sqrt(0.5), math.sqrt(0.5), 0], atol=1e-12)


def test_normalize_of_zero_state_is_basis_zero():
    s = StateVec([0.0] * 4, [0.0] * 4)
    s.normalize()
    assert amplitudes(s).tolist() == [1, 0, 0, 0]


def test_global_phase_is_removed():
    s = StateVec([0, 0], [1, 0])
    s.normalize_arg()
    one = StateVec([1, 0], [0, 0])
    assert s == one and not (s != one)
    assert s.hash_value() == one.hash_value()
    base = StateVec.random(4)
    for theta in np.linspace(0.1, 6.2, 7):
        r = to_state(amplitudes(base) * np.exp(1j * theta))
        r.normalize_arg()
        assert r == base
        assert r.hash_value() == base.hash_value()


def test_check():
    assert not StateVec([0.0] * 2, [0.0] * 2).check()
    assert StateVec([1.0, 0.0], [0.0, 0.0]).check()
    assert not StateVec([1.0, 0.001], [0.0, 0.0]).check()


@pytest.mark.parametrize(
    "re, im",
    [
        ([1.0], [0.0]),
        ([0.5, -0.25], [0.0, 1e-9]),
        ([0.1, 0.2, 0.3, 0.4], [-0.4, 0.3, -0.2, 2.0**-25]),
    ],
)
def test_hash_value_is_siphash_of_quantised_parts(re, im):
    assert StateVec(re, im).hash_value() == expected_hash(re, im)


def test_hash_value_of_random_state_and_no_normalisation():
    s = StateVec.random(3)
    v = amplitudes(s)
    assert s.hash_value() == expected_hash(list(v.real), list(v.imag))
    raw = StateVec([3.0, 0.0], [0.0, 0.0])
    assert raw.hash_value() == expected_hash([3.0, 0.0], [0.0, 0.0])


def test_equality_is_quantised_and_unordered():
    a = StateVec([0.5, 0.5], [0.0, 0.0])
    assert a == StateVec([0.5 + 1e-10, 0.5], [0.0, -1e-10])
    assert a != StateVec([0.5 + 1e-7, 0.5], [0.0, 0.0])
    assert a != StateVec([0.5], [0.0])
    assert (a == 3) is False
    with pytest.raises(TypeError):
        a < a


@pytest.mark.parametrize(
    "re, im, text",
    [
        ([1, 1], [0, 0], "[0.7071, 0.7071]"),
        ([0.5, 0.0, -0.5, 1e-9], [0.5, -0.5, -0.25, 0.0], "[0.5000+0.5000j, -0.5000j, -0.5000-0.2500j, 0.0000]"),
    ],
)
def test_text_form(re, im, text):
    s = StateVec(re, im)
    if text.startswith("[0.7071"):
        s.normalize()
    assert str(s) == text


def test_clone_is_deep():
    a = StateVec.random(2)
    b = a.clone()
    assert a == b and a is not b
    b[0] = 0
    assert a != b


def test_docstrings_and_signatures():
    assert StateVec.__text_signature__ == "(re, im)"
    assert StateVec.__doc__ == "Complex state vector used for randomized circuit evaluation."
    assert StateVec.random.__text_signature__ == "(num_qubits)"
    assert StateVec.random.__doc__ == "Creates a random normalized state."
    assert StateVec.hash_value.__doc__ == "Hashes the current normalized state."
    assert StateVec.normalize.__doc__.startswith("Normalizes the state vector in place.\n\n")
    assert StateVec.normalize.__doc__.endswith("If the vector has zero length, this function does nothing.")
    assert StateVec.__getitem__.__doc__ == "Returns one amplitude as Python `complex`."
    assert StateVec.__setitem__.__doc__ == "Sets one amplitude from Python `complex`."
    assert StateVec.len.__doc__ == "Returns vector length (`2^nqubits`)."
