"""The `trevalon` command: generate classes, build provers, check and prove.

Every subcommand reports expected failures (a missing or damaged file, an
unknown gate, a circuit that is not an identity) as one line on standard
error and a non-zero exit status, never as a traceback: 2 for a bad command
line, 1 for a failure while doing the work.
"""
from __future__ import annotations

import argparse
import contextlib
import io
import os
import resource
import sys
import time
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from typing import NoReturn, TextIO

from . import (
    ECCs,
    Circ,
    Evaluator,
    Gate,
    IdentityCirc,
    IdentityProver,
    Instr,
    NativeAbort,
    Proof,
    RawECCs,
)

MAX_QUBITS = 8
DEFAULT_ADDITIONAL_SIZE = 3
DEFAULT_COUNT_LIMIT = 100_000
# Rule application cuts identities into pieces through a table of index
# subsets that stops below 20 instructions.
MAX_IDENTITY_LEN = 19

# The embedded default run: large enough to show real classes, small enough
# to finish in seconds on one core.
DEMO_GATES = "h,t,cx"
DEMO_QUBITS = 3
DEMO_SIZE = 7
DEMO_PROVER_SIZE = 3
DEMO_IDENTITY = "cx(0, 1) t(0) cx(1, 0) cx(0, 1) tdg(1) (1 0)"


class CommandError(Exception):
    """An expected failure of a subcommand: reported in one line, exit 1."""


class UsageError(Exception):
    """A bad command-line value found after parsing: reported like argparse, exit 2."""


# ---------------------------------------------------------------- parsing


def parse_gates(text: str, nqubits: int) -> list[Gate]:
    """Gates by display name ("h,t,cx"); each must fit on `nqubits` qubits."""
    names = [name.strip() for name in text.split(",")]
    if not any(names):
        raise UsageError("the gate set is empty")
    gates: list[Gate] = []
    for name in names:
        if not name:
            raise UsageError(f"empty gate name in {text!r}")
        gate = Gate.from_name(name)
        if gate is None:
            raise UsageError(f"unknown gate {name!r}")
        if gate.nqargs > nqubits:
            raise UsageError(
                f"gate {name} acts on {gate.nqargs} qubits, more than the {nqubits} of the circuits"
            )
        if gate.nqargs > 2:
            raise UsageError(f"gate {name} acts on {gate.nqargs} qubits; at most 2 are supported")
        if gate not in gates:
            gates.append(gate)
    return gates


def _read_group(text: str, start: int) -> tuple[str, int]:
    """The text inside the parenthesised group opening at `start`, and the index after it."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return text[start + 1 : i], i + 1
    raise UsageError(f"unbalanced parenthesis at position {start + 1} of {text!r}")


def _parse_ints(group: str, separator: str | None, what: str) -> list[int]:
    items = group.split(separator) if separator else group.split()
    try:
        values = [int(item) for item in items]
    except ValueError:
        raise UsageError(f"expected {what}, got ({group})") from None
    if any(v < 0 for v in values):
        raise UsageError(f"expected {what}, got ({group})")
    return values


def parse_circuit(text: str) -> Circ:
    """A circuit in the display form of its instructions.

    "h(0) cx(0, 1) rz(pi/3)(1)", optionally followed by the trailing
    permutation as a parenthesised list, "(1 0)". Without one, the identity
    permutation over the qubits used is taken.
    """
    instrs: list[Instr] = []
    perm: list[int] | None = None
    i = 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i == len(text):
            break
        if perm is not None:
            raise UsageError(f"the permutation must come last in {text!r}")
        if text[i] == "(":
            group, i = _read_group(text, i)
            perm = _parse_ints(group.replace(",", " "), None, "a permutation of qubit indices")
            continue
        name_start = i
        while i < len(text) and text[i] != "(" and not text[i].isspace():
            i += 1
        name = text[name_start:i]
        groups: list[str] = []
        while i < len(text) and text[i] == "(":
            group, i = _read_group(text, i)
            groups.append(group)
        if not groups:
            raise UsageError(f"expected qubit indices in parentheses after {name!r}")
        gate_text = name + "".join(f"({g})" for g in groups[:-1])
        gate = Gate.from_name(gate_text)
        if gate is None:
            raise UsageError(f"unknown gate {gate_text!r}")
        qubits = _parse_ints(groups[-1], ",", "qubit indices")
        if len(qubits) != gate.nqargs:
            raise UsageError(
                f"gate {gate_text} takes {gate.nqargs} qubit(s), got {len(qubits)} in {name}({groups[-1]})"
            )
        if any(q >= MAX_QUBITS for q in qubits):
            raise UsageError(f"qubit indices must be less than {MAX_QUBITS} in {gate_text}({groups[-1]})")
        try:
            instrs.append(Instr(gate, qubits))
        except NativeAbort as exc:
            raise UsageError(f"{gate_text}({groups[-1]}): {exc}") from None
    if perm is None:
        used = [q for instr in instrs for q in instr.qargs]
        perm = list(range(max(used) + 1 if used else 1))
    try:
        return Circ(instrs, perm)
    except NativeAbort as exc:
        raise UsageError(f"{text!r}: {exc}") from None


def parse_identity(text: str) -> IdentityCirc:
    """The canonical form of an identity given in display form; fails when it is no identity."""
    circ = parse_circuit(text)
    if circ.len() > MAX_IDENTITY_LEN:
        raise UsageError(f"an identity may have at most {MAX_IDENTITY_LEN} instructions, this one has {circ.len()}")
    try:
        return circ.rotate_representative()
    except NativeAbort:
        raise CommandError(f"{text!r} is not an identity (its unitary is not the trailing permutation)") from None


# ---------------------------------------------------------------- the work


@dataclass
class Generated:
    eccs: ECCs
    explored: int
    evaluated: int
    offered: int
    seconds: float


def peak_memory_mib() -> float:
    """Peak resident memory of this process so far (Linux reports KiB)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


@contextlib.contextmanager
def stdout_to(target: TextIO | None) -> Iterator[None]:
    """Sends what the native layer writes to sys.stdout (progress lines) elsewhere, or nowhere."""
    with contextlib.redirect_stdout(target if target is not None else io.StringIO()):
        yield


def generate(nqubits: int, gates: Sequence[Gate], max_size: int, naive: bool, progress: TextIO | None) -> Generated:
    search = RawECCs.generate_naive if naive else RawECCs.generate
    start = time.perf_counter()
    with stdout_to(progress):
        raw, (explored, evaluated, offered) = search(Evaluator(nqubits), list(gates), max_size)
    eccs = raw.simplify()
    return Generated(eccs, explored, evaluated, offered, time.perf_counter() - start)


def circuit_count(eccs: ECCs) -> int:
    return sum(len(ecc.circuits()) for ecc in eccs.to_list())


def inserted_identities(eccs: ECCs) -> set[IdentityCirc]:
    """The distinct identities a prover built from `eccs` inserts."""
    return {identity for identity, _, _ in eccs.to_identity_circuits()}


@dataclass
class BuiltProver:
    prover: IdentityProver
    inserted: int
    assumed: int
    derived: int
    seconds: float


def build_prover(eccs: ECCs) -> BuiltProver:
    start = time.perf_counter()
    prover = IdentityProver.build_from_eccs(eccs)
    seconds = time.perf_counter() - start
    inserted = inserted_identities(eccs)
    assumed = prover.get_assumed()
    derived = len(inserted - set(assumed))
    return BuiltProver(prover, len(inserted), len(assumed), derived, seconds)


def export_proof(
    prover: IdentityProver, identity: IdentityCirc, additional_size: int, count_limit: int, diagnostics: TextIO | None
) -> Proof | None:
    """The proof of `identity`; the tracker's exploration lines go to `diagnostics` (or nowhere)."""
    with stdout_to(diagnostics):
        return prover.export_proof(identity, additional_size, count_limit)


# ---------------------------------------------------------------- output


def print_generated(g: Generated, multi: ECCs, out: TextIO) -> None:
    """The summary of a generation; `multi` is its classes of two or more circuits."""
    print(
        f"{len(g.eccs)} classes, {len(multi)} with two or more circuits, {circuit_count(g.eccs)} circuits",
        file=out,
    )
    print(
        f"explored {g.explored}, evaluated {g.evaluated}, offered {g.offered}"
        f" in {g.seconds:.2f} s, peak memory {peak_memory_mib():.0f} MiB",
        file=out,
    )


def print_prover(b: BuiltProver, out: TextIO) -> None:
    print(
        f"inserted {b.inserted} identities: {b.assumed} assumed, {b.derived} derived"
        f" in {b.seconds:.2f} s",
        file=out,
    )


def print_proof(identity: IdentityCirc, proof: Proof | None, additional_size: int, count_limit: int, out: TextIO) -> bool:
    if proof is None:
        print(
            f"{identity} is not derivable within {additional_size} extra gates and {count_limit} states",
            file=out,
        )
        return False
    print(f"Proof of {identity}:", file=out)
    out.write(str(proof))
    return True


# ---------------------------------------------------------------- subcommands


def cmd_generate(args: argparse.Namespace) -> int:
    gates = parse_gates(args.gates, args.qubits)
    g = generate(args.qubits, gates, args.size, args.naive, sys.stdout if args.progress else None)
    multi = g.eccs.filter_single()
    print_generated(g, multi, sys.stdout)
    written = g.eccs if args.all else multi
    if args.records:
        written.dump_postcard(args.records)
        print(f"wrote {len(written)} classes to {args.records}")
    if args.quartz:
        written.dump_quartz(args.quartz)
        print(f"wrote {len(written)} classes to {args.quartz} (Quartz JSON)")
    return 0


def cmd_prove(args: argparse.Namespace) -> int:
    eccs = ECCs.from_postcard(args.records)
    built = build_prover(eccs)
    built.prover.dump_postcard(args.output)
    print_prover(built, sys.stdout)
    print(f"wrote the prover to {args.output}")
    return 0


def cmd_check(args: argparse.Namespace) -> int:
    eccs = ECCs.from_postcard(args.records)
    failing = eccs.check()
    for ecc in failing:
        print(f"failing class: {ecc}")
    print(f"{len(failing)} of {len(eccs)} classes fail the check")
    return 1 if failing else 0


def cmd_proof(args: argparse.Namespace) -> int:
    prover = IdentityProver.from_postcard(args.prover)
    identity = parse_identity(args.identity)
    # Standard output holds only the proof; exploration lines are diagnostics.
    proof = export_proof(prover, identity, args.additional_size, args.count_limit, sys.stderr)
    return 0 if print_proof(identity, proof, args.additional_size, args.count_limit, sys.stdout) else 1


def cmd_demo(args: argparse.Namespace) -> int:
    out_dir: str = args.out
    os.makedirs(out_dir, exist_ok=True)
    records = os.path.join(out_dir, "eccs.bin")
    quartz = os.path.join(out_dir, "eccs.json")
    prover_path = os.path.join(out_dir, "prover.bin")
    gates = parse_gates(DEMO_GATES, DEMO_QUBITS)

    print(f"Generating classes over {{{DEMO_GATES.replace(',', ', ')}}} on {DEMO_QUBITS} qubits, up to {DEMO_SIZE} gates")
    g = generate(DEMO_QUBITS, gates, DEMO_SIZE, False, None)
    multi = g.eccs.filter_single()
    print_generated(g, multi, sys.stdout)
    multi.dump_postcard(records)
    multi.dump_quartz(quartz)
    print(f"wrote {len(multi)} classes to {records} and {quartz} (Quartz JSON)")
    print()

    print(f"Building a prover from the classes up to {DEMO_PROVER_SIZE} gates")
    small = generate(DEMO_QUBITS, gates, DEMO_PROVER_SIZE, False, None).eccs.filter_single()
    built = build_prover(small)
    built.prover.dump_postcard(prover_path)
    print_prover(built, sys.stdout)
    print(f"wrote the prover to {prover_path}")
    print()

    identity = parse_identity(DEMO_IDENTITY)
    proof = export_proof(built.prover, identity, DEFAULT_ADDITIONAL_SIZE, DEFAULT_COUNT_LIMIT, None)
    return 0 if print_proof(identity, proof, DEFAULT_ADDITIONAL_SIZE, DEFAULT_COUNT_LIMIT, sys.stdout) else 1


# ---------------------------------------------------------------- parser


def _bounded_int(low: int, high: int | None) -> Callable[[str], int]:
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid integer: {text!r}") from None
        if value < low or (high is not None and value > high):
            bound = f"between {low} and {high}" if high is not None else f"at least {low}"
            raise argparse.ArgumentTypeError(f"must be {bound}, got {value}")
        return value

    return convert


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="trevalon",
        description="Find and prove equalities between small quantum circuits. "
        "Without a subcommand, runs a short demonstration (the same as 'trevalon demo').",
    )
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")

    gen = sub.add_parser(
        "generate",
        help="enumerate circuits and group them into equivalent-circuit classes",
        description="Enumerate every circuit over a gate set up to a size, group equal unitaries "
        "(up to global phase and qubit relabelling) into classes, and write them.",
    )
    gen.add_argument("-n", "--qubits", type=_bounded_int(1, MAX_QUBITS), required=True, help="number of qubits (1 to 8)")
    gen.add_argument("-g", "--gates", required=True, help="gate set by display name, comma-separated, e.g. h,t,cx (adjoints are added)")
    gen.add_argument("-s", "--size", type=_bounded_int(0, None), required=True, help="maximum number of gates in a circuit")
    gen.add_argument("--naive", action="store_true", help="use the naive search (every placement of every circuit)")
    gen.add_argument("-o", "--records", metavar="FILE", help="write the classes to FILE as binary records")
    gen.add_argument("-q", "--quartz", metavar="FILE", help="write the classes to FILE as Quartz ECC-set JSON")
    gen.add_argument("--all", action="store_true", help="also write classes of a single circuit")
    gen.add_argument("--progress", action="store_true", help="show the search's progress lines")
    gen.set_defaults(parser=gen, run=cmd_generate)

    prove = sub.add_parser(
        "prove",
        help="build an identity prover from a record file of classes",
        description="Build an identity prover from the classes in a record file and save it.",
    )
    prove.add_argument("records", metavar="RECORDS", help="record file of classes (from 'trevalon generate -o')")
    prove.add_argument("-o", "--output", metavar="FILE", required=True, help="where to save the prover")
    prove.set_defaults(parser=prove, run=cmd_prove)

    check = sub.add_parser(
        "check",
        help="re-check a record file of classes on fresh random states",
        description="Re-simulate every class of a record file on a fresh random state and report "
        "the classes whose circuits no longer agree. Exit status 1 when any class fails.",
    )
    check.add_argument("records", metavar="RECORDS", help="record file of classes")
    check.set_defaults(parser=check, run=cmd_check)

    proof = sub.add_parser(
        "proof",
        help="print the proof of an identity from a saved prover",
        description="Load a prover and print the proof of an identity, or say that it is not "
        "derivable within the limits (exit status 1).",
    )
    proof.add_argument("prover", metavar="PROVER", help="prover file (from 'trevalon prove')")
    proof.add_argument(
        "identity",
        metavar="IDENTITY",
        help='instructions in display form, e.g. "cx(0, 1) t(0) cx(0, 1) tdg(0)", optionally followed by '
        'the trailing permutation, e.g. "(1 0)"',
    )
    proof.add_argument("--additional-size", type=_bounded_int(0, None), default=DEFAULT_ADDITIONAL_SIZE,
                       help="how many gates longer than the identity the search may go (default %(default)s)")
    proof.add_argument("--count-limit", type=_bounded_int(0, None), default=DEFAULT_COUNT_LIMIT,
                       help="most states a search may visit (default %(default)s)")
    proof.set_defaults(parser=proof, run=cmd_proof)

    demo = sub.add_parser(
        "demo",
        help="generate, save, build a prover and print a proof, in seconds",
        description=f"Generate the classes over {{{DEMO_GATES}}} on {DEMO_QUBITS} qubits up to "
        f"{DEMO_SIZE} gates, write them as records and Quartz JSON, build a prover from the "
        f"classes up to {DEMO_PROVER_SIZE} gates, and print one proof.",
    )
    demo.add_argument("--out", metavar="DIR", default="trevalon-demo", help="directory for the files (default %(default)s)")
    demo.set_defaults(parser=demo, run=cmd_demo)
    return parser


def _one_line(exc: BaseException) -> str:
    text = " ".join(str(exc).split())
    return text if len(text) <= 300 else text[:297] + "..."


def _fail(parser: argparse.ArgumentParser, message: str) -> NoReturn:
    parser.exit(1, f"{parser.prog}: error: {message}\n")


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command is None:
        args = parser.parse_args(["demo", *(argv or [])])
    command_parser: argparse.ArgumentParser = args.parser
    run: Callable[[argparse.Namespace], int] = args.run
    try:
        return run(args)
    except UsageError as exc:
        command_parser.error(str(exc))
    except (CommandError, OSError, ValueError, NativeAbort) as exc:
        _fail(parser, _one_line(exc))
    except KeyboardInterrupt:
        parser.exit(130, f"{parser.prog}: interrupted\n")
