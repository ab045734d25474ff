#!/usr/bin/env bash
# Installs what building and testing pellux need, builds it and runs every
# test: unit tests and the end-to-end runs, the window ones on a virtual X
# display; then all of them again on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; then the unit tests and a few runs of the
# threads on a build with ThreadSanitizer; then, where clang is installed,
# the fuzz target of the camera frame check for 30 s.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh "$0" build tests
cmake -S . -B build -DBUILD_TESTING=ON
cmake --build build -j "$(nproc)"
xvfb-run -a ctest --test-dir build --output-on-failure -j 2
cmake -S . -B build-sanitize -DPELLUX_SANITIZE=ON
cmake --build build-sanitize -j "$(nproc)"
xvfb-run -a ctest --test-dir build-sanitize --output-on-failure -j 2
cmake -S . -B build-threads -DPELLUX_SANITIZE=thread
cmake --build build-threads -j "$(nproc)"
xvfb-run -a ctest --test-dir build-threads --output-on-failure -j 2
if command -v clang++ >/dev/null; then
  CXX=clang++ cmake -S . -B build-fuzz -DBUILD_TESTING=ON -DPELLUX_SANITIZE=ON -DPELLUX_FUZZ=ON
  cmake --build build-fuzz -j "$(nproc)" --target camera_jpeg_fuzz
  ctest --test-dir build-fuzz -R fuzz_ --output-on-failure
else
  echo "clang++ is not installed: the fuzz test of the camera frame check is skipped"
fi
