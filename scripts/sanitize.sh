#!/usr/bin/env bash
# Builds the extension and the C++ tests with sanitizers and runs tests against it.
#   bash scripts/sanitize.sh asan [pytest args...]   AddressSanitizer + UBSan, whole suite
#   bash scripts/sanitize.sh tsan [pytest args...]   ThreadSanitizer, C++ tests + thread tests
# BUILD_DIR (default build/sanitize-<mode> in the source tree, so that a clone
# never meets a build directory configured for another tree) holds the build;
# nothing is installed:
# the suite imports the package from BUILD_DIR/pkg.
# The interpreter itself is not instrumented, so the sanitizer runtime (and
# libstdc++, which it must intercept) is preloaded. CPython leaks by design,
# hence detect_leaks=0.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:?usage: sanitize.sh asan|tsan [pytest args...]}"
shift
build="${BUILD_DIR:-$src/build/sanitize-$mode}"

case "$mode" in
  asan) flags=address,undefined; runtime=libasan.so ;;
  tsan) flags=thread; runtime=libtsan.so ;;
  *) echo "unknown mode: $mode (asan or tsan)" >&2; exit 2 ;;
esac

bash "$src/scripts/dev_build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTREVALON_SANITIZE="$flags"
preload="$(g++ -print-file-name="$runtime") $(g++ -print-file-name=libstdc++.so)"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# libtbb is not instrumented, so TSan cannot see the pool's own
# synchronisation (task stealing in the partitioner): suppress reports whose
# racing access is inside TBB; races in our code still fail the run.
supp="$build/tsan.supp"
printf 'race:tbb::detail::\nrace:libtbb.so\n' > "$supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp"

"$build/trevalon_cpp_tests" --gtest_brief=1

tests=("$src/tests")
[ "$mode" = tsan ] && tests=("$src/tests/test_threads.py")
cd /tmp
LD_PRELOAD="$preload" PYTHONPATH="$build/pkg" python3 -m pytest -q -p no:cacheprovider \
  "${tests[@]}" "$@"
