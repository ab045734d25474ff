#!/usr/bin/env bash
# Camera runs, on the test camera: frames in order, a camera that is
# unplugged or hangs, stop signals, and cameras that do not open.
# Usage: camera_test.sh PELLUX CLIPS SLOT_READER TEST_CAMERA_LIBRARY
source "$(dirname "$0")/lib.sh"
SLOT_READER=$3
CAMERA=$4
unset DISPLAY WAYLAND_DISPLAY
# The camera is loaded ahead of a sanitizer's runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# start_on_camera [SETTING=VALUE...] -- ARGS...: starts pellux, as start
# does, with the test camera set up by the TEST_CAMERA_ settings.
start_on_camera() {
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1") && shift; done
  shift
  start env "${settings[@]}" LD_PRELOAD="$CAMERA" "$PELLUX" "$@"
}
on_camera() {  # as start_on_camera, to the end of the run
  start_on_camera "$@"
  finished
}
# The slots as a reader finds them, and whether the frame numbers their
# pictures carry rise strictly in the order they were written.
slots() {
  local names
  names=$(files | tr '\n' ' ')
  (cd "$DIR" && "$SLOT_READER" $names >/dev/null 2>&1) && echo -n "whole " || echo -n "torn "
  (cd "$DIR" && "$SLOT_READER" --numbers $names) |
    awk '$1 < 0 || (NR > 1 && $1 <= last) { bad = 1 } { last = $1 }
         END { print (NR > 0 && !bad) ? "in order" : "out of order" }'
}
hidden() { ls -A "$DIR" | grep -c '^\.'; }
STOPPED="the camera stopped giving frames"

# Camera 0 until it is unplugged: every frame it gave written in order, in
# whole slots, and the stop is a failure with its reason.
on_camera TEST_CAMERA_UNPLUG_AFTER=30 -- -nv -sq 0 99
check "unplugged status and reason" "$STATUS|$ERR" "1|/dev/video0: $STOPPED"
check "unplugged frames" "$(slots) $(hidden)" "whole in order 0"
check "unplugged lines name the slots" "$(timed_names)" "$(files)"

# A device path is a camera, with the options after it.
on_camera TEST_CAMERA_INDEX=3 TEST_CAMERA_UNPLUG_AFTER=30 -- /dev/video3 -nv -e png -sq 0 99
check "device path" "$STATUS|$ERR|$(slots)" "1|/dev/video3: $STOPPED|whole in order"
check "device path options" "$(files | head -1)" "f000.png"

# A signal pellux does not take leaves the camera's wait alone: every frame
# taken from the camera is written.
start_on_camera TEST_CAMERA_FPS=120 TEST_CAMERA_UNPLUG_AFTER=60 TEST_CAMERA_TRACE="$WORK/trace" -- -nv -sq 0 99
printed 10
kill -s URG "$PID"
finished
check "SIGURG changes nothing" "$STATUS|$ERR|$(timed_names | wc -l)" \
  "1|/dev/video0: $STOPPED|$(grep -c '^dequeued' "$WORK/trace")"

# Frames decoded: a camera without MJPEG, and MJPEG frames for png slots.
on_camera TEST_CAMERA_FORMATS=YUYV TEST_CAMERA_UNPLUG_AFTER=30 -- -nv -sq 0 99
check "YUYV camera" "$STATUS|$ERR|$(slots)" "1|/dev/video0: $STOPPED|whole in order"
# What a camera that spoils every Nth frame (TEST_CAMERA_DAMAGE_EVERY or
# TEST_CAMERA_BAD_HEADER_EVERY) should come to, from its trace: the frames
# pellux took from it (a camera on a busy machine drops frames of its
# own), less those spoilt (N-1, 2N-1, ...), which are counted instead.
taken() { awk '$1 == "dequeued" { print $2 }' "$WORK/trace"; }
kept_frames() { taken | awk -v n="$1" '$1 % n != n - 1'; }
damage_line() {  # damage_line N
  local count before
  count=$(taken | awk -v n="$1" '$1 % n == n - 1' | wc -l)
  before=$(taken | awk -v n="$1" '$1 % n == n - 1 { print NR - 1; exit }')
  [ "$count" -eq 1 ] && echo "/dev/video0: 1 frame could not be decoded, the first after frame $before" ||
    echo "/dev/video0: $count frames could not be decoded, the first after frame $before"
}

# MJPEG frames for png slots are decoded by the encoders; a frame cut
# short is left out as for jpg slots.
on_camera TEST_CAMERA_FORMATS=MJPG TEST_CAMERA_DAMAGE_EVERY=10 TEST_CAMERA_UNPLUG_AFTER=25 \
  TEST_CAMERA_TRACE="$WORK/trace" -- -nv -sq 0 99 -e png
check "MJPEG camera, png slots" "$STATUS|$ERR|$(slots)|$(files | wc -l)" \
  "1|$(damage_line 10)
/dev/video0: $STOPPED|whole in order|$(kept_frames 10 | wc -l)"

# A frame whose header libjpeg refuses, or that states another size than
# the camera's, is left out and counted, whatever the slots' format: no
# encoder gets it, and no slot (frames 4, 9, 14 and 19).
for bad in precision:jpg size:png; do
  on_camera TEST_CAMERA_FORMATS=MJPG TEST_CAMERA_BAD_HEADER=${bad%:*} TEST_CAMERA_BAD_HEADER_EVERY=5 \
    TEST_CAMERA_UNPLUG_AFTER=24 TEST_CAMERA_TRACE="$WORK/trace" -- -nv -sq 0 99 -e "${bad#*:}"
  check "bad headers left out, $bad" \
    "$STATUS|$ERR|$(slots)|$(cd "$DIR" && "$SLOT_READER" --numbers $(files) | tr '\n' ' ')" \
    "1|$(damage_line 5)
/dev/video0: $STOPPED|whole in order|$(kept_frames 5 | tr '\n' ' ')"
done

# JPEG slots get the camera's own frames, byte for byte; where the camera
# leaves out the Huffman tables, with the standard ones put back. A frame
# cut short is not written, and the run goes on. The second camera lacks
# the size asked for by default, 640x480, and gives its own in MJPEG.
saved=$WORK/saved
for tables in 0 1; do
  rm -rf "$saved" && mkdir "$saved"
  sizes=640x480,320x240
  [ $tables = 1 ] && sizes=320x240
  on_camera TEST_CAMERA_NO_DHT=$tables TEST_CAMERA_DAMAGE_EVERY=10 TEST_CAMERA_SAVE_DIR="$saved" \
    TEST_CAMERA_SIZES=$sizes TEST_CAMERA_UNPLUG_AFTER=40 TEST_CAMERA_TRACE="$WORK/trace" -- -nv -sq 0 99
  numbers=$(cd "$DIR" && "$SLOT_READER" --numbers $(files) | tr '\n' ' ')
  same=$(for name in $(files); do
    number=$("$SLOT_READER" --numbers "$DIR/$name")
    cmp -s "$DIR/$name" "$saved/$number.jpg" && echo "$number"
  done | tr '\n' ' ')
  check "camera's own frames, NO_DHT=$tables" "$STATUS|$ERR|$(slots)|$numbers" \
    "1|$(damage_line 10)
/dev/video0: $STOPPED|whole in order|$same"
  check "frames cut short left out, NO_DHT=$tables" "$numbers" "$(kept_frames 10 | tr '\n' ' ')"
done

# A camera that gives only damaged frames has stopped all the same, once
# it has given no whole frame for as long as a camera may hang.
on_camera TEST_CAMERA_FORMATS=MJPG TEST_CAMERA_DAMAGE_EVERY=1 -- -nv -sq 0 99
check "only damaged frames" "$STATUS|$(files | wc -l)|$(sed -E 's/: [0-9]+ frames/: N frames/' <<<"$ERR")" \
  "1|0|/dev/video0: N frames could not be decoded, the first after frame 0
/dev/video0: $STOPPED"

# A size the camera offers is taken; one it does not, refused with what it
# offers; a file is not asked for a size.
size() { ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$DIR/$1"; }
on_camera TEST_CAMERA_SIZES=640x480,1280x720 TEST_CAMERA_UNPLUG_AFTER=5 -- -nv -size 1280x720
check "-size taken" "$STATUS|$(size f000.jpg)" "1|1280,720"
on_camera TEST_CAMERA_SIZES=640x480,1280x720 -- -nv -size 1920x1080
check "-size refused" "$STATUS|$ERR|$OUT$(files)" "255|Could not initialize capturing...
/dev/video0: 1920x1080 is not offered; it offers 640x480, 1280x720|"
run "$CLIPS/c.webm" -nv -size 640x480
check "-size with a file" "$STATUS|$ERR|$(files)" \
  "255|-size asks a camera for its frame size: $CLIPS/c.webm is not a camera|"

# -fps asks the camera for the nearest rate at or above it; below its
# slowest, a frame is kept every 1/N s of capture time, each the newest
# the camera had.
on_camera TEST_CAMERA_FPS=30,15,7.5 TEST_CAMERA_TRACE="$WORK/trace" TEST_CAMERA_UNPLUG_AFTER=10 -- -nv -fps 7
check "-fps 7 of 30, 15, 7.5" "$(grep '^rate' "$WORK/trace" | tail -1)" "rate 7.5"
# paced TAKEN: whether the frame numbers read rise, and are at least two
# and fewer than a third of the TAKEN frames: kept every so often. (How
# evenly is the pacer's own test; here a busy machine delays frames.)
paced() {
  awk -v taken="$1" 'NR > 1 && $1 <= last { bad = 1 } { last = $1 }
    END { print (!bad && NR >= 2 && NR * 3 < taken) ? "paced" : "not paced: " NR " of " taken }'
}
on_camera TEST_CAMERA_TRACE="$WORK/trace" TEST_CAMERA_UNPLUG_AFTER=91 -- -nv -fps 5 -sq 0 99
kept=$(cd "$DIR" && "$SLOT_READER" --numbers $(files))
check "-fps 5 of 30: every so often" "$STATUS|$(timed_names | wc -l)|$(paced 91 <<<"$kept")" \
  "1|$(wc -l <<<"$kept")|paced"
check "-fps 5 of 30: each the newest" "$(awk 'FNR == NR { kept[$1] = 1; next }
  $1 == "dequeued" && ($2 in kept) && $4 - $3 >= 1e9 / 30 { print "old " $2 }' <(echo "$kept") "$WORK/trace")" ""

# A camera that lists neither its sizes nor its rates: the size is asked
# for and checked once open, and the rate it took tells which frames to keep.
on_camera TEST_CAMERA_NO_LISTS=1 TEST_CAMERA_SIZES=640x480,1280x720 TEST_CAMERA_UNPLUG_AFTER=40 -- \
  -nv -size 1280x720 -fps 5 -sq 0 99
check "a camera that lists nothing" "$STATUS|$(size f000.jpg)|$(cd "$DIR" && "$SLOT_READER" --numbers $(files) |
  paced 40)" "1|1280,720|paced"

# A camera that hangs ends the run by itself once the backend stops waiting.
on_camera TEST_CAMERA_HANG_AFTER=10 -- -nv -sq 0 99
check "hung camera" "$STATUS|$ERR|$(slots)" "1|/dev/video0: $STOPPED|whole in order"

# One SIGTERM ends a run waiting on a hung camera at once, long before it
# would end by itself.
start_on_camera TEST_CAMERA_HANG_AFTER=10 -- -nv -sq 0 99
printed 10  # all it gave
kill -s TERM "$PID"
finished
check "SIGTERM on a hung camera" "$STATUS|$ERR|$(slots)" "143||whole in order"

start_on_camera -- -nv -sq 0 99  # a ring that cannot wrap in the time the signal takes
printed 2
kill -s INT "$PID"
finished
check "SIGINT" "$STATUS|$ERR|$(slots) $(hidden)" "130||whole in order 0"

# With stdout closed at start, the run goes on as usual (whatever file a
# library opens at once), and says at its end that stdout was closed.
new_dir
: >"$WORK/out$runs"
(cd "$DIR" && TEST_CAMERA_UNPLUG_AFTER=20 TEST_CAMERA_TRACE="$WORK/trace" LD_PRELOAD="$CAMERA" \
  "$PELLUX" -nv -sq 0 99 >&- 2>"$WORK/err$runs")
collect $?
check "stdout closed" "$STATUS|$ERR|$(files | wc -l)" "1|/dev/video0: $STOPPED
Could not write to standard output: Bad file descriptor|$(taken | wc -l)"

# Cameras that do not open say why, after the usual line.
for failure in "TEST_CAMERA_OPEN_ERRNO=13:Permission denied (is the user in the video group?)" \
  "TEST_CAMERA_OPEN_ERRNO=2:No such file or directory" \
  "TEST_CAMERA_BUSY=1:Device or resource busy (is another program using it?)"; do
  on_camera "${failure%%:*}" -- -nv
  check "${failure%%:*}" "$STATUS|$ERR|$OUT$(files)" "255|Could not initialize capturing...
/dev/video0: ${failure#*:}|"
done

finish
