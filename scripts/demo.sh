#!/usr/bin/env bash
# Sets up and builds, makes a short sample clip (640 x 480, 29.97 fps AVI with a moving test
# picture and a tone), converts it with reelforge-cli, checks the movie and says where the movie
# and its MP3 are, then plays the movie in Reelview for one pass (in a window when a display is
# present, headless otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target reelforge-cli qrxtool reel_gogo reelview reel_lodestar

out=build/demo
mkdir -p "$out"
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc=size=640x480:rate=30000/1001" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:beep_factor=4" \
  -t 10 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 "$out/sample.avi"
build/release/bin/reelforge-cli --output-dir "$out" "$out/sample.avi"
build/release/bin/qrxtool verify "$out/sample.qrx"
info=$(build/release/bin/qrxtool info --json "$out/sample.qrx")
frames=$(jq -r '.frameCount' <<< "$info")
rate=$(jq -r '.frameRate' <<< "$info")
jq -r '"frames:       \(.frameCount)", "frame rate:   \(.frameRate) fps",
       "picture size: \(.width) x \(.height)", "file size:    \(.fileSize) bytes"' <<< "$info"
echo "Movie: $out/sample.qrx"
echo "Sound: $out/sample.mp3"

# Reelview plays the movies of the folder it runs in, looping until it is closed: close it after
# one pass (the movie's length rounded up, and a second to start), as its close keys would. A movie
# without frames or rate plays for the second alone.
seconds=1
if [[ "$frames" =~ ^[0-9]+$ && "$rate" =~ ^[0-9]+$ && $frames -gt 0 && $rate -gt 0 ]]; then
  seconds=$(( (frames + rate - 1) / rate + 1 ))
fi
if [[ -z "${DISPLAY:-}" ]]; then
  export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
fi
echo "Playing $out/sample.qrx in Reelview for ${seconds}s"
status=0
(cd "$out" && timeout -s TERM "$seconds" ../release/bin/reelview) || status=$?
if [[ $status -ne 0 && $status -ne 124 ]]; then
  echo "Reelview ended with status $status" >&2
  exit 1
fi
echo "Reelview closed; its settings are in $out/video.cfg"
