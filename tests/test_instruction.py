"""Register-style arguments and instructions."""
import os
import subprocess
import sys

import pytest

import trevalon
from trevalon import Argument, Gate, Instruction

h, cx = Gate.from_name("h"), Gate.from_name("cx")


def test_argument_text_equality_hash():
    a = Argument("q", 0)
    assert str(a) == "q[0]" and repr(a) == 'Argument { regid: "q", index: 0 }'
    assert a == Argument("q", 0) and hash(a) == hash(Argument("q", 0))
    assert a != Argument("q", 1) and a != Argument("r", 0)
    with pytest.raises(TypeError):
        a < Argument("q", 1)  # noqa: B015


def test_argument_repr_escapes():
    assert repr(Argument('a"b\\c\n', 2)) == 'Argument { regid: "a\\"b\\\\c\\n", index: 2 }'


def test_argument_setters():
    a = Argument("q", 0)
    a.regid = "c"
    a.index = 5
    assert str(a) == "c[5]"
    with pytest.raises(AttributeError, match="can't delete attribute"):
        del a.regid
    with pytest.raises(OverflowError):
        a.index = -1
    with pytest.raises(TypeError):
        a.regid = 3
    assert str(a) == "c[5]"


def test_argument_index_range():
    assert Argument("q", 2**64 - 1).index == 2**64 - 1
    with pytest.raises(OverflowError):
        Argument("q", 2**64)
    with pytest.raises(OverflowError):
        Argument("q", -1)


def test_instruction_forms():
    i = Instruction(cx, [("q", 0), Argument("q", 1)])
    assert i.cargs == [] and str(i) == "cx q[0], q[1];"
    assert repr(i) == ('Instruction { gate: Gate(9 -> cx), qargs: [Argument { regid: "q", index: 0 }, '
                       'Argument { regid: "q", index: 1 }], cargs: [] }')
    assert str(Instruction(h, [("q", 0)], [("c", 0)])) == "h q[0], c[0];"
    assert str(Instruction(h, [])) == "h ;"
    assert str(Instruction(h, [("q", 0)], cargs=None)) == "h q[0];"


def test_instruction_getters_return_copies():
    i = Instruction(cx, [("q", 0), ("q", 1)])
    i.qargs.append(Argument("z", 9))
    i.qargs[0].index = 7
    assert str(i) == "cx q[0], q[1];"
    i.qargs = [Argument("r", 3)]
    i.gate = h
    assert str(i) == "h r[3];"


def test_instruction_equality_and_hash():
    a = Instruction(cx, [("q", 0), ("q", 1)], [("c", 0)])
    b = Instruction(cx, [Argument("q", 0), Argument("q", 1)], [Argument("c", 0)])
    assert a == b and hash(a) == hash(b)
    assert a != Instruction(cx, [("q", 0), ("q", 1)])
    assert a != Instruction(h, [("q", 0), ("q", 1)], [("c", 0)])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Instruction(h, "q0"), "argument 'qargs': "),
        (lambda: Instruction(h, [1]), "argument 'qargs': 'int' object cannot be converted to 'Union[Argument, Tuple[str, int]]'"),
        (lambda: Instruction(h, [("q", 0, 1)]), "argument 'qargs': 'tuple' object cannot be converted"),
        (lambda: Instruction(h, [("q", "0")]), "argument 'qargs': 'tuple' object cannot be converted"),
        (lambda: Instruction("h", []), "argument 'gate': 'str' object cannot be converted to 'Gate'"),
        (lambda: Instruction(h, [], [3]), "argument 'cargs': "),
    ],
)
def test_instruction_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value).startswith(message)


def test_instruction_setter_takes_arguments_only():
    i = Instruction(h, [("q", 0)])
    with pytest.raises(TypeError):
        i.qargs = [("q", 1)]
    with pytest.raises(TypeError):
        i.gate = "h"
    with pytest.raises(AttributeError, match="can't delete attribute"):
        del i.cargs
    assert str(i) == "h q[0];"


def test_hashes_match_reference_siphash():
    env = dict(os.environ, PYTHONHASHSEED="0")
    code = (
        "import trevalon, struct\n"
        "a = trevalon.Argument('qr', 3)\n"
        "ref = b'qr\\xff' + struct.pack('<Q', 3)\n"
        "i = trevalon.Instruction(trevalon.Gate.from_name('h'), [a], [])\n"
        "ref_i = struct.pack('<H', 1) + struct.pack('<Q', 1) + ref + struct.pack('<Q', 0)\n"
        "print(hash(a) == hash(ref), hash(i) == hash(ref_i))\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)
    assert out.stdout.split() == ["True", "True"]
