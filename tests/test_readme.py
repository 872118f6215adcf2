"""The README's tour runs as written and prints what the README says."""
import os
import re
import subprocess
import sys

import trevalon

README = os.path.join(os.path.dirname(__file__), os.pardir, "README.md")
PACKAGE_ROOT = os.path.dirname(trevalon.__path__[0])


def tour_blocks():
    text = open(README, encoding="utf-8").read()
    section = text.split("## A tour of the Python API", 1)[1].split("\n## ", 1)[0]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    output = re.search(r"```text\n(.*?)```", section, re.S).group(1)
    return code, output


def without_progress(text):
    return "".join(line for line in text.splitlines(keepends=True)
                   if not line.startswith(("#", "Exploring ")))


def test_tour_prints_what_the_readme_shows(tmp_path):
    code, expected = tour_blocks()
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (PACKAGE_ROOT, env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    assert without_progress(proc.stdout) == expected
    # The files the tour writes are real: the class records load back.
    assert len(trevalon.ECCs.from_postcard(str(tmp_path / "eccs.bin"))) == 359
