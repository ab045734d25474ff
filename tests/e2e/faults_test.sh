#!/usr/bin/env bash
# What goes wrong: sources that do not open, names and formats that cannot
# be written, texts too long for their fields, damaged clips.
source "$(dirname "$0")/lib.sh"

# An extension with no image writer is refused before anything opens.
run_headless "$CLIPS/c.avi" -nv -e xyz
check "-e xyz status" "$STATUS" 255
check "-e xyz stderr" "$ERR" "No image writer for the extension of f000.xyz"
check "-e xyz output" "$OUT$(files)" ""
for extension in pgm exr; do
  run_headless "$CLIPS/c.avi" -nv -e $extension
  check "-e $extension refused" "$STATUS|$ERR|$OUT$(files)" \
    "255|The $extension image writer cannot write colour frames|"
done
TJ_OPTIMIZE=1 TJ_ARITHMETIC=1 run_headless "$CLIPS/c.avi" -nv
check "libjpeg-turbo settings that conflict" "$STATUS|$ERR|$OUT$(files)" \
  "255|The jpg image writer cannot use arithmetic coding (TJ_ARITHMETIC=1) with optimised Huffman tables (TJ_OPTIMIZE=1)|"
run_headless "$CLIPS/c.avi" -nv -no -latest newest.jpg
check "-latest without saving" "$STATUS|$ERR|$OUT$(files)" \
  "255|-latest names the newest frame written: with -no, none is|"
run_headless "$CLIPS/c.avi" -nv -latest f010.jpg
check "-latest naming a slot" "$STATUS|$ERR|$OUT$(files)" \
  "255|Cannot keep the newest frame as f010.jpg: it is one of the slots|"
run_headless "$CLIPS/c.avi" -nv -e xyz -no
check "-e xyz without saving" "$STATUS $(timed_names | head -1)" "0 f000.xyz"

# A file that cannot be written is reported each time, with no timing
# line, which names only slots in place; the others are written, and the
# status says so.
mkdir -p "$WORK/run$((runs + 1))/f003.jpg"
run_headless "$CLIPS/c.avi" -nv -sq 0 4
check "unwritable file status" "$STATUS" 1
check "unwritable file stderr" "$ERR" "$(printf 'Could not write f003.jpg: replacing it: Is a directory\n%.0s' 1 2 3 4 5)"
check "unwritable file timing" "$(timed_names)" "$(ring_names f jpg 0 4 25 | grep -v f003)"
check "other files written" "$(files)" "f000.jpg
f001.jpg
f002.jpg
f004.jpg"

run_headless "$CLIPS/c.avi" -nv missing/f -sq 0 1
check "missing directory status" "$STATUS" 1
check "missing directory stderr" "$(sort <<<"$ERR" | uniq -c | sed 's/^ *//')" "13 Could not write missing/f000.jpg: creating a temporary file beside it: No such file or directory
12 Could not write missing/f001.jpg: creating a temporary file beside it: No such file or directory"
check "missing directory not made" "$(ls "$DIR")" ""

# A format written only to files, checked at start where nothing can be
# written: each frame says why, as with any other format.
new_dir
err=$(cd "$DIR" && ulimit -f 0 && "$PELLUX" "$CLIPS/c.avi" -nv -e jp2 2>&1 >/dev/null)
check "jp2 with no room" "$?|$(sed 's/f0[0-9][0-9]/fNNN/' <<<"$err" | sort | uniq -c | sed 's/^ *//')" \
  "1|25 Could not write fNNN.jp2: writing it: File too large"

# Names that cannot be formed, or that the file system cannot hold, are
# refused before the source opens.
for width in 100000 2147483647 -2147483647 -2147483648; do
  run_headless "$CLIPS/c.avi" -nv -zp $width
  check "-zp $width" "$STATUS|$ERR|$OUT" \
    "255|Output file name for index 10 would be longer than 4095 characters.|"
done
run_headless "$CLIPS/c.avi" -nv -zp 300
check "-zp 300" "$STATUS|$ERR|$OUT" \
  "255|Output file name for index 10 would have a part longer than 255 characters.|"

# Texts too long for their fields are refused, never cut.
long_base=$(printf 'b%.0s' $(seq 256))
run_headless "$CLIPS/c.avi" -nv "$long_base"
check "long base" "$STATUS|$ERR|$(files)" \
  "255|Output base filename is too long: at most 255 characters.|"
run_headless "$CLIPS/c.avi" -nv -e "$(printf 'e%.0s' $(seq 250))"
check "long extension" "$STATUS|$ERR" "255|Extension is too long: at most 249 characters."

# Sources that do not open: only our own lines reach stderr.
run_headless "$WORK/no-such-clip.avi" -nv
check "missing file" "$STATUS|$ERR|$OUT" "255|Could not initialize capturing...|"
run_headless /dev/video-not-plugged-in -nv
check "missing device" "$STATUS|$ERR|$OUT" "255|Could not initialize capturing...
/dev/video-not-plugged-in: No such file or directory|"
head -c 9000 "$CLIPS/c.mp4" >"$WORK/no-index.mp4"  # its index is at the end
run_headless "$WORK/no-index.mp4" -nv
check "mp4 without its index" "$STATUS|$ERR" "255|Could not initialize capturing..."
echo "not a video" >"$WORK/text.avi"
run_headless "$WORK/text.avi" -nv
check "not a video" "$STATUS|$ERR" "255|Could not initialize capturing..."

if ls /dev/video* >/dev/null 2>&1; then
  echo "skipping the missing-camera cases: this machine has a camera"
else
  run_headless
  check "no camera" "$STATUS|$ERR|$OUT" "255|Could not initialize capturing...
/dev/video0: No such file or directory|Verbose is on.
$BANNER"
  for arguments in "7:7" "-nd:0" "-nv -sq 0 99:0"; do
    run_headless ${arguments%:*}
    check "no camera (${arguments%:*})" "$STATUS|$ERR" "255|Could not initialize capturing...
/dev/video${arguments##*:}: No such file or directory"
  done
fi

# A video that opens but gives no frame at all is a failure: here a clip
# cut just after its headers, where the first frame would begin.
cluster=$(LC_ALL=C grep -obUaP '\x1F\x43\xB6\x75' "$CLIPS/c.mkv" | head -1 | cut -d: -f1)
head -c $((cluster + 12)) "$CLIPS/c.mkv" >"$WORK/headers.mkv"
run_headless "$WORK/headers.mkv" -nv
check "no frame at all" "$STATUS|$ERR|$OUT$(files)" \
  "1|$WORK/headers.mkv: no frame could be read|"

# A clip cut short writes the frames it had, and says it was not whole.
head -c "$(($(stat -c %s "$CLIPS/c.mkv") / 2))" "$CLIPS/c.mkv" >"$WORK/cut.mkv"
head -c 40000 "$CLIPS/c.avi" >"$WORK/cut.avi"
for clip in cut.mkv cut.avi; do
  run_headless "$WORK/$clip" -nv -sq 0 99
  written=$(timed_names | wc -l)
  check "$clip says it stopped short" "$STATUS $((written < 25))|$ERR" \
    "1 1|$WORK/$clip: reading stopped after $written of 25 frames"
  check "$clip writes what it reads" "$(files)" "$(timed_names | sort)"
done

finish
