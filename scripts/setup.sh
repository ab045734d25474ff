#!/usr/bin/env bash
# Installs what building and testing pellux needs (Debian 12), without
# recommended packages, then configures and builds into build/. Not root,
# it installs with sudo; with neither, it says what is missing and stops.
set -eu
cd "$(dirname "$0")/.."
packages=(
  cmake g++ make                        # the build
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  libopencv-videoio-dev libopencv-highgui-dev  # the OpenCV modules used
  libgtest-dev                          # unit tests
  ffmpeg                                # makes and checks the test clips
  xvfb xauth xdotool                    # the window tests, on a virtual display
  groff-base                            # checks the man page
  dpkg-dev file                         # the package's computed dependencies
  lintian                               # Debian's checks of the package
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  install="apt-get install -y -q --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then
    sudo=""
  elif command -v sudo >/dev/null; then
    sudo=sudo
  else
    echo "$0: missing packages: ${missing[*]}; as root, run: apt-get update && $install" >&2
    exit 1
  fi
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive $install
fi
cmake -S . -B build "$@"
cmake --build build -j "$(nproc)"
