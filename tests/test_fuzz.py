"""A few seconds of each libFuzzer harness with a fixed seed, when clang is
available (scripts/fuzz.sh builds them); skipped otherwise."""
import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.mark.skipif(shutil.which("clang++") is None, reason="needs clang for libFuzzer")
@pytest.mark.parametrize("target", ["record", "expression", "identity_record"])
def test_short_fuzz_run(target, tmp_path):
    # The harness builds inside the tree unless FUZZ_BUILD_DIR says otherwise,
    # so a fresh clone never meets a cache configured for another tree.
    env = dict(os.environ, FUZZ_SEED="1")
    if "FUZZ_BUILD_DIR" in os.environ:
        env["BUILD_DIR"] = os.environ["FUZZ_BUILD_DIR"]
    env.pop("LD_PRELOAD", None)
    proc = subprocess.run(["bash", os.path.join(ROOT, "scripts", "fuzz.sh"), target, "3"],
                          env=env, cwd=tmp_path, capture_output=True, text=True, timeout=1800)
    assert proc.returncode == 0, proc.stderr[-4000:]
    assert not list(tmp_path.glob("crash-*"))
