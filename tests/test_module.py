"""Module surface, the abort convention and argument parsing."""
import inspect
import subprocess
import sys

import numpy as np
import pytest

import trevalon
from trevalon import trevalon as native

LANDED_CLASSES = ["Argument", "Instruction", "Gate", "Instr"]


def test_module_exposes_only_classes():
    public = [n for n in dir(native) if not n.startswith("_")]
    assert set(LANDED_CLASSES) <= set(public)
    assert all(isinstance(getattr(native, n), type) for n in public)
    assert not hasattr(native, "OrderInfo")
    assert not hasattr(native, "NativeAbort")
    assert native.__doc__.startswith("Python extension module entrypoint.\n\n")


def test_native_abort_is_a_base_exception_not_an_exception():
    cx = trevalon.Gate.from_name("cx")
    with pytest.raises(BaseException) as info:
        try:
            trevalon.Instr(cx, [0, 0])
        except Exception:  # a bare `except Exception` must not catch it
            pytest.fail("NativeAbort was caught as an Exception")
    assert type(info.value).__name__ == "NativeAbort"
    assert str(info.value) == "Qubit arguments must be unique"
    assert type(info.value) is trevalon.NativeAbort
    # The interpreter stays usable and the next call works.
    assert str(trevalon.Instr(cx, [0, 1])) == "cx(0, 1)"


@pytest.mark.parametrize(
    "obj, signature",
    [
        (trevalon.Gate, "(name, params, matrix)"),
        (trevalon.Instr, "(gate, qargs)"),
        (trevalon.Argument, "(regid, index)"),
        (trevalon.Instruction, "(gate, qargs, cargs=Ellipsis)"),
        (trevalon.Gate.from_name, "(name)"),
        (trevalon.Gate.adjoint, "(self, /)"),
        (trevalon.Instr.apply_permutation, "(self, /, perm)"),
        (trevalon.Instr.pass_mask, "(self, /, mask)"),
    ],
)
def test_text_signatures(obj, signature):
    assert str(inspect.signature(obj)).replace("...", "Ellipsis") == signature


def test_class_docstrings_drop_the_signature():
    assert trevalon.Gate.__doc__ == "Parameterized quantum gate definition used by both search and Python APIs."
    assert trevalon.Instr.__text_signature__ == "(gate, qargs)"



@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: trevalon.Gate(foo=1), "Gate.__new__() got an unexpected keyword argument 'foo'"),
        (lambda: trevalon.Gate("a", [], np.eye(2, dtype=complex), name="b"),
         "Gate.__new__() got multiple values for argument 'name'"),
        (lambda: trevalon.Gate("a", [], np.eye(2, dtype=complex), 4),
         "Gate.__new__() takes 3 positional arguments but 4 were given"),
        (lambda: trevalon.Instruction(1, 2, 3, 4),
         "Instruction.__new__() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: trevalon.Gate(), "Gate.__new__() missing 3 required positional arguments: 'name', 'params', and 'matrix'"),
        (lambda: trevalon.Gate("a"), "Gate.__new__() missing 2 required positional arguments: 'params' and 'matrix'"),
        (lambda: trevalon.Gate("a", []), "Gate.__new__() missing 1 required positional argument: 'matrix'"),
        (lambda: trevalon.Gate.from_name("h").adjoint(1), "Gate.adjoint() takes 0 positional arguments but 1 was given"),
        (lambda: trevalon.Gate.from_name(), "Gate.from_name() missing 1 required positional argument: 'name'"),
    ],
)
def test_argument_parsing_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keyword_arguments_are_accepted():
    g = trevalon.Gate(matrix=np.array([[0, 1], [1, 0]], dtype=complex), params=[], name="n")
    assert g == trevalon.Gate.from_name("x")
    i = trevalon.Instr(qargs=[1], gate=g)
    assert str(i.apply_permutation(perm=[1, 0])) == "x(0)"


def test_conversion_error_is_wrapped_with_parameter_name_and_cause():
    with pytest.raises(TypeError) as info:
        trevalon.Gate("a", "abc", np.eye(2, dtype=complex))
    assert str(info.value).startswith("argument 'params': ")
    assert isinstance(info.value.__cause__, TypeError)
    with pytest.raises(TypeError, match=r"^argument 'name': 'int' object cannot be converted to 'str'$"):
        trevalon.Gate(1, [], np.eye(2, dtype=complex))
    with pytest.raises(TypeError, match=r"^argument 'gate': 'str' object cannot be converted to 'Gate'$"):
        trevalon.Instr("h", [0])


@pytest.mark.parametrize("value", [256, -1, 2**70])
def test_u8_out_of_range_is_overflow(value):
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        trevalon.Instr(trevalon.Gate.from_name("h"), [value])


@pytest.mark.parametrize("value", [1.0, "1", None, [0]])
def test_non_integer_is_type_error(value):
    with pytest.raises(TypeError, match="^argument 'qargs': "):
        trevalon.Instr(trevalon.Gate.from_name("h"), [value])


def test_objects_with_index_are_integers():
    class Two:
        def __index__(self):
            return 2

    assert trevalon.Instr(trevalon.Gate.from_name("h"), [Two()]).qargs == b"\x02"
    assert str(trevalon.Instr(trevalon.Gate.from_name("h"), np.array([3], dtype=np.int64))) == "h(3)"


def test_second_interpreter_is_refused():
    code = (
        "import trevalon, _xxsubinterpreters as si\n"
        "interp = si.create()\n"
        "try:\n"
        "    si.run_string(interp, 'import trevalon')\n"
        "except si.RunFailedError as exc:\n"
        "    print('ImportError' in str(exc))\n"
        "print(trevalon.Gate.from_name('h'))\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["True", "h"]


def test_reimport_returns_the_cached_module():
    code = (
        "import sys, trevalon.trevalon as first\n"
        "del sys.modules['trevalon.trevalon']\n"
        "import trevalon.trevalon as second\n"
        "print(first is second)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "True"
