"""Queries and cross-checks on searched maps, checked against the NumPy model."""
import gc
import itertools

import numpy as np
import pytest

import trevalon
from trevalon import Evaluator, RawECCs

from circ_sim import GATES, MATRICES, equal_up_to_phase, gate_on, perm_op

N = 3
SEARCH_GATES = [GATES["h"], GATES["t"], GATES["cx"]]


def circuit_unitary(instrs, n=N):
    u = np.eye(1 << n, dtype=complex)
    for instr in instrs:
        u = gate_on(MATRICES[instr.gate.name], list(instr.qargs), n) @ u
    return u


def search(evaluator, max_size):
    return RawECCs.generate(evaluator, SEARCH_GATES, max_size)[0]


@pytest.fixture(scope="module")
def ev():
    return Evaluator(N)


@pytest.fixture(scope="module")
def searched(ev):
    return search(ev, 3)


def h(q):
    return GATES["h"](q)


def t(q):
    return GATES["t"](q)


def cx(a, b):
    return GATES["cx"](a, b)


@pytest.mark.parametrize(
    "query",
    [
        [h(0)],
        [t(2), t(2)],
        [h(1), h(1)],
        [cx(0, 2), h(2)],
        [cx(1, 0), cx(0, 1), cx(1, 0)],
        [t(1), cx(1, 2), t(1)],
        [h(2), t(2), h(2)],
    ],
)
def test_find_equivalents_are_the_query_up_to_output_relabelling(ev, searched, query):
    ecc = searched.find_equivalents(ev, query)
    assert ecc is not None
    circuits = ecc.circuits()
    # The representative, with its permutation, is the query; the others are
    # returned with their permutations relative to it spelt as swaps.
    q = circuit_unitary(query)
    rep = circuit_unitary(circuits[0])
    assert any(equal_up_to_phase(perm_op(p, N) @ rep, q) for p in itertools.permutations(range(N)))
    for c in circuits[1:]:
        assert equal_up_to_phase(circuit_unitary(c), rep), (c, circuits[0])


def test_find_equivalents_on_a_fresh_map(ev):
    fresh = RawECCs(ev)
    ecc = fresh.find_equivalents(ev, [])
    assert [list(c) for c in ecc.circuits()] == [[]]
    assert fresh.find_equivalents(ev, [h(0)]) is None


def test_compute_next_key_matches_evaluated_keys(ev, searched):
    start = ev.initial_key()
    for instr in [h(q) for q in range(N)] + [cx(a, b) for a, b in itertools.permutations(range(N), 2)]:
        assert searched.compute_next_key(ev, start, instr) == ev.evaluate([instr])[0].hash_value()
    # Walking class by class reaches the class of the whole circuit.
    key = start
    for instr in [h(0), cx(0, 1), t(1)]:
        key = searched.compute_next_key(ev, key, instr)
    assert key == ev.evaluate([h(0), cx(0, 1), t(1)])[0].hash_value()
    assert searched.compute_next_key(ev, start ^ 1, h(0)) is None
    # A fresh map knows only the empty circuit.
    assert RawECCs(ev).compute_next_key(ev, start, h(0)) is None


def test_switch_evaluator_keeps_classes_sound_and_outlives_its_source():
    ev1, ev2 = Evaluator(N), Evaluator(N)
    source = search(ev1, 3)
    sizes = sorted(len(e.circuits()) for e in source.simplify().to_list())
    switched = source.switch_evaluator(ev2)
    del source
    gc.collect()
    classes = switched.simplify().to_list()
    assert sorted(len(e.circuits()) for e in classes) == sizes
    # Each circuit carries its pair under the new evaluator: relative to the
    # representative, the materialised circuits are all one operator.
    for ecc in classes:
        circuits = ecc.circuits()
        rep = circuit_unitary(circuits[0])
        for c in circuits[1:]:
            assert equal_up_to_phase(circuit_unitary(c), rep), (c, circuits[0])
    switched.check_identity_subset(search(ev2, 3), ev2)


def test_check_identity_subset_across_evaluators(ev, searched):
    other_ev = Evaluator(N)
    other = search(other_ev, 3)
    assert searched.check_identity_subset(other, other_ev) is None
    assert other.check_identity_subset(searched, ev) is None
    assert searched.check_identity_subset(searched, ev) is None
    # A smaller search lacks classes, or cannot reduce the longer circuits.
    with pytest.raises(
        trevalon.NativeAbort,
        match=r"^(assertion failed: ecc1\.contains_key\(&bv\.hash_value\(\)\)|No equivalence found during export_equivalence: )",
    ):
        searched.check_identity_subset(search(other_ev, 2), other_ev)


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda m, ev: m.compute_next_key(ev, -1, h(0)), OverflowError, None),
        (lambda m, ev: m.compute_next_key(ev, 1 << 64, h(0)), OverflowError, None),
        (lambda m, ev: m.compute_next_key(ev, 0, "h"), TypeError, "^argument 'instr': "),
        (lambda m, ev: m.find_equivalents(ev, "h"), TypeError, "^argument 'instrs': "),
        (lambda m, ev: m.find_equivalents(None, []), TypeError, "^argument 'evaluator': "),
        (lambda m, ev: m.switch_evaluator(m), TypeError, "^argument 'new_evaluator': "),
        (lambda m, ev: m.check_identity_subset(ev, ev), TypeError, "^argument 'ecc1': "),
        (lambda m, ev: m.check_identity_subset(ecc1=m), TypeError, "missing 1 required positional argument: 'evaluator'"),
        # Circuits on qubit 2 cannot run on a two-qubit evaluator.
        (lambda m, ev: m.switch_evaluator(Evaluator(2)), trevalon.NativeAbort, None),
    ],
)
def test_bad_arguments(ev, searched, call, error, text):
    with pytest.raises(error, match=text):
        call(searched, ev)


def test_docstrings():
    assert RawECCs.find_equivalents.__doc__ == "Python wrapper returning equivalent circuits for a candidate program."
    assert RawECCs.compute_next_key.__text_signature__ == "($self, evaluator, current_key, instr)"
    assert RawECCs.switch_evaluator.__doc__.startswith("Re-evaluates all stored circuits under a new evaluator.\n\n")
    assert RawECCs.check_identity_subset.__text_signature__ == "($self, ecc1, evaluator)"
