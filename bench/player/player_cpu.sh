#!/bin/sh
# The CPU share of reelview playing a movie headless: (user + system) / elapsed seconds of the
# whole process, as /usr/bin/time measures it. CPU seconds, not wall time, tell the cost on a
# shared machine.
#
# Usage: bench/player/player_cpu.sh BUILD_BIN_FOLDER SECONDS [SOURCE_FOLDER]
#   BUILD_BIN_FOLDER holds reelview and Lodestar.ovl (build/release/bin).
#   Without SOURCE_FOLDER a 320 x 240 15 fps movie of 30 s with its MP3 is made with the ffmpeg
#   tool and reelforge-cli (from the same folder); otherwise the movies of that folder are played.
#   SDL_VIDEODRIVER and SDL_AUDIODRIVER default to dummy (set them to try others).
set -eu
bin=$(cd "$1" && pwd)
seconds=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
if [ $# -ge 3 ]; then
  cp "$3"/*.qrx "$3"/*.mp3 "$work"/ 2>/dev/null || true
else
  ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=15:duration=30 \
    -f lavfi -i sine=frequency=440:duration=30 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ar 22050 -ac 2 \
    "$work/clip.avi"
  (cd "$work" && "$bin/reelforge-cli" clip.avi >/dev/null 2>&1 && rm clip.avi)
fi
cd "$work"
SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} \
  XDG_RUNTIME_DIR="$work" /usr/bin/time -f "%U %S %e" -o "$work/time.txt" "$bin/reelview" 2>"$work/err.txt" &
player=$!
sleep "$seconds"
# The player (the child of /usr/bin/time) closes normally on SIGTERM.
kill -TERM "$(pgrep -P "$player")"
wait "$player" || true
read -r user system elapsed < "$work/time.txt"
awk -v u="$user" -v s="$system" -v e="$elapsed" 'BEGIN {
  printf "user %.2f s, system %.2f s, elapsed %.2f s: %.2f %% of one core\n", u, s, e, 100 * (u + s) / e }'
