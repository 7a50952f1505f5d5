#!/usr/bin/env bash
# Makes docs/screenshot.png: Vormel on a private X server, photographed after a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vormel window_shot
mkdir -p docs
display=:$((RANDOM % 400 + 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
vormel=""
trap '[[ -n $vormel ]] && kill $vormel && wait $vormel; kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display SDL_AUDIODRIVER=dummy ./build/vormel &
vormel=$!
DISPLAY=$display ./build/tools/window_shot Vormel docs/screenshot.png "${1:-6}"
echo "docs/screenshot.png written"
