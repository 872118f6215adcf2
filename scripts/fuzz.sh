#!/usr/bin/env bash
# Builds one libFuzzer harness (clang, ASan+UBSan) and fuzzes it for a while.
#   bash scripts/fuzz.sh record|expression|identity_record SECONDS [libFuzzer args...]
# Seeds come from tests/fuzz/corpus/<target>/ (read only); new inputs go to
# a scratch corpus in BUILD_DIR. A crash leaves crash-* in the current directory.
# FUZZ_SEED fixes libFuzzer's seed (the test suite uses it for short runs).
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:?usage: fuzz.sh record|expression|identity_record SECONDS}"
seconds="${2:?usage: fuzz.sh record|expression|identity_record SECONDS}"
shift 2
build="${BUILD_DIR:-$src/build/fuzz}"  # inside the tree: never another tree's cache

if ! command -v clang++ > /dev/null; then
  apt-get update -qq && apt-get install -y -qq clang > /dev/null
fi
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREVALON_BUILD_MODULE=OFF -DTREVALON_BUILD_FUZZ=ON > /dev/null
cmake --build "$build" --target "${target}_fuzz"

scratch="$build/corpus-$target"
mkdir -p "$scratch"
"$build/${target}_fuzz" "$scratch" "$src/tests/fuzz/corpus/$target" \
  -max_total_time="$seconds" -max_len=65536 -seed="${FUZZ_SEED:-0}" -print_final_stats=1 "$@"
