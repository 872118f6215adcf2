"""Bad-input sweep over the public API, run as a child process by test_sweep.py.

Every call is announced on stdout (flushed) before it is made, so if the
process dies the parent can name the call that killed it. A call passes when it
returns or raises an ordinary exception or NativeAbort; anything escaping the
sweep loop other than that is a failure of the child.

    python3 tests/sweep_calls.py CLASS [CLASS ...]
"""
import inspect
import os
import sys
import tempfile

import numpy as np

import trevalon
from trevalon import (Argument, Circ, ECCs, Evaluator, Gate, IdentityCirc, IdentityProver,
                      Instr, Instruction, Proof, RawECCs, StateVec)

CLASSES = ("Argument", "Instruction", "Gate", "Instr", "StateVec", "ECC", "ECCs", "RawECCs",
           "Evaluator", "Circ", "IdentityCirc", "IdentityProver", "Proof")

# Arities the constructors are tried with; methods take theirs from the signature.
CONSTRUCTOR_ARITY = {"Argument": 2, "Instruction": 3, "Gate": 3, "Instr": 2, "StateVec": 1,
                     "RawECCs": 1, "Evaluator": 1, "Circ": 2, "IdentityCirc": 1, "Proof": 1}

# Parameters that bound the work of a search: an in-range value there is a
# legitimate, possibly hours-long request, so only out-of-range values are tried.
WORK_BOUNDS = {"max_size", "additional_size", "count_limit"}

OPERATORS = ("__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__", "__add__", "__radd__",
             "__imul__", "__getitem__", "__setitem__", "__call__", "__len__", "__hash__",
             "__str__", "__repr__", "__iter__", "__contains__", "__delitem__")


def samples():
    h, cx, t = Gate.from_name("h"), Gate.from_name("cx"), Gate.from_name("t")
    ev = Evaluator(2)
    raw = RawECCs.generate(ev, [h, cx], 2)[0]
    eccs = raw.simplify()
    ids = eccs.to_identity_circuits()
    identity = ids[0][0] if ids else IdentityCirc.from_python(
        {"gates": [], "nqubits": 0})
    prover = IdentityProver.build_from_eccs(eccs)
    return {
        "Argument": Argument("q", 0),
        "Instruction": Instruction(h, [Argument("q", 0)], []),
        "Gate": t,
        "Instr": cx(0, 1),
        "StateVec": StateVec.random(2),
        "ECC": eccs.to_list()[0],
        "ECCs": eccs,
        "RawECCs": raw,
        "Evaluator": ev,
        "Circ": Circ([h(0), cx(0, 1)]),
        "IdentityCirc": identity,
        "IdentityProver": prover,
        "Proof": Proof([]),
    }


class Weird:
    """An object that lies about being a sequence and an index."""

    def __len__(self):
        return 10 ** 30

    def __getitem__(self, i):
        raise IndexError(i)

    def __index__(self):
        raise ValueError("no index")


def bad_values(objs, work_bound=False):
    huge = [2 ** 64, -(2 ** 63) - 1, 10 ** 40]
    in_range = [] if work_bound else [255, 65535, 2 ** 32 - 1, 2 ** 63 - 1]
    return ([None, -1, 0, 1, 1.5, float("nan"), 1j, "", "q", "h" * 4096, b"\x00\xff",
             [], (), [None], [-1], [2 ** 64], list(range(300)), ["x"] * 70000, {}, {"a": 1},
             [[0, 1]], np.zeros((2, 3)), Weird(), object()]
            + huge + in_range + list(objs.values()))


def good_value(param, objs):
    h = Gate.from_name("h")
    return {"identity": objs["IdentityCirc"], "evaluator": objs["Evaluator"], "instrs": [h(0)],
            "gates": [h], "eccs": objs["ECCs"], "perm": [1, 0], "filepath": "f.bin",
            "other": objs["Instr"], "mask": 1, "qubit": 0, "gate_id": 0, "n": 1, "index": 0,
            "value": 0j, "num_qubits": 2, "name": "h", "obj": objs["IdentityCirc"].pythonize(),
            }.get(param, 1)


def show(v):
    text = repr(v) if not isinstance(v, (list, str)) or len(v) < 40 else (
        f"<{type(v).__name__} of {len(v)}>")
    return text[:80]


def attempt(label, fn, *args):
    print("CALL " + label + "(" + ", ".join(show(a) for a in args) + ")", flush=True)
    try:
        fn(*args)
    except (Exception, trevalon.NativeAbort):
        pass


def parameters(fn):
    sig = getattr(fn, "__text_signature__", None)
    if not sig:
        return None
    names = [p.strip().split("=")[0] for p in sig.strip("()").split(",")]
    return [n for n in names if n and n not in ("$self", "$type", "/", "*", "*args", "**kwargs")]


def sweep_callable(label, fn, names, objs):
    """Each position in turn gets each bad value; the others get a valid value."""
    for i, name in enumerate(names):
        for v in bad_values(objs, work_bound=name in WORK_BOUNDS):
            args = [good_value(n, objs) for n in names]
            args[i] = v
            attempt(label, fn, *args)
    for k in range(len(names) + 2):
        attempt(label, fn, *([None] * k))
    attempt(label + "[kw]", lambda: fn(**{"bogus": 1}))


def sweep_class(name, objs):
    cls = getattr(trevalon, name)
    me = objs[name]
    with tempfile.TemporaryDirectory() as tmp:
        os.chdir(tmp)
        if name in CONSTRUCTOR_ARITY:
            sweep_callable(f"{name}", cls, [f"a{i}" for i in range(CONSTRUCTOR_ARITY[name])], objs)
        for attr, raw in vars(cls).items():
            if attr.startswith("__") and attr not in OPERATORS:
                continue
            if isinstance(raw, staticmethod):
                fn = getattr(cls, attr)
                sweep_callable(f"{name}.{attr}", fn, parameters(fn) or ["a0"], objs)
            elif inspect.isdatadescriptor(raw):
                attempt(f"{name}.{attr}.get", getattr, me, attr)
                for v in bad_values(objs):
                    # A fresh target, so a successful set leaves the shared samples alone.
                    target = samples_cache_fresh(name)
                    attempt(f"{name}.{attr}.set", setattr, target, attr, v)
                attempt(f"{name}.{attr}.del", delattr, samples_cache_fresh(name), attr)
            elif callable(raw):
                bound = getattr(me, attr) if attr != "__imul__" else getattr(
                    samples_cache_fresh(name), attr)
                names = parameters(raw)
                if names is None:
                    names = ["a0"]
                sweep_callable(f"{name}.{attr}", bound, names, objs)
        for v in bad_values(objs):
            attempt(f"{name} == ", lambda a, b: a == b, me, v)
            attempt(f"{name} + ", lambda a, b: a + b, me, v)
            attempt(f"{name}[]", lambda a, b: a[b], me, v)
            attempt(f"{name} in ", lambda a, b: b in a, me, v)
        attempt(f"hash({name})", hash, me)
        attempt(f"str({name})", str, me)
        attempt(f"repr({name})", repr, me)
        attempt(f"list({name})", lambda a: list(a)[:1000], me)
        os.chdir("/")


def samples_cache_fresh(name):
    """A new object for a call that may mutate it (setters, in-place operators)."""
    cheap = {"Argument": lambda: Argument("q", 0),
             "Instruction": lambda: Instruction(Gate.from_name("h"), [Argument("q", 0)], []),
             "StateVec": lambda: StateVec.random(2),
             "Circ": lambda: Circ([Gate.from_name("h")(0)])}
    return cheap[name]() if name in cheap else samples()[name]


def main(names):
    objs = samples()
    for name in names:
        sweep_class(name, objs)
    # The shared samples must still be usable after the sweep.
    attempt("recheck", lambda: [str(o) for o in objs.values()])
    print("SWEEP DONE", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:] or CLASSES)
