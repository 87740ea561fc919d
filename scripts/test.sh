#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. With --sanitize, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer in a build directory of its own; every fuzz harness's seeds are
# replayed as tests in both.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/test.sh [--sanitize]" >&2
  echo "  --sanitize  build in build/sanitize with AddressSanitizer and UndefinedBehaviorSanitizer" >&2
}

build_dir=build/release
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case $# in
  0) ;;
  1)
    case "$1" in
      --sanitize)
        build_dir=build/sanitize
        options=(-DCMAKE_BUILD_TYPE=Debug -DREEL_SANITIZE=ON -DREEL_BENCH=OFF)
        ;;
      -h|--help) usage; exit 0 ;;
      *) echo "scripts/test.sh: unknown argument: $1" >&2; usage; exit 2 ;;
    esac
    ;;
  *) echo "scripts/test.sh: too many arguments" >&2; usage; exit 2 ;;
esac

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
