"""How the class count and the search time grow with the maximum circuit size.

Generates the classes over {h, t} on 1 qubit and over {h, t, cx} on 2 and 3
qubits for growing maximum sizes, prints a table, and draws both series
against the size (logarithmic axes) into a PNG.

    pip install matplotlib          # or: pip install '.[plot]'
    python3 bench/plot_sizes.py [--out docs/sizes.png] [--budget 20]

A qubit count stops growing once one size takes more than the budget in
seconds (the next size costs several times more). Seconds are the fastest
wall-clock time of the whole generation (search and simplification), with
all cores in use.
"""
import argparse
import contextlib
import io
import time

from trevalon import Evaluator, Gate, RawECCs

SERIES = [
    (1, ("h", "t"), 30),
    (2, ("h", "t", "cx"), 11),
    (3, ("h", "t", "cx"), 8),
]


def measure(nqubits, names, max_size):
    """Class counts and the fastest of a few runs (one run once a run takes a second)."""
    gates = [Gate.from_name(name) for name in names]
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        with contextlib.redirect_stdout(io.StringIO()):  # progress lines
            raw, _ = RawECCs.generate(Evaluator(nqubits), gates, max_size)
        eccs = raw.simplify()
        best = min(best, time.perf_counter() - start)
        if best > 1.0:
            break
    return len(eccs), len(eccs.filter_single()), best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="docs/sizes.png")
    parser.add_argument("--budget", type=float, default=20.0, help="seconds per size before a series stops")
    args = parser.parse_args()
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (ax_classes, ax_seconds) = plt.subplots(1, 2, figsize=(10, 4))
    print("qubits gates size classes classes-with-2+ seconds")
    for nqubits, names, largest in SERIES:
        sizes, classes, seconds = [], [], []
        for size in range(1, largest + 1):
            total, multi, took = measure(nqubits, names, size)
            print(f"{nqubits} {','.join(names)} {size} {total} {multi} {took:.3f}", flush=True)
            sizes.append(size)
            classes.append(total)
            seconds.append(took)
            if took > args.budget:
                break
        label = f"{nqubits} qubit{'s' if nqubits > 1 else ''}, {{{', '.join(names)}}}"
        ax_classes.plot(sizes, classes, marker="o", label=label)
        ax_seconds.plot(sizes, seconds, marker="o", label=label)
    ax_classes.set(xlabel="maximum circuit size (gates)", ylabel="classes", yscale="log",
                   title="Equivalent-circuit classes")
    ax_seconds.set(xlabel="maximum circuit size (gates)", ylabel="seconds", yscale="log",
                   title="Generation time")
    for ax in (ax_classes, ax_seconds):
        ax.grid(True, which="both", alpha=0.3)
        ax.legend()
    fig.tight_layout()
    fig.savefig(args.out, dpi=100)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main()
