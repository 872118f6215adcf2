"""Quartz JSON export: exact bytes, document structure, and circuits of every
member simulated independently to have equal unitaries up to global phase."""

import json
import os

import numpy as np
import pytest

import trevalon
from record_bytes import eccs, instr, pair

S2 = 1 / np.sqrt(2)
W = np.exp(1j * np.pi / 4)
# Written out here, not read from the registry.
MATRICES = {
    "h": np.array([[S2, S2], [S2, -S2]]),
    "x": np.array([[0, 1], [1, 0]]),
    "z": np.diag([1, -1]),
    "s": np.diag([1, 1j]),
    "sdg": np.diag([1, -1j]),
    "t": np.diag([1, W]),
    "tdg": np.diag([1, np.conj(W)]),
    "cx": np.array([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]),
    "swap": np.array([[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]]),
}


def operator(matrix, qubits, n):
    """The 2^n operator of a gate on `qubits`: qubit q is bit q of the state
    index, the first gate argument the most significant bit of the matrix
    index."""
    k = len(qubits)
    out = np.zeros((1 << n, 1 << n), dtype=complex)
    for col in range(1 << n):
        g_in = sum(((col >> q) & 1) << (k - 1 - j) for j, q in enumerate(qubits))
        rest = col & ~sum(1 << q for q in qubits)
        for g_out in range(1 << k):
            row = rest | sum(1 << q for j, q in enumerate(qubits) if (g_out >> (k - 1 - j)) & 1)
            out[row, col] += matrix[g_out, g_in]
    return out


def unitary(gate_list, n):
    u = np.eye(1 << n, dtype=complex)
    for name, qs, qs_again in gate_list:
        assert qs == qs_again
        u = operator(MATRICES[name], [int(q[1:]) for q in qs], n) @ u
    return u


def equal_up_to_phase(a, b):
    k = np.unravel_index(np.argmax(np.abs(b)), b.shape)
    phase = a[k] / b[k]
    return abs(abs(phase) - 1) < 1e-9 and np.allclose(a, phase * b, atol=1e-9)


def load(tmp_path, data):
    p = tmp_path / "in.bin"
    p.write_bytes(data)
    return trevalon.ECCs.from_postcard(str(p))


def export(tmp_path, e):
    p = tmp_path / "out.json"
    e.dump_quartz(str(p))
    return p.read_bytes()


def generated(n, names, size):
    gates = [trevalon.Gate.from_name(g) for g in names]
    return trevalon.RawECCs.generate(trevalon.Evaluator(n), gates, size)[0].simplify()


HH = [pair([], [0]), pair([instr("h", 0), instr("h", 0)], [0])]
SINGLE = [pair([instr("h", 0)], [0])]


def test_worked_example(tmp_path, capsys):
    expected = b'[[[0],[0]],{"0_0":[[[1,0],[]],[[1,2],[["h",["Q0"],["Q0"]],["h",["Q0"],["Q0"]]]]]}]'
    assert len(expected) == 82
    assert export(tmp_path, load(tmp_path, eccs([HH, SINGLE], 1))) == expected
    assert export(tmp_path, generated(1, ["h"], 2)) == expected
    capsys.readouterr()


def test_nothing_exported(tmp_path):
    assert export(tmp_path, load(tmp_path, eccs([SINGLE, SINGLE], 1))) == b"[[[0],[0]],{}]"


def test_keys_are_hex_and_in_byte_order(tmp_path):
    classes = [SINGLE] * 27
    for k in (1, 9, 10, 16, 26):
        classes[k] = HH
    doc = export(tmp_path, load(tmp_path, eccs(classes, 1))).decode()
    keys = list(json.loads(doc)[1])
    assert keys == ["10_0", "1_0", "1a_0", "9_0", "a_0"]
    assert doc.index('"10_0"') < doc.index('"1_0"')


def test_one_variant_per_distinct_permutation(tmp_path):
    # Permutations p, p, r: variant 0 based on p, variant 1 on r; the two
    # circuits with p get swaps only in variant 1.
    p, r = [0, 1], [1, 0]
    cls = [pair([instr("cx", 0, 1)], p), pair([instr("cx", 1, 0), instr("h", 1)], p), pair([instr("h", 0)], r)]
    doc = json.loads(export(tmp_path, load(tmp_path, eccs([SINGLE, cls], 2))))
    swap = ["swap", ["Q0", "Q1"], ["Q0", "Q1"]]
    cx01, cx10, h0, h1 = (["cx", ["Q0", "Q1"], ["Q0", "Q1"]], ["cx", ["Q1", "Q0"], ["Q1", "Q0"]],
                          ["h", ["Q0"], ["Q0"]], ["h", ["Q1"], ["Q1"]])
    assert doc == [
        [[0], [0]],
        {
            "1_0": [[[2, 1], [cx01]], [[2, 2], [cx10, h1]], [[2, 2], [h0, swap]]],
            "1_1": [[[2, 2], [cx01, swap]], [[2, 3], [cx10, h1, swap]], [[1, 1], [h0]]],
        },
    ]


def test_width_is_per_circuit(tmp_path):
    cls = [pair([instr("x", 2)], [0, 1, 2]), pair([instr("h", 2), instr("z", 2), instr("h", 2)], [0, 1, 2])]
    doc = json.loads(export(tmp_path, load(tmp_path, eccs([cls], 3))))
    assert [c[0] for c in doc[1]["0_0"]] == [[3, 1], [3, 3]]
    empty = json.loads(export(tmp_path, load(tmp_path, eccs([HH], 3))))
    assert empty[1]["0_0"][0] == [[1, 0], []]


@pytest.mark.parametrize(
    "n, names, size", [(1, ["h", "t"], 4), (2, ["h", "t", "cx"], 3), (3, ["h", "cx"], 3), (3, ["x", "cx"], 3)]
)
def test_members_are_equal_up_to_phase(tmp_path, capsys, n, names, size):
    e = generated(n, names, size)
    raw = export(tmp_path, e)
    assert b" " not in raw and not raw.endswith(b"\n")
    first, members = json.loads(raw)
    assert first == [[0], [0]]
    assert list(members) == sorted(members, key=lambda k: k.encode())
    classes = e.to_list()
    exported = [k for k, c in enumerate(classes) if len(c.circuits()) >= 2]
    assert sorted({int(key.split("_")[0], 16) for key in members}) == exported
    permuted = 0
    for key, circuits in members.items():
        k, v = (int(part, 16 if i == 0 else 10) for i, part in enumerate(key.split("_")))
        assert len(circuits) == len(classes[k].circuits())
        if v == 0:
            # The variant based on the representative is the class's circuits.
            text = [[str(i) for i in c] for c in classes[k].circuits()]
            assert [[f"{g}({', '.join(q[1:] for q in qs)})" for g, qs, _ in c[1]] for c in circuits] == text
        else:
            permuted += 1
        unitaries = []
        for (width, count), gate_list in circuits:
            assert count == len(gate_list)
            assert width == 1 + max([int(q[1:]) for _, qs, _ in gate_list for q in qs], default=0)
            unitaries.append(unitary(gate_list, n))
        for u in unitaries[1:]:
            assert equal_up_to_phase(u, unitaries[0]), key
    if "cx" in names:
        assert permuted > 0
    capsys.readouterr()


def test_file_errors_and_replacement(tmp_path):
    e = load(tmp_path, eccs([HH], 1))
    with pytest.raises(OSError) as err:
        e.dump_quartz(str(tmp_path / "missing" / "q.json"))
    assert str(err.value) == "Failed to create file: No such file or directory (os error 2)"
    assert not (tmp_path / "missing").exists()
    with pytest.raises(ValueError, match=r"^Failed to write JSON: No space left on device \(os error 28\)$"):
        e.dump_quartz("/dev/full")
    target = tmp_path / "q.json"
    target.write_bytes(b"old")
    with pytest.raises(trevalon.NativeAbort):
        load(tmp_path, eccs([HH, []], 1)).dump_quartz(str(target))
    assert target.read_bytes() == b"old"
    e.dump_quartz(str(target))
    assert json.loads(target.read_bytes())[1]["0_0"][1][0] == [1, 2]
    assert sorted(os.listdir(tmp_path)) == ["in.bin", "q.json"]
    assert trevalon.ECCs.dump_quartz.__text_signature__ == "($self, filepath)"
    assert "Exports ECCs to Quartz JSON format." in trevalon.ECCs.dump_quartz.__doc__


def test_gate_names_are_escaped(tmp_path):
    m = np.array([[0.6, 0.8], [0.8, -0.6]], dtype=complex)
    trevalon.Gate('q"\\\n\u00e9', [], m)
    doc = export(tmp_path, load(tmp_path, eccs([[pair([], [0]), pair([instr('q"\\\n\u00e9', 0)] * 2, [0])]], 1)))
    assert '["q\\"\\\\\\n\u00e9",["Q0"],["Q0"]]'.encode() in doc
    assert json.loads(doc)[1]["0_0"][1][1][0][0] == 'q"\\\n\u00e9'
