#!/usr/bin/env bash
# The ring as other programs see it: slots read while they are rewritten,
# runs stopped by signals, writes that fail, and names the run must not
# destroy.
source "$(dirname "$0")/lib.sh"
SLOT_READER=$3
unset DISPLAY WAYLAND_DISPLAY

# start_long ARGS...: starts pellux on the long clip, as start does. Once
# it has printed a timing line its stop signals are caught, and once it has
# printed two both slots of a two-slot ring exist.
start_long() { start "$PELLUX" "$CLIPS/long.avi" -nv "$@"; }
whole_slots() { (cd "$DIR" && "$SLOT_READER" "$@" >/dev/null 2>&1) && echo whole || echo torn; }

# A reader polling a two-slot ring and the newest frame's name while they
# are rewritten, from the first frame to the last, finds each there and
# whole each time, and sees them replaced under it (else it proved
# nothing). At the end the name holds the last frame.
start_long -e png -sq 0 1 -latest newest.png
(cd "$DIR" && "$SLOT_READER" --until "$WORK/done" f000.png f001.png newest.png >"$WORK/reads" 2>/dev/null) &
reader=$!
finished
touch "$WORK/done"
wait "$reader"
read -r _ reads _ missing _ torn _ replaced <"$WORK/reads"
check "reader saw every slot whole" "$missing $torn $((replaced > 0))" "0 0 1"
check "the newest frame's name" "$STATUS|$(cmp "$DIR/newest.png" "$DIR/$(timed_names | tail -1)" && echo same)" "0|same"
echo "reader: $(cat "$WORK/reads")"

# A stop signal ends the run by that signal, between frames: every line
# whole, every slot whole, nothing else left.
for stop in INT:130:2 TERM:143:100 HUP:129:500 USR1:138:300; do
  IFS=: read -r name code lines <<<"$stop"
  start_long -e png -sq 0 1
  printed "$lines"
  kill -s "$name" "$PID"
  finished
  check "SIG$name status" "$STATUS" "$code"
  check "SIG$name stopped the run" "$(($(timed_names | wc -l) < 3000))" 1
  check "SIG$name last line whole" "$(tail -c 1 "$WORK/out$runs" | od -An -c | tr -d ' ')$(tail -1 <<<"$OUT" | grep -cE "$TIMING_LINE")" '\n1'
  check "SIG$name slots" "$(whole_slots f000.png f001.png) $(files | tr '\n' ' ')" "whole f000.png f001.png "
done

# Killed outright, the run leaves whole slots and at most one hidden
# temporary.
for lines in 2 100 500; do
  start_long -e png -sq 0 1
  printed "$lines"
  kill -s KILL "$PID"
  finished
  check "SIGKILL after $lines frames" "$(whole_slots f000.png f001.png) $(($(ls -A "$DIR" | grep -c '^\.pellux-') <= 1))" "whole 1"
done

# waits_in CALL: waits until a thread of the run PID is blocked in the
# kernel's CALL (pipe_read, pipe_write); fails once the run has ended or
# after a generous bound.
waits_in() {
  for _ in $(seq 600); do
    grep -qs "$1" /proc/$PID/task/*/wchan && return 0
    kill -0 "$PID" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# A source that waits is interrupted by the first stop signal: a FIFO
# with no writer yet ends the run at once, and nothing is said.
mkfifo "$WORK/feed"
"$PELLUX" "$WORK/feed" -nv >/dev/null 2>"$WORK/err" &
PID=$!
# until pellux itself takes SIGTERM (bit 15 of SigBlk: blocked, for the
# thread that waits for it): until the fork has become pellux, it is the
# shell, which catches SIGTERM for its EXIT trap and dies of it
takes_term() {
  [ "$(readlink "/proc/$PID/exe")" = "$(readlink -f "$PELLUX")" ] &&
    (($(printf '%d' "0x$(awk '/^SigBlk/ { print $2 }' "/proc/$PID/status")") & 0x4000))
}
while kill -0 "$PID" 2>/dev/null && ! takes_term 2>/dev/null; do
  sleep 0.02
done
kill -s TERM "$PID"
wait "$PID"
check "waiting source, one signal" "$? $(cat "$WORK/err")" "143 "

# One whose writer stops after some frames holds the run in FFmpeg, which
# reads again when interrupted: the first signal is held, a second ends
# the run at once.
"$PELLUX" "$WORK/feed" -nv -nd >"$WORK/fed" 2>/dev/null &
PID=$!
exec 3>"$WORK/feed"
cat "$CLIPS/c.ts" >&3
waits_in pipe_read  # for more
kill -s TERM "$PID"
sleep 0.2
kill -0 "$PID" 2>/dev/null && held=held || held=ended
kill -s TERM "$PID"
wait "$PID"
check "stalled source, two signals" "$held $?" "held 143"
exec 3>&-

# A reader of stdout that stops reading cannot hold a run that is told to
# stop: one SIGTERM ends it and the lines it did not take are dropped,
# also when it stopped amid the messages before the first frame.
mkfifo "$WORK/stalled"
for case in "0 -nv" "65400 -nd"; do
  read -r filled options <<<"$case"
  exec 4<>"$WORK/stalled"  # a new pipe, held open and never read
  head -c "$filled" /dev/zero >&4
  new_dir
  (cd "$DIR" && exec "$PELLUX" "$CLIPS/long.avi" $options -sq 0 1 >"$WORK/stalled" 2>"$WORK/err") &
  PID=$!
  waits_in pipe_write && stalled=yes || stalled=no
  kill -s TERM "$PID"
  wait "$PID"
  check "stalled reader after $filled bytes, one signal" \
    "$stalled $? $(cat "$WORK/err") $(whole_slots $(files))" "yes 143  whole"
  exec 4>&-
done

# A reader of stdout that goes away stops the run the same way, with the
# frames in flight completed: even those written through hidden files.
for extension in png jp2; do
  new_dir
  cd "$DIR"
  "$PELLUX" "$CLIPS/long.avi" -nv -e $extension -sq 0 1 | head -3 >/dev/null
  STATUS=${PIPESTATUS[0]}
  cd - >/dev/null
  check "stdout closed by its reader ($extension)" \
    "$STATUS $(whole_slots $(files)) $(ls -A "$DIR" | grep -vc "^f00[01].$extension\$")" "141 whole 0"
done

# Also when SIGPIPE was ignored from the start, as services have it: the
# run stops at its first lost line and says so.
new_dir
(cd "$DIR" && trap '' PIPE &&
  "$PELLUX" "$CLIPS/long.avi" -nv -nd -sq 0 1 2>"$WORK/err" | head -2 >/dev/null
  echo "${PIPESTATUS[0]}" >"$WORK/status")
check "stdout lost with SIGPIPE ignored" "$(cat "$WORK/status") $(cat "$WORK/err") $(whole_slots $(files))" \
  "1 Could not write to standard output: Broken pipe whole"

# Without /proc, as in a bare chroot or a sandbox, slots are still written.
if [ -n "${ASAN_OPTIONS-}" ]; then
  echo "skipping the no-/proc case: the sanitizers need /proc"
elif [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  mkdir "$WORK/empty"
  new_dir
  (cd "$DIR" && unshare -m sh -c 'mount --bind "$1" /proc && shift && exec "$@"' sh \
    "$WORK/empty" "$PELLUX" "$CLIPS/c.avi" -nv -nd -sq 0 1 >"$WORK/out$runs" 2>"$WORK/err$runs")
  collect $?
  check "no /proc" "$STATUS|$ERR|$(timed_names | wc -l)|$(whole_slots $(files))|$(ls -A "$DIR" | grep -c '^\.')" \
    "0||25|whole|0"
else
  echo "skipping the no-/proc case: needs root and unshare -m"
fi

# Writes that fail keep the slots' previous images: a file-size limit, and
# a full filesystem where this machine lets us mount one. pfm is written
# by a writer that does not notice a failed write itself.
convert() {  # convert EXT DIR [SIZE_LIMIT_KIB]: stderr in $WORK/failed
  (cd "$2" && ulimit -S -f "${3:-unlimited}" &&
    "$PELLUX" "$CLIPS/c.avi" -nv -e "$1" -sq 0 1 >/dev/null 2>"$WORK/failed")
}
check_rewrite_failed() {  # check_rewrite_failed NAME STATUS EXT DIR REASON
  check "$1 ($3)" "$2 $(grep -c "^Could not write f00[01].$3: writing it: $5\$" "$WORK/failed") $(
    cmp "$WORK/f000.$3" "$4/f000.$3" && cmp "$WORK/f001.$3" "$4/f001.$3" &&
    ls -A "$4" | grep -c '^\.pellux')" "1 25 0"
}
mkdir "$WORK/disk"
can_mount=$(mount -t tmpfs -o size=1m tmpfs "$WORK/disk" 2>/dev/null && umount "$WORK/disk" && echo yes)
[ -n "$can_mount" ] || echo "skipping the full-disk cases: cannot mount a tmpfs here"
for extension in bmp pfm; do
  mkdir "$WORK/limited-$extension"
  convert $extension "$WORK/limited-$extension"
  cp -p "$WORK/limited-$extension"/f00[01].$extension "$WORK"
  convert $extension "$WORK/limited-$extension" 40  # below a 160x120 frame
  check_rewrite_failed "size limit" $? $extension "$WORK/limited-$extension" "File too large"

  [ -n "$can_mount" ] || continue
  mount -t tmpfs -o size=1m tmpfs "$WORK/disk"
  convert $extension "$WORK/disk"
  cp -p "$WORK/disk"/f00[01].$extension "$WORK"
  dd if=/dev/zero of="$WORK/disk/filler" bs=4k 2>/dev/null
  convert $extension "$WORK/disk"
  check_rewrite_failed "full disk" $? $extension "$WORK/disk" "No space left on device"
  umount "$WORK/disk"
done

# A slot that is the video being read is never replaced; the video is
# converted whole all the same, and only the slots in place get a line.
mkdir -p "$WORK/run$((runs + 1))"
cp "$CLIPS/c.avi" "$WORK/run$((runs + 1))/f000.jpg"
run_headless f000.jpg -nv -sq 0 3
check "input as a slot" "$STATUS $(timed_names | sort -u | tr '\n' ' ')$(sort -u <<<"$ERR")" \
  "1 f001.jpg f002.jpg f003.jpg Could not write f000.jpg: it is the video being read"
check "input as a slot unharmed" "$(cmp "$CLIPS/c.avi" "$DIR/f000.jpg" && echo same)" same

# Console output that cannot be delivered is not success.
new_dir
(cd "$DIR" && "$PELLUX" "$CLIPS/c.avi" -nv -sq 0 1 >/dev/full 2>"$WORK/full")
check "stdout full" "$? $(cat "$WORK/full")" "1 Could not write to standard output: No space left on device"
"$PELLUX" -h >/dev/full 2>"$WORK/full"
check "help to a full stdout" "$? $(cat "$WORK/full")" "1 Could not write to standard output: No space left on device"
(cd "$DIR" && "$PELLUX" "$CLIPS/c.avi" -nv -sq 0 1 >&- 2>"$WORK/closed")
check "stdout closed" "$? $(cat "$WORK/closed") $(files | wc -l)" "1 Could not write to standard output: Bad file descriptor 2"

finish
