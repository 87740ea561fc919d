#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. With --sanitize, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer in a build directory of its own; every fuzz harness's seeds are
# replayed as tests in both. With --thread, the tests that run threads (labelled "threads") under
# ThreadSanitizer, in build/thread; any report fails them.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/test.sh [--sanitize | --thread]" >&2
  echo "  --sanitize  build in build/sanitize with AddressSanitizer and UndefinedBehaviorSanitizer" >&2
  echo "  --thread    build in build/thread with ThreadSanitizer and run the tests that use threads" >&2
}

build_dir=build/release
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
selection=()
case $# in
  0) ;;
  1)
    case "$1" in
      --sanitize)
        build_dir=build/sanitize
        options=(-DCMAKE_BUILD_TYPE=Debug -DREEL_SANITIZE=ON -DREEL_BENCH=OFF)
        export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt ${LSAN_OPTIONS:-}"
        ;;
      --thread)
        # Optimised, or the conversions run too slowly under the sanitizer. Only the tests that
        # run threads, and what they start, are built.
        build_dir=build/thread
        options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DREEL_THREAD_SANITIZE=ON -DREEL_BENCH=OFF)
        targets=(--target thread_tests)
        selection=(-L threads)
        # A report makes the process's exit status 66, so the test fails; the suppressions cover
        # system libraries only.
        export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan-suppressions.txt exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
        ;;
      -h|--help) usage; exit 0 ;;
      *) echo "scripts/test.sh: unknown argument: $1" >&2; usage; exit 2 ;;
    esac
    ;;
  *) echo "scripts/test.sh: too many arguments" >&2; usage; exit 2 ;;
esac

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build_dir" "${targets[@]}"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "${selection[@]}"
