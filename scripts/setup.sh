#!/usr/bin/env bash
# Installs what building and testing pellux needs (Debian 12), then
# configures and builds into build/.
set -eu
cd "$(dirname "$0")/.."
packages=(cmake g++ make libopencv-dev libgtest-dev ffmpeg xvfb xauth xdotool)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${missing[@]}"
fi
cmake -S . -B build "$@"
cmake --build build -j "$(nproc)"
