#!/usr/bin/env bash
# Installs everything trevalon needs on a fresh Debian machine, then builds
# and installs the package. Safe to run again: it skips what is present.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang and its runtime libraries build the libFuzzer harnesses that the
# test suite runs for a few seconds each.
apt_packages=(g++ cmake libtbb-dev libabsl-dev nlohmann-json3-dev libgtest-dev clang libclang-rt-14-dev)
missing=()
for pkg in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

python3 -m pip install -q --disable-pip-version-check \
  "numpy>=1.26" "pytest>=7" "scikit-build-core>=0.10" "cmake>=3.24" ninja
# mypy checks the shipped type stubs against the built module (tests/test_stubs.py).
python3 -m pip install -q --disable-pip-version-check "mypy>=1.16"
# Build isolation would fetch the build requirements again on every run;
# they are installed above, so build against them directly.
python3 -m pip install -q --disable-pip-version-check --no-build-isolation .
