#!/usr/bin/env bash
# Every file call a program makes in its output folder is made to fail in turn, and the power is
# cut right after every rename there; after each run the folder must be as it should be.
#
#   scripts/fault-matrix.sh [--quick] BIN_DIR SHIM SCRATCH
#
# BIN_DIR holds reelforge-cli, reelview and qrxtool; SHIM is the built fault library
# (build/release/tests/faults/reel_fault_shim.so); SCRATCH a folder for the runs (emptied first).
# For example, after a build:
#
#   scripts/fault-matrix.sh build/release/bin build/release/tests/faults/reel_fault_shim.so /tmp/faults
#
# Each case is first run once untouched to count its calls of each kind (open, write, pwrite,
# fsync, rename, close). Then, for every kind and every N up to that count, the N-th call fails
# with EIO and, in another run, with ENOSPC. Each such run must exit with status 1 and an error
# naming an output file and the cause, with no temporary, lock or kept-aside file left, every movie
# and its companion both older or both new (for one job: all exactly as before), and the source
# unchanged. Then for every rename a run "loses power" right after it: the data of every file not
# yet flushed is dropped, and every file under its real name must still be whole, the older or
# the new one. --quick runs the AVI case alone (the ctest); without it every case runs:
#   avi        an AVI with an MP3 companion
#   mf-mp3     a file read through the media framework, MP3 companion
#   mf-ogg     the same with an Ogg companion
#   batch      two AVIs at once (--jobs 2), in separate processes
#   player     the player's save of video.cfg at its close
#   export     qrxtool export of a movie to Matroska
# FAULT_CASES="player export" runs only the cases named.
# Exit 0 when every run was clean, 1 otherwise; 77 (skipped) when the ffmpeg tool is missing.
set -uo pipefail

quick=false
if [[ ${1:-} == --quick ]]; then quick=true; shift; fi
[[ $# -eq 3 ]] || { sed -n '2,30p' "$0" >&2; exit 2; }
bin=$(cd "$1" && pwd)
shim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
scratch=$3
command -v ffmpeg >/dev/null || { echo "skipped: the ffmpeg tool is not installed"; exit 77; }
rm -rf "$scratch" && mkdir -p "$scratch" && scratch=$(cd "$scratch" && pwd)
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

kinds=(open write pwrite fsync rename close)
failures=0
summary=()

# A short clip: PICTURE is an ffmpeg test source, TONE a frequency, so that clips differ in content.
clip() {
  local path=$1 picture=$2 tone=$3 seconds=${4:-1}
  local codecs=(-c:v mjpeg -c:a pcm_s16le)
  [[ $path == *.mp4 ]] && codecs=(-c:v mpeg4 -c:a aac)
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$picture=size=160x120:rate=15" \
    -f lavfi -i "sine=frequency=$tone:sample_rate=22050" -t "$seconds" "${codecs[@]}" "$path"
}

# Every file and folder below $1 with the digest of each file, one a line.
snapshot() {
  (cd "$1" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort | while read -r type name; do
    if [[ $type != f ]]; then echo "$name $type"
    # A Matroska file differs from run to run (its segment's random identifier): its size and
    # whether it decodes stand for its content.
    elif [[ $name == *.mkv ]]; then echo "$name $(stat -c %s "$name")-$(ffmpeg -nostdin -v error -i "$name" -f null - 2>&1 | wc -c)"
    else echo "$name $(sha256sum < "$name" | cut -c1-64)"; fi
  done)
}

# --- the cases: prepare_X FOLDER lays out src/ and out/ with older outputs; run_X FOLDER runs it.
prepare_avi() {
  mkdir -p "$1/src" "$1/out" && clip "$1/src/clip.avi" smptebars 300 &&
    (cd "$1" && "$bin/reelforge-cli" -o out src/clip.avi >/dev/null 2>&1) && clip "$1/src/clip.avi" testsrc 440
}
run_avi() { (cd "$1" && "$bin/reelforge-cli" -o out src/clip.avi); }

prepare_mf() {
  mkdir -p "$1/src" "$1/out" && clip "$1/src/clip.mp4" smptebars 300 &&
    (cd "$1" && "$bin/reelforge-cli" -o out $2 src/clip.mp4 >/dev/null 2>&1) && clip "$1/src/clip.mp4" testsrc 440
}
prepare_mf-mp3() { prepare_mf "$1" "--encoder mp3"; }
prepare_mf-ogg() { prepare_mf "$1" "--encoder ogg"; }
run_mf-mp3() { (cd "$1" && "$bin/reelforge-cli" -o out --encoder mp3 src/clip.mp4); }
run_mf-ogg() { (cd "$1" && "$bin/reelforge-cli" -o out --encoder ogg src/clip.mp4); }

prepare_batch() {
  mkdir -p "$1/src" "$1/out" && clip "$1/src/a.avi" smptebars 300 && clip "$1/src/b.avi" smptebars 350 &&
    (cd "$1" && "$bin/reelforge-cli" -j 2 -o out src/a.avi src/b.avi >/dev/null 2>&1) &&
    clip "$1/src/a.avi" testsrc 440 && clip "$1/src/b.avi" testsrc2 550
}
run_batch() { (cd "$1" && "$bin/reelforge-cli" -j 2 -o out src/a.avi src/b.avi); }

prepare_player() {
  mkdir -p "$1/src" "$1/out" && clip "$1/src/a.avi" testsrc 440 &&
    (cd "$1" && "$bin/reelforge-cli" -o out src/a.avi >/dev/null 2>&1) && rm "$1/out/a.mp3" &&
    printf '[MUSIC_CONFIG]\r\nMUSIC_VOL=70\r\n' > "$1/out/video.cfg"
}
# The player plays a moment, is asked to close (SIGTERM, as its close keys do) and saves video.cfg.
run_player() {
  export REEL_FAULT_SKIP_READS=1
  "$bin/reelview" "$1/out/" &
  local pid=$!
  sleep 1.5
  kill -TERM "$pid"
  wait "$pid"
  local status=$?
  unset REEL_FAULT_SKIP_READS
  return $status
}

prepare_export() {
  mkdir -p "$1/src" "$1/out" && clip "$1/src/a.avi" smptebars 300 &&
    (cd "$1" && "$bin/reelforge-cli" -o src src/a.avi >/dev/null 2>&1 && "$bin/qrxtool" export src/a.qrx out/a.mkv >/dev/null 2>&1) &&
    clip "$1/src/a.avi" testsrc 440 && (cd "$1" && "$bin/reelforge-cli" -o src src/a.avi >/dev/null 2>&1)
}
run_export() { (cd "$1" && "$bin/qrxtool" export src/a.qrx out/a.mkv); }

# The name's state after a run: "older", "new", "absent" or "other".
state_of() {
  local name=$1 now=$2 older=$3 new=$4
  local seen old fresh
  seen=$(grep -m1 "^$name " "$now" | cut -d' ' -f2)
  old=$(grep -m1 "^$name " "$older" | cut -d' ' -f2)
  fresh=$(grep -m1 "^$name " "$new" | cut -d' ' -f2)
  if [[ -z $seen && -z $old ]]; then echo absent
  elif [[ -n $seen && $seen == "$old" ]]; then echo older
  elif [[ -n $seen && $seen == "$fresh" ]]; then echo new
  else echo other; fi
}

# Checks the output folder of a run against the older ($2) and the new ($3) snapshots. $4: "whole"
# for a run that failed (every pair older or new, no hidden file), "crash" for a power cut (every
# real name older or new; hidden files may stay, as after any crash). Prints what is wrong.
check_outputs() {
  local now=$1 older=$2 new=$3 how=$4 problems=""
  local names
  names=$(cut -d' ' -f1 "$older" "$new" "$now" | grep '^out/' | grep -v '^out/\.' | sort -u)
  local -A pairState=()
  for name in $names; do
    local state
    state=$(state_of "$name" "$now" "$older" "$new")
    # After a power cut a program's own leftovers may stay; only the real names are judged.
    if [[ $how == crash ]] && ! grep -q "^$name " "$older" "$new"; then continue; fi
    [[ $state == other ]] && problems+=" $name:not-whole"
    local base=${name%.*}
    if [[ $how == whole && ( $name == *.qrx || $name == *.mp3 || $name == *.ogg ) ]]; then
      [[ $state == absent ]] && state=older
      if [[ -n ${pairState[$base]:-} && ${pairState[$base]} != "$state" ]]; then problems+=" $base:mixed-pair"; fi
      pairState[$base]=$state
    fi
  done
  if [[ $how == whole ]]; then
    local hidden
    hidden=$(grep '^out/\.' "$now" | cut -d' ' -f1 | tr '\n' ' ')
    [[ -n $hidden ]] && problems+=" left:$hidden"
  fi
  local source
  source=$(diff <(grep '^src/' "$older") <(grep '^src/' "$now") >/dev/null || echo " source-changed")
  echo "$problems$source"
}

run_case() {
  local name=$1 dir=$scratch/$1
  mkdir -p "$dir"
  if ! "prepare_$name" "$dir/base"; then
    echo "$name: could not prepare the case"; failures=$((failures + 1)); return
  fi
  snapshot "$dir/base" > "$dir/older.txt"
  # One run untouched: the counts, and the new outputs.
  rm -rf "$dir/run" && cp -a "$dir/base" "$dir/run"
  rm -f "$dir/counts"
  if ! REEL_FAULT_SCOPE=$dir/run/out REEL_FAULT_COUNT=$dir/counts LD_PRELOAD=$shim "run_$name" "$dir/run" >"$dir/log" 2>&1; then
    echo "$name: the untouched run failed:"; cat "$dir/log"; failures=$((failures + 1)); return
  fi
  snapshot "$dir/run" > "$dir/new.txt"
  local tried=0 clean=0 crashes=0 line=""
  for kind in "${kinds[@]}"; do
    local count
    count=$(awk -v k="$kind" '$1 == k && $2 > max { max = $2 } END { print max + 0 }' "$dir/counts")
    line+=" $kind=$count"
    for ((at = 1; at <= count; at++)); do
      for error in EIO ENOSPC; do
        rm -rf "$dir/run" && cp -a "$dir/base" "$dir/run"
        REEL_FAULT_SCOPE=$dir/run/out REEL_FAULT_KIND=$kind REEL_FAULT_AT=$at REEL_FAULT_ERRNO=$error LD_PRELOAD=$shim \
          "run_$name" "$dir/run" >"$dir/log" 2>&1
        local status=$? problems="" cause="Input/output error"
        [[ $error == ENOSPC ]] && cause="No space left on device"
        tried=$((tried + 1))
        [[ $status -eq 1 ]] || problems+=" exit:$status"
        grep -q "$cause" "$dir/log" || problems+=" no-cause"
        grep -q "out/" "$dir/log" || problems+=" no-file"
        snapshot "$dir/run" > "$dir/now.txt"
        problems+=$(check_outputs "$dir/now.txt" "$dir/older.txt" "$dir/new.txt" whole)
        if [[ $name != batch ]] && ! diff -q "$dir/older.txt" "$dir/now.txt" >/dev/null; then problems+=" folder-changed"; fi
        if [[ -z $problems ]]; then
          clean=$((clean + 1))
        else
          failures=$((failures + 1))
          echo "$name: $kind #$at $error:$problems"
          sed 's/^/    /' "$dir/log" | head -5
        fi
      done
    done
  done
  local renames
  renames=$(awk '$1 == "rename" && $2 > max { max = $2 } END { print max + 0 }' "$dir/counts")
  for ((at = 1; at <= renames; at++)); do
    rm -rf "$dir/run" && cp -a "$dir/base" "$dir/run"
    REEL_FAULT_SCOPE=$dir/run/out REEL_FAULT_CRASH_AFTER_RENAME=$at LD_PRELOAD=$shim "run_$name" "$dir/run" >"$dir/log" 2>&1
    snapshot "$dir/run" > "$dir/now.txt"
    local problems
    problems=$(check_outputs "$dir/now.txt" "$dir/older.txt" "$dir/new.txt" crash)
    if [[ -z $problems ]]; then
      crashes=$((crashes + 1))
    else
      failures=$((failures + 1))
      echo "$name: power cut after rename #$at:$problems"
    fi
  done
  summary+=("$name: calls$line; $clean of $tried failure runs clean; $crashes of $renames power cuts whole")
}

if $quick; then cases=(avi); else cases=(avi mf-mp3 mf-ogg batch player export); fi
if [[ -n ${FAULT_CASES:-} ]]; then read -r -a cases <<< "$FAULT_CASES"; fi
for c in "${cases[@]}"; do run_case "$c"; done
printf '%s\n' "${summary[@]}"
echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[[ $failures -eq 0 ]]
