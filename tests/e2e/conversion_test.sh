#!/usr/bin/env bash
# Converting real clips with no display: the ring of files, the console
# text and the options that shape names and formats.
source "$(dirname "$0")/lib.sh"

# The default run: messages, one timing line per frame in cycling order,
# the eleven files, nothing on stderr.
run_headless "$CLIPS/c.mp4"
check "default status" "$STATUS" 0
check "default messages" "$(messages)" "Verbose is on.
Input filename: $CLIPS/c.mp4
$BANNER
$HEADLESS_NOTICE"
check "default timing names" "$(timed_names)" "$(ring_names f jpg 0 10 25)"
check "default files" "$(files)" "$(seq_names f jpg 0 10)"
check "default stderr" "$ERR" ""
check "default files are 160x120 JPEGs" \
  "$(cd "$DIR" && for f in *; do ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$f"; done | sort -u)" \
  "mjpeg,160,120"

# The two figures of a timing line agree: fps is 1000 over the ms value,
# within what rounding both to two decimals allows.
bad_lines=$(grep -E "$TIMING_LINE" <<<"$OUT" | awk '{ ms = $(NF - 5); fps = $NF;
  if (fps == "inf") { if (ms != "0.00") print; next }
  lo = (ms + 0.005 > 0) ? 1000 / (ms + 0.005) - 0.005 : 0
  hi = (ms - 0.005 > 0) ? 1000 / (ms - 0.005) + 0.005 : 1e300
  if (fps < lo || fps > hi) print }')
check "timing figures agree" "$bad_lines" ""

# Every container and codec gives every frame once.
for clip in c.mp4 c.avi c.webm c.mkv c.mov; do
  run_headless "$CLIPS/$clip" -nv
  check "$clip status" "$STATUS" 0
  check "$clip frames" "$(timed_names)" "$(ring_names f jpg 0 10 25)"
  check "$clip files" "$(files | wc -l)" 11
done
# JPEG slots are baseline JFIF images, which every viewer reads.
check "jpg slots" "$(file -b "$DIR/f000.jpg" | grep -o 'JFIF standard 1.01\|baseline' | paste -sd' ')" \
  "JFIF standard 1.01 baseline"

# Each file holds the frame of its index: compared with ffmpeg's own
# extraction of the same clip, it matches that frame and not the next one.
# One ffmpeg run compares every frame with both, frame by frame.
psnr_by_frame() {  # psnr_by_frame OWN REF REF_START: "n psnr" per frame
  ffmpeg -v error -i "$1" -start_number "$3" -i "$2" \
    -lavfi "[0][1]psnr=stats_file=$WORK/psnr:shortest=1" -f null - &&
    sed -E 's/^n:([0-9]+) .*psnr_avg:([0-9.]+|inf).*/\1 \2/' "$WORK/psnr"
}
for clip in c.mp4 c.webm; do
  run_headless "$CLIPS/$clip" -nv -e png -sq 0 99
  ref=$WORK/ref-$clip
  mkdir "$ref"
  ffmpeg -v error -i "$CLIPS/$clip" -start_number 0 "$ref/r%03d.png"
  check "$clip reference frames" "$(ls "$ref" | wc -l)" 25
  psnr_by_frame "$DIR/f%03d.png" "$ref/r%03d.png" 0 >"$WORK/same"
  psnr_by_frame "$DIR/f%03d.png" "$ref/r%03d.png" 1 >"$WORK/next"
  check "$clip frames compared" "$(wc -l <"$WORK/same") $(wc -l <"$WORK/next")" "25 24"
  mismatches=$(join "$WORK/same" "$WORK/next" -a 1 | awk '{
    same = $2; next_one = NF > 2 ? $3 : 0
    if (!((same == "inf" || same > 35) && next_one != "inf" && next_one < same - 5))
      printf "%d(%s/%s) ", $1 - 1, same, next_one }')
  check "$clip frames match ffmpeg's" "$mismatches" ""
done

# Range, base name and padding.
run_headless "$CLIPS/c.avi" out -sq 3 3
check "single index messages" "$(messages | sed -n '3,4p')" "New output base filename: out
v0:3, v1:3"
check "single index names" "$(timed_names | sort -u)" "out003.jpg"
check "single index files" "$(files)" "out003.jpg"
check "single index writes" "$(timed_names | wc -l)" 25

run_headless "$CLIPS/c.avi" -nv -sq 5 2
check "first above last" "$(timed_names | sort -u)$(files)" "f005.jpgf005.jpg"

run_headless "$CLIPS/c.avi" -nv -zp 0 -sq 8 12
check "no padding" "$(timed_names | head -6)" "f8.jpg
f9.jpg
f10.jpg
f11.jpg
f12.jpg
f8.jpg"

run_headless "$CLIPS/c.avi" -nv -zp 1 -sq 2147483646 2147483647
check "range at the top of int" "$(timed_names | head -4)" "f2147483646.jpg
f2147483647.jpg
f2147483646.jpg
f2147483647.jpg"
check "range at the top of int status" "$STATUS" 0

mkdir -p "$WORK/run$((runs + 1))/out"
run_headless "$CLIPS/c.avi" -nv out/run1_
check "base with a directory" "$(files)" "$(seq_names out/run1_ jpg 0 10)"

# The extension picks the format.
for pair in png:png bmp:bmp tiff:tiff ppm:ppm webp:webp; do
  run_headless "$CLIPS/c.mp4" -nv -e "${pair%%:*}" -sq 0 1
  check "-e ${pair%%:*} status" "$STATUS" 0
  check "-e ${pair%%:*} format" \
    "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$DIR/f001.${pair%%:*}")" \
    "${pair##*:}"
done
run_headless "$CLIPS/c.mp4" -nv -e .png -sq 0 0
check "extension with its own dot" "$(files)" "f000..png"

# -no and -nd, -fps and -np.
run_headless "$CLIPS/c.avi" -no
check "-no message" "$(messages | sed -n 3p)" "No output."
check "-no names" "$(timed_names)" "$(ring_names f jpg 0 10 25)"
check "-no files" "$(files)" ""

run_headless "$CLIPS/c.avi" -nd
check "-nd messages" "$(messages)" "Verbose is on.
Input filename: $CLIPS/c.avi
No display.
$BANNER"
check "-nd files" "$(files | wc -l)" 11

run_headless "$CLIPS/c.avi" -fps 5 -np -nv
check "-fps and -np change nothing" "$(timed_names | wc -l) $(files | wc -l) $STATUS" "25 11 0"

# Help ends the run before anything is opened.
run_headless -nd -h x
check "help status" "$STATUS" 0
check "help opens nothing" "$(grep -c -E 'pellux: Conversion|capture time' <<<"$OUT")$(files)" 0

# Timing lines leave as frames are written, not when the run ends: fed
# through a FIFO that stays open, pellux blocks for more input with the
# lines of the frames so far already out (a full buffer would hold them).
mkfifo "$WORK/feed"
env -u DISPLAY -u WAYLAND_DISPLAY "$PELLUX" "$WORK/feed" -nv -no >"$WORK/fed" &
reader=$!
exec 3>"$WORK/feed"
cat "$CLIPS/c.ts" >&3
for _ in $(seq 600); do  # a generous bound: only a run that holds its lines reaches it
  [ -s "$WORK/fed" ] && break
  sleep 0.2
done
lines_while_blocked=$(grep -c -E "$TIMING_LINE" "$WORK/fed")
kill -0 "$reader" 2>/dev/null && still_running=yes || still_running=no
exec 3>&-
wait "$reader"
check "lines out while the run waits for input" \
  "$still_running $((lines_while_blocked > 0))" "yes 1"
check "all lines once the input ends" "$(grep -c -E "$TIMING_LINE" "$WORK/fed")" 25

finish
