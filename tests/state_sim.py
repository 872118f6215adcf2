"""Independent NumPy state-vector model for the kernel and evaluator tests.

Conventions: qubit q is bit q of an amplitude index; in a gate matrix the
first qubit argument is the most significant bit of the matrix index;
relabelling by a permutation p moves the qubit at position k to p[k].
"""

import numpy as np

import trevalon


def amplitudes(state):
    """The amplitudes of a trevalon.StateVec as a NumPy vector."""
    return np.array([state[i] for i in range(state.len())], dtype=complex)


def to_state(vec):
    """A trevalon.StateVec holding the NumPy vector `vec`."""
    vec = np.asarray(vec, dtype=complex)
    return trevalon.StateVec(list(vec.real), list(vec.imag))


def index_permutation(n, perm):
    """The matrix P with P[y, x] = 1 when y is x with bit k moved to perm[k]."""
    dim = 1 << n
    p = np.zeros((dim, dim))
    for x in range(dim):
        y = 0
        for k in range(n):
            if (x >> k) & 1:
                y |= 1 << perm[k]
        p[y, x] = 1
    return p


def full_unitary(matrix, qubits, n):
    """The 2^n operator of `matrix` on `qubits`, built with numpy.kron.

    kron(matrix, I) acts on the layout whose top bits are the arguments,
    first argument highest; the layout change moves argument j to bit
    n-1-j and the remaining qubits, in order, to the low bits.
    """
    k = len(qubits)
    rest = [q for q in range(n) if q not in qubits]
    layout = [0] * n
    for j, q in enumerate(qubits):
        layout[q] = n - 1 - j
    for pos, q in enumerate(rest):
        layout[q] = pos
    p = index_permutation(n, layout)
    return p.T @ np.kron(np.asarray(matrix), np.eye(1 << (n - k))) @ p


def circuit_unitary(instrs, n):
    """The unitary of a list of trevalon.Instr, first instruction applied first."""
    u = np.eye(1 << n, dtype=complex)
    for instr in instrs:
        u = full_unitary(instr.gate.matrix, list(instr.qargs), n) @ u
    return u


def phase_normalized(vec):
    """`vec` with its global phase removed the way normalize_arg does for a
    nonzero first amplitude: amplitude 0 real and positive."""
    vec = np.asarray(vec, dtype=complex)
    ref = vec[0] if abs(vec[0]) >= 2.0**-24 else vec[-1]
    return vec * (np.conj(ref) / abs(ref))


def random_unitary(dim, rng):
    """A Haar-ish random unitary from the QR decomposition of a Gaussian matrix."""
    z = rng.normal(size=(dim, dim)) + 1j * rng.normal(size=(dim, dim))
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / np.abs(np.diag(r)))
