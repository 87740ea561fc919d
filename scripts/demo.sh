#!/usr/bin/env bash
# Sets up and builds, writes a short QRX movie of generated pictures, checks it, describes it and
# extracts one frame as a picture.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target qrxsample qrxtool

out=build/demo
mkdir -p "$out"
build/release/bin/qrxsample "$out/sample.qrx" --frames 45 --rate 15 --quality 50
build/release/bin/qrxtool verify "$out/sample.qrx"
build/release/bin/qrxtool info "$out/sample.qrx" | head -n 12
build/release/bin/qrxtool frame "$out/sample.qrx" 30 "$out/frame30.ppm"
echo "Movie: $out/sample.qrx; frame 30 as a picture: $out/frame30.ppm"
