#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, skipping those present.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # JPEG stage
  libjpeg62-turbo-dev
  # audio encoding and media input
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libmp3lame-dev libvorbis-dev libmpg123-dev
  # the player
  libsdl2-dev
  # the converter's dialog: Qt 6 Widgets and a Japanese Gothic font for its texts
  qt6-base-dev fonts-ipafont-gothic
  # test clips and the demo
  ffmpeg
)

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
