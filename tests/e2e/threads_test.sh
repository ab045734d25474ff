#!/usr/bin/env bash
# Runs under ThreadSanitizer: a whole conversion (and one in a window,
# under a display), a damaged one, one stopped by a signal and one whose
# reader goes away, each with every thread of the
# pipeline busy. A report from the sanitizer goes to stderr, which must stay empty.
source "$(dirname "$0")/lib.sh"

# With a window, where a display is there: Qt's threads start with it.
if [ -n "${DISPLAY-}" ]; then
  run "$CLIPS/c.mp4" -nv -sq 0 3
  check "conversion in a window" "$STATUS|$ERR|$(timed_names | wc -l)" "0||25"
fi
unset DISPLAY WAYLAND_DISPLAY

run "$CLIPS/c.mp4" -nv -e png -sq 0 99
check "conversion" "$STATUS|$ERR|$(timed_names | wc -l)" "0||25"

start "$PELLUX" "$CLIPS/long.avi" -nv -sq 0 1
printed 100
kill -s TERM "$PID"
finished
check "stopped by a signal" "$STATUS|$ERR" "143|"

# FFmpeg's decoding threads tell pellux's log taker of the damage.
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30 -frames:v 300 \
  -c:v libx264 -preset ultrafast "$WORK/damaged.mp4"
dd if=/dev/zero of="$WORK/damaged.mp4" bs=1024 count=16 conv=notrunc status=none \
  seek=$(($(stat -c %s "$WORK/damaged.mp4") / 2048))
run "$WORK/damaged.mp4" -nv -sq 0 1
check "damaged clip" "$STATUS|$(grep -vc 'could not be decoded' <<<"$ERR")" "1|0"

new_dir
(cd "$DIR" && "$PELLUX" "$CLIPS/long.avi" -nv -e jp2 -sq 0 1 2>"$WORK/err" | head -3 >/dev/null
  echo "${PIPESTATUS[0]}" >"$WORK/status")
check "reader gone" "$(cat "$WORK/status")|$(cat "$WORK/err")" "141|"

finish
