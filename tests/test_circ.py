import numpy as np
import pytest

import trevalon
from circ_sim import (
    GATES,
    all_perms,
    circ_hash_bytes,
    equal_up_to_phase,
    perm_op,
    random_circ,
    random_identity,
    siphash13,
    unitary,
)

H, X, S, T, CX, SWAP = (GATES[n] for n in ("h", "x", "s", "t", "cx", "swap"))
CASES = [(n, seed) for n in range(1, 6) for seed in range(3)]


def ids(case):
    return f"n{case[0]}-seed{case[1]}"


@pytest.fixture(params=CASES, ids=ids)
def case(request):
    n, seed = request.param
    return n, np.random.default_rng(1000 * n + seed)


def test_inverse_is_adjoint(case):
    n, rng = case
    c = random_circ(rng, n, 8)
    assert np.allclose(unitary(c.inverse()), unitary(c).conj().T, atol=1e-9)


def test_addition_runs_left_then_right(case):
    n, rng = case
    a = random_circ(rng, n, 5)
    # The right operand may be wider or narrower.
    m = int(rng.integers(1, 6))
    b = random_circ(rng, m, 5)
    w = max(n, m)
    s = a + b
    assert s.nqubits() == w
    assert np.allclose(unitary(s, w), unitary(b, w) @ unitary(a, w), atol=1e-9)


def test_permut_relabels_wires(case):
    n, rng = case
    c = random_circ(rng, n, 7)
    p = [int(v) for v in rng.permutation(n)]
    pm = perm_op(p, n)
    assert np.allclose(unitary(c.permut(p)), pm @ unitary(c) @ pm.T, atol=1e-9)


def test_remove_swaps_and_instrs_with_swaps_keep_the_operation(case):
    n, rng = case
    c = random_circ(rng, n, 9)
    r = c.remove_swaps()
    assert all(i.gate.name != "swap" for i in r.instrs)
    assert np.allclose(unitary(r, n), unitary(c), atol=1e-9)
    flat = trevalon.Circ(c.instrs_with_swaps(), list(range(n)))
    assert np.allclose(unitary(flat), unitary(c), atol=1e-9)


def test_rotations_of_an_identity_are_identities(case):
    n, rng = case
    c = random_identity(rng, n, 4)
    eye = np.eye(1 << c.nqubits())
    assert equal_up_to_phase(unitary(c), eye)
    for k in range(-len(c), len(c) + 1):
        assert equal_up_to_phase(unitary(c.rotate(k)), eye), k


def test_representative_ignores_relabelling_and_keeps_the_operation(case):
    n, rng = case
    c = random_circ(rng, n, 6)
    rep, applied = c.representative_with_perm()
    assert rep == c.representative()
    # The canonical circuit is the swap-free circuit relabelled by `applied`.
    w = max(n, len(applied))
    pm = perm_op(list(applied), w)
    assert np.allclose(unitary(rep, w), pm @ unitary(c, w) @ pm.T, atol=1e-9)
    perms = all_perms(n) if n <= 4 else [list(rng.permutation(n)) for _ in range(12)]
    for p in perms:
        assert c.permut([int(v) for v in p]).representative() == rep, p


def sorted_among_commuting_neighbours(instrs):
    """No adjacent disjoint pair is out of order. Disjoint instructions differ
    in their first slot, so the slot bytes alone decide."""

    def slots(i):
        return list(i.qargs) + [255] * (2 - len(i.qargs))

    return all(set(u.qargs) & set(v.qargs) or slots(u) < slots(v) for u, v in zip(instrs, instrs[1:]))


def test_canonical_forms_order_commuting_neighbours(case):
    n, rng = case
    assert sorted_among_commuting_neighbours(random_circ(rng, n, 8).representative().instrs)
    assert sorted_among_commuting_neighbours(random_identity(rng, n, 4).rotate_representative().inner.instrs)


def test_commuted_neighbours_meet_in_the_representative():
    a = trevalon.Circ([H(0), X(1), CX(0, 1)])
    b = trevalon.Circ([X(1), H(0), CX(0, 1)])
    assert a.representative() == b.representative()
    assert [str(i) for i in a.representative().instrs] == ["h(0)", "x(1)", "cx(0, 1)"]


def test_rotate_representative_ignores_relabelling_and_rotation(case):
    n, rng = case
    c = random_identity(rng, n, 3)
    rep = c.rotate_representative()
    assert isinstance(rep, trevalon.IdentityCirc)
    assert equal_up_to_phase(unitary(rep.inner), np.eye(1 << rep.nqubits()))
    perms = all_perms(n) if n <= 3 else [list(rng.permutation(n)) for _ in range(6)]
    for p in perms:
        relabelled = c.permut([int(v) for v in p])
        for k in range(-len(c), len(c) + 1):
            assert relabelled.rotate(k).rotate_representative() == rep, (p, k)


def test_rotate_representative_of_a_non_identity_aborts():
    with pytest.raises(trevalon.NativeAbort, match=r"^IdentityCirc: circuit is not identity \[.*\] \[.*\] Identity \{"):
        trevalon.Circ([H(0), T(0)]).rotate_representative()


def test_worked_examples():
    c = trevalon.Circ([SWAP(0, 1), X(0)], [0, 1]).remove_swaps()
    assert [str(i) for i in c.instrs] == ["x(1)"] and c.perm == (1, 0)
    assert trevalon.Circ([CX(0, 1)]).perm == (0, 1)
    assert trevalon.Circ([]).perm == ()
    assert [str(i) for i in trevalon.Circ([X(1), X(0)]).representative().instrs] == ["x(0)", "x(1)"]
    d = trevalon.Circ([H(0), X(1), S(0)], [1, 0])
    assert str(d[-1]) == "s(0)" and str(d[3]) == "h(0)" and str(d[-4]) == "s(0)"
    assert d.rotate(0) == d and len(d.rotate(3)) == 3 and len(d.rotate(-3)) == 3
    assert d.inverse().inverse() == d
    # Relabelling can free the top wire, which compaction then drops.
    assert trevalon.Circ([H(0), H(2)]).representative() == trevalon.Circ([H(0), H(1)], [0, 1])
    spread = trevalon.Circ([H(0), H(0), X(2), X(2)]).rotate_representative()
    assert spread.nqubits() == 2 and len(spread) == 4


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: trevalon.Circ([CX(0, 1)], [0]), "Permutation length must be greater than the max qubit index."),
        (lambda: trevalon.Circ([H(0)], [2, 0]), "Permutation word is not a permutation"),
        (lambda: trevalon.Circ([H(0)], [0, 0]), "Permutation values must be unique"),
        (lambda: trevalon.Circ([H(0), H(1)]).rotate(3), "range end index 3 out of range for slice of length 2"),
        (lambda: trevalon.Circ([H(0), H(1)]).rotate(-3), "range end index 3 out of range for slice of length 2"),
        (lambda: trevalon.Circ([])[0], "attempt to calculate the remainder with a divisor of zero"),
        (lambda: trevalon.Circ([H(0)]).permut([0, 8]), "Permutation values must be less than 8"),
    ],
)
def test_aborts(make, message):
    with pytest.raises(trevalon.NativeAbort) as info:
        make()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: trevalon.Circ("h"), "argument 'instrs': Can't take a `str` as a list"),
        (lambda: trevalon.Circ([1]), "argument 'instrs': 'int' object cannot be converted to 'Instr'"),
        (lambda: trevalon.Circ([], perm=5), "argument 'perm': 'int' object cannot be converted to 'Sequence'"),
        (lambda: trevalon.Circ([], foo=1), "Circ.__new__() got an unexpected keyword argument 'foo'"),
        (lambda: trevalon.Circ([H(0)]).rotate("1"), "argument 'n': 'str' object cannot be interpreted as an integer"),
    ],
)
def test_type_errors(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == text


def test_foreign_operands_and_ordering_are_not_implemented():
    c = trevalon.Circ([H(0)])
    with pytest.raises(TypeError, match="unsupported operand"):
        c + 1
    with pytest.raises(TypeError, match="not supported"):
        c < c


def test_text_forms():
    c = trevalon.Circ([CX(0, 1), H(1)], [1, 0])
    assert str(c) == "Circuit { cx(0, 1) h(1) (1 0) }"
    assert repr(c) == "Circ { instrs: [cx(0, 1), h(1)], perm: (1 0) }"
    assert str(trevalon.Circ([])) == "Circuit { () }"


def test_hash_is_siphash_of_the_byte_stream():
    c = trevalon.Circ([CX(0, 1), H(1), SWAP(1, 2)], [2, 0, 1])
    digest = siphash13(circ_hash_bytes(c))
    signed = digest - (1 << 64) if digest >= 1 << 63 else digest
    assert hash(c) == (-2 if signed == -1 else signed)
    assert hash(trevalon.Circ([CX(0, 1), H(1), SWAP(1, 2)], [2, 0, 1])) == hash(c)


def test_equality_and_fresh_copies():
    a = trevalon.Circ([H(0)], [0])
    b = trevalon.Circ([H(0)], [0, 1])
    assert a != b and a == trevalon.Circ([H(0)], [0])
    assert (a == 1) is False
    assert a.instrs is not a.instrs
    assert a.nqubits() == 1 and a.len() == 1 and len(a) == 1 and not a.is_empty()
    assert trevalon.Circ([], [1, 0]).is_empty()


def test_docstrings_and_signatures():
    assert trevalon.Circ.__doc__ == "Circuit with an explicit trailing qubit permutation."
    assert trevalon.Circ.__text_signature__ == "(instrs, perm=None)"
    assert trevalon.Circ.rotate.__text_signature__ == "($self, n)"
    assert trevalon.Circ.permut.__doc__ == "Applies a qubit permutation to this circuit."
    assert trevalon.Circ.representative_with_perm.__doc__ == (
        "Returns `(representative, applied_perm)` used in canonicalization."
    )
