import numpy as np
import pytest

import trevalon


@pytest.fixture
def gates():
    """The built-in gates by display name."""
    return {name: trevalon.Gate.from_name(name) for name in ("i", "h", "x", "z", "y", "s", "sdg", "t", "tdg", "cx", "cz", "swap")}


def random_unitary(dim, rng):
    """A Haar-ish random unitary from the QR decomposition of a Gaussian matrix."""
    z = rng.normal(size=(dim, dim)) + 1j * rng.normal(size=(dim, dim))
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / np.abs(np.diag(r)))


@pytest.fixture
def rng():
    return np.random.default_rng(7)
