"""Exported proofs: every entry checked by an independent NumPy model, the
DAG structure, the text form, comparisons, and the tracker's limits."""
import numpy as np
import pytest

import trevalon
from trevalon import Circ, Evaluator, Gate, IdentityCirc, IdentityProver, Proof, RawECCs

from circ_sim import equal_up_to_phase, unitary

G = {name: Gate.from_name(name) for name in ("h", "x", "z", "t", "cx")}


def is_identity(identity):
    circ = identity.inner
    n = max(circ.nqubits(), 1)
    return equal_up_to_phase(unitary(circ, n), np.eye(1 << n))


def canonical(instrs):
    return Circ(instrs).rotate_representative()


@pytest.fixture(scope="module")
def setup():
    eccs = RawECCs.generate(Evaluator(2), [G["h"], G["t"], G["cx"]], 4)[0].simplify()
    prover = IdentityProver.build_from_eccs(eccs)
    identities = sorted({w[0] for w in eccs.to_identity_circuits()})
    # Queries: the class identities and everything one rule round reaches.
    queries = set(identities)
    for identity in identities:
        queries.update(prover.par_apply_rules(identity, 2))
    return prover, sorted(queries)


def check_proof(proof, query, assumed):
    """Entry 0 is the query, dependencies index the list, no entry depends
    on itself, the graph is acyclic and reaches every entry from entry 0,
    the leaves are exactly the entries that are assumptions, and every
    entry is an identity."""
    raw = proof.raw
    assert raw[0][0] == query
    for i, (identity, dep) in enumerate(raw):
        assert is_identity(identity), f"{i}: {identity}"
        assert (dep is None) == (identity in assumed)
        if dep is not None:
            lhs, rhs = dep
            assert 0 <= lhs < len(raw) and 0 <= rhs < len(raw)
            assert i not in dep
    state = [0] * len(raw)  # 0 unseen, 1 on the path, 2 done

    def visit(i):
        state[i] = 1
        dep = raw[i][1]
        for j in dep or ():
            assert state[j] != 1, "cycle"
            if state[j] == 0:
                visit(j)
        state[i] = 2

    visit(0)
    assert all(s == 2 for s in state)


def expected_text(proof):
    lines = []
    for i, (identity, dep) in enumerate(proof.raw):
        tail = "ASSUME" if dep is None else f"{dep[0]}, {dep[1]}"
        lines.append(f"{i}: {identity} <- {tail}\n")
    return "".join(lines)


def test_exported_proofs_are_sound_and_well_formed(setup, capsys):
    prover, queries = setup
    assumed = prover.get_assumed()
    exported = derived = 0
    for query in queries:
        proof = prover.export_proof(query, 2, 20000)
        if proof is None:
            continue
        exported += 1
        derived += len(proof.raw) > 1
        check_proof(proof, query, assumed)
        assert str(proof) == expected_text(proof)
        assert repr(proof) == str(len(proof.raw))
    assert derived > 10 and exported > len(queries) // 2
    out = capsys.readouterr().out
    assert out and all(line.startswith("Exploring ") and line.endswith(" queued)") for line in out.splitlines())


def test_one_step_proof_by_hand(tmp_path):
    # Rules hh = 1 and x = hzh; xzxz inserted as an assumption. hzh.z.x.z
    # follows in one step: the rule identity xhzh and the rewrite xzxz.
    perm = bytes([0x80, 0x80, 0x80, 0x08])

    def instr(name):
        return bytes([len(name)]) + name.encode() + bytes([0, 255])

    data = (bytes([2, 2, 0]) + perm + bytes([2]) + instr("h") + instr("h") + perm
            + bytes([2, 1]) + instr("x") + perm + bytes([3]) + instr("h") + instr("z") + instr("h") + perm
            + bytes([1]))
    path = tmp_path / "eccs.bin"
    path.write_bytes(data)
    p = IdentityProver.build_from_eccs(trevalon.ECCs.from_postcard(str(path)))
    h, x, z = G["h"](0), G["x"](0), G["z"](0)
    xhzh, xzxz, hzhzxz = canonical([x, h, z, h]), canonical([x, z, x, z]), canonical([h, z, h, z, x, z])
    p.add_identity(xzxz, 3, 1000)
    proof = p.export_proof(hzhzxz, 3, 1000)
    assert proof == Proof([(hzhzxz, (1, 2)), (xhzh, None), (xzxz, None)])
    assert str(proof) == f"0: {hzhzxz} <- 1, 2\n1: {xhzh} <- ASSUME\n2: {xzxz} <- ASSUME\n"
    # An assumption whose query succeeds: one line.
    single = p.export_proof(xzxz, 3, 1000)
    assert str(single) == f"0: {xzxz} <- ASSUME\n"
    # Not derivable: None. hh rewrites to the empty identity, which has no
    # rules.
    assert p.export_proof(canonical([h, h]), 3, 1000) is None
    assert p.export_proof(canonical([G["t"](0)] * 8), 3, 1000) is None


def test_not_derivable_writes_nothing(setup, capsys):
    prover, _ = setup
    assert prover.export_proof(canonical([G["x"](0)] * 2), 3, 1000) is None
    assert capsys.readouterr().out == ""


def test_tracker_limit_aborts_after_successful_query(setup, capsys):
    prover, queries = setup
    seen = 0
    for query in queries:
        result, visited = prover.prove_identity_with_visited(query, 2, 20000)
        if result is not None:
            continue
        limit = len(visited)
        try:
            prover.export_proof(query, 2, limit)
        except trevalon.NativeAbort as e:
            assert str(e) == "Failed to export proof for proved identity"
            out = capsys.readouterr().out
            assert out.endswith(f"Proof search exceeded limit of {limit} states.\n")
            seen += 1
    assert seen > 0


def test_proof_values():
    a = canonical([G["h"](0), G["h"](0)])
    b = canonical([G["x"](0), G["x"](0)])
    p = Proof([(a, (1, 2)), (b, None), [b, [7, 9]]])
    assert p.raw == [(a, (1, 2)), (b, None), (b, (7, 9))]
    assert isinstance(p.raw[0], tuple) and isinstance(p.raw[0][1], tuple)
    # Out-of-range indices are kept and printed as they are.
    assert str(p) == f"0: {a} <- 1, 2\n1: {b} <- ASSUME\n2: {b} <- 7, 9\n"
    assert repr(p) == "3"
    assert str(Proof([])) == "" and repr(Proof([])) == "0"
    # raw hands out copies.
    raw = p.raw
    raw.clear()
    assert len(p.raw) == 3


@pytest.mark.parametrize(
    "left, right, op",
    [
        ([], [("A", None)], "lt"),  # a proper prefix first
        ([("A", None)], [("A", (0, 0))], "lt"),  # absent before present
        ([("A", (0, 5))], [("A", (1, 0))], "lt"),  # then lhs, then rhs
        ([("A", (1, 0))], [("A", (1, 2))], "lt"),
        ([("A", (9, 9))], [("B", None)], "lt"),  # the identity first
        ([("A", (1, 2)), ("B", None)], [("A", (1, 2)), ("B", None)], "eq"),
    ],
)
def test_proof_order(left, right, op):
    ids = {"A": canonical([G["h"](0), G["h"](0)]), "B": canonical([G["x"](0), G["x"](0)])}
    assert ids["A"] < ids["B"]
    lp = Proof([(ids[k], d) for k, d in left])
    rp = Proof([(ids[k], d) for k, d in right])
    if op == "lt":
        assert lp < rp and lp <= rp and rp > lp and rp >= lp and lp != rp and not lp == rp
    else:
        assert lp == rp and lp <= rp and lp >= rp and not lp < rp and not lp != rp


def test_proof_comparisons_with_other_types_and_hash():
    p = Proof([])
    assert (p == []) is False and (p != []) is True
    assert p.__eq__([]) is NotImplemented and p.__lt__(1) is NotImplemented
    with pytest.raises(TypeError):
        p < []
    with pytest.raises(TypeError, match="unhashable"):
        hash(p)


@pytest.mark.parametrize(
    "data, error, text",
    [
        ("ab", TypeError, r"^argument 'data': "),
        (5, TypeError, r"^argument 'data': "),
        ([5], TypeError, r"^argument 'data': "),
        ([("x", None)], TypeError, r"^argument 'data': "),
        ([(None, None)], TypeError, r"^argument 'data': "),
        ([("IDENT", None, None)], TypeError, r"^argument 'data': expected a 2-tuple"),
        ([("IDENT", (1,))], TypeError, r"^argument 'data': expected a 2-tuple"),
        ([("IDENT", (1, "a"))], TypeError, r"^argument 'data': "),
        ([("IDENT", (-1, 0))], OverflowError, None),
        ([("IDENT", 3)], TypeError, r"^argument 'data': "),
    ],
)
def test_proof_construction_errors(data, error, text):
    ident = canonical([G["h"](0), G["h"](0)])

    def fill(v):
        if v == "IDENT":
            return ident
        if isinstance(v, (list, tuple)):
            return type(v)(fill(x) for x in v)
        return v

    with pytest.raises(error, match=text):
        Proof(fill(data))
    with pytest.raises(TypeError, match="unexpected keyword argument 'foo'"):
        Proof(data=[], foo=1)


def test_proof_docstring():
    assert Proof.__doc__.startswith("Exported proof DAG.\n\nEach entry stores:\n")
    assert Proof.__text_signature__ == "(data)"
