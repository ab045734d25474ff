#!/usr/bin/env bash
# Installs what building pellux needs, builds it without its tests, and
# converts the sample clip into demo/, in a window when a display is there
# and without one otherwise.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh "$0" build
cmake -S . -B build -DBUILD_TESTING=OFF
cmake --build build -j "$(nproc)"
mkdir -p demo
build/pellux samples/sample.mp4 demo/f
echo "Frames of the last cycle are in demo/: $(ls demo | tr '\n' ' ')"
