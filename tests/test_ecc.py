"""Finished classes: swap materialisation, identities, text forms."""
import numpy as np
import pytest

from trevalon import ECC, ECCs, Evaluator, Gate, IdentityCirc, RawECCs

from circ_sim import equal_up_to_phase, unitary

G = {n: Gate.from_name(n) for n in ("h", "t", "s", "cx", "x", "z")}


@pytest.fixture(scope="module")
def eccs():
    return RawECCs.generate(Evaluator(3), [G["h"], G["t"], G["cx"]], 3)[0].simplify()


def test_identities_are_identities_with_their_witnesses(eccs):
    triples = eccs.to_identity_circuits()
    classes = eccs.to_list()
    assert len(triples) == sum(len(e.circuits()) - 1 for e in classes)
    for identity, initial, circ in triples:
        assert isinstance(identity, IdentityCirc)
        n = max(initial.nqubits(), circ.nqubits())
        # first^-1 followed by the member is the identity operation.
        assert equal_up_to_phase(unitary(initial + circ, n), np.eye(1 << n))
        assert equal_up_to_phase(unitary(identity.inner), np.eye(1 << identity.nqubits()))
    keys = [(t[0], t[1], t[2]) for t in triples]
    assert all(keys[i][0] <= keys[i + 1][0] for i in range(len(keys) - 1))


def test_circuits_materialise_relative_swaps(eccs):
    swap = Gate.from_name("swap")
    for ecc in eccs.to_list():
        circuits = ecc.circuits()
        assert all(i.gate != swap for i in circuits[0])  # the representative gets none
    # Some class relates its members only through a relabelling.
    assert any(i.gate == swap for e in eccs.to_list() for c in e.circuits()[1:] for i in c)


def test_text_forms(eccs):
    ecc = next(e for e in eccs.to_list() if len(e.circuits()) == 2)
    lines = str(ecc).split("\n")
    assert lines[0] == "ECC {" and lines[-1] == "}" and len(lines) == 4
    assert all(line.startswith("\t") and line.endswith(",") for line in lines[1:3])
    text = str(eccs)
    assert text.count(" & ") == len(eccs.filter_single()) - 1
    singles = RawECCs.generate(Evaluator(1), [G["h"]], 1)[0].simplify()
    assert len(singles.filter_single()) == 0 and str(singles) == ""


def test_value_semantics(eccs):
    again = eccs.filter_single()
    assert again == eccs.filter_single() and again != eccs
    assert eccs.to_list()[3] == eccs.to_list()[3]
    assert eccs.to_list()[3] != eccs.to_list()[4]
    assert (eccs == 3) is False
    with pytest.raises(TypeError):
        hash(eccs)
    with pytest.raises(TypeError):
        eccs < eccs  # noqa: B015
    assert len(eccs.filter_single()) <= len(eccs) and eccs.filter_single().nqubits == 3
    with pytest.raises(AttributeError):
        eccs.nqubits = 4


def test_check_of_a_search_passes(eccs):
    assert eccs.check() == []
