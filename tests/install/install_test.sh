#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR SCRATCH_ROOT
#
# Installs BUILD_DIR into a scratch prefix, then, from a folder outside both the prefix and the
# build, makes a short clip with the ffmpeg tool, converts it with the installed reelforge-cli
# (which must load gogo.dll from the prefix), verifies the movie with the installed qrxtool, and
# plays it with the installed reelview on a file-backed sound device (which must load
# Lodestar.ovl from the prefix to make any sound). Exit 77 when the ffmpeg tool is missing.
set -euo pipefail
cmake=$1
build=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(mktemp -d "$3/install-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

if ! command -v ffmpeg >/dev/null; then
  echo "the ffmpeg tool is not installed" >&2
  exit 77
fi

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

# Exactly the programs in bin/, the modules in lib/reelforge/, the desktop entries, icons and
# metainfo, the MIME type, the thumbnailer entry, the manual pages, the copyright and changelog,
# and nothing else (no test or benchmark programs, no static libraries).
expected="bin/qrxtool
bin/reelforge
bin/reelforge-cli
bin/reelview
lib/reelforge/Lodestar.ovl
lib/reelforge/gogo.dll
lib/reelforge/liboggenc.so
share/applications/reelforge.desktop
share/applications/reelview.desktop
share/doc/reelforge/changelog.gz
share/doc/reelforge/copyright
share/icons/hicolor/scalable/apps/reelview.svg
share/metainfo/org.example.reelforge.Reelforge.metainfo.xml
share/metainfo/org.example.reelforge.Reelview.metainfo.xml
share/mime/packages/reelforge.xml
share/thumbnailers/qrxtool.thumbnailer
share/bash-completion/completions/qrxtool
share/bash-completion/completions/reelforge-cli
share/zsh/site-functions/_qrxtool
share/zsh/site-functions/_reelforge-cli"
for program in qrxtool reelforge reelforge-cli reelview; do
  expected+=$'\n'"share/man/man1/$program.1.gz"
done
for size in 16 32 48 64 128 256; do
  expected+=$'\n'"share/icons/hicolor/${size}x${size}/apps/reelforge.png"
done
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's#^\./##' | LC_ALL=C sort)
[[ "$installed" == "$(LC_ALL=C sort <<< "$expected")" ]] || fail "installed files differ:
$installed"

# The installed programs' run path names the prefix's module folder, never the build tree.
for program in reelforge reelforge-cli reelview qrxtool; do
  runpath=$(readelf -d "$prefix/bin/$program" | grep -E 'RUNPATH|RPATH' || true)
  [[ "$runpath" != *"$build"* ]] || fail "$program still names the build tree: $runpath"
done

# Another folder, with a registry of its own (no INSTPATH) so only the installed module can serve.
elsewhere=$work/elsewhere
mkdir -p "$elsewhere/out" "$work/config"
cd "$elsewhere"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc=size=320x240:rate=15" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050" \
  -t 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 clip.avi

"$prefix/bin/reelforge-cli" --output-dir out clip.avi || fail "reelforge-cli could not convert clip.avi"
[[ -s out/clip.qrx ]] || fail "no movie written"
[[ -s out/clip.mp3 ]] || fail "no MP3 written (gogo.dll not found?)"
"$prefix/bin/qrxtool" verify out/clip.qrx || fail "qrxtool verify refused the movie"
frames=$("$prefix/bin/qrxtool" info --json out/clip.qrx | jq -r '.frameCount')
[[ -n "$frames" && "$frames" -gt 0 ]] || fail "the movie has no frames"

# Sound reaches the device only through the decoder plug-in.
status=0
(cd out && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" \
  timeout -s TERM 3 "$prefix/bin/reelview") || status=$?
[[ $status -eq 0 || $status -eq 124 ]] || fail "reelview ended with status $status"
[[ -s "$work/played.raw" ]] || fail "reelview played nothing"
[[ $(tr -d '\000' < "$work/played.raw" | head -c 1 | wc -c) -eq 1 ]] || fail "reelview played only silence (Lodestar.ovl not found?)"
echo "installed programs converted, verified and played clip.avi ($frames frames)"
