#!/usr/bin/env bash
# Times pellux against its baselines on a 640x480 and a 1280x720 clip of 300
# frames made here: a bare decode loop, the same loop writing each frame
# with cv::imwrite (what pellux does, one step after the other), and ffmpeg
# writing the same JPEG sequence. The commands run in turn, round after
# round, and the table gives medians of the rounds, ratios taken round by
# round. The window mode runs on a virtual X display, drawing on: its cycle
# is the mean of pellux's own timing lines, against the decode loop's time
# per frame. Usage: scripts/benchmark.sh [ROUNDS] (default 5).
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-5}
for tool in /usr/bin/time ffmpeg Xvfb; do
  command -v $tool >/dev/null ||
    { echo "benchmark: $tool is missing (apt-get install time ffmpeg xvfb)" >&2; exit 1; }
done
cmake -S . -B build >/dev/null
cmake --build build --target pellux decode_loop >/dev/null
pellux=$PWD/build/pellux
loop=$PWD/build/decode_loop
work=$(mktemp -d)
display=:$((200 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT

# measure NAME COMMAND...: one run in a fresh directory; appends
# "NAME wall cpu peak_kib" to $work/runs, the command's stdout to $work/NAME.out
measure() {
  local name=$1
  shift
  rm -rf "$work/dir" && mkdir "$work/dir"
  (cd "$work/dir" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$work/$name.out" 2>/dev/null)
  read -r wall user sys peak <"$work/time"
  echo "$name $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak" >>"$work/runs"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
figure() { awk -v n="$1" -v c="$2" '$1 == n { print $c }' "$work/runs" | median; }
ratio() {  # ratio A B: median over rounds of A's wall over B's
  paste <(awk -v n="$1" '$1 == n { print $2 }' "$work/runs") \
    <(awk -v n="$2" '$1 == n { print $2 }' "$work/runs") |
    awk '{ printf "%.2f\n", $1 / $2 }' | median
}
cycle_ms() { grep -o 'capture time = [0-9.]*' "$1" | awk '{ s += $4 } END { printf "%.2f", s / NR }'; }

printf '%-9s %-34s %7s %7s %9s %s\n' clip command "wall s" "cpu s" "peak MiB" "wall ratio (median of rounds)"
for size in 640x480 1280x720; do
  clip=$work/$size.mp4
  ffmpeg -v error -f lavfi -i testsrc2=size=$size:rate=30 -frames:v 300 \
    -c:v libx264 -pix_fmt yuv420p "$clip"
  : >"$work/runs"
  windowed=()
  decoded=()
  for ((round = 0; round < rounds; round++)); do
    measure decode "$loop" "$clip"
    decoded+=("$(grep -o '[0-9.]* ms/frame' "$work/decode.out" | cut -d' ' -f1)")
    measure loop "$loop" "$clip" write
    measure pellux env -u DISPLAY -u WAYLAND_DISPLAY "$pellux" "$clip" -nv -sq 0 299
    measure ffmpeg ffmpeg -v error -i "$clip" -q:v 2 -start_number 0 f%03d.jpg
    measure window env DISPLAY="$display" "$pellux" "$clip" -nv -sq 0 299
    windowed+=("$(cycle_ms "$work/window.out")")
  done
  for row in "decode:decode loop (no writing)" "loop:decode, then imwrite, in turn" \
    "pellux:pellux, no display" "ffmpeg:ffmpeg -i CLIP f%03d.jpg" \
    "window:pellux, window on Xvfb"; do
    name=${row%%:*}
    extra=""
    [ "$name" = pellux ] && extra="$(ratio pellux loop) of the loop, $(ratio pellux ffmpeg) of ffmpeg"
    printf '%-9s %-34s %7s %7s %9.1f %s\n' "$size" "${row#*:}" "$(figure "$name" 2)" \
      "$(figure "$name" 3)" "$(awk -v k="$(figure "$name" 4)" 'BEGIN { print k / 1024 }')" "$extra"
  done
  cycle=$(printf '%s\n' "${windowed[@]}" | median)
  decode=$(printf '%s\n' "${decoded[@]}" | median)
  printf '%-9s window cycle %.2f ms, decoding %.2f ms/frame: %.2f ms over decoding\n' \
    "$size" "$cycle" "$decode" "$(awk -v c="$cycle" -v d="$decode" 'BEGIN { print c - d }')"
done
