#!/usr/bin/env bash
# batch_recipe_test.sh REELFORGE_CLI MEDIA_DIR SCRATCH_ROOT
#
# The batch recipe of docs/batch.md, with parallel's local login (":") as the only machine, over
# the shared media's videos: a first batch is interrupted as Ctrl-C interrupts it, then the same
# command is run again, which must convert exactly the sources whose movies are missing and skip
# the others. Every progress line is read by jq and every source's exit status is in the job log.
# Exit 77 when the shared media are absent.
set -euo pipefail
cli=$(realpath "$1")
media=$2
mkdir -p "$3"
work=$(mktemp -d "$3/batch-XXXXXX")
[[ -n "${KEEP_BATCH:-}" ]] || trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ ! -d "$media" ]]; then
  echo "the shared media folder $media is absent" >&2
  exit 77
fi
command -v parallel >/dev/null || fail "GNU parallel is missing: run scripts/install-deps.sh"
command -v jq >/dev/null || fail "jq is missing: run scripts/install-deps.sh"

cd "$work"
mkdir bin movies
ln -s "$cli" bin/reelforge-cli
export PATH=$work/bin:$PATH
find "$media" -maxdepth 1 -type f \( -name '*.avi' -o -name '*.mpg' -o -name '*.mp4' -o -name '*.mov' \
  -o -name '*.mkv' -o -name '*.webm' -o -name '*.ogv' -o -name '*.flv' \) | LC_ALL=C sort > sources.txt
total=$(wc -l < sources.txt)
((total >= 4)) || { echo "fewer than 4 videos in $media" >&2; exit 77; }
echo : > nodes.txt

batch() {
  parallel --sshloginfile nodes.txt --jobs 2 --joblog "$1" --line-buffer \
    reelforge-cli -n --jobs 1 --progress=json --output-dir movies {} \
    :::: sources.txt > "$2"
}
movies() { find movies -name '*.qrx' | wc -l; }

# First batch, in a process group of its own, interrupted once two movies are there.
set -m
batch first.log first.jsonl &
leader=$!
set +m
for _ in $(seq 600); do
  (($(movies) >= 2)) && break
  kill -0 "$leader" 2>/dev/null || break
  sleep 0.1
done
kill -INT -- -"$leader" 2>/dev/null || true
wait "$leader" || true
# A job parallel was just starting as the interrupt came can escape its stop and run on for a moment
# after parallel has gone; the batch is over once no converter runs in this folder any more.
here=$(pwd -P)
converter_running() {
  local process
  for process in /proc/[0-9]*; do
    [[ "$(readlink "$process/cwd" 2>/dev/null)" == "$here" ]] || continue
    [[ "$(tr '\0' ' ' < "$process/cmdline" 2>/dev/null)" == reelforge-cli\ * ]] && return 0
  done
  return 1
}
for _ in $(seq 300); do converter_running || break; sleep 0.1; done
converter_running && fail "a job of the interrupted batch still runs 30 s later"
done_first=$(movies)
((done_first >= 2)) || fail "the first batch wrote $done_first movies before it was stopped"
((done_first < total)) || fail "the first batch finished before it could be interrupted"
leftovers=$(find movies -name '.*')
[[ -z "$leftovers" ]] || fail "the interrupted batch left temporary files: $leftovers"
jq -c . first.jsonl > /dev/null || fail "the first batch's progress is not JSON lines"

# The sources that still need converting, by their movies' names.
missing=$(while read -r source; do
  name=$(basename "$source"); [[ -e "movies/${name%.*}.qrx" ]] || echo "$source"
done < sources.txt | LC_ALL=C sort)

batch rerun.log rerun.jsonl || true
jq -c . rerun.jsonl > /dev/null || fail "the rerun's progress is not JSON lines"
converted=$(jq -r 'select(.type == "result" and .result != "skipped") | .source' rerun.jsonl | LC_ALL=C sort)
skipped=$(jq -r 'select(.type == "result" and .result == "skipped") | .source' rerun.jsonl | wc -l)
[[ "$converted" == "$missing" ]] || fail "the rerun converted
$converted
instead of the missing
$missing"
((skipped == done_first)) || fail "the rerun skipped $skipped sources, not $done_first"

# Every source's exit status is in the job log (header + one line each); the failures are the
# results that say so.
(($(wc -l < rerun.log) == total + 1)) || fail "the job log has not one line per source"
failed_log=$(awk -F'\t' 'NR > 1 && $7 != 0' rerun.log | wc -l)
failed_json=$(jq -r 'select(.type == "result" and .result == "failed") | .source' rerun.jsonl | wc -l)
((failed_log == failed_json)) || fail "job log failures ($failed_log) differ from the results' ($failed_json)"
echo "batch recipe: $done_first of $total converted before the interrupt, $(wc -l <<< "$missing") on the rerun, $failed_log failed"
