#!/usr/bin/env bash
# The CPU share of reelview playing a movie: (user + system) / elapsed seconds of the whole
# process, start-up and exit included, as the build's process_times measures it (to the
# microsecond; /usr/bin/time, to the hundredth, where the build has none). CPU seconds, not wall
# time, tell the cost on a shared machine. Beside it, from the threads' counters just before the player
# is told to close: wake-ups per second (voluntary context switches: each is one sleep that ended)
# and all context switches per second.
#
# Usage: bench/player/player_cpu.sh [--today TODAY_BIN] [--before BEFORE_BIN] [--xvfb] [--runs N] BIN SECONDS [SOURCE]
#   BIN holds reelview and Lodestar.ovl (build/release/bin, with its lib/ beside it).
#   --today TODAY_BIN  also plays with the reelview of another build (today's), alternating with
#                      BIN run by run, so that both columns come from the same run of the bench.
#   --before BEFORE_BIN  the same for a third build (say, the branch point of a change), labelled
#                      "before".
#   --xvfb             plays once more per run in a real window on a virtual X server (Xvfb); the
#                      X server's own CPU share is told beside it.
#   --runs N           N rounds (default 1); with more than one, each build's median row follows
#                      (by CPU share; the lower middle run for an even N).
#   Without SOURCE a 320 x 240 15 fps movie of 30 s with its MP3 is made with the ffmpeg tool and
#   reelforge-cli (from BIN); otherwise the movies of that folder are played.
#   Headless, SDL_VIDEODRIVER and SDL_AUDIODRIVER default to dummy (set them to try others); under
#   Xvfb the video driver is x11 and the sound driver as headless.
set -euo pipefail

usage() { echo "usage: $0 [--today TODAY_BIN] [--before BEFORE_BIN] [--xvfb] [--runs N] BIN SECONDS [SOURCE]" >&2; exit 2; }

today=""
before=""
xvfb=0
runs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --today) [ $# -ge 2 ] || usage; today=$(cd "$2" && pwd); shift 2 ;;
    --before) [ $# -ge 2 ] || usage; before=$(cd "$2" && pwd); shift 2 ;;
    --xvfb) xvfb=1; shift ;;
    --runs) [ $# -ge 2 ] || usage; runs=$2; shift 2 ;;
    -h|--help) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
bin=$(cd "$1" && pwd)
seconds=$2
# The timer of every build's runs: the one BIN's build tree has beside the other benches.
timer_program="$bin/../bench/player/process_times"
work=$(mktemp -d)
xserver=""
cleanup() {
  if [ -n "$xserver" ]; then kill "$xserver" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/movies"
if [ $# -ge 3 ]; then
  cp "$3"/*.qrx "$3"/*.mp3 "$work/movies"/ 2>/dev/null || true
else
  ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=15:duration=30 \
    -f lavfi -i sine=frequency=440:duration=30 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ar 22050 -ac 2 \
    "$work/movies/clip.avi"
  (cd "$work/movies" && "$bin/reelforge-cli" clip.avi >/dev/null 2>&1 && rm clip.avi)
fi

if [ "$xvfb" = 1 ]; then
  command -v Xvfb >/dev/null || { echo "$0: Xvfb is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.txt" &
  xserver=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "$0: Xvfb did not start: $(cat "$work/xvfb.txt")" >&2; exit 1; }
  display=":$(cat "$work/display")"
fi

ticks=$(getconf CLK_TCK)
# CPU seconds a process has used so far.
cpu_seconds() { awk -v t="$ticks" '{ sub(/^.*\) /, ""); print ($12 + $13) / t }' "/proc/$1/stat"; }
# Voluntary and all context switches of every thread of a process so far.
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^voluntary_ctxt_switches/ { v += $2 } /^nonvoluntary_ctxt_switches/ { n += $2 }
         END { print v + 0, v + n + 0 }'
}

# play LABEL MODE FOLDER: one run; appends a row to rows.txt.
play() {
  local label=$1 mode=$2 folder=$3 run="$work/run"
  rm -rf "$run" && mkdir -p "$run" && cp "$work/movies"/* "$run"/
  local -a environment=(XDG_RUNTIME_DIR="$run" SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}")
  if [ "$mode" = xvfb ]; then
    environment+=(SDL_VIDEODRIVER=x11 DISPLAY="$display")
  else
    environment+=(SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-dummy}")
  fi
  local xBefore=0
  [ "$mode" = xvfb ] && xBefore=$(cpu_seconds "$xserver")
  local -a timing=(/usr/bin/time -f "%U %S %e" -o "$run/time.txt")
  [ -x "$timer_program" ] && timing=("$timer_program" "$run/time.txt")
  (cd "$run" && exec env "${environment[@]}" "${timing[@]}" \
    "$folder/reelview" 2>"$run/err.txt") &
  local timer=$! player=""
  for _ in $(seq 50); do player=$(pgrep -P "$timer" || true); [ -n "$player" ] && break; sleep 0.1; done
  [ -n "$player" ] || { echo "$0: reelview did not start" >&2; exit 1; }
  sleep "$seconds"
  local voluntary all
  read -r voluntary all < <(switches "$player")
  local started elapsedNow
  started=$(awk '{ sub(/^.*\) /, ""); print $20 }' "/proc/$player/stat")
  elapsedNow=$(awk -v s="$started" -v t="$ticks" '{ print $1 - s / t }' /proc/uptime)
  local xAfter=0
  [ "$mode" = xvfb ] && xAfter=$(cpu_seconds "$xserver")
  # The player closes normally on SIGTERM.
  kill -TERM "$player"
  wait "$timer" || true
  local user system elapsed
  read -r user system elapsed < "$run/time.txt"
  awk -v l="$label" -v m="$mode" -v u="$user" -v s="$system" -v e="$elapsed" -v v="$voluntary" \
      -v a="$all" -v w="$elapsedNow" -v xb="$xBefore" -v xa="$xAfter" 'BEGIN {
    x = m == "xvfb" ? sprintf("%.2f", 100 * (xa - xb) / w) : "-"
    printf "%s %s %.3f %.4f %.4f %.1f %.1f %s\n", m, l, 100 * (u + s) / e, u, s, v / w, a / w, x }' \
    >> "$work/rows.txt"
}

modes=(headless)
[ "$xvfb" = 1 ] && modes+=(xvfb)
for round in $(seq "$runs"); do
  for mode in "${modes[@]}"; do
    [ -n "$today" ] && play today "$mode" "$today"
    [ -n "$before" ] && play before "$mode" "$before"
    play new "$mode" "$bin"
  done
done

echo "reelview, ${seconds} s a run, $runs run(s); target: at most 0.5 % of one core"
echo
echo "| mode | build | CPU % of one core | user s | system s | wake-ups/s | context switches/s | X server % |"
echo "|---|---|---|---|---|---|---|---|"
awk '{ printf "| %s | %s | %.2f | %.3f | %.3f | %.1f | %.1f | %s |\n", $1, $2, $3, $4, $5, $6, $7, $8 }' \
  "$work/rows.txt"
if [ "$runs" -gt 1 ]; then
  for mode in "${modes[@]}"; do
    for label in today before new; do
      # A build not played has no rows; grep's failure must not end the script (pipefail).
      { grep "^$mode $label " "$work/rows.txt" || true; } | sort -k3,3g |
        awk -v m="$mode" -v l="$label" '{ row[NR] = $0 } END {
          if (NR == 0) exit
          split(row[int((NR + 1) / 2)], f, " ")
          printf "| %s | %s, median | %.2f | %.3f | %.3f | %.1f | %.1f | %s |\n", m, l, f[3], f[4], f[5], f[6], f[7], f[8] }'
    done
  done
fi
