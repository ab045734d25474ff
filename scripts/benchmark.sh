#!/usr/bin/env bash
# Times pellux against its baselines on a 640x480 and a 1280x720 clip of 300
# frames made here: a bare decode loop, the same loop writing each frame
# with cv::imwrite (what pellux does, one step after the other), and ffmpeg
# writing the same JPEG sequence, and the loop and pellux again held to one
# core with taskset; the pellux of the commit PREVIOUS runs beside each
# pellux row. The commands run in turn, round after round, and the table
# gives medians of the rounds, wall and CPU ratios taken round by round.
# The window mode runs on a virtual X display, drawing on: its cycle is the
# mean of pellux's own timing lines, against the decode loop's time per
# frame. The camera rows run pellux on the test camera (the tests' own
# user-space V4L2 camera, 300 frames): YUYV and MJPEG at 640x480, MJPEG at
# 1280x720 headless (and with the pellux of PREVIOUS, and the one that
# decoded and encoded MJPEG frames again), in the window and with -fps 1;
# 120 frames per second; and a camera that hangs. Last, a live 1280x720
# H.264 stream held to -fps 1, against a loop that only reads and decodes
# it.
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
# The last pellux that decoded a camera's MJPEG frames and encoded them
# again for JPEG slots, and the pellux before its sources became types of
# their own and a camera's frames were checked as libjpeg reads them.
BEFORE_PASS_THROUGH=25cbe7f
PREVIOUS=434d84f
display=:$((200 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT

# built_at COMMIT: builds pellux as it was at COMMIT, from git, and prints
# the program's path.
built_at() {
  mkdir "$work/$1"
  git archive "$1" | tar -x -C "$work/$1"
  cmake -S "$work/$1" -B "$work/$1/build" >/dev/null
  cmake --build "$work/$1/build" --target pellux >/dev/null
  echo "$work/$1/build/pellux"
}
old=$(built_at "$PREVIOUS")

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
ratio() {  # ratio A B [COLUMN]: median over rounds of A's wall (or cpu: 3) over B's
  paste <(awk -v n="$1" -v c="${3:-2}" '$1 == n { print $c }' "$work/runs") \
    <(awk -v n="$2" -v c="${3:-2}" '$1 == n { print $c }' "$work/runs") |
    awk '{ printf "%.2f\n", $1 / $2 }' | median
}
cycle_ms() { grep -o 'capture time = [0-9.]*' "$1" | awk '{ s += $4 } END { printf "%.2f", s / NR }'; }

printf '%-9s %-34s %7s %7s %9s %s\n' clip command "wall s" "cpu s" "peak MiB" "wall and cpu ratios (medians of rounds)"
for size in 640x480 1280x720; do
  clip=$work/$size.mp4
  ffmpeg -v error -f lavfi -i testsrc2=size=$size:rate=30 -frames:v 300 \
    -c:v libx264 -pix_fmt yuv420p "$clip"
  : >"$work/runs"
  : >"$work/window.cycles"
  : >"$work/oldwindow.cycles"
  decoded=()
  for ((round = 0; round < rounds; round++)); do
    measure decode "$loop" "$clip"
    decoded+=("$(grep -o '[0-9.]* ms/frame' "$work/decode.out" | cut -d' ' -f1)")
    measure loop "$loop" "$clip" write
    measure pellux env -u DISPLAY -u WAYLAND_DISPLAY "$pellux" "$clip" -nv -sq 0 299
    measure old env -u DISPLAY -u WAYLAND_DISPLAY "$old" "$clip" -nv -sq 0 299
    measure ffmpeg ffmpeg -v error -i "$clip" -q:v 2 -start_number 0 f%03d.jpg
    measure window env DISPLAY="$display" "$pellux" "$clip" -nv -sq 0 299
    measure oldwindow env DISPLAY="$display" "$old" "$clip" -nv -sq 0 299
    for name in window oldwindow; do echo "$(cycle_ms "$work/$name.out")" >>"$work/$name.cycles"; done
    measure loop1 taskset -c 0 "$loop" "$clip" write
    measure pellux1 env -u DISPLAY -u WAYLAND_DISPLAY taskset -c 0 "$pellux" "$clip" -nv -sq 0 299
    measure old1 env -u DISPLAY -u WAYLAND_DISPLAY taskset -c 0 "$old" "$clip" -nv -sq 0 299
  done
  for row in "decode:decode loop (no writing)" "loop:decode, then imwrite, in turn" \
    "pellux:pellux, no display" "old:the same, pellux $PREVIOUS" \
    "ffmpeg:ffmpeg -i CLIP f%03d.jpg" "window:pellux, window on Xvfb" \
    "oldwindow:the same, pellux $PREVIOUS" "loop1:decode, then imwrite, one core" \
    "pellux1:pellux, no display, one core" "old1:the same, pellux $PREVIOUS"; do
    name=${row%%:*}
    extra=""
    case $name in
    pellux | old) extra="$(ratio "$name" loop) and $(ratio "$name" loop 3) of the loop, \
$(ratio "$name" ffmpeg) and $(ratio "$name" ffmpeg 3) of ffmpeg" ;;
    pellux1 | old1) extra="$(ratio "$name" loop1) and $(ratio "$name" loop1 3) of the loop on one core" ;;
    esac
    printf '%-9s %-34s %7s %7s %9.1f %s\n' "$size" "${row#*:}" "$(figure "$name" 2)" \
      "$(figure "$name" 3)" "$(awk -v k="$(figure "$name" 4)" 'BEGIN { print k / 1024 }')" "$extra"
  done
  decode=$(printf '%s\n' "${decoded[@]}" | median)
  for run in "window:pellux" "oldwindow:pellux $PREVIOUS"; do
    cycle=$(median <"$work/${run%%:*}.cycles")
    printf '%-9s window cycle %.2f ms, decoding %.2f ms/frame: %.2f ms over decoding (%s)\n' \
      "$size" "$cycle" "$decode" "$(awk -v c="$cycle" -v d="$decode" 'BEGIN { print c - d }')" "${run#*:}"
  done
done

# The pellux before camera frames were written as they came, which decoded
# each MJPEG frame and encoded it again: the camera rows' baseline.
before=$(built_at "$BEFORE_PASS_THROUGH")

# on_camera NAME DISPLAY PELLUX [SETTING=VALUE...] [-- OPTION...]: one camera
# run in a fresh directory, its time appended to $work/runs like measure's;
# the timing lines with their arrival times in $work/NAME.lines, the
# camera's trace in $work/NAME.trace, the frame number each of the 300
# slots holds in $work/NAME.numbers. The camera is unplugged after 300
# frames.
on_camera() {
  local name=$1 display=$2 program=$3 settings=() options=()
  shift 3
  while [ $# -gt 0 ] && [ "$1" != -- ]; do settings+=("$1") && shift; done
  [ $# -gt 0 ] && shift && options=("$@")
  rm -rf "$work/dir" && mkdir "$work/dir"
  (cd "$work/dir" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
    env -u DISPLAY -u WAYLAND_DISPLAY ${display:+DISPLAY=$display} \
    TEST_CAMERA_UNPLUG_AFTER=300 TEST_CAMERA_TRACE="$work/$name.trace" "${settings[@]}" \
    LD_PRELOAD="$camera" "$program" -nv -sq 0 299 "${options[@]}" 2>/dev/null |
    "$clock" >"$work/$name.lines")
  record "$name"
  (cd "$work/dir" && "$slot_reader" --numbers $(printf 'f%03d.jpg ' $(seq 0 299))) \
    >"$work/$name.numbers" 2>/dev/null
}
# Frames of the 300 that got no timing line, whether the camera had to drop
# them or pellux did not take them.
lost() { echo $((300 - $(grep -c 'capture time' "$work/$1.lines"))); }
# The ms from each written frame's capture to its timing line, one a line.
latencies() {  # the kth line names the kth slot, which holds its frame's number
  paste -d' ' "$work/$1.numbers" <(grep 'capture time' "$work/$1.lines" | cut -d' ' -f1) |
    awk 'FNR == NR { if ($1 == "filled") captured[$2] = $3; next }
         $1 in captured { print ($2 - captured[$1]) / 1e6 }' "$work/$1.trace" -
}
# pellux's own CPU while frames stream, in % of one core: the process's CPU
# time less the camera thread's, from the 30th frame to the last.
cpu_percent() {
  awk '$1 == "filled" { if (++n == 30) { t0 = $3; p0 = $4; c0 = $5 } t = $3; p = $4; c = $5 }
       END { printf "%.2f\n", ((p - p0) - (c - c0)) / (t - t0) * 100 }' "$work/$1.trace"
}

echo
printf '%-40s %7s %7s %11s %s\n' camera "cpu %" "lost" "latency ms" ""
: >"$work/runs"
rows=(\
  "yuyv:640x480 YUYV 30 fps, no display:pellux:TEST_CAMERA_FORMATS=YUYV" \
  "mjpeg:640x480 MJPEG 30 fps, no display:pellux:TEST_CAMERA_FORMATS=MJPG" \
  "hd:1280x720 MJPEG 30 fps, no display:pellux:TEST_CAMERA_SIZES=1280x720 -- -size 1280x720" \
  "hdprevious:the same, pellux $PREVIOUS:previous:TEST_CAMERA_SIZES=1280x720 -- -size 1280x720" \
  "hdbefore:the same, decoded and encoded again:before:TEST_CAMERA_SIZES=1280x720 TEST_CAMERA_FORMATS=MJPG" \
  "hdwindow:1280x720 MJPEG 30 fps, window:window:TEST_CAMERA_SIZES=1280x720 -- -size 1280x720" \
  "hdfps1:1280x720 MJPEG 30 fps, -fps 1:pellux:TEST_CAMERA_SIZES=1280x720 -- -size 1280x720 -fps 1" \
  "fast:640x480 120 fps, no display:pellux:TEST_CAMERA_FPS=120" \
  "fastwindow:640x480 120 fps, window:window:TEST_CAMERA_FPS=120")
# Round by round, every row in turn, so that what the machine does
# meanwhile (its file system still finding room after the last round's
# files) falls on all rows alike.
for ((round = 0; round < rounds; round++)); do
  for row in "${rows[@]}"; do
    IFS=: read -r name label program arguments <<<"$row"
    shown=""
    case $program in
    before) program=$before ;;
    previous) program=$old ;;
    window) program=$pellux shown=$display ;;
    *) program=$pellux ;;
    esac
    # shellcheck disable=SC2086 # the row's settings and options, split
    on_camera "$name" "$shown" "$program" $arguments
    echo "$(cpu_percent "$name") $(lost "$name") $(latencies "$name" | median) \
$(latencies "$name" | sort -g | tail -1)" >>"$work/$name.figures"
  done
done
for row in "${rows[@]}"; do
  IFS=: read -r name label program arguments <<<"$row"
  latency=$(printf '%.2f' "$(cut -d' ' -f3 "$work/$name.figures" | median)")
  lost="$(cut -d' ' -f2 "$work/$name.figures" | sort -g | tail -1)"
  # Kept frames are few: each of them counts, and the others are not lost.
  [ "$name" = hdfps1 ] &&
    latency=$(printf '%.2f (most)' "$(cut -d' ' -f4 "$work/$name.figures" | sort -g | tail -1)") lost=-
  printf '%-40s %7.2f %7s %11s\n' "$label" "$(cut -d' ' -f1 "$work/$name.figures" | median)" \
    "$lost" "$latency"
done
echo "(cpu: pellux's own, camera left out, median of rounds; lost: the most in a round, of 300;"
echo " latency: capture to timing line, median of rounds' medians; -fps 1 keeps 10 of the 300)"

# A live 1280x720 H.264 stream of 30 frames a second over HTTP, 20 s of a
# clip served as it plays (copied, so the server takes next to no CPU):
# pellux keeping a frame a second against a loop that only reads and
# decodes every frame, as pellux must.
stream=$work/stream.mp4
ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=30 -t 20 -c:v libx264 \
  -g 30 -pix_fmt yuv420p "$stream"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
url=http://127.0.0.1:$port/live.ts
serve_stream() {  # sets server to the server's PID
  ffmpeg -nostdin -v quiet -re -i "$stream" -c copy -f mpegts -listen 1 "$url" >/dev/null 2>&1 &
  server=$!
  until grep -q ":$(printf '%04X' "$port") 00000000:0000 0A" /proc/net/tcp; do sleep 0.05; done
}
: >"$work/runs"
for ((round = 0; round < rounds; round++)); do
  serve_stream
  measure grab "$loop" "$url" grab
  wait "$server" || true # it fails when its reader leaves first
  serve_stream
  # A stream that ends ends the run with status 1.
  measure streamfps1 env -u DISPLAY -u WAYLAND_DISPLAY "$pellux" "$url" -nv -fps 1 -sq 0 99 || true
  wait "$server" || true # it fails when its reader leaves first
done
echo
printf '%-40s %7s %7s %s\n' "stream" "cpu s" "frames" ""
printf '%-40s %7s %7s\n' "1280x720 H.264 30 fps, 20 s, read only" "$(figure grab 3)" \
  "$(cut -d' ' -f1 "$work/grab.out")"
printf '%-40s %7s %7s %s\n' "the same, pellux -fps 1" "$(figure streamfps1 3)" \
  "$(grep -c 'capture time' "$work/streamfps1.out")" "$(ratio streamfps1 grab 3) of the loop's CPU"

# A camera that hangs after 30 frames: the run ends by itself when the
# backend stops waiting, and at once on one SIGTERM.
on_camera hang "" "$pellux" TEST_CAMERA_HANG_AFTER=30
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
