#!/usr/bin/env bash
# Runs with a display: the window, ESC in it, and a display that is named
# but cannot be reached. Needs an X server (xvfb-run); skipped without one.
# Usage: window_test.sh PELLUX CLIPS SLOT_READER TEST_CAMERA_LIBRARY
source "$(dirname "$0")/lib.sh"
CAMERA=$4  # the test camera, loaded with LD_PRELOAD
# The camera is loaded ahead of a sanitizer's runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
if [ -z "${DISPLAY-}" ]; then
  echo "skipped: no display (run under xvfb-run)"
  exit 77
fi
# Qt's warnings, such as that of a missing runtime directory, stay off
# stderr.
unset XDG_RUNTIME_DIR

# Waits for the window to be mapped (focusing one that is not yet shown
# fails), then presses ESC in it.
press_escape() {
  local id
  id=$(timeout 60 xdotool search --sync --onlyvisible --name '^pellux$' | head -1)
  [ -n "$id" ] && xdotool windowfocus --sync "$id" key Escape
}

run "$CLIPS/c.avi"
check "window run status" "$STATUS" 0
check "window run messages" "$(messages)" "Verbose is on.
Input filename: $CLIPS/c.avi
$BANNER"
check "window run names" "$(timed_names)" "$(ring_names f jpg 0 10 25)"
check "window run files" "$(files)" "$(seq_names f jpg 0 10)"
check "window run stderr" "$ERR" ""

# ESC ends the run: every frame before it written in order, none after.
press_escape &
run "$CLIPS/long.avi" -nv -sq 0 100000
wait
written=$(timed_names | wc -l)
check "ESC status" "$STATUS" 0
check "ESC came before the end" "$((written < 3000))" 1
check "ESC files" "$(files)" "$(seq_names f jpg 0 $((written - 1)))"
check "ESC names in order" "$(timed_names)" "$(seq_names f jpg 0 $((written - 1)))"
check "ESC stderr" "$ERR" ""

# With -nd the window is still there to press ESC in.
press_escape &
run "$CLIPS/long.avi" -nd -no
wait
check "-nd window takes ESC" "$STATUS $(($(timed_names | wc -l) < 3000))" "0 1"
check "-nd with display messages" "$(messages | tail -1)" "Type pellux -h for additional help."

# A camera's frames, kept one every 50 s: ESC ends the run while the
# frames in between are passed over, long before the next is kept.
trace=$WORK/camera.trace
press_escape &
TEST_CAMERA_TRACE=$trace TEST_CAMERA_UNPLUG_AFTER=1800 LD_PRELOAD=$CAMERA run -nv -fps 0.02
wait
# The first frame is written unless ESC comes while it is shown.
check "ESC while frames are passed over" \
  "$STATUS|$(($(timed_names | grep -c .) <= 1))|$(($(grep -c '^dequeued' "$trace") < 1500))" "0|1|1"

# ESC while a camera hangs, before its first frame or after some, ends the
# run as ESC does, not as the camera that stopped it would 10 s later: the
# window runs its events during the wait.
for frames in 0 5; do
  start env TEST_CAMERA_HANG_AFTER=$frames LD_PRELOAD="$CAMERA" "$PELLUX" -nv -sq 0 99
  printed "$frames"
  press_escape
  finished
  check "ESC while the camera hangs after $frames frames" "$STATUS|$ERR" "0|"
done

# A display that the environment names but nothing serves: no crash, the
# frames are converted all the same.
unreachable=:$((4000 + RANDOM % 1000))
DISPLAY=$unreachable run "$CLIPS/c.avi" -nv
check "unreachable display status" "$STATUS" 0
check "unreachable display names" "$(timed_names)" "$(ring_names f jpg 0 10 25)"
check "unreachable display files" "$(files | wc -l)" 11
check "unreachable display stderr" "$ERR" ""

finish
