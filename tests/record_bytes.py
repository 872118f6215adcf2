"""A small encoder of the record layout of ECC collections, written from the
format itself so that tests can build hostile and malformed files byte by
byte."""


def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


def text(s):
    b = s.encode() if isinstance(s, str) else s
    return varint(len(b)) + b


def instr(gate, a, b=255):
    return text(gate) + bytes([a, b])


def perm(entries):
    raw = len(entries) << 24
    for i, e in enumerate(entries):
        raw |= e << (3 * i)
    return varint(raw)


def pair(instrs, p):
    return varint(len(instrs)) + b"".join(instrs) + (p if isinstance(p, bytes) else perm(p))


def eccs(classes, nqubits):
    body = b"".join(varint(len(c)) + b"".join(c) for c in classes)
    return varint(len(classes)) + body + varint(nqubits)
