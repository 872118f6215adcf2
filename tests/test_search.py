"""The circuit searches, checked against an independent brute force."""
import itertools
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import trevalon
from trevalon import ECCs, Evaluator, Gate, Instr, RawECCs

from circ_sim import MATRICES, equal_up_to_phase, gate_on, perm_op

G = {name: Gate.from_name(name) for name in MATRICES}


def placements(gate_names, n):
    """Every gate on every qubit tuple, with missing adjoints, as (name, qubits)."""
    adjoint = {"t": "tdg", "tdg": "t", "s": "sdg", "sdg": "s"}
    names = list(gate_names) + [adjoint[g] for g in gate_names if g in adjoint and adjoint[g] not in gate_names]
    out = []
    for name in names:
        k = int(np.log2(len(MATRICES[name])))
        out += [(name, qs) for qs in itertools.permutations(range(n), k)]
    return out


def phase_key(u):
    """Rounded matrix bytes with the global phase removed."""
    flat = u.ravel()
    ref = flat[np.argmax(np.abs(flat) > 1e-6)]
    v = u * (np.conj(ref) / abs(ref))
    # Adding 0.0 turns -0.0 into 0.0, which would otherwise give other bytes.
    return (np.round(v, 6) + 0.0).tobytes()


def distinct_unitaries(gate_names, n, max_size):
    """Distinct unitaries (modulo global phase) of all circuits up to max_size."""
    ops = [gate_on(MATRICES[name], list(qs), n) for name, qs in placements(gate_names, n)]
    level = {phase_key(np.eye(1 << n, dtype=complex)): np.eye(1 << n, dtype=complex)}
    seen = dict(level)
    for _ in range(max_size):
        nxt = {}
        for u in level.values():
            for op in ops:
                v = op @ u
                k = phase_key(v)
                if k not in seen:
                    seen[k] = nxt[k] = v
        level = nxt
    return list(seen.values())


def relabelling_classes(unitaries, n):
    """Classes of unitaries modulo phase and input and output relabelling."""
    perms = [perm_op(p, n) for p in itertools.permutations(range(n))]
    keys = set()
    for u in unitaries:
        keys.add(min(phase_key(a @ u @ b) for a in perms for b in perms))
    return len(keys)


CONFIGS = [
    (1, ("h", "t"), 4),
    (2, ("h", "t", "cx"), 3),
    (2, ("h", "s", "cx"), 4),
    (2, ("h", "x", "cx"), 4),
    (3, ("h", "t", "cx"), 3),
    (3, ("h", "x", "cx"), 3),
]


@pytest.mark.parametrize("n, gate_names, max_size", CONFIGS)
def test_generate_is_complete(n, gate_names, max_size, capsys):
    unitaries = distinct_unitaries(gate_names, n, max_size)
    raw, counters = RawECCs.generate(Evaluator(n), [G[g] for g in gate_names], max_size)
    assert len(raw.simplify()) == relabelling_classes(unitaries, n)
    raw_naive, naive_counters = RawECCs.generate_naive(Evaluator(n), [G[g] for g in gate_names], max_size)
    assert len(raw_naive.simplify()) == len(unitaries)
    assert naive_counters[1] == naive_counters[2]
    # The permutation-aware search explores one placement per class.
    assert counters[0] <= naive_counters[0]


def circuit_unitary(instrs, n):
    u = np.eye(1 << n, dtype=complex)
    for i in instrs:
        u = gate_on(MATRICES[i.gate.name], list(i.qargs), n) @ u
    return u


@pytest.mark.parametrize("n, gate_names, max_size", [(2, ("h", "t", "cx"), 4), (3, ("h", "s", "cx"), 3)])
def test_classes_are_sound(n, gate_names, max_size):
    eccs = RawECCs.generate(Evaluator(n), [G[g] for g in gate_names], max_size)[0].simplify()
    assert eccs.check() == []
    assert eccs.nqubits == n
    multi = [e for e in eccs.to_list() if len(e.circuits()) > 1]
    assert multi
    for ecc in multi:
        circuits = ecc.circuits()
        first = circuit_unitary(circuits[0], n)
        for c in circuits[1:]:
            assert equal_up_to_phase(circuit_unitary(c, n), first), str(ecc)


def test_simplified_classes_are_normalised():
    eccs = RawECCs.generate(Evaluator(3), [G["h"], G["t"], G["cx"]], 3)[0].simplify()
    classes = eccs.to_list()
    # The root class: the empty circuit first, then circuits equal to the identity.
    assert classes[0].circuits()[0] == [] and str(classes[0]).startswith("ECC {\n\t,\n\t")
    for ecc in classes:
        circuits = ecc.circuits()
        lengths = [len(c) for c in circuits]
        # The representative is a shortest circuit and uses the lowest qubits.
        assert lengths[0] == min(lengths)
        used = sorted({q for i in circuits[0] for q in i.qargs})
        assert used == list(range(len(used)))
    assert len(eccs.filter_single()) == sum(1 for e in classes if len(e.circuits()) > 1)
    text = str(eccs)
    assert text.count("ECC {") == len(eccs.filter_single())


def test_empty_instruction_set(capfd):
    raw, counters = RawECCs.search(Evaluator(2), [], 3)
    assert counters == [1, 0, 0]
    assert capfd.readouterr().out == "#0 Exploring  (0 queued, 1 ECCs, 0 circs, 0 circs perm)\n"
    only = raw.simplify()
    assert len(only) == 1 and str(only) == ""
    assert RawECCs.search_naive(Evaluator(2), [], 3)[1] == [1, 0, 0]


@pytest.mark.parametrize("max_size", [0, 1])
def test_small_max_size_extends_only_the_root(max_size):
    instrs = [G["h"](0), G["h"](1), G["cx"](0, 1)]
    _, counters = RawECCs.search(Evaluator(2), instrs, max_size)
    assert counters[:2] == [1, 3]


def test_naive_separates_placements():
    ev = Evaluator(2)
    naive = RawECCs.search_naive(ev, [G["h"](0), G["h"](1)], 1)[0].simplify()
    aware = RawECCs.search(ev, [G["h"](0), G["h"](1)], 1)[0].simplify()
    assert len(naive) == 3 and len(aware) == 2
    # h(0) h(0) is the identity: it joins the root bucket.
    root = RawECCs.search_naive(ev, [G["h"](0)], 2)[0].simplify().to_list()[0]
    assert [str(i) for c in root.circuits() for i in c] == ["h(0)", "h(0)"]


def test_progress_lines_every_400_explored(capfd):
    _, counters = RawECCs.generate_naive(Evaluator(3), [G["h"], G["t"], G["cx"]], 4)
    lines = capfd.readouterr().out.splitlines()
    assert len(lines) == (counters[0] + 399) // 400 and len(lines) > 1
    assert lines[1].startswith("#400 Exploring ")


def test_duplicate_gates_add_nothing():
    ev = Evaluator(2)
    once = RawECCs.generate(ev, [G["h"], G["cx"]], 3)
    twice = RawECCs.generate(ev, [G["h"], G["h"], G["cx"]], 3)
    assert once[0].simplify() == twice[0].simplify()
    assert twice[1][1] > once[1][1]


def test_bad_arguments():
    ev = Evaluator(2)
    ccz = Gate("ccz", [], np.diag([1, 1, 1, 1, 1, 1, 1, -1]).astype(complex))
    with pytest.raises(trevalon.NativeAbort, match="^Only 1 and 2 qubit instructions are supported$"):
        RawECCs.generate(ev, [G["h"], ccz], 2)
    with pytest.raises(OverflowError):
        RawECCs.generate(ev, [G["h"]], -1)
    with pytest.raises(TypeError, match="^argument 'instrs': "):
        RawECCs.search(ev, "h", 2)
    with pytest.raises(TypeError, match="^argument 'evaluator': "):
        RawECCs.search(None, [], 2)
    with pytest.raises(trevalon.NativeAbort):
        RawECCs.search(ev, [G["h"](5)], 2)  # qubit beyond the evaluator
    with pytest.raises(TypeError):
        trevalon.ECCs()
    with pytest.raises(TypeError):
        trevalon.ECC()


def test_ctrl_c_interrupts_a_long_search():
    code = (
        "import sys, time, trevalon\n"
        "g = [trevalon.Gate.from_name(n) for n in ('h', 't', 'cx')]\n"
        "print('ready', flush=True)\n"
        "start = time.monotonic()\n"
        "try:\n"
        "    trevalon.RawECCs.generate_naive(trevalon.Evaluator(3), g, 12)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        "print(len(trevalon.RawECCs.generate(trevalon.Evaluator(1), g, 2)[0].simplify()), flush=True)\n"
    )
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert proc.stdout.readline().strip() == "ready"
    time.sleep(1.0)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    lines = []
    for line in proc.stdout:
        if not line.startswith("#"):
            lines.append(line.strip())
            if line.strip() == "interrupted":
                took = time.monotonic() - sent
    proc.wait(timeout=60)
    assert lines[0] == "interrupted" and int(lines[1]) > 1
    assert took < 1.5
