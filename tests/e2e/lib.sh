# Helpers shared by the end-to-end tests: running pellux in a directory of
# its own, comparing what it printed and wrote, and counting results.
set -u
PELLUX=$1
CLIPS=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0
runs=0

TIMING_LINE='^(.*) \| capture time = [0-9]+\.[0-9]{2} ms/frame - fps = ([0-9]+\.[0-9]{2}|inf)$'
BANNER='pellux: Conversion from video to image sequence using OpenCV version 4.6.0 (4.6.0)
Hot keys: 
	ESC - quit the program
Type pellux -h for additional help.'
HEADLESS_NOTICE='No display available: frames are not shown.'

# run ARGS...: runs pellux in this run's directory DIR (new, unless the
# caller made it first to put something in it), with whatever environment
# the caller put in front; sets OUT, ERR and STATUS.
run() {
  new_dir
  (cd "$DIR" && "$PELLUX" "$@" >"$WORK/out$runs" 2>"$WORK/err$runs")
  collect $?
}
new_dir() {  # the next run's directory DIR, made if it is not there yet
  runs=$((runs + 1))
  DIR=$WORK/run$runs
  mkdir -p "$DIR"
}
collect() {  # collect STATUS: sets STATUS, and OUT and ERR of this run
  STATUS=$1
  OUT=$(cat "$WORK/out$runs")
  ERR=$(cat "$WORK/err$runs")
}

# start COMMAND...: starts COMMAND in a new run directory DIR, in the
# background with job control so that SIGINT reaches it as from a
# terminal; sets PID.
start() {
  new_dir
  set -m
  (cd "$DIR" && exec "$@" >"$WORK/out$runs" 2>"$WORK/err$runs") &
  PID=$!
  set +m
}
# printed N: waits until the run that start began has printed N timing
# lines, or has ended (its output file may not exist yet when this starts
# looking).
printed() {
  while [ "$(cat "$WORK/out$runs" 2>/dev/null | grep -c "capture time")" -lt "$1" ] &&
    kill -0 "$PID" 2>/dev/null; do
    sleep 0.02
  done
}
finished() {  # sets STATUS, OUT and ERR of the run that start began
  wait "$PID"
  collect $?
}

# run_headless ARGS...: as run, with no display to reach.
run_headless() {
  local saved_display=${DISPLAY-} saved_wayland=${WAYLAND_DISPLAY-}
  unset DISPLAY WAYLAND_DISPLAY
  run "$@"
  [ -n "$saved_display" ] && export DISPLAY=$saved_display
  [ -n "$saved_wayland" ] && export WAYLAND_DISPLAY=$saved_wayland
  return 0
}

# Lines of OUT that are not timing lines, and the names the timing lines give.
messages() { grep -v -E "$TIMING_LINE" <<<"$OUT"; }
timed_names() { grep -E "$TIMING_LINE" <<<"$OUT" | sed -E "s#$TIMING_LINE#\\1#"; }
# The files that the run left, one per line, sorted.
files() { (cd "$DIR" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }
# seq_names BASE EXT FROM TO: the names BASE<index>.EXT for a range.
seq_names() { local i; for i in $(seq "$3" "$4"); do printf '%s%03d.%s\n' "$1" "$i" "$2"; done; }
# ring_names BASE EXT FIRST LAST COUNT: the names of COUNT cycling writes.
ring_names() {
  local i index=$3
  for ((i = 0; i < $5; i++)); do
    printf '%s%03d.%s\n' "$1" "$index" "$2"
    if ((index >= $4)); then index=$3; else index=$((index + 1)); fi
  done
}

check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | head -20
  fi
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
