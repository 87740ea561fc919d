#!/usr/bin/env bash
# package_test.sh CPACK BUILD_DIR SCRATCH_ROOT
#
# Makes the Debian package of BUILD_DIR with cpack, checks that its dependencies were computed
# from the binaries (the modules' libraries among them) and that lintian finds no error, then
# unpacks it into a scratch root with dpkg-deb and, from there only, converts a clip with an MP3
# and one with an Ogg companion, verifies both movies, makes a thumbnail and plays each headless
# on a file-backed sound device, which hears sound only when the unpacked modules were found.
set -euo pipefail
cpack=$1
build=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(mktemp -d "$3/package-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg-shlibdeps lintian ffmpeg; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/install-deps.sh"
done

# The package, made where the test can throw it away.
(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack could not make the package"; }
debs=("$work"/out/reelforge_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "cpack made no reelforge_*.deb"
deb=${debs[0]}

# Dependencies from the binaries: the programs' libraries and the modules' (LAME for gogo.dll,
# mpg123 for Lodestar.ovl, Vorbis for the Ogg encoder library); none on the package's own files.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libsdl2 libavformat libmp3lame0 libmpg123-0 libvorbisenc2 libvorbisfile3 libpng16; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ -z "$(dpkg-deb -I "$deb" | grep -E ' (preinst|postinst|prerm|postrm)$' || true)" ]] || fail "the package has maintainer scripts"

# lintian: warnings are allowed, errors are not.
lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
if grep -q '^E: ' "$work/lintian.log"; then cat "$work/lintian.log"; fail "lintian reports errors"; fi
grep -E '^[WI]: ' "$work/lintian.log" || true

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb could not unpack the package"
bin=$root/usr/bin

# Another folder and a registry of its own (no INSTPATH), so only the unpacked modules can serve.
mkdir -p "$work/clips/out" "$work/config"
cd "$work/clips"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
clip() {  # clip NAME.EXT CODEC...: two seconds of test pattern and a tone
  local name=$1
  shift
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=320x240:rate=15" \
    -f lavfi -i "sine=frequency=440:sample_rate=22050" -t 2 "$@" "$name"
}
clip clip.avi -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2
clip tone.mkv -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2
"$bin/reelforge-cli" --output-dir out clip.avi || fail "reelforge-cli could not convert clip.avi"
"$bin/reelforge-cli" --output-dir out --encoder ogg tone.mkv || fail "reelforge-cli could not convert tone.mkv"
[[ -s out/clip.mp3 ]] || fail "no MP3 written (gogo.dll not found?)"
[[ -s out/tone.ogg && ! -e out/tone.mp3 ]] || fail "no Ogg companion written"
for movie in clip tone; do
  "$bin/qrxtool" verify "out/$movie.qrx" >/dev/null || fail "qrxtool verify refused $movie.qrx"
done
"$bin/qrxtool" thumbnail out/clip.qrx thumb.png 96 || fail "qrxtool could not make a thumbnail"
[[ "$(head -c 8 thumb.png | od -An -tx1 | tr -d ' ')" == 89504e470d0a1a0a ]] || fail "the thumbnail is not a PNG"

# Each movie played alone in a folder of its own: sound reaches the device only through the
# unpacked decoder plug-in (MP3) or the Ogg reader.
for companion in clip.mp3 tone.ogg; do
  movie=${companion%.*}
  mkdir -p "play-$movie"
  cp "out/$movie.qrx" "out/$companion" "play-$movie/"
  status=0
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/$movie.raw" \
    timeout -s TERM 3 "$bin/reelview" "play-$movie/$movie.qrx" || status=$?
  [[ $status -eq 0 || $status -eq 124 ]] || fail "reelview ended with status $status playing $movie.qrx"
  [[ -s "$work/$movie.raw" ]] || fail "reelview played nothing for $movie.qrx"
  [[ $(tr -d '\000' < "$work/$movie.raw" | head -c 1 | wc -c) -eq 1 ]] || fail "reelview played only silence with $companion"
done
echo "$(basename "$deb") unpacked: converted, verified, thumbnailed and played with MP3 and Ogg sound"
