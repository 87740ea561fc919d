#!/usr/bin/env bash
# How long reelforge-cli takes to end after a stop request, at random moments of a conversion.
#
#   scripts/stop-latency.sh BIN_DIR SOURCE RUNS LATEST [OPTION...]
#
# Each run converts SOURCE (with the reelforge-cli OPTIONs) into a fresh folder, sends SIGINT or
# SIGTERM (alternately) after a random delay of up to LATEST seconds, and measures the time from
# the signal to the program's end. A run must end with status 128 + the signal (or 0 when the job
# had finished) and leave nothing in the folder but complete files of a finished job. Prints each
# run and the largest latency; exit 1 when a run left something behind.
set -uo pipefail
# Job control: the program runs in a process group of its own and, unlike a background command
# of a script, does not start with SIGINT ignored.
set -m
[[ $# -ge 4 ]] || { sed -n '2,10p' "$0" >&2; exit 2; }
bin=$1 source=$2 runs=$3 latest=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
largest=0 bad=0
for ((run = 1; run <= runs; run++)); do
  out=$work/out && rm -rf "$out" && mkdir -p "$out"
  signal=INT && ((run % 2 == 0)) && signal=TERM
  delay=$(awk -v seed="$RANDOM$run" -v top="$latest" 'BEGIN { srand(seed); printf "%.2f", rand() * top }')
  "$bin/reelforge-cli" -o "$out" "$@" "$source" >"$work/log" 2>&1 &
  pid=$!
  sleep "$delay"
  start=$(date +%s%N)
  kill -"$signal" "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  end=$(date +%s%N)
  latency=$(( (end - start) / 1000000 ))
  left=$(ls -A "$out" | tr '\n' ' ')
  verdict=ok
  if [[ $status -ne 0 && -n $left ]]; then verdict="left: $left"; bad=$((bad + 1)); fi
  echo "run $run: SIG$signal after ${delay} s: ended in $latency ms, status $status, $verdict"
  [[ -n ${SHOW_LOG:-} ]] && tail -c 300 "$work/log"
  ((latency > largest)) && largest=$latency
done
echo "largest latency: $largest ms over $runs runs"
[[ $bad -eq 0 ]]
