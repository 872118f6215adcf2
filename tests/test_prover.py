"""The identity prover: soundness against an independent NumPy model,
derivations worked out by hand, files, and interruption."""
import os
import re
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import trevalon
from trevalon import Circ, ECCs, Evaluator, Gate, IdentityCirc, IdentityProver, RawECCs

import record_bytes as rb
from circ_sim import equal_up_to_phase, unitary

G = {name: Gate.from_name(name) for name in ("h", "x", "z", "t", "tdg", "cx")}


def is_identity(identity):
    circ = identity.inner
    n = max(circ.nqubits(), 1)
    u = unitary(circ, n)
    return equal_up_to_phase(u, np.eye(1 << n))


def canonical(instrs):
    return Circ(instrs).rotate_representative()


@pytest.fixture(scope="module")
def eccs():
    return RawECCs.generate(Evaluator(2), [G["h"], G["t"], G["cx"]], 3)[0].simplify()


@pytest.fixture(scope="module")
def prover(eccs):
    return IdentityProver.build_from_eccs(eccs)


def class_identities(eccs):
    return sorted({w[0] for w in eccs.to_identity_circuits()})


def test_build_writes_two_messages_and_no_bar_off_a_terminal(eccs, capfd):
    IdentityProver.build_from_eccs(eccs)
    out, err = capfd.readouterr()
    assert err == f"Building identity prover from {len(eccs)} ECCs\nProving Identities\n"
    assert out == ""


def test_assumptions_and_rewrites_are_identities(eccs, prover):
    assumed = prover.get_assumed()
    assert assumed and all(is_identity(a) for a in assumed)
    # Assumed while building, in insertion order: shortest first.
    assert [len(a) for a in assumed] == sorted(len(a) for a in assumed)
    for identity in class_identities(eccs):
        for extra in (0, 3):
            for found in prover.par_apply_rules(identity, extra):
                assert len(found) <= len(identity) + extra + 1
                assert is_identity(found), str(found)


def test_most_class_identities_are_derived(eccs, prover):
    identities = class_identities(eccs)
    assumed = prover.get_assumed()
    derived = [i for i in identities if i not in assumed]
    assert len(derived) >= len(identities) // 3
    for identity in derived:
        assert prover.prove_identity(identity, 3, 100000) is None


def test_hand_worked_derivation(tmp_path):
    # x = hzh and hh = 1 are the only rules; xzxz is inserted (its one rewrite
    # within three more gates, hzh.z.x.z, leads back: assumed), and then
    # hzh.z.x.z follows from it in one step, hzh -> x by the rule xhzh.
    h, x, z = G["h"](0), G["x"](0), G["z"](0)
    eccs_file = tmp_path / "one_qubit.bin"
    # One qubit, classes [([], id), ([h, h], id)] and [([x], id), ([h, z, h], id)],
    # written in the record format by hand (gate texts, slots, permutations).
    perm = bytes([0x80, 0x80, 0x80, 0x08])

    def instr(name):
        return bytes([len(name)]) + name.encode() + bytes([0, 255])

    data = (bytes([2, 2, 0]) + perm + bytes([2]) + instr("h") + instr("h") + perm
            + bytes([2, 1]) + instr("x") + perm + bytes([3]) + instr("h") + instr("z") + instr("h") + perm
            + bytes([1]))
    eccs_file.write_bytes(data)
    p = IdentityProver.build_from_eccs(ECCs.from_postcard(str(eccs_file)))
    hh, xhzh = canonical([h, h]), canonical([x, h, z, h])
    xzxz, hzhzxz = canonical([x, z, x, z]), canonical([h, z, h, z, x, z])
    assert p.get_assumed() == [hh, xhzh]
    assert p.par_apply_rules(hzhzxz, 0) == [xzxz]
    assert p.par_apply_rules(hzhzxz, 3) == [canonical([h, z, h, z, h, z, h, z]), xzxz]
    assert p.add_identity(xzxz, 3, 1000) is True
    assert p.get_assumed() == [hh, xhzh, xzxz]
    visited, assumed = p.add_identity_search(hzhzxz, 3, 1000)
    assert assumed is False and isinstance(visited, set) and hzhzxz in visited
    assert p.get_assumed() == [hh, xhzh, xzxz]
    assert p.prove_identity(hzhzxz, 3, 1000) is None
    result, visited = p.prove_identity_with_visited(hzhzxz, 3, 1000)
    assert result is None and {hzhzxz, xzxz} <= visited
    # The visited limit: the start plus one queued rewrite exceeds 1.
    assert p.prove_identity(hzhzxz, 3, 1) == hzhzxz
    # No room to grow: xx's only rewrite (x -> hzh) is out of reach.
    xx = canonical([x, x])
    assert p.prove_identity(xx, 1, 1000) == xx
    assert p.prove_identity(xx, 2, 1000) is None


def test_add_identity_edge_cases(prover, eccs):
    p = IdentityProver.build_from_eccs(eccs)
    before = p.get_assumed()
    empty = IdentityCirc(Circ([], [0, 1]))
    assert p.add_identity(empty, 3, 100) is False
    assert p.add_identity(before[0], 3, 100) is False
    assert p.get_assumed() == before
    # t^8 on one qubit has no rule: assumed.
    t8 = canonical([G["t"](0)] * 8)
    assert p.add_identity(t8, 3, 100) is True
    assert p.get_assumed() == before + [t8]
    assert p.add_identity(t8, 3, 100) is False
    # The module-scoped prover is untouched by work on another one.
    assert prover.get_assumed() == before


def test_query_results_are_copies(prover):
    a = prover.get_assumed()
    a.clear()
    assert prover.get_assumed()


def test_save_and_load_round_trip(prover, eccs, tmp_path):
    first, second = tmp_path / "a.bin", tmp_path / "b.bin"
    prover.dump_postcard(str(first))
    loaded = IdentityProver.from_postcard(str(first))
    loaded.dump_postcard(str(second))
    again = IdentityProver.from_postcard(str(second))
    assert os.path.getsize(first) == os.path.getsize(second)
    for p in (loaded, again):
        assert p.get_assumed() == prover.get_assumed()
        for identity in class_identities(eccs):
            assert p.prove_identity_with_visited(identity, 3, 1000) == prover.prove_identity_with_visited(identity, 3, 1000)
            assert p.par_apply_rules(identity, 3) == prover.par_apply_rules(identity, 3)
            assert p.export_proof(identity, 3, 1000) == prover.export_proof(identity, 3, 1000)


def test_file_errors(prover, tmp_path):
    with pytest.raises(OSError, match=r"^Failed to open file: .* \(os error 2\)$"):
        IdentityProver.from_postcard(str(tmp_path / "missing.bin"))
    with pytest.raises(OSError, match=r"^Failed to create file: "):
        prover.dump_postcard(str(tmp_path / "no" / "such" / "dir.bin"))


@pytest.mark.parametrize(
    "data, error, message",
    [
        (b"", ValueError, "Failed to read postcard data: Hit the end of buffer, expected more data"),
        (b"\x01", ValueError, "Failed to read postcard data: Hit the end of buffer, expected more data"),
        (b"\x80\x80\x80\x80\x80\x80", ValueError, "Failed to read postcard data: Found a varint that didn't terminate"),
        (b"\x01\x01\x02\xff\xfe", ValueError, "Failed to read postcard data: Tried to parse invalid utf-8"),
        (b"\x01\x01\x06nogate\x00\xff\x80\x80\x80\x08\x00\x00", trevalon.NativeAbort,
         "Failed to deserialize Gate16 from nogate"),
        (b"\x00\x00\x00", None, None),
        (b"\x00\x00\x00\x07", None, None),  # trailing bytes are ignored
    ],
)
def test_hostile_prover_files(tmp_path, data, error, message):
    path = tmp_path / "p.bin"
    path.write_bytes(data)
    if error is None:
        assert IdentityProver.from_postcard(str(path)).get_assumed() == []
    else:
        with pytest.raises(error) as info:
            IdentityProver.from_postcard(str(path))
        assert str(info.value) == message


def test_mangled_prover_files_never_crash(prover, tmp_path):
    good = tmp_path / "good.bin"
    prover.dump_postcard(str(good))
    data = good.read_bytes()
    rng = np.random.default_rng(3)
    path = tmp_path / "bad.bin"
    for trial in range(300):
        mutated = bytearray(data)
        if trial % 3 == 0:
            mutated = mutated[: rng.integers(len(mutated))]
        else:
            for _ in range(rng.integers(1, 4)):
                mutated[rng.integers(len(mutated))] = int(rng.integers(256))
        path.write_bytes(bytes(mutated))
        try:
            p = IdentityProver.from_postcard(str(path))
        except (ValueError, trevalon.NativeAbort):
            continue
        # Whatever loaded is usable, or refuses cleanly.
        for a in p.get_assumed()[:3]:
            try:
                p.prove_identity(a, 1, 50)
            except trevalon.NativeAbort:
                pass


def test_argument_errors(prover):
    identity = prover.get_assumed()[0]
    with pytest.raises(TypeError, match="cannot create 'trevalon.IdentityProver' instances"):
        IdentityProver()
    with pytest.raises(OverflowError):
        prover.prove_identity(identity, -1, 10)
    with pytest.raises(TypeError, match=r"^argument 'identity': "):
        prover.prove_identity(identity.inner, 1, 10)
    with pytest.raises(TypeError, match=r"^argument 'eccs': "):
        IdentityProver.build_from_eccs([])
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'count_limit'"):
        prover.add_identity(identity, 1)
    assert prover.prove_identity(identity=identity, additional_size=0, count_limit=5) == prover.prove_identity(identity, 0, 5)
    # Identities of 20 or more instructions cannot be cut.
    long_one = canonical([G["h"](0)] * 20)
    with pytest.raises(trevalon.NativeAbort):
        prover.par_apply_rules(long_one, 1)


def test_docstrings_carry_signatures():
    assert IdentityProver.__doc__.startswith("Rule-based prover for circuit identities.\n\n")
    assert IdentityProver.export_proof.__text_signature__ == "($self, identity, additional_size, count_limit)"
    assert IdentityProver.build_from_eccs.__text_signature__ == "(eccs)"
    assert IdentityProver.add_identity.__doc__.endswith("Returns `true` when this identity must be kept as an assumption.")


def test_ctrl_c_interrupts_building_and_inserting():
    code = (
        "import time, trevalon\n"
        "g = [trevalon.Gate.from_name(n) for n in ('h', 't', 'cx')]\n"
        "big = trevalon.RawECCs.generate(trevalon.Evaluator(2), g, 6)[0].simplify()\n"
        "print('ready', flush=True)\n"
        "try:\n"
        "    trevalon.IdentityProver.build_from_eccs(big)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        "small = trevalon.RawECCs.generate(trevalon.Evaluator(2), g, 4)[0].simplify()\n"
        "p = trevalon.IdentityProver.build_from_eccs(small)\n"
        "print('ready', flush=True)\n"
        "try:\n"
        "    for identity in sorted({w[0] for w in big.to_identity_circuits()}):\n"
        "        p.add_identity(identity, 3, 50000000)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        "assumed = p.get_assumed()\n"
        "print(all(p.add_identity(a, 3, 10) is False for a in assumed), flush=True)\n"
    )
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def next_line():  # skipping the searches' progress lines
        line = proc.stdout.readline()
        while line.startswith("#"):
            line = proc.stdout.readline()
        return line.strip()

    took = []
    for _ in range(2):
        assert next_line() == "ready"
        time.sleep(1.0)
        sent = time.monotonic()
        proc.send_signal(signal.SIGINT)
        assert next_line() == "interrupted"
        took.append(time.monotonic() - sent)
    assert next_line() == "True"
    proc.wait(timeout=60)
    assert max(took) < 1.5



# Classes (circuit, trailing permutation) over 3 qubits whose identities,
# once rewritten, carry gates around the cycle through a non-trivial
# permutation: a cut there must compare the gates it moves across the
# permutation in the frame they arrive in.
WRAPPING_CLASSES = [
    [("cx(2, 1) cx(2, 1)", [0, 1, 2]), ("h(2) h(2)", [0, 1, 2])],
    [("cx(0, 1) cx(0, 2)", [0, 1, 2]), ("cx(1, 2) cx(0, 1) cx(1, 2)", [0, 1, 2]),
     ("cx(2, 1) cx(0, 2) cx(2, 1)", [0, 1, 2])],
    [("cx(0, 1) h(0)", [0, 2, 1]), ("h(1) h(0) cx(1, 0) h(1)", [0, 2, 1])],
    [("cx(0, 2) h(0) cx(0, 2) cx(1, 2) h(1) cx(1, 0)", [1, 0, 2]),
     ("cx(1, 0) h(1) cx(0, 2) h(0) cx(0, 2) cx(1, 0)", [0, 1, 2])],
]


def test_rewrites_through_a_wrapping_permutation_are_identities(tmp_path):
    def instrs(text):
        return [rb.instr(g, *map(int, q.split(","))) for g, q in re.findall(r"(\w+)\(([\d, ]+)\)", text)]

    path = tmp_path / "wrapping.bin"
    path.write_bytes(rb.eccs([[rb.pair(instrs(c), p) for c, p in cls] for cls in WRAPPING_CLASSES], 3))
    eccs = ECCs.from_postcard(str(path))
    assert eccs.check() == []
    prover = IdentityProver.build_from_eccs(eccs)
    assumed = prover.get_assumed()
    assert assumed and all(is_identity(a) for a in assumed)
    rewritten = [f for a in assumed for f in prover.par_apply_rules(a, 3)]
    assert rewritten and all(is_identity(f) for f in rewritten)
