"""Binary record files of ECC collections: exact bytes, round trips, hostile
input, malformed content and saves that must not destroy the old file."""

import os
import random
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import trevalon
from record_bytes import eccs, instr, pair, perm, text, varint

END = "Failed to read postcard data: Hit the end of buffer, expected more data"
VARINT = "Failed to read postcard data: Found a varint that didn't terminate"
UTF8 = "Failed to read postcard data: Tried to parse invalid utf-8"

# The worked example: one class [([], (0)), ([x(0), x(0)], (0))], nqubits 1.
WORKED = bytes.fromhex("01 02 00 80808008 02 0178 00ff 0178 00ff 80808008 01")


def gates(*names):
    return [trevalon.Gate.from_name(n) for n in names]


def generated(n, names, size):
    return trevalon.RawECCs.generate(trevalon.Evaluator(n), gates(*names), size)[0].simplify()


def load_bytes(tmp_path, data, name="f.bin"):
    p = tmp_path / name
    p.write_bytes(data)
    return trevalon.ECCs.from_postcard(str(p))


def dump_bytes(tmp_path, e, name="out.bin"):
    p = tmp_path / name
    e.dump_postcard(str(p))
    return p.read_bytes()


def test_worked_example(tmp_path, capsys):
    assert WORKED == eccs([[pair([], [0]), pair([instr("x", 0), instr("x", 0)], [0])]], 1)
    e = load_bytes(tmp_path, WORKED)
    assert e.nqubits == 1 and len(e) == 1
    assert [[str(i) for i in c] for c in e.to_list()[0].circuits()] == [[], ["x(0)", "x(0)"]]
    assert dump_bytes(tmp_path, e) == WORKED
    # The search over x on one qubit finds exactly this class (and the
    # single-circuit class of x).
    searched = generated(1, ["x"], 2)
    assert dump_bytes(tmp_path, searched.filter_single()) == WORKED
    assert searched.filter_single() == e
    capsys.readouterr()


def test_empty_collection_and_trailing_bytes(tmp_path):
    e = load_bytes(tmp_path, b"\x00\x03")
    assert (len(e), e.nqubits, str(e)) == (0, 3, "")
    assert dump_bytes(tmp_path, e) == b"\x00\x03"
    assert load_bytes(tmp_path, WORKED + b"\x99") == load_bytes(tmp_path, WORKED)


@pytest.mark.parametrize(
    "n, names, size",
    [(1, ["h", "t"], 4), (2, ["h", "t", "cx"], 3), (3, ["h", "cx"], 3), (3, ["t", "x", "cx"], 2)],
)
def test_generated_collections_round_trip(tmp_path, capsys, n, names, size):
    e = generated(n, names, size)
    assert len(e.filter_single()) > 0
    data = dump_bytes(tmp_path, e)
    back = trevalon.ECCs.from_postcard(str(tmp_path / "out.bin"))
    assert back == e and back.nqubits == n
    assert dump_bytes(tmp_path, back, "again.bin") == data
    capsys.readouterr()


@pytest.mark.parametrize(
    "data, message",
    [
        # Counts near 2^32 with nothing behind them fail at once.
        (varint(2**32 - 1), END),
        (b"\x01" + varint(2**32 - 1), END),
        (b"\x01\x01" + varint(2**32 - 1), END),
        (b"\x01\x01\x00\x80\x80", END),  # truncated inside a permutation
        (b"\x80\x80\x80\x80\x80\x00", VARINT),  # six-byte list count
        (b"\xff\xff\xff\xff\x10", VARINT),  # fifth byte above 0x0f
        (b"\x00" + b"\xff" * 9 + b"\x02", VARINT),  # tenth byte of nqubits above 1
        (b"\x01\x01\x01" + text(b"\xff") + b"\x00\xff" + perm([0]) + b"\x01", UTF8),
        (b"\x01\x01\x01" + text(b"\xed\xa0\x80") + b"\x00\xff" + perm([0]) + b"\x01", UTF8),  # surrogate
        (b"\x01\x01\x01" + text(b"\xc0\xb8") + b"\x00\xff" + perm([0]) + b"\x01", UTF8),  # overlong x
        (b"\x01\x01\x01" + text("h" * 8193) + b"\x00\xff" + perm([0]) + b"\x01", END),
        (b"\x01\x01\x01" + varint(5) + b"h", END),  # text shorter than its length
    ],
)
def test_hostile_bytes_give_value_error(tmp_path, data, message):
    with pytest.raises(ValueError) as err:
        load_bytes(tmp_path, data)
    assert str(err.value) == message


def test_longest_text_is_read_and_unknown_gates_abort(tmp_path):
    # 8192 bytes is the longest text that can be read; no such gate exists.
    data = b"\x01\x01\x01" + text("g" * 8192) + b"\x00\xff" + perm([0]) + b"\x01"
    with pytest.raises(trevalon.NativeAbort, match="^Failed to deserialize Gate16 from g{8192}$"):
        load_bytes(tmp_path, data)
    with pytest.raises(trevalon.NativeAbort, match="^Failed to deserialize Gate16 from rz\\(pi/7\\)$"):
        load_bytes(tmp_path, eccs([[pair([instr("rz(pi/7)", 0)], [0])]], 1))
    e = load_bytes(tmp_path, eccs([[pair([instr("rz(pi/3)", 0)], [0])]], 1))
    assert str(e.to_list()[0]) == "ECC {\n\trz(pi/3)(0),\n}"


def test_nqubits_beyond_the_word(tmp_path):
    with pytest.raises(ValueError, match="^Failed to read postcard data: "):
        load_bytes(tmp_path, b"\x00" + varint(2**32))
    assert load_bytes(tmp_path, b"\x00" + varint(2**32 - 1)).nqubits == 2**32 - 1


def test_truncation_at_every_offset(tmp_path, capsys):
    data = dump_bytes(tmp_path, generated(2, ["h", "cx"], 2))
    capsys.readouterr()
    for n in range(len(data)):
        with pytest.raises(ValueError) as err:
            load_bytes(tmp_path, data[:n])
        assert str(err.value) == END, n


def exercise(tmp_path, e):
    """Every operation on loaded content either works or aborts cleanly."""
    for op in (
        lambda: str(e),
        lambda: e.check(),
        lambda: [c.circuits() for c in e.to_list()],
        lambda: [str(c) for c in e.to_list()],
        lambda: e.dump_quartz(str(tmp_path / "q.json")),
        lambda: e.to_identity_circuits() if e.nqubits <= 3 else None,
    ):
        try:
            op()
        except trevalon.NativeAbort:
            pass
    # Whatever loads saves and loads back equal.
    e.dump_postcard(str(tmp_path / "rt.bin"))
    assert trevalon.ECCs.from_postcard(str(tmp_path / "rt.bin")) == e


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        kind = rng.randrange(5)
        pos = rng.randrange(len(data)) if data else 0
        if kind == 0 and data:
            data[pos] ^= 1 << rng.randrange(8)
        elif kind == 1 and data:
            data[pos] = rng.choice([0x00, 0x01, 0x02, 0x03, 0x08, 0x7F, 0x80, 0xFF, rng.randrange(256)])
        elif kind == 2:
            data[pos:pos] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 3)))
        elif kind == 3 and data:
            del data[pos : pos + rng.randint(1, 3)]
        elif data:
            a = rng.randrange(len(data))
            data[pos:pos] = data[a : a + rng.randint(1, 8)]
    return bytes(data)


@pytest.fixture(scope="module")
def seeds(tmp_path_factory):
    d = tmp_path_factory.mktemp("seeds")
    out = []
    for n, names, size in [(1, ["h", "t"], 3), (2, ["h", "cx"], 2), (3, ["x", "cx"], 2)]:
        p = d / f"{n}.bin"
        generated(n, names, size).dump_postcard(str(p))
        out.append(p.read_bytes())
    return out


def test_random_byte_flips(tmp_path, seeds, capsys):
    rng = random.Random(20240611)
    for data in seeds:
        for _ in range(150):
            b = bytearray(data)
            b[rng.randrange(len(b))] ^= 1 << rng.randrange(8)
            try:
                e = load_bytes(tmp_path, bytes(b))
            except (ValueError, trevalon.NativeAbort):
                continue
            exercise(tmp_path, e)
    capsys.readouterr()


def test_bounded_mutation_fuzz(tmp_path, seeds, capsys):
    rng = random.Random(7)
    outcomes = {"loaded": 0, "ValueError": 0, "NativeAbort": 0}
    for _ in range(10000):
        data = mutate(rng.choice(seeds), rng)
        try:
            e = load_bytes(tmp_path, data)
        except ValueError as err:
            assert str(err).startswith("Failed to read postcard data: ")
            outcomes["ValueError"] += 1
            continue
        except trevalon.NativeAbort as err:
            assert str(err).startswith("Failed to deserialize Gate16 from ")
            outcomes["NativeAbort"] += 1
            continue
        outcomes["loaded"] += 1
        exercise(tmp_path, e)
    assert all(v > 0 for v in outcomes.values()), outcomes
    capsys.readouterr()


ALL_OPS = ("check", "circuits", "to_identity_circuits", "dump_quartz", "str")
MALFORMED = {
    "empty class": (eccs([[]], 1), ALL_OPS),
    "qubit beyond its permutation": (eccs([[pair([], [0]), pair([instr("h", 1)], [0])]], 1), ALL_OPS),
    "qubit beyond nqubits": (
        eccs([[pair([], [0, 1, 2]), pair([instr("h", 2), instr("h", 2)], [0, 1, 2])]], 1),
        ("check", "to_identity_circuits", "dump_quartz"),
    ),
    "word that is no permutation": (eccs([[pair([], varint(0x01000001)), pair([], [0])]], 1), ALL_OPS),
    "repeated entries": (eccs([[pair([], varint(0x02000000)), pair([], [0, 1])]], 2), ALL_OPS),
    "permutation longer than 8": (eccs([[pair([], varint(0x09000000))] * 2], 9), ALL_OPS),
    "mixed permutation lengths": (eccs([[pair([], [0]), pair([], [0, 1])]], 2), ("circuits", "dump_quartz", "str")),
}


@pytest.mark.parametrize("case", MALFORMED)
def test_malformed_content_aborts_cleanly(tmp_path, case):
    data, ops = MALFORMED[case]
    e = load_bytes(tmp_path, data)
    assert trevalon.ECCs.from_postcard(str(tmp_path / "f.bin")) == e
    target = tmp_path / "q.json"
    target.write_bytes(b"old")
    run = {
        "check": e.check,
        "circuits": lambda: [c.circuits() for c in e.to_list()],
        "to_identity_circuits": e.to_identity_circuits,
        "dump_quartz": lambda: e.dump_quartz(str(target)),
        "str": lambda: [str(c) for c in e.to_list()],
    }
    for op in ops:
        with pytest.raises(trevalon.NativeAbort):
            run[op]()
    assert target.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["f.bin", "q.json"]


def test_file_errors(tmp_path):
    with pytest.raises(OSError) as err:
        trevalon.ECCs.from_postcard(str(tmp_path / "missing"))
    assert str(err.value) == "Failed to open file: No such file or directory (os error 2)"
    e = load_bytes(tmp_path, WORKED)
    with pytest.raises(OSError) as err:
        e.dump_postcard(str(tmp_path / "no" / "dir.bin"))
    assert str(err.value) == "Failed to create file: No such file or directory (os error 2)"
    with pytest.raises(OSError, match=r"^Failed to create file: Is a directory \(os error 21\)$"):
        e.dump_postcard(str(tmp_path))
    with pytest.raises(ValueError, match="^Failed to write postcard data: The serialize buffer is full$"):
        e.dump_postcard("/dev/full")
    with pytest.raises(TypeError, match="^argument 'filepath': "):
        e.dump_postcard(b"x.bin")
    with pytest.raises(TypeError, match="^argument 'filepath': "):
        trevalon.ECCs.from_postcard(7)
    assert sorted(os.listdir(tmp_path)) == ["f.bin"]
    # Reading a directory fails as a read does.
    with pytest.raises(ValueError, match="end of buffer"):
        trevalon.ECCs.from_postcard(str(tmp_path))


def test_save_replaces_the_file_and_keeps_its_mode(tmp_path):
    target = tmp_path / "e.bin"
    target.write_bytes(b"older and longer contents")
    target.chmod(0o640)
    load_bytes(tmp_path, b"\x00\x05").dump_postcard(str(target))
    assert target.read_bytes() == b"\x00\x05"
    assert target.stat().st_mode & 0o777 == 0o640
    assert sorted(os.listdir(tmp_path)) == ["e.bin", "f.bin"]


@pytest.mark.skipif(os.geteuid() == 0, reason="root writes into read-only directories")
def test_unwritable_directory_keeps_the_old_file(tmp_path):
    d = tmp_path / "ro"
    d.mkdir()
    target = d / "e.bin"
    target.write_bytes(b"old")
    d.chmod(0o555)
    try:
        with pytest.raises(OSError, match=r"^Failed to create file: Permission denied \(os error 13\)$"):
            load_bytes(tmp_path, WORKED).dump_postcard(str(target))
        assert target.read_bytes() == b"old"
        assert os.listdir(d) == ["e.bin"]
    finally:
        d.chmod(0o755)


def test_write_failure_part_way_keeps_the_old_file(tmp_path):
    # A file-size limit makes writing fail after the first buffers, even for
    # root; the old file and the directory must be as they were.
    big = tmp_path / "big.bin"
    generated(3, ["h", "t", "cx"], 4).dump_postcard(str(big))
    assert big.stat().st_size > 3 * 8192
    target = tmp_path / "e.bin"
    target.write_bytes(b"old")
    script = textwrap.dedent(
        f"""
        import resource, signal, trevalon
        e = trevalon.ECCs.from_postcard({str(big)!r})
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (8192, 8192))
        for save in (e.dump_postcard, e.dump_quartz):
            try:
                save({str(target)!r})
            except ValueError as err:
                print(err)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.splitlines() == [
        "Failed to write postcard data: The serialize buffer is full",
        "Failed to write JSON: File too large (os error 27)",
    ]
    assert target.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["big.bin", "e.bin"]


def test_hostile_qubit_count_is_refused_before_allocating(tmp_path):
    # nqubits 30 with no classes: checking must not size a 2^30 state.
    e = load_bytes(tmp_path, b"\x00\x1e")
    with pytest.raises(trevalon.NativeAbort, match="at most 8 are supported"):
        e.check()


def test_overlong_gate_name_is_refused_when_saving(tmp_path):
    name = "g" * 9000
    g = trevalon.Gate(name, [], np.diag([1, np.exp(0.8123j)]))
    raw = trevalon.RawECCs.search(trevalon.Evaluator(1), [g(0)], 1)[0]
    target = tmp_path / "long.bin"
    target.write_bytes(b"old")
    with pytest.raises(ValueError, match="^Failed to write postcard data: "):
        raw.simplify().dump_postcard(str(target))
    assert target.read_bytes() == b"old"
