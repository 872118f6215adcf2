#!/usr/bin/env bash
# Builds the extension and the C++ tests with sanitizers and runs tests against it.
#   bash scripts/sanitize.sh asan [pytest args...]   AddressSanitizer + UBSan, whole suite
#   bash scripts/sanitize.sh tsan [pytest args...]   ThreadSanitizer, whole suite
# (pytest args narrow the Python suite, e.g. -k test_threads).
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
# libtbb is not instrumented: src/utils/parallel_for.h tells TSan the
# ordering the pool guarantees and has it ignore TBB's own scheduling code,
# so TBB needs no suppression and our code, in task bodies or not, is fully
# checked. The one suppression: CPython's threads are detached, so nothing
# TSan sees orders a finished thread's exit (its thread_local destructors)
# before glibc frees that thread's TLS block when a new thread reuses its
# stack; glibc does that only after the kernel reported the exit.
supp="$build/tsan.supp"
printf 'race:_dl_deallocate_tls\n' > "$supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp"

"$build/trevalon_cpp_tests" --gtest_brief=1

if [ "$mode" = tsan ]; then
  # A clean run means something only if races between task bodies are still
  # reported: run each planted one alone and require its report.
  for planted in RaceBetweenTaskBodiesIsReported RaceBetweenNestedTaskBodiesIsReported; do
    log="$build/planted-$planted.log"
    if "$build/trevalon_cpp_tests" --gtest_also_run_disabled_tests \
        --gtest_filter="*.DISABLED_$planted" > "$log" 2>&1 ||
        ! grep -q 'WARNING: ThreadSanitizer: data race' "$log"; then
      echo "ThreadSanitizer missed the planted race of $planted (see $log)" >&2
      exit 1
    fi
  done
  echo "planted races between task bodies reported, as they must be"
fi

tests=("$src/tests")
cd /tmp
# Capturing only sys.stdout/stderr leaves file descriptor 2 to the
# sanitizer, so a report that ends the process is not lost with pytest's
# capture file.
LD_PRELOAD="$preload" PYTHONPATH="$build/pkg" python3 -m pytest -q -p no:cacheprovider --capture=sys \
  "${tests[@]}" "$@"
