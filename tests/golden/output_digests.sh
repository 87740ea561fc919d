#!/usr/bin/env bash
# Converts the demo clip and every video file of the shared media folder at two settings and
# compares each movie's and companion's SHA-256 with the stored list beside this script, so that
# work on speed or structure provably changes no output byte.
#
#   output_digests.sh BIN_DIR SCRATCH [--update]
#
# BIN_DIR holds reelforge-cli and its modules. With --update the list is written anew instead
# (after a change that is meant to change outputs; say which files changed and why).
# Exit 77 (skipped) when the ffmpeg tool is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$1
scratch=$2/output_digests
update=${3:-}
list=$here/output_digests.txt
media=$here/../../../shared/media

command -v ffmpeg >/dev/null || { echo "skipped: the ffmpeg tool is not installed"; exit 77; }
rm -rf "$scratch"
mkdir -p "$scratch/src"

# The demo clip, made as scripts/demo.sh makes it.
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc=size=640x480:rate=30000/1001" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:beep_factor=4" \
  -t 10 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 "$scratch/src/demo_sample.avi"
sources=("$scratch/src/demo_sample.avi")
if [[ -d $media ]]; then
  while IFS= read -r f; do sources+=("$f"); done < <(
    find "$media" -maxdepth 1 -type f \( -name '*.avi' -o -name '*.mpg' -o -name '*.mp4' \
      -o -name '*.mov' -o -name '*.mkv' -o -name '*.webm' -o -name '*.ogv' -o -name '*.flv' \) | sort)
else
  echo "note: the shared media folder ($media) is absent; only the demo clip is checked"
fi

# Setting "default": the dialog's defaults. Setting "wide": every other choice at once.
declare -A settings=(
  [default]=""
  [wide]="--size 640x480 --quality 5 --frame-rate max --rate 44.1 --mono --bitrate 7 --encoder ogg --playback-mode time"
)
actual=$scratch/digests.txt
: > "$actual"
for name in default wide; do
  out=$scratch/$name
  mkdir -p "$out"
  # shellcheck disable=SC2086
  "$bin/reelforge-cli" --jobs 2 --progress-fd 9 ${settings[$name]} --output-dir "$out" "${sources[@]}" \
    9>/dev/null > "$scratch/$name.log" 2>&1 || { cat "$scratch/$name.log"; exit 1; }
  (cd "$out" && sha256sum -- * | sed "s|  |  $name/|") >> "$actual"
done
sort -k2 -o "$actual" "$actual"

if [[ $update == --update ]]; then
  [[ -d $media ]] || { echo "refusing to update without the shared media folder" >&2; exit 1; }
  cp "$actual" "$list"
  echo "wrote $(wc -l < "$list") digests to $list"
  exit 0
fi
expected=$scratch/expected.txt
if [[ -d $media ]]; then
  cp "$list" "$expected"
else
  grep ' \(default\|wide\)/demo_sample\.' "$list" > "$expected"
fi
if ! diff -u "$expected" "$actual"; then
  echo "outputs differ from the stored digests (lines with - are expected, + are made now)" >&2
  exit 1
fi
echo "$(wc -l < "$actual") outputs identical to the stored digests"
