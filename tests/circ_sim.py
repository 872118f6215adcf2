"""A small, independent NumPy model of circuits with a trailing permutation.

Conventions: qubit q is bit q of a basis-state index; the first argument of
a gate is the most significant bit of the gate matrix index; the trailing
permutation moves the qubit at position q to position perm[q].
"""

import itertools

import numpy as np

import trevalon

_S2 = 1 / np.sqrt(2)
_W = np.exp(1j * np.pi / 4)

# Reference matrices, written out here rather than read from the registry.
MATRICES = {
    "h": np.array([[_S2, _S2], [_S2, -_S2]]),
    "x": np.array([[0, 1], [1, 0]]),
    "z": np.array([[1, 0], [0, -1]]),
    "s": np.diag([1, 1j]),
    "sdg": np.diag([1, -1j]),
    "t": np.diag([1, _W]),
    "tdg": np.diag([1, np.conj(_W)]),
    "cx": np.array([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]),
    "swap": np.array([[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]]),
}
ONE_QUBIT = ["h", "x", "z", "s", "sdg", "t", "tdg"]
GATES = {name: trevalon.Gate.from_name(name) for name in MATRICES}


def gate_on(matrix, qubits, n):
    """The 2^n operator of `matrix` acting on `qubits` (first = high bit)."""
    k = len(qubits)
    dim = 1 << n
    out = np.zeros((dim, dim), dtype=complex)
    for x in range(dim):
        g_in = sum(((x >> q) & 1) << (k - 1 - j) for j, q in enumerate(qubits))
        base = x
        for q in qubits:
            base &= ~(1 << q)
        for g_out in range(1 << k):
            y = base
            for j, q in enumerate(qubits):
                if (g_out >> (k - 1 - j)) & 1:
                    y |= 1 << q
            out[y, x] += matrix[g_out, g_in]
    return out


def perm_op(perm, n):
    """Moves the qubit at position q to perm[q] (fixed points past len)."""
    perm = list(perm) + list(range(len(perm), n))
    dim = 1 << n
    out = np.zeros((dim, dim))
    for x in range(dim):
        y = 0
        for q in range(n):
            if (x >> q) & 1:
                y |= 1 << perm[q]
        out[y, x] = 1
    return out


def unitary(circ, n=None):
    """The full operator of a Circ on n >= circ.nqubits() qubits."""
    if n is None:
        n = circ.nqubits()
    u = np.eye(1 << n, dtype=complex)
    for instr in circ.instrs:
        u = gate_on(MATRICES[instr.gate.name], list(instr.qargs), n) @ u
    return perm_op(circ.perm, n) @ u


def equal_up_to_phase(a, b):
    idx = np.unravel_index(np.argmax(np.abs(b)), b.shape)
    phase = a[idx] / b[idx]
    return abs(abs(phase) - 1) < 1e-9 and np.allclose(a, phase * b, atol=1e-9)


def random_circ(rng, n, length, swaps=True):
    """A random Circ over the reference gates with a random permutation."""
    instrs = []
    for _ in range(length):
        if n >= 2 and rng.random() < 0.4:
            a, b = (int(v) for v in rng.choice(n, size=2, replace=False))
            name = "swap" if swaps and rng.random() < 0.3 else "cx"
            instrs.append(GATES[name](a, b))
        else:
            instrs.append(GATES[ONE_QUBIT[rng.integers(len(ONE_QUBIT))]](int(rng.integers(n))))
    perm = [int(v) for v in rng.permutation(n)]
    return trevalon.Circ(instrs, perm)


def random_identity(rng, n, half):
    """C then C^-1, the latter spelt with explicit SWAPs, and on two or more
    qubits two three-CNOT swaps each undone by a transposition in the
    trailing permutation, all rotated by a random amount: an identity whose
    permutation stays non-trivial (often a 3-cycle, not an involution) once
    the SWAPs are absorbed."""
    c = random_circ(rng, n, half)
    ident = c + trevalon.Circ(c.inverse().instrs_with_swaps(), list(range(n)))
    for _ in range(2 if n >= 2 else 0):
        a, b = (int(v) for v in rng.choice(n, size=2, replace=False))
        transposition = list(range(n))
        transposition[a], transposition[b] = b, a
        ident = ident + trevalon.Circ([GATES["cx"](a, b), GATES["cx"](b, a), GATES["cx"](a, b)], transposition)
    return ident.rotate(int(rng.integers(-len(ident), len(ident) + 1)))


def all_perms(n):
    return [list(p) for p in itertools.permutations(range(n))]


def siphash13(data: bytes) -> int:
    """SipHash-1-3 with a zero key."""
    mask = (1 << 64) - 1

    def rotl(x, b):
        return ((x << b) | (x >> (64 - b))) & mask

    v = [0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573]

    def rnd():
        v[0] = (v[0] + v[1]) & mask
        v[1] = rotl(v[1], 13) ^ v[0]
        v[0] = rotl(v[0], 32)
        v[2] = (v[2] + v[3]) & mask
        v[3] = rotl(v[3], 16) ^ v[2]
        v[0] = (v[0] + v[3]) & mask
        v[3] = rotl(v[3], 21) ^ v[0]
        v[2] = (v[2] + v[1]) & mask
        v[1] = rotl(v[1], 17) ^ v[2]
        v[2] = rotl(v[2], 32)

    tail = len(data) % 8
    for i in range(0, len(data) - tail, 8):
        m = int.from_bytes(data[i : i + 8], "little")
        v[3] ^= m
        rnd()
        v[0] ^= m
    last = ((len(data) & 0xFF) << 56) | int.from_bytes(data[len(data) - tail :], "little")
    v[3] ^= last
    rnd()
    v[0] ^= last
    v[2] ^= 0xFF
    for _ in range(3):
        rnd()
    return v[0] ^ v[1] ^ v[2] ^ v[3]


# Fixed handles of the built-in gates.
GATE_IDS = {"h": 1, "x": 2, "z": 3, "s": 5, "sdg": 6, "t": 7, "tdg": 8, "cx": 9, "swap": 14}


def perm_raw(perm):
    """The packed 32-bit word of a permutation."""
    raw = len(perm) << 24
    for i, e in enumerate(perm):
        raw |= e << (3 * i)
    return raw


def circ_hash_bytes(circ):
    """The byte stream behind circuit and identity hashes."""
    out = len(circ.instrs).to_bytes(4, "little")
    for instr in circ.instrs:
        slots = list(instr.qargs) + [255] * (2 - len(instr.qargs))
        out += GATE_IDS[instr.gate.name].to_bytes(2, "little") + (2).to_bytes(4, "little") + bytes(slots)
    return out + perm_raw(circ.perm).to_bytes(4, "little")
