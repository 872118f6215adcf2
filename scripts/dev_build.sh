#!/usr/bin/env bash
# Developer build without installing: builds the module (and the C++ tests)
# in BUILD_DIR and lays out an importable package in BUILD_DIR/pkg.
#   bash scripts/dev_build.sh /tmp/build-me
#   PYTHONPATH=/tmp/build-me/pkg python3 -m pytest -q tests
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: dev_build.sh BUILD_DIR [cmake args...]}"
shift
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTREVALON_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python3)" "$@" > /dev/null
cmake --build "$build" --parallel
mkdir -p "$build/pkg/trevalon"
# The stubs and the py.typed marker come along, so type checkers see the
# dev build as they would an installed package.
for f in "$src"/python/trevalon/*.py "$src"/python/trevalon/*.pyi "$src"/python/trevalon/py.typed; do
  ln -sf "$f" "$build/pkg/trevalon/"
done
ln -sf "$build"/trevalon.cpython-*.so "$build/pkg/trevalon/"
