#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. With --sanitize, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer in a build directory of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/release
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${1:-}" == "--sanitize" ]]; then
  build_dir=build/sanitize
  options=(-DCMAKE_BUILD_TYPE=Debug -DREEL_SANITIZE=ON -DREEL_BENCH=OFF)
fi

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
