#!/usr/bin/env bash
# Installs what a script of this project needs and is missing (Debian 12),
# without recommended packages, as root or with sudo. With neither it says
# what is missing and how to install it, and stops.
# Usage: scripts/setup.sh COMMAND NEEDS...   (COMMAND: the script the user
# ran; NEEDS: build, tests, benchmark)
set -eu
cd "$(dirname "$0")/.."
command=$1
shift
# What the two set-up commands cost on a fresh minimal Debian 12 with 2
# cores, as scripts/measure_setup.sh measured them on 2026-12-09: the
# command, what it comes after, the packages it installs, MB to download,
# MB on disk, and the time it takes. The README's set-up table quotes these
# lines, as the examples test checks.
COST_build="scripts/demo.sh||352|256 MB|1003 MB|97 s"
COST_tests="scripts/test.sh|after it|355 more|158 MB|654 MB|14.6 min"
packages=()
costs=()
for need in "$@"; do
  case $need in
    build)  # the compiler, CMake, the OpenCV modules, FFmpeg's libraries and
      # TurboJPEG
      packages+=(cmake g++ make pkg-config libavformat-dev libavcodec-dev libavutil-dev
        libturbojpeg0-dev
        libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
        libopencv-videoio-dev libopencv-highgui-dev)
      costs+=("$COST_build") ;;
    tests)  # unit tests, test clips, the virtual display, man page and package
      # checks, the HTTP and RTSP servers of the stream tests, clang with
      # libFuzzer for the fuzz test, and the Debian 12 container that the
      # service test boots
      packages+=(libgtest-dev ffmpeg xvfb xauth xdotool groff-base dpkg-dev file lintian
        clang libclang-rt-14-dev
        python3 python3-gi gir1.2-gst-rtsp-server-1.0 gir1.2-gstreamer-1.0
        gstreamer1.0-plugins-base gstreamer1.0-plugins-good debootstrap systemd-container)
      costs+=("$COST_tests") ;;
    benchmark)  # timing, clips and the virtual display
      packages+=(time ffmpeg xvfb xauth) ;;
    *) echo "$0: unknown need $need" >&2; exit 2 ;;
  esac
done
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
missing=($(printf '%s\n' "${missing[@]}" | sort -u))  # a package two needs share
install="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "$command needs these packages: ${missing[*]}" >&2
  echo "As root, run: apt-get update && $install" >&2
  echo "then run $command again." >&2
  exit 1
fi
echo "$command: installing ${missing[*]}"
for cost in "${costs[@]}"; do
  IFS='|' read -r script after count download disk time <<<"$cost"
  echo "(on a fresh minimal Debian 12, $script${after:+ $after}: $count packages, \
$download to download, $disk on disk, $time in all)"
done
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive $install
