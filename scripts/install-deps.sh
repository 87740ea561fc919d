#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, skipping those present.
# With --fuzz, also clang and its sanitizer and libFuzzer runtimes, which only the fuzzing build
# (scripts/fuzz.sh) uses.
set -euo pipefail

usage() { echo "usage: scripts/install-deps.sh [--fuzz]" >&2; }

packages=(
  # toolchain
  cmake ninja-build g++ pkg-config
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # JPEG stage
  libjpeg62-turbo-dev
  # audio encoding and media input
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libmp3lame-dev libvorbis-dev libmpg123-dev
  # the player
  libsdl2-dev
  # qrxtool's thumbnails
  libpng-dev
  # the converter's dialog: Qt 6 Widgets and a Japanese Gothic font for its texts
  qt6-base-dev fonts-ipafont-gothic
  # test clips and the demo (jq reads qrxtool's JSON)
  ffmpeg jq
  # manual pages (help2man), the desktop files' validators and MIME database (xdg-mime asks
  # mimetype), the Debian package (dpkg-shlibdeps, lintian)
  help2man man-db desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl
  dpkg-dev lintian
  # every JSON the programs write
  nlohmann-json3-dev
  # the batch recipe's test (GNU parallel), the zsh completions' check
  parallel zsh
  # the player's CPU bench: a real window on a virtual X server, the process's times, its threads
  xvfb xauth time procps
)

case $# in
  0) ;;
  1)
    case "$1" in
      --fuzz) packages+=(clang libclang-rt-14-dev time procps) ;;
      -h|--help) usage; exit 0 ;;
      *) echo "scripts/install-deps.sh: unknown argument: $1" >&2; usage; exit 2 ;;
    esac
    ;;
  *) usage; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
