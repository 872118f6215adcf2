#!/usr/bin/env bash
# Sets the machine up, builds, and runs every test: the C++ unit tests of the
# core, then the Python suite against the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/cpp-tests
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTREVALON_BUILD_MODULE=OFF -DTREVALON_BUILD_TESTS=ON > /dev/null
cmake --build "$build" --parallel
"$build/trevalon_cpp_tests" --gtest_brief=1

# Run from outside the source tree so `import trevalon` finds the installed
# package (with its native module), not the bare sources in python/.
tests_dir="$(pwd)/tests"
cd /tmp && python3 -m pytest -q "$tests_dir" "$@"

# The same suite against an AddressSanitizer+UBSan build (about 15 minutes,
# mostly the instrumented build).
bash "$tests_dir/../scripts/sanitize.sh" asan
