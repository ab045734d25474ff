#!/usr/bin/env bash
# Times converting a 300-frame 640x480 clip with -nd, without a display and
# on a virtual one, beside ffmpeg writing the same JPEG sequence. Prints the
# median of five runs of each. Needs a build (scripts/setup.sh).
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip=$work/clip.mp4
ffmpeg -v error -f lavfi -i testsrc2=size=640x480:rate=30 -frames:v 300 \
  -c:v libx264 -pix_fmt yuv420p "$clip"
pellux=$PWD/build/pellux

median_seconds() {  # median_seconds COMMAND...: five timed runs in $work/out
  local i start
  for i in 1 2 3 4 5; do
    rm -rf "$work/out" && mkdir "$work/out"
    start=$(date +%s.%N)
    (cd "$work/out" && "$@" >/dev/null 2>&1)
    awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f\n", e - s }'
  done | sort -n | sed -n 3p
}

echo "no display:      $(median_seconds env -u DISPLAY -u WAYLAND_DISPLAY "$pellux" "$clip" -nd -nv -sq 0 299) s"
echo "virtual display: $(median_seconds xvfb-run -a "$pellux" "$clip" -nd -nv -sq 0 299) s"
echo "xvfb-run alone:  $(median_seconds xvfb-run -a true) s"
echo "ffmpeg image2:   $(median_seconds ffmpeg -v error -i "$clip" -q:v 2 f%03d.jpg) s"
