import itertools
import math

import numpy as np
import pytest

import trevalon

# Gates are deduplicated by matrix, so every gate built here gets a phase of
# its own: otherwise an earlier gate (with other parameters) would come back.
_phases = itertools.count()


def gate_with_params(params):
    phase = np.exp(1j * (2.468 + 0.0137 * next(_phases)))
    return trevalon.Gate("pexpr", params, np.eye(2, dtype=complex) * phase)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("pi/3", math.pi / 3),
        ("-pi/16", -math.pi / 16),
        ("2*pi/3", 2 * math.pi / 3),
        ("  pi / 2 ", math.pi / 2),
        ("sin(pi/2)", 1.0),
        ("sqrt(2)", math.sqrt(2)),
        ("exp(1)", math.e),
        ("ln(1)", 0.0),
        ("2^3^2", 64.0),
        ("-2^2", 4.0),
        ("2^-1", 0.5),
        ("--2", 2.0),
        ("3.", 3.0),
        ("007", 0.0),
        ("2pi", 2.0),
        ("1 - 2 - 3", -4.0),
    ],
)
def test_params_f_values(text, expected):
    assert gate_with_params([text]).params_f == [expected]


def test_params_f_keeps_order():
    assert gate_with_params(["pi", "1.5", "-1"]).params_f == [math.pi, 1.5, -1.0]
    assert gate_with_params([]).params_f == []


@pytest.mark.parametrize(
    "params, message",
    [
        (["1/0"], "DivisionByZero"),
        (["1/(1-1)"], "DivisionByZero"),
        (["theta"], "theta"),
        (["sin pi"], "sin"),
        (["pi", "theta", "1/0"], "theta"),  # the first failing parameter wins
        (["+1"], " --> 1:1\n  |\n1 | +1\n  | ^---\n  |\n  = expected power"),
        (["(1"], " --> 1:3\n  |\n1 | (1\n  |   ^---\n  |\n  = expected plus or mul"),
    ],
)
def test_params_f_errors(params, message):
    gate = gate_with_params(params)
    with pytest.raises(ValueError) as info:
        gate.params_f
    assert str(info.value) == message


def test_params_f_deep_nesting_is_a_value_error():
    gate = gate_with_params(["(" * 100000])
    with pytest.raises(ValueError, match="unknown parsing error"):
        gate.params_f
