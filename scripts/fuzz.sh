#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a bounded time (default 60 s).
# Seed inputs live in tests/fuzz/NAME/corpus; finds are written to build/fuzz/finds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DREEL_FUZZ=ON -DREEL_TESTS=OFF -DREEL_BENCH=OFF >/dev/null
cmake --build build/fuzz

mkdir -p build/fuzz/finds
status=0
for harness in $(find build/fuzz/tests/fuzz -type f -name 'fuzz_*' -perm -u+x | sort); do
  name=$(basename "$harness")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/${name#fuzz_}/corpus
  [[ -d "$seeds" ]] || seeds=""
  echo "== $name for ${seconds}s"
  if ! "$harness" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=10 \
      -artifact_prefix=build/fuzz/finds/"$name"- -print_final_stats=1 "$corpus" $seeds 2>build/fuzz/"$name".log; then
    tail -n 60 build/fuzz/"$name".log
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' build/fuzz/"$name".log | tail -n 2 || true
  fi
done
exit $status
