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
packages=()
sizes=()
for need in "$@"; do
  case $need in
    build)  # the compiler, CMake, the OpenCV modules, FFmpeg's libraries and
      # TurboJPEG
      packages+=(cmake g++ make pkg-config libavformat-dev libavcodec-dev libavutil-dev
        libturbojpeg0-dev
        libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
        libopencv-videoio-dev libopencv-highgui-dev)
      sizes+=("building: 352 packages, 254 MB to download, 1003 MB on disk") ;;
    tests)  # unit tests, test clips, the virtual display, man page and package
      # checks, the HTTP and RTSP servers of the stream tests, clang with
      # libFuzzer for the fuzz test, and the Debian 12 container that the
      # service test boots
      packages+=(libgtest-dev ffmpeg xvfb xauth xdotool groff-base dpkg-dev file lintian
        clang libclang-rt-14-dev
        python3 python3-gi gir1.2-gst-rtsp-server-1.0 gir1.2-gstreamer-1.0
        gstreamer1.0-plugins-base gstreamer1.0-plugins-good debootstrap systemd-container)
      sizes+=("testing: 330 more, 99 MB, 314 MB") ;;
    benchmark)  # timing, clips and the virtual display
      packages+=(time ffmpeg xvfb xauth)
      sizes+=("benchmarking: 1 more") ;;
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
echo "(on a fresh minimal Debian 12 $(IFS=';'; echo "${sizes[*]}" | sed 's/;/; /g'))"
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive $install
