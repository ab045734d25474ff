#!/usr/bin/env bash
# Builds pellux and converts the sample clip into demo/, in a window when
# a display is there and without one otherwise.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
mkdir -p demo
build/pellux samples/sample.mp4 demo/f
echo "Frames of the last cycle are in demo/: $(ls demo | tr '\n' ' ')"
