import numpy as np
import pytest

import trevalon
from circ_sim import GATES, circ_hash_bytes, perm_raw, random_circ, random_identity, siphash13

H, X, T, CX = (GATES[n] for n in ("h", "x", "t", "cx"))
IdentityCirc = trevalon.IdentityCirc


def identity_of(instrs, perm):
    return IdentityCirc(trevalon.Circ(instrs, perm))


def record(instrs, raw):
    return {"instrs": instrs, "perm": {"raw": raw}}


ID2 = perm_raw([0, 1])


# ---- check and construction ------------------------------------------------


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5])
def test_check_accepts_random_identities(n):
    rng = np.random.default_rng(n)
    for _ in range(5):
        c = random_identity(rng, n, 4)
        assert IdentityCirc(c).check() is True


def test_check_accepts_empty_identity():
    e = identity_of([], [0, 1, 2])
    assert e.check() and len(e) == 0 and str(e) == "Identity { (0 1 2) }"


@pytest.mark.parametrize(
    "instrs, perm",
    [
        ([H(0)], [0]),
        ([H(0), T(0)], [0]),
        ([X(1)], [0, 1]),
        ([], [1, 0]),
        ([CX(0, 1), CX(1, 0), CX(0, 1)], [0, 1]),  # a bare SWAP
    ],
)
def test_constructor_rejects_non_identities(instrs, perm):
    with pytest.raises(trevalon.NativeAbort) as info:
        identity_of(instrs, perm)
    text = str(info.value)
    circuit = "Identity { " + "".join(f"{i} " for i in instrs) + "(" + " ".join(map(str, perm)) + ") }"
    assert text.startswith("IdentityCirc: circuit is not identity [")
    assert text.endswith("] " + circuit)
    assert "] [" in text


def test_three_cnots_and_the_permutation_are_an_identity():
    assert identity_of([CX(0, 1), CX(1, 0), CX(0, 1)], [1, 0]).check()


# ---- hashing, equality, order, text -----------------------------------------


def test_hash_value_is_sipHash_of_the_byte_stream():
    c = trevalon.Circ([CX(0, 1), CX(1, 0), CX(0, 1)], [1, 0])
    ident = IdentityCirc(c)
    digest = siphash13(circ_hash_bytes(c))
    assert ident.hash_value() == digest
    signed = digest - (1 << 64) if digest >= 1 << 63 else digest
    assert hash(ident) == (-2 if signed == -1 else signed)


def test_equality_order_and_foreign_types():
    a = identity_of([H(0), H(0)], [0])
    b = identity_of([H(0), H(0)], [0])
    e = identity_of([], [0])
    assert a == b and hash(a) == hash(b) and a.hash_value() == b.hash_value()
    assert e < a and e <= a and a > e and a >= b and not a < b
    assert sorted([a, e]) == [e, a]
    assert (a == a.inner) is False
    with pytest.raises(TypeError):
        a < a.inner


def test_text_forms_and_accessors():
    a = identity_of([H(0), H(0)], [0])
    assert str(a) == "Identity { h(0) h(0) (0) }"
    assert repr(a) == "IdentityCirc(Circ { instrs: [h(0), h(0)], perm: (0) })"
    assert a.nqubits() == 1 and len(a) == 2
    assert isinstance(a.inner, trevalon.Circ) and a.inner == trevalon.Circ([H(0), H(0)], [0])
    assert a.inner is not a.inner


def test_cyclic_indexing():
    a = identity_of([H(0), X(1), X(1), H(0)], [0, 1])
    assert [str(a[i]) for i in (-1, 0, 4, -5, 9)] == ["h(0)", "h(0)", "h(0)", "h(0)", "x(1)"]
    with pytest.raises(trevalon.NativeAbort, match="attempt to calculate the remainder with a divisor of zero"):
        identity_of([], [0])[0]


# ---- wire neighbours ------------------------------------------------------


def trace_forward(instrs, perm, gate_id):
    """Next instruction on each wire leaving `gate_id`, followed by hand."""
    n = len(instrs)
    out = []
    for wire in instrs[gate_id].qargs:
        j = gate_id
        while True:
            j += 1
            if j % n == 0:
                wire = perm[wire]  # crossing the end of the circuit
            if wire in instrs[j % n].qargs:
                out.append(j % n)
                break
    return out


def trace_backward(instrs, perm, gate_id):
    n = len(instrs)
    inv = [perm.index(q) for q in range(len(perm))]
    out = []
    for wire in instrs[gate_id].qargs:
        j = gate_id
        while True:
            if j % n == 0:
                wire = inv[wire]  # crossing the start of the circuit
            j -= 1
            if wire in instrs[j % n].qargs:
                out.append(j % n)
                break
    return out


def test_neighbours_of_two_hadamards():
    a = identity_of([H(0), H(0)], [0])
    assert a.qargs_forward(0) == [1] and a.qargs_forward(1) == [0]
    assert a.qargs_backward(0) == [1] and a.qargs_backward(1) == [0]


@pytest.mark.parametrize("n", [2, 3, 4])
def test_neighbours_follow_wires_through_the_permutation(n):
    rng = np.random.default_rng(40 + n)
    for _ in range(6):
        ident = random_identity(rng, n, 4).rotate_representative()
        instrs, perm = ident.inner.instrs, list(ident.inner.perm)
        for g in range(len(ident)):
            assert ident.qargs_forward(g) == trace_forward(instrs, perm, g), (str(ident), g)
            assert ident.qargs_backward(g) == trace_backward(instrs, perm, g), (str(ident), g)


def test_neighbour_index_out_of_range():
    a = identity_of([H(0), H(0)], [0])
    with pytest.raises(trevalon.NativeAbort, match="index out of bounds: the len is 2 but the index is 2"):
        a.qargs_forward(2)
    with pytest.raises(OverflowError):
        a.qargs_backward(-1)


# ---- dict records ---------------------------------------------------------


def test_pythonize_shape_and_round_trip():
    ident = identity_of([CX(0, 1), CX(1, 0), CX(0, 1)], [1, 0])
    rec = ident.pythonize()
    assert list(rec) == ["instrs", "perm"]
    assert rec["instrs"] == [("cx", (0, 1)), ("cx", (1, 0)), ("cx", (0, 1))]
    assert rec["perm"] == {"raw": perm_raw([1, 0])}
    back = IdentityCirc.from_python(rec)
    assert back == ident and back.hash_value() == ident.hash_value()
    assert IdentityCirc.from_python(identity_of([H(0), H(0)], [0]).pythonize()).pythonize()["instrs"] == [
        ("h", (0, 255)),
        ("h", (0, 255)),
    ]


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5])
def test_round_trip_of_random_identities(n):
    rng = np.random.default_rng(70 + n)
    ident = random_identity(rng, n, 5).rotate_representative()
    assert IdentityCirc.from_python(ident.pythonize()) == ident


def test_records_accept_lists_and_ignore_unknown_keys():
    rec = {"instrs": [["h", [0, 255]], ["h", [0, 255]]], "perm": {"raw": perm_raw([0]), "x": 1}, "extra": 0}
    assert IdentityCirc.from_python(rec) == identity_of([H(0), H(0)], [0])


class AlsoPerm(str):
    """A second dict key whose text is "perm"."""

    def __hash__(self):
        return 12345

    def __eq__(self, other):
        return self is other


@pytest.mark.parametrize(
    "rec, exc, message",
    [
        ([], TypeError, "'list' object cannot be converted to 'Mapping'"),
        ({"perm": {"raw": ID2}}, ValueError, "missing field `instrs`"),
        ({"instrs": []}, ValueError, "missing field `perm`"),
        ({"instrs": [], "perm": {"raw": ID2}, AlsoPerm("perm"): {"raw": ID2}}, ValueError, "duplicate field `perm`"),
        ({"instrs": [], "perm": {}}, ValueError, "missing field `raw`"),
        ({"instrs": [], "perm": 7}, TypeError, "'int' object cannot be converted to 'Mapping'"),
        ({"instrs": [], "perm": {"raw": "0"}}, TypeError, "'str' object cannot be converted to 'int'"),
        ({"instrs": [], "perm": {"raw": 1 << 32}}, ValueError, "invalid value: integer `4294967296`, expected u32"),
        ({"instrs": [], "perm": {"raw": -1}}, ValueError, "invalid value: integer `-1`, expected u32"),
        (record("h", ID2), TypeError, "Can't take a `str` as a list"),
        (record([("h", (0, 255), 3)], ID2), ValueError, "invalid length 3, expected tuple struct Instr32 with 2 elements"),
        (record([("h",)], ID2), ValueError, "invalid length 1, expected tuple struct Instr32 with 2 elements"),
        (record([5], ID2), TypeError, "'int' object cannot be converted to 'Sequence'"),
        (record([(1, (0, 255))], ID2), TypeError, "'int' object cannot be converted to 'str'"),
        (record([("h", (0,))], ID2), ValueError, "invalid length 1, expected tuple struct QArgs16 with 2 elements"),
        (record([("h", (256, 255))], ID2), ValueError, "invalid value: integer `256`, expected u8"),
        (record([("h", (0.0, 255))], ID2), TypeError, "'float' object cannot be converted to 'int'"),
    ],
)
def test_malformed_records_raise(rec, exc, message):
    with pytest.raises(exc) as info:
        IdentityCirc.from_python(rec)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "rec, message",
    [
        (record([("nosuch", (0, 255))], ID2), "Failed to deserialize Gate16 from nosuch"),
        # qubits at or beyond the permutation
        (record([("h", (2, 255))], ID2), "Permutation length must be greater than the max qubit index."),
        (record([("cx", (0, 7))], ID2), "Permutation length must be greater than the max qubit index."),
        (record([("h", (254, 255))], perm_raw(list(range(8)))),
         "Permutation length must be greater than the max qubit index."),
        # permutation words that are no permutations
        (record([], perm_raw([1, 1])), "Permutation word is not a permutation"),
        (record([], perm_raw([2, 0])), "Permutation word is not a permutation"),
        (record([], 0x0F000000), "Permutation word is not a permutation"),
        (record([], 0x10000000), "Permutation word is not a permutation"),
        (record([], ID2 | (5 << 9)), "Permutation word is not a permutation"),
        # slots that do not fit the gate
        (record([("cx", (0, 255))], ID2), "Number of qubit arguments does not match gate arity"),
        (record([("h", (0, 1))], ID2), "Number of qubit arguments does not match gate arity"),
        (record([("cx", (1, 1))], ID2), "Qubit arguments must be unique"),
        (record([("h", (255, 0))], ID2), "Unused qubit slots must come last"),
    ],
)
def test_structurally_invalid_records_abort(rec, message):
    with pytest.raises(trevalon.NativeAbort) as info:
        IdentityCirc.from_python(rec)
    assert str(info.value) == message


def exercise(ident):
    """Every query on a record that was read without the identity check."""
    calls = [ident.check, ident.pythonize, ident.nqubits, ident.hash_value, lambda: str(ident), lambda: repr(ident)]
    calls += [lambda g=g: ident.qargs_forward(g) for g in range(len(ident))]
    calls += [lambda g=g: ident.qargs_backward(g) for g in range(len(ident))]
    calls += [lambda g=g: ident[g] for g in range(-1, len(ident) + 1)]
    c = ident.inner
    calls += [c.inverse, c.remove_swaps, c.representative, c.representative_with_perm, c.rotate_representative]
    calls += [lambda k=k: c.rotate(k) for k in range(-len(c), len(c) + 1)]
    calls += [lambda: c.permut(list(reversed(range(c.nqubits())))), lambda: c + c, c.instrs_with_swaps]
    for call in calls:
        try:
            call()
        except trevalon.NativeAbort:
            pass


def test_unchecked_records_only_abort_cleanly():
    # A valid structure that is not an identity: the wire of h(0) leaves
    # through the permutation and never comes back.
    bad = IdentityCirc.from_python(record([("h", (0, 255))], perm_raw([1, 0])))
    with pytest.raises(trevalon.NativeAbort, match=r"^Identity \{ h\(0\) \(1 0\) \} \[18446744073709551615\]$"):
        bad.qargs_forward(0)
    with pytest.raises(trevalon.NativeAbort, match=r"^a Identity \{ h\(0\) \(1 0\) \} Circ \{ instrs: \[h\(1\)\], perm: \(1 0\) \} 0$"):
        bad.qargs_backward(0)
    with pytest.raises(trevalon.NativeAbort, match="^IdentityCirc: circuit is not identity"):
        bad.check()
    exercise(bad)


def test_random_records_are_refused_or_safe():
    rng = np.random.default_rng(99)
    names = ["h", "x", "t", "cx", "swap"]
    slot_values = [0, 1, 2, 3, 7, 8, 200, 254, 255]
    accepted = 0
    for _ in range(300):
        n = int(rng.integers(0, 9))
        perm = [int(v) for v in rng.permutation(n)]
        raw = perm_raw(perm) if rng.random() < 0.7 else int(rng.integers(0, 1 << 32))
        instrs = [
            (names[rng.integers(len(names))], (int(rng.choice(slot_values)), int(rng.choice(slot_values))))
            if rng.random() < 0.3
            else random_circ(rng, max(n, 1), 1).instrs[0]
            for _ in range(int(rng.integers(0, 7)))
        ]
        instrs = [i if isinstance(i, tuple) else (i.gate.name, tuple(i.qargs) + (255,) * (2 - len(i.qargs))) for i in instrs]
        try:
            ident = IdentityCirc.from_python(record(instrs, raw))
        except trevalon.NativeAbort:
            continue
        accepted += 1
        exercise(ident)
    assert accepted > 50


def test_docstrings():
    assert IdentityCirc.__doc__ == "Canonical identity circuit (a circuit proven equivalent to identity)."
    assert IdentityCirc.__text_signature__ == "(circuit)"
    assert IdentityCirc.from_python.__text_signature__ == "(obj)"
    assert IdentityCirc.qargs_forward.__text_signature__ == "($self, gate_id)"
    assert IdentityCirc.inner.__doc__ == "Underlying circuit representation."
    assert IdentityCirc.check.__doc__ == "Randomized semantic check that this circuit is identity."
