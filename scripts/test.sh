#!/usr/bin/env bash
# Builds pellux and runs every test: unit tests and the end-to-end runs,
# the window ones on a virtual X display.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
xvfb-run -a ctest --test-dir build --output-on-failure -j 2
