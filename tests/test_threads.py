"""Several Python threads, each with its own objects, drive the native code at
once (searches on the worker pool, evaluations, gate registration, provers);
results must match the same work done on one thread. Under the ThreadSanitizer
build (scripts/sanitize.sh tsan) this also checks the process-wide tables."""
import sys
import threading

import numpy as np

from trevalon import Circ, Evaluator, Gate, IdentityProver, RawECCs, StateVec

NAMES = ("h", "t", "cx")


def search_work(_):
    gates = [Gate.from_name(n) for n in NAMES]
    eccs = RawECCs.generate(Evaluator(2), gates, 3)[0].simplify()
    # Which circuit represents a class depends on the random evaluator, even on
    # one thread; the number of classes and circuits does not.
    classes = eccs.to_list()
    return len(classes), sum(len(e.circuits()) for e in classes)


def evaluate_work(_):
    h, cx = Gate.from_name("h"), Gate.from_name("cx")
    ev = Evaluator(3)
    # Evaluators and random states are random per object: compare what is not.
    keys = [ev.evaluate([h(i % 3), cx(i % 3, (i + 1) % 3)])[0].hash_value() for i in range(200)]
    s = StateVec.random(3)
    before = [s[i] for i in range(8)]
    s *= h(0)
    s *= h(0)
    back = np.allclose([s[i] for i in range(8)], before)
    return len(set(keys)), keys[:3] == keys[3:6], back, str(Circ([h(1), cx(0, 1)]).representative())


def register_work(k):
    # Each thread registers its own gates (distinct matrices, so none is a
    # duplicate of another); the registry is shared.
    names = []
    for i in range(20):
        phase = np.exp(1j * (0.001 + 0.01 * k + 0.0003 * i))
        g = Gate(f"thr{k}_{i}", [], np.diag([1, phase]))
        names.append(Gate.from_name(g.name).name)
    return names


def prove_work(_):
    gates = [Gate.from_name(n) for n in NAMES]
    eccs = RawECCs.generate(Evaluator(2), gates, 3)[0].simplify()
    prover = IdentityProver.build_from_eccs(eccs)
    ids = sorted({w[0] for w in eccs.to_identity_circuits()})
    proved = [prover.prove_identity(i, 1, 1000) for i in ids[:4]]
    return len(ids) > 0, len(proved)


def run_threads(work, count=4):
    """Runs work(k) for k in range(count), each on its own thread, all started
    together; returns the results in order."""
    results, errors = [None] * count, []
    start = threading.Barrier(count)

    def body(k):
        try:
            start.wait()
            results[k] = work(k)
        except BaseException as e:  # noqa: B902 - reported to the main thread
            errors.append(e)

    threads = [threading.Thread(target=body, args=(k,)) for k in range(count)]
    # Switch between threads often, so that their calls interleave finely.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not errors, errors
    return results


def test_parallel_work_matches_sequential():
    # Two threads of each kind; registering threads use names of their own.
    kinds = (search_work, evaluate_work, prove_work)
    expected = {w: w(0) for w in kinds}
    mixed = [*kinds, register_work, *kinds, register_work]
    got = run_threads(lambda k: mixed[k](k), count=len(mixed))
    for k, (work, result) in enumerate(zip(mixed, got)):
        if work is register_work:
            assert result == [f"thr{k}_{i}" for i in range(20)]
        else:
            assert result == expected[work]


def test_gate_registration_from_many_threads():
    got = run_threads(lambda k: register_work(10 + k))
    assert got == [[f"thr{10 + k}_{i}" for i in range(20)] for k in range(4)]
