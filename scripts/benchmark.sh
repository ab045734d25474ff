#!/usr/bin/env bash
# Times pellux against its baselines on a 640x480 and a 1280x720 clip of 300
# frames made here: a bare decode loop, the same loop writing each frame
# with cv::imwrite (what pellux does, one step after the other), and ffmpeg
# writing the same JPEG sequence, and the loop and pellux again held to one
# core with taskset. The commands run in turn, round after
# round, and the table gives medians of the rounds, ratios taken round by
# round. The window mode runs on a virtual X display, drawing on: its cycle
# is the mean of pellux's own timing lines, against the decode loop's time
# per frame. The camera rows run pellux on the test camera (the tests' own
# user-space V4L2 camera, 640x480, 300 frames) headless and in the window,
# at 30 and 120 frames per second, and on a camera that hangs.
# Usage: scripts/benchmark.sh [ROUNDS] (default 5).
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-5}
scripts/setup.sh "$0" build tests benchmark
cmake -S . -B build -DBUILD_TESTING=ON >/dev/null
cmake --build build --target pellux decode_loop line_clock test_camera slot_reader >/dev/null
pellux=$PWD/build/pellux
loop=$PWD/build/decode_loop
clock=$PWD/build/line_clock
camera=$PWD/build/tests/libtest_camera.so
slot_reader=$PWD/build/tests/slot_reader
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
  record "$name"
}
record() {  # record NAME: NAME's figures from $work/time, after any status line
  local wall user sys peak
  read -r wall user sys peak < <(tail -1 "$work/time")
  echo "$1 $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak" >>"$work/runs"
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
    measure loop1 taskset -c 0 "$loop" "$clip" write
    measure pellux1 env -u DISPLAY -u WAYLAND_DISPLAY taskset -c 0 "$pellux" "$clip" -nv -sq 0 299
  done
  for row in "decode:decode loop (no writing)" "loop:decode, then imwrite, in turn" \
    "pellux:pellux, no display" "ffmpeg:ffmpeg -i CLIP f%03d.jpg" \
    "window:pellux, window on Xvfb" "loop1:decode, then imwrite, one core" \
    "pellux1:pellux, no display, one core"; do
    name=${row%%:*}
    extra=""
    [ "$name" = pellux ] && extra="$(ratio pellux loop) of the loop, $(ratio pellux ffmpeg) of ffmpeg"
    [ "$name" = pellux1 ] && extra="$(ratio pellux1 loop1) of the loop on one core"
    printf '%-9s %-34s %7s %7s %9.1f %s\n' "$size" "${row#*:}" "$(figure "$name" 2)" \
      "$(figure "$name" 3)" "$(awk -v k="$(figure "$name" 4)" 'BEGIN { print k / 1024 }')" "$extra"
  done
  cycle=$(printf '%s\n' "${windowed[@]}" | median)
  decode=$(printf '%s\n' "${decoded[@]}" | median)
  printf '%-9s window cycle %.2f ms, decoding %.2f ms/frame: %.2f ms over decoding\n' \
    "$size" "$cycle" "$decode" "$(awk -v c="$cycle" -v d="$decode" 'BEGIN { print c - d }')"
done

# on_camera NAME FPS DISPLAY [SETTING=VALUE...]: one camera run in a fresh
# directory, its time appended to $work/runs like measure's; the timing
# lines with their arrival times in $work/NAME.lines, the camera's trace in
# $work/NAME.trace, the frame number each of the 300 slots holds in
# $work/NAME.numbers. The camera is unplugged after 301 frames: the backend
# drops the first, so 300 are written.
on_camera() {
  local name=$1 fps=$2 display=$3
  shift 3
  rm -rf "$work/dir" && mkdir "$work/dir"
  (cd "$work/dir" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
    env -u DISPLAY -u WAYLAND_DISPLAY ${display:+DISPLAY=$display} TEST_CAMERA_FPS="$fps" \
    TEST_CAMERA_UNPLUG_AFTER=301 TEST_CAMERA_TRACE="$work/$name.trace" "$@" \
    LD_PRELOAD="$camera" "$pellux" -nv -sq 0 299 2>/dev/null | "$clock" >"$work/$name.lines")
  record "$name"
  (cd "$work/dir" && "$slot_reader" --numbers $(printf 'f%03d.jpg ' $(seq 0 299))) \
    >"$work/$name.numbers" 2>/dev/null
}
# Frames the camera had to drop, and the medians in ms of capture to timing
# line and of a frame's age when pellux took it from the camera.
lost() { grep -c '^dropped' "$work/$1.trace"; }
latency_ms() {  # the kth line names the kth slot, which holds its frame's number
  paste -d' ' "$work/$1.numbers" <(grep 'capture time' "$work/$1.lines" | cut -d' ' -f1) |
    awk 'FNR == NR { if ($1 == "filled") captured[$2] = $3; next }
         $1 in captured { print ($2 - captured[$1]) / 1e6 }' "$work/$1.trace" - | median
}
age_ms() { awk '$1 == "dequeued" { print ($4 - $3) / 1e6 }' "$work/$1.trace" | median; }

echo
printf '%-22s %7s %7s %8s %11s %10s %s\n' camera "wall s" "cpu %" "dropped" "latency ms" "age ms" ""
: >"$work/runs"
for row in "30:headless:" "30:window:$display" "120:headless:" "120:window:$display"; do
  IFS=: read -r fps mode shown <<<"$row"
  name=cam$fps$mode
  : >"$work/$name.figures"
  for ((round = 0; round < rounds; round++)); do
    on_camera "$name" "$fps" "$shown"
    echo "$(lost "$name") $(latency_ms "$name") $(age_ms "$name")" >>"$work/$name.figures"
  done
  cpu=$(awk -v n="$name" '$1 == n { print $3 / $2 * 100 }' "$work/runs" | median)
  printf '%-22s %7s %7.0f %8s %11.2f %10.2f\n' "$fps fps, $mode" "$(figure "$name" 2)" "$cpu" \
    "$(cut -d' ' -f1 "$work/$name.figures" | sort -g | tail -1)" \
    "$(cut -d' ' -f2 "$work/$name.figures" | median)" "$(cut -d' ' -f3 "$work/$name.figures" | median)"
done
echo "(dropped: the most in a round, of 300; latency: capture to timing line; age: capture to dequeue)"

# A camera that hangs after 30 frames: the run ends by itself when the
# backend stops waiting, and at once on one SIGTERM.
on_camera hang 30 "" TEST_CAMERA_HANG_AFTER=30
by_itself=$(awk '/capture time/ { last = $1 } $2 == "EOF" { printf "%.2f", ($1 - last) / 1e9 }' "$work/hang.lines")
rm -rf "$work/dir" && mkdir "$work/dir"
(cd "$work/dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY TEST_CAMERA_HANG_AFTER=30 \
  LD_PRELOAD="$camera" "$pellux" -nv >"$work/hang.out" 2>/dev/null) &
pid=$!
until [ "$(grep -c 'capture time' "$work/hang.out" 2>/dev/null)" -ge 29 ] 2>/dev/null; do sleep 0.01; done
sleep 1
start=$(date +%s%N)
kill -s TERM $pid
wait $pid || true
echo "hung camera: the run ends $by_itself s after its last frame by itself, $(((\
$(date +%s%N) - start) / 1000000)) ms after one SIGTERM"
