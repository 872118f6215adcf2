"""The `trevalon` command, run as a user would: in a child process."""
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

import trevalon
from trevalon import cli

import record_bytes as rb

PACKAGE_ROOT = os.path.dirname(trevalon.__path__[0])


def run(*args, cwd=None):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (PACKAGE_ROOT, env.get("PYTHONPATH")) if p)
    return subprocess.run([sys.executable, "-m", "trevalon", *args], env=env, cwd=cwd,
                          capture_output=True, text=True, timeout=600)


def assert_clean_failure(proc, status, message):
    assert proc.returncode == status, proc.stderr
    assert "Traceback" not in proc.stderr
    last = proc.stderr.strip().splitlines()[-1]
    assert last.startswith("trevalon") and "error:" in last, proc.stderr
    assert message in last


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Classes over {h, t, cx} on 3 qubits up to 3 gates, and a prover built from them."""
    d = tmp_path_factory.mktemp("cli")
    records, quartz, prover = d / "eccs.bin", d / "eccs.json", d / "prover.bin"
    gen = run("generate", "-n", "3", "-g", "h,t,cx", "-s", "3", "-o", str(records), "-q", str(quartz))
    assert gen.returncode == 0, gen.stderr
    prove = run("prove", str(records), "-o", str(prover))
    assert prove.returncode == 0, prove.stderr
    return {"dir": d, "records": records, "quartz": quartz, "prover": prover,
            "generate": gen.stdout, "prove": prove.stdout}


@pytest.mark.parametrize("command", [[], ["generate"], ["prove"], ["check"], ["proof"], ["demo"]])
def test_help(command):
    proc = run(*command, "--help")
    assert proc.returncode == 0
    assert proc.stdout.startswith("usage: trevalon" + "".join(" " + c for c in command))


def test_generate_worked_example(tmp_path):
    # One qubit, {h}, up to two gates: the circuits are (), h and h h, and
    # h h equals the empty circuit, so there are two classes and three circuits.
    records = tmp_path / "h.bin"
    proc = run("generate", "-n", "1", "-g", "h", "-s", "2", "-o", str(records), "--all")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines()[0] == "2 classes, 1 with two or more circuits, 3 circuits"
    assert re.match(r"explored \d+, evaluated \d+, offered \d+ in [\d.]+ s, peak memory \d+ MiB$",
                    proc.stdout.splitlines()[1])
    assert "#0 Exploring" not in proc.stdout  # progress lines only with --progress
    eccs = trevalon.ECCs.from_postcard(str(records))
    assert sorted(" ".join(map(str, c)) for ecc in eccs.to_list() for c in ecc.circuits()) == [
        "", "h(0)", "h(0) h(0)"]


def test_generate_writes_what_it_reports(files):
    counts = re.match(r"(\d+) classes, (\d+) with two or more circuits", files["generate"])
    eccs = trevalon.ECCs.from_postcard(str(files["records"]))
    assert len(eccs) == int(counts.group(2)) < int(counts.group(1))
    assert eccs.nqubits == 3
    assert eccs.check() == []
    doc = json.loads(files["quartz"].read_text())
    assert doc[0] == [[0], [0]] and len(doc[1]) >= len(eccs)


def test_generate_naive_explores_every_placement():
    counters = {}
    for flag in ([], ["--naive"]):
        proc = run("generate", "-n", "2", "-g", "h,cx", "-s", "3", *flag)
        assert proc.returncode == 0, proc.stderr
        m = re.match(r"explored (\d+), evaluated (\d+), offered (\d+)", proc.stdout.splitlines()[1])
        counters[bool(flag)] = tuple(map(int, m.groups()))
    explored, evaluated, offered = counters[True]
    # One fixed state and no relabelling: every tried circuit is offered once,
    # and placements that the permutation-aware search merges are explored apart.
    assert evaluated == offered
    assert explored > counters[False][0]


def test_prove_counts_add_up(files):
    m = re.match(r"inserted (\d+) identities: (\d+) assumed, (\d+) derived", files["prove"])
    assert m, files["prove"]
    inserted, assumed, derived = map(int, m.groups())
    assert inserted == assumed + derived and assumed > 0 and derived > 0
    prover = trevalon.IdentityProver.from_postcard(str(files["prover"]))
    assert len(prover.get_assumed()) == assumed


def test_proof_prints_a_dag_of_identities(files):
    proc = run("proof", str(files["prover"]), "cx(0, 1) t(0) cx(1, 0) cx(0, 1) tdg(1) (1 0)")
    assert proc.returncode == 0, proc.stderr
    head, *entries = proc.stdout.splitlines()
    assert head == "Proof of Identity { cx(0, 1) t(0) cx(1, 0) cx(0, 1) tdg(1) (1 0) }:"
    assert re.match(r"0: Identity \{ cx\(0, 1\) t\(0\) cx\(1, 0\) cx\(0, 1\) tdg\(1\) \(1 0\) \} <- \d+, \d+$",
                    entries[0])
    for i, line in enumerate(entries):
        m = re.match(r"(\d+): Identity \{ (.*) \} <- (ASSUME|(\d+), (\d+))$", line)
        assert m and int(m.group(1)) == i
        if m.group(4):
            assert {int(m.group(4)), int(m.group(5))} <= set(range(len(entries))) - {i}
    assert any(line.endswith("<- ASSUME") for line in entries)


def test_proof_not_derivable(files):
    # The prover knows no rule that mentions s.
    proc = run("proof", str(files["prover"]), "s(0) sdg(0)")
    assert proc.returncode == 1
    assert proc.stdout == "Identity { s(0) sdg(0) (0) } is not derivable within 3 extra gates and 100000 states\n"


def test_check_passes_and_reports_failing_classes(files, tmp_path):
    ok = run("check", str(files["records"]))
    assert ok.returncode == 0, ok.stderr
    assert re.fullmatch(r"0 of \d+ classes fail the check\n", ok.stdout)
    # A class claiming that h equals x is caught on a fresh random state.
    bad = tmp_path / "bad.bin"
    bad.write_bytes(rb.eccs([[rb.pair([rb.instr("h", 0)], [0]), rb.pair([rb.instr("x", 0)], [0])]], 1))
    proc = run("check", str(bad))
    assert proc.returncode == 1
    assert proc.stdout.splitlines()[-1] == "1 of 1 classes fail the check"
    assert proc.stdout.startswith("failing class: ")


def test_demo_runs_end_to_end(tmp_path):
    proc = run("demo", "--out", str(tmp_path / "out"))
    assert proc.returncode == 0, proc.stderr
    assert "Proof of Identity {" in proc.stdout and "<- ASSUME" in proc.stdout
    for name in ("eccs.bin", "eccs.json", "prover.bin"):
        assert (tmp_path / "out" / name).stat().st_size > 0
    # The saved files are usable by the other subcommands.
    assert run("check", str(tmp_path / "out" / "eccs.bin")).returncode == 0


def test_no_subcommand_runs_the_demo(tmp_path):
    proc = run(cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    assert (tmp_path / "trevalon-demo" / "prover.bin").exists()


@pytest.mark.parametrize("args, status, message", [
    (["generate", "-n", "0", "-g", "h", "-s", "2"], 2, "must be between 1 and 8, got 0"),
    (["generate", "-n", "9", "-g", "h", "-s", "2"], 2, "must be between 1 and 8, got 9"),
    (["generate", "-n", "x", "-g", "h", "-s", "2"], 2, "invalid integer: 'x'"),
    (["generate", "-n", "2", "-g", "h,frob", "-s", "2"], 2, "unknown gate 'frob'"),
    (["generate", "-n", "2", "-g", "h,,t", "-s", "2"], 2, "empty gate name"),
    (["generate", "-n", "1", "-g", "h,cx", "-s", "2"], 2, "gate cx acts on 2 qubits, more than the 1"),
    (["generate", "-n", "2", "-g", "h", "-s", "-1"], 2, "must be at least 0, got -1"),
    (["generate", "-n", "2", "-g", "h"], 2, "the following arguments are required: -s/--size"),
    (["frobnicate"], 2, "invalid choice: 'frobnicate'"),
    (["prove", "{missing}", "-o", "{dir}/p.bin"], 1, "Failed to open file: No such file or directory"),
    (["prove", "{garbage}", "-o", "{dir}/p.bin"], 1, "Failed to"),
    (["check", "{missing}"], 1, "Failed to open file"),
    (["check", "{dir}"], 1, "Failed to"),
    (["check", "{truncated}"], 1, "Failed to read postcard data"),
    (["proof", "{missing}", "h(0) h(0)"], 1, "Failed to open file"),
    (["proof", "{prover}", "cx(0)"], 2, "gate cx takes 2 qubit(s), got 1"),
    (["proof", "{prover}", "h(0, 1)"], 2, "gate h takes 1 qubit(s), got 2"),
    (["proof", "{prover}", "frob(0)"], 2, "unknown gate 'frob'"),
    (["proof", "{prover}", "h(0) h(0"], 2, "unbalanced parenthesis"),
    (["proof", "{prover}", "cx(1, 1)"], 2, "Qubit arguments must be unique"),
    (["proof", "{prover}", "h(8) h(8)"], 2, "qubit indices must be less than 8"),
    (["proof", "{prover}", "h(0) h(0) (0 0)"], 2, "Permutation values must be unique"),
    (["proof", "{prover}", "h(0) (0) h(0)"], 2, "the permutation must come last"),
    (["proof", "{prover}", "h(0)"], 1, "'h(0)' is not an identity"),
    (["proof", "{prover}", " ".join(["h(0)"] * 20)], 2, "at most 19 instructions, this one has 20"),
    (["proof", "{prover}", "h(0) h(0)", "--count-limit", "-5"], 2, "must be at least 0"),
    (["generate", "-n", "1", "-g", "h", "-s", "1", "-o", "{dir}/no/such/dir/x.bin"], 1, "Failed to create file"),
])
def test_failures_are_one_line(files, tmp_path, args, status, message):
    garbage = tmp_path / "garbage.bin"
    garbage.write_bytes(b"\x05not a record file at all\xff\xff\xff\xff")
    truncated = tmp_path / "truncated.bin"
    truncated.write_bytes(files["records"].read_bytes()[:100])
    fill = {"missing": str(tmp_path / "missing.bin"), "garbage": str(garbage), "dir": str(tmp_path),
            "truncated": str(truncated), "prover": str(files["prover"])}
    proc = run(*(a.format(**fill) for a in args))
    assert_clean_failure(proc, status, message)


@pytest.mark.parametrize("text, expected", [
    ("h(0) h(0)", "Circuit { h(0) h(0) (0) }"),
    ("  cx(0, 1)   cx(0,1) ", "Circuit { cx(0, 1) cx(0, 1) (0 1) }"),
    ("rz(pi/3)(1) rz(-pi/3)(1)", "Circuit { rz(pi/3)(1) rz(-pi/3)(1) (0 1) }"),
    ("cx(0, 1) cx(1, 0) cx(0, 1) (1 0)", "Circuit { cx(0, 1) cx(1, 0) cx(0, 1) (1 0) }"),
    ("h(2) (0 1 2)", "Circuit { h(2) (0 1 2) }"),
    ("", "Circuit { (0) }"),
])
def test_parse_circuit_reads_the_display_form(text, expected):
    assert str(cli.parse_circuit(text)) == expected


def test_console_script_is_installed():
    script = shutil.which("trevalon")
    if script is None:
        pytest.skip("the package is not installed with pip here (development build)")
    proc = subprocess.run([script, "--help"], capture_output=True, text=True)
    assert proc.returncode == 0 and proc.stdout.startswith("usage: trevalon")
