#!/usr/bin/env bash
# How a video file's end is told: whole files that a count by duration
# times rate would call short end with 0 and say nothing; files cut short
# say where reading stopped, or end with 0 where the README says their end
# cannot be told; damage in the middle is told by the frames it lost.
source "$(dirname "$0")/lib.sh"

ff() { ffmpeg -nostdin -v error -y "$@"; }
decoded() {  # decoded FILE: the frames ffmpeg decodes of it
  ffprobe -v quiet -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1" | grep -m1 -o '[0-9]*'
}
frames() { timed_names | wc -l; }
clip() {  # clip NAME OPTIONS...: 250 frames at 25 fps, with OPTIONS
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 250 "${@:2}" "$WORK/$1"
}
cut_at() { head -c "$2" "$WORK/$1" >"$WORK/cut-$1"; }
zeros_in() {  # zeros_in FILE: 64 KB of zeros over the middle of a copy
  cp "$WORK/$1" "$WORK/zeros-$1"
  dd if=/dev/zero of="$WORK/zeros-$1" bs=1024 count=64 conv=notrunc status=none \
    seek=$(($(stat -c %s "$WORK/$1") / 2048))
}
packets() { ffprobe -v quiet -select_streams v:0 -show_entries "packet=$1" -of csv=p=0 "$2"; }

# Whole: a slideshow of pictures that last 2, 3 and 10 s, frames dropped
# near the end, the decoder's last frames without their times, a count a
# writer to a pipe could not fill in.
for colour in red green blue; do ff -f lavfi -i "color=$colour:size=320x240" -frames:v 1 "$WORK/$colour.png"; done
printf "file 'red.png'\nduration 2\nfile 'green.png'\nduration 3\nfile 'blue.png'\nduration 10\nfile 'blue.png'\n" \
  >"$WORK/slides.txt"
ff -f concat -i "$WORK/slides.txt" -c:v libx264 -pix_fmt yuv420p "$WORK/slideshow.mkv"
selected=(-f lavfi -i testsrc2=size=320x240:rate=25:duration=10 -vf "select='lt(n,239)+gte(n,249)'" -fps_mode vfr)
ff "${selected[@]}" -c:v libx264 -pix_fmt yuv420p "$WORK/select.mkv"
if ffmpeg -hide_banner -encoders | grep -q libaom-av1; then
  ff "${selected[@]}" -c:v libaom-av1 -cpu-used 8 "$WORK/select-av1.mkv"
else
  ff "${selected[@]}" -c:v libx265 -x265-params log-level=none "$WORK/select-av1.mkv"
fi
ff -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 75 -c:v mpeg4 -f avi - >"$WORK/piped.avi"
for file in slideshow.mkv select.mkv select-av1.mkv piped.avi; do
  run "$WORK/$file" -nd -nv -no
  check "whole $file" "$STATUS|$ERR|$(frames)" "0||$(decoded "$WORK/$file")"
done

# Cut short: an FLV where its 75th frame's tag begins, a WMV and a TS
# without sound at half their bytes; the TS states no length, so its end
# cannot be told.
clip clip.flv -c:v flv1
cut_at clip.flv "$(packets pos "$WORK/clip.flv" | sed -n 75p)"
clip clip.wmv -c:v wmv2
cut_at clip.wmv $(($(stat -c %s "$WORK/clip.wmv") / 2))
clip clip.ts -c:v libx264
cut_at clip.ts $(($(stat -c %s "$WORK/clip.ts") / 2))
for file in cut-clip.flv cut-clip.wmv cut-clip.ts; do
  run "$WORK/$file" -nd -nv -no
  given=$(decoded "$WORK/$file")
  said="$WORK/$file: reading stopped after $given of 250 frames"
  [ "$file" = cut-clip.ts ] && said=
  check "cut $file" "$STATUS|$ERR|$(frames)" "$((${#said} > 0))|$said|$given"
done

# Damaged in the middle: the line counts the frames lost, whether the
# decoder failed on them or the demuxer passed over them, and the first
# lost is the first original frame that is not given (by its time in the
# mp4; by its place in the AVI, whose demuxer numbers the frames after a
# damaged stretch on from those before it).
clip clip.mp4 -c:v libx264
clip clip.avi -c:v mpeg4
for file in clip.mp4 clip.avi; do
  zeros_in "$file"
  run "$WORK/zeros-$file" -nd -nv -no
  given=$(decoded "$WORK/zeros-$file")
  if [ "$file" = clip.mp4 ]; then
    lost=$(packets pts "$WORK/clip.mp4" | sort -n | awk -F, 'NR == FNR { if ($1 != "") kept[$1] = 1; next }
      !($1 in kept) { print FNR - 1; exit }' <(ffprobe -v quiet -select_streams v:0 \
      -show_entries frame=pts -of csv=p=0 "$WORK/zeros-$file") -)
  else
    lost=$(awk 'NR == FNR { kept[$1] = 1; next } !($1 in kept) { print FNR - 1; exit }' \
      <(packets pos "$WORK/zeros-$file") <(packets pos "$WORK/$file"))
  fi
  check "zeros in $file" "$STATUS|$ERR|$(frames)" \
    "1|$WORK/zeros-$file: $((250 - given)) frames could not be decoded, the first after frame $lost|$given"
done

finish
