#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and UndefinedBehaviorSanitizer, in
# build/fuzz) and runs each in turn for a bounded time, then prints a table of executions, speed
# and coverage per harness.
#
#   scripts/fuzz.sh [SECONDS] [NAME...]
#   scripts/fuzz.sh [--time SECONDS] [--cpu SECONDS] [--runs N] [--deep] [--merge] [NAME...]
#
# SECONDS is the wall time per harness (60 by default). --cpu ends a run after that much processor
# time of the harness instead (user and system, all threads), so that a run on a busy machine still
# gets its share; --runs ends it after N executions. --deep is the long run: ten million
# executions or one processor-hour, whichever comes first. NAMEs pick harnesses (the folder names
# under tests/fuzz: frame_decoder, qrx_reader, ...); without any, every harness runs. The table gives
# executions per second of the run and per second of processor time: on a machine shared with other
# work the second is the harness's own speed.
#
# Each harness starts from its seeds (tests/fuzz/NAME/corpus) and its working corpus
# (build/fuzz/corpus/fuzz_NAME), which grows from run to run. A file tests/fuzz/NAME/fuzz.options
# adds libFuzzer flags for that harness (one line). Finds go to build/fuzz/finds, logs to
# build/fuzz/fuzz_NAME.log. With --merge, after its run each harness's working corpus is merged
# into its seeds: only inputs that reach code the seeds do not are copied into
# tests/fuzz/NAME/corpus.
#
# The exit status is 1 when any harness found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

seconds=
cpu_limit=0
runs_limit=-1
merge=0
names=()
while (($#)); do
  case "$1" in
    -t | --time)
      [[ $# -ge 2 ]] || usage
      seconds=$2
      shift 2
      ;;
    --cpu)
      [[ $# -ge 2 && "$2" =~ ^[0-9]+$ ]] || usage
      cpu_limit=$2
      shift 2
      ;;
    --runs)
      [[ $# -ge 2 && "$2" =~ ^[0-9]+$ ]] || usage
      runs_limit=$2
      shift 2
      ;;
    --deep)
      cpu_limit=3600
      runs_limit=10000000
      shift
      ;;
    --merge)
      merge=1
      shift
      ;;
    -h | --help) usage ;;
    -*) usage ;;
    *)
      if [[ ${#names[@]} -eq 0 && "$1" =~ ^[0-9]+$ ]]; then
        seconds=$1
      else
        names+=("$1")
      fi
      shift
      ;;
  esac
done
# A processor-time or execution limit alone runs without a wall-time limit.
if [[ -z "$seconds" ]]; then
  if ((cpu_limit > 0 || runs_limit >= 0)); then seconds=0; else seconds=60; fi
elif [[ ! "$seconds" =~ ^[0-9]+$ || "$seconds" -eq 0 ]]; then
  echo "fuzz.sh: the time must be a whole number of seconds" >&2
  exit 2
fi

every=()
for folder in tests/fuzz/*/; do
  [[ -f "$folder/CMakeLists.txt" ]] && every+=("$(basename "$folder")")
done
if [[ ${#names[@]} -eq 0 ]]; then
  names=("${every[@]}")
fi
targets=()
for name in "${names[@]}"; do
  if [[ ! -f "tests/fuzz/$name/CMakeLists.txt" ]]; then
    echo "fuzz.sh: no harness named $name (harnesses: ${every[*]})" >&2
    exit 2
  fi
  targets+=("fuzz_$name")
done

scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DREEL_FUZZ=ON -DREEL_TESTS=OFF -DREEL_BENCH=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]}"

# Sends SIGTERM to process $1 once it has used $2 seconds of processor time, and then creates file
# $3. libFuzzer takes SIGTERM as the end of the run and prints its final statistics.
stop_after_cpu() {
  local pid=$1 limit=$2 flag=$3 ticks used
  ticks=$(getconf CLK_TCK)
  while [[ -r /proc/$pid/stat ]]; do
    # Fields 14 and 15, user and system time, count every thread; the command name (field 2) may
    # hold spaces, so count from its closing parenthesis.
    used=$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | awk -v t="$ticks" '{printf "%d", ($12 + $13) / t}')
    if [[ -n "$used" ]] && ((used >= limit)); then
      : >"$flag"
      kill -TERM "$pid" 2>/dev/null
      return
    fi
    sleep 2
  done
}

# The last value of a "stat::NAME: VALUE" line, and the last "cov: N ft: M" of the status lines.
final_stat() { grep -E "^stat::$2:" "$1" | tail -n 1 | awk '{print $2}'; }
last() { grep -oE "$2: [0-9]+" "$1" | tail -n 1 | awk '{print $2}'; }

mkdir -p build/fuzz/finds
# Leaks inside system libraries, which no harness can free, are not findings.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt ${LSAN_OPTIONS:-}"
status=0
summary=()
for name in "${names[@]}"; do
  harness=$(find build/fuzz/tests/fuzz -type f -name "fuzz_$name" -perm -u+x | head -n 1)
  [[ -n "$harness" ]] || { echo "fuzz.sh: fuzz_$name was not built" >&2; exit 1; }
  corpus=build/fuzz/corpus/fuzz_$name
  seeds=tests/fuzz/$name/corpus
  log=build/fuzz/fuzz_$name.log
  mkdir -p "$corpus"
  options=()
  [[ -f "tests/fuzz/$name/fuzz.options" ]] && read -r -a options <"tests/fuzz/$name/fuzz.options"
  limits=()
  ((seconds > 0)) && limits+=("${seconds}s")
  ((cpu_limit > 0)) && limits+=("${cpu_limit} processor-s")
  ((runs_limit >= 0)) && limits+=("$runs_limit executions")
  echo "== fuzz_$name until ${limits[*]} (load: $(cut -d' ' -f1-3 /proc/loadavg))"
  result=ok
  stopped=build/fuzz/fuzz_$name.stopped
  rm -f "$stopped"
  /usr/bin/time -f '%U %S' -o "$log.cpu" "$harness" -max_total_time="$seconds" -runs="$runs_limit" \
    -rss_limit_mb=4096 -timeout=10 "${options[@]}" -artifact_prefix=build/fuzz/finds/fuzz_"$name"- \
    -print_final_stats=1 "$corpus" "$seeds" 2>"$log" &
  timer=$!
  watcher=
  if ((cpu_limit > 0)); then
    sleep 0.5
    stop_after_cpu "$(pgrep -P "$timer" | head -n 1)" "$cpu_limit" "$stopped" &
    watcher=$!
  fi
  exit_code=0
  wait "$timer" || exit_code=$?
  if [[ -n "$watcher" ]]; then
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
  fi
  # 72 is libFuzzer's exit status for a run ended by a signal: the processor-time limit.
  if ((exit_code != 0)) && ! [[ $exit_code -eq 72 && -f "$stopped" ]]; then
    tail -n 60 "$log"
    result=FOUND
    status=1
  fi
  rm -f "$stopped"
  runs=$(final_stat "$log" number_of_executed_units)
  speed=$(final_stat "$log" average_exec_per_sec)
  cpu=$(awk -v runs="${runs:-0}" '/^[0-9.]+ [0-9.]+$/ {t = $1 + $2; if (t > 0) printf "%d", runs / t; else print "?"}' "$log.cpu")
  cpu_seconds=$(awk '/^[0-9.]+ [0-9.]+$/ {printf "%d", $1 + $2}' "$log.cpu")
  summary+=("$(printf '%-16s %12s %8s %10s %10s %8s %8s %8s  %s' "$name" "${runs:-?}" "${cpu_seconds:-?}" \
    "${speed:-?}" "${cpu:-?}" \
    "$(last "$log" cov)" "$(last "$log" ft)" "$(find "$corpus" -type f | wc -l)" "$result")")
  if ((merge)) && [[ $result == ok ]]; then
    # Edges only (no hit counts), so that the seeds stay few.
    "$harness" -merge=1 -use_counters=0 "${options[@]}" "$seeds" "$corpus" 2>>"$log" >/dev/null
  fi
done

echo
printf '%-16s %12s %8s %10s %10s %8s %8s %8s  %s\n' harness executions cpu-s exec/s exec/cpu-s cov ft corpus \
  result
printf '%s\n' "${summary[@]}"
exit $status
