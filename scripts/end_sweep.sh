#!/usr/bin/env bash
# Makes whole, cut and damaged video files with ffmpeg, runs pellux on each
# and compares what it says at the end with ffprobe's count of the frames:
# whole files that end with a status or a line (false alarms), cut or
# damaged files that end with status 0 though the README does not list
# them among the files whose end cannot be told (silent losses), and lines
# whose number is not the frames missing. Not part of the test command: it
# makes some 400 files and takes about a quarter of an hour on two cores.
# Usage: scripts/end_sweep.sh PELLUX [DIR]   (DIR keeps the files; by default
# a temporary directory that is removed)
set -u
"$(dirname "$0")/setup.sh" "$0" tests || exit 1
PELLUX=$(realpath "$1")
if [ $# -ge 2 ]; then
  DIR=$2
  mkdir -p "$DIR"
else
  DIR=$(mktemp -d)
  trap 'rm -rf "$DIR"' EXIT
fi
cd "$DIR" || exit 1

# The cut or damaged files whose loss the README says cannot be told, or
# told in full, by the label of the file each is made from and how it is
# damaged: files that state no length for their video (ts, mpg, ogg, nut,
# raw streams, gif, dv, mp4 in fragments, files written to a pipe; flv and
# wmv with sound), an AVI of a variable rate cut short, and damage that
# the demuxer of a file without an index of every frame passes over.
untold() {  # untold LABEL HOW
  case $1 in ts | tss | mpg | ogv | nut | h264 | y4m | gif | dv | frag | flvs | wmvs | piped* | vfravi) return 0 ;; esac
  case $1:$2 in mp4*:* | mov:* | 3gp:* | avi*:*) return 1 ;; *:zeros* | *:garbage*) return 0 ;; esac
  return 1
}

ff() { ffmpeg -nostdin -v error -y "$@" </dev/null; }
count() {  # the frames ffprobe decodes of FILE
  ffprobe -v quiet -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1" | grep -m1 -o '[0-9]*'
}
SOUND="-f lavfi -i sine=frequency=440:sample_rate=48000"

WHOLE=()
# whole_from NAME INPUT... -- OUTPUT...: makes the whole file NAME.
whole_from() {
  local name=$1 input=()
  shift
  while [ "$1" != -- ]; do input+=("$1"); shift; done
  shift
  if ff "${input[@]}" "$@" "$name" && [ -s "$name" ]; then WHOLE+=("$name"); fi
}
# whole NAME SIZE RATE FRAMES [INPUT...] -- OUTPUT...: the same of FRAMES
# frames of a test pattern, with the other inputs given (sound).
whole() {
  local name=$1 size=$2 rate=$3 frames=$4
  shift 4
  local input=()
  while [ "$1" != -- ]; do input+=("$1"); shift; done
  shift
  whole_from "$name" -f lavfi -i "testsrc2=size=$size:rate=$rate" "${input[@]}" -- \
    -frames:v "$frames" -shortest "$@"
}

set -f  # options are split on spaces, never globbed
# Codecs in their containers, without and with sound.
for pair in mp4:libx264 mp4:libx265 mp4:mpeg4 mp4:libaom-av1 mp4:libvpx-vp9 mp4:mjpeg \
  mov:libx264 mov:prores_ks mov:mjpeg mov:qtrle mov:png mov:mpeg4 mov:libx265 \
  mkv:libx264 mkv:libx265 mkv:mpeg4 mkv:libvpx mkv:libvpx-vp9 mkv:libaom-av1 mkv:ffv1 mkv:mjpeg \
  mkv:huffyuv mkv:libtheora mkv:mpeg2video mkv:utvideo mkv:rawvideo \
  webm:libvpx webm:libvpx-vp9 webm:libaom-av1 \
  avi:mpeg4 avi:libxvid avi:mjpeg avi:huffyuv avi:ffv1 avi:msmpeg4 avi:libx264 avi:rawvideo \
  avi:utvideo avi:wmv2 flv:flv flv:libx264 ts:mpeg2video ts:libx264 ts:libx265 ts:mpeg1video \
  m2ts:libx264 mpg:mpeg1video mpg:mpeg2video ogv:libtheora wmv:wmv1 wmv:wmv2 wmv:msmpeg4 \
  nut:mpeg4 nut:ffv1 nut:libx264 3gp:libx264 ivf:libvpx ivf:libvpx-vp9 ivf:libaom-av1; do
  container=${pair%%:*} codec=${pair#*:}
  extra="-pix_fmt yuv420p"
  case $codec in
    mjpeg) extra="-pix_fmt yuvj420p" ;;
    prores_ks | huffyuv | utvideo) extra="-pix_fmt yuv422p" ;;
    libx265) extra="-pix_fmt yuv420p -x265-params log-level=none" ;;
    qtrle | png) extra="-pix_fmt rgb24" ;;
    libaom-av1) extra="-pix_fmt yuv420p -cpu-used 8" ;;
    libvpx-vp9) extra="-pix_fmt yuv420p -deadline realtime" ;;
  esac
  format=
  case $container in m2ts) format="-f mpegts" ;; wmv) format="-f asf" ;; esac
  whole "w-$codec.$container" 320x240 25 60 -- -c:v $codec $extra $format
  case $container in
    mp4 | mov | mkv | 3gp) audio="-c:a aac" ;;
    webm | ogv) audio="-c:a libopus" ;;
    avi | flv | mpg | ts | m2ts) audio="-c:a mp3" ;;
    wmv) audio="-c:a wmav2" ;;
    nut) audio="-c:a pcm_s16le" ;;
    *) continue ;;
  esac
  [ "$container" = mpg ] && audio="-c:a mp2"
  [ "$container" = ogv ] && [ "$codec" = libtheora ] && audio="-c:a libvorbis"
  whole "s-$codec.$container" 320x240 25 60 $SOUND -- -c:v $codec $extra $audio $format
done
whole w-mxf.mxf 720x576 25 50 -- -c:v mpeg2video -pix_fmt yuv422p -b:v 30M
whole w-3gp-h263.3gp 176x144 25 60 -- -c:v h263
whole w-dv.dv 720x576 25 50 -- -c:v dvvideo -pix_fmt yuv420p
whole w-gif.gif 160x120 25 40 -- -c:v gif
whole w-apng.apng 160x120 25 40 -- -c:v apng
whole w-raw.h264 320x240 25 60 -- -c:v libx264 -f h264
whole w-raw.hevc 320x240 25 60 -- -c:v libx265 -x265-params log-level=none -f hevc
whole w-raw.m2v 320x240 25 60 -- -c:v mpeg2video -f mpeg2video
whole w-raw.mjpeg 320x240 25 60 -- -c:v mjpeg -pix_fmt yuvj420p -f mjpeg
whole w-raw.y4m 320x240 25 60 -- -pix_fmt yuv420p -f yuv4mpegpipe
whole w-raw.obu 320x240 25 30 -- -c:v libaom-av1 -cpu-used 8 -f obu
# Frame rates from one frame in ten seconds to a thousand a second.
for rate in 1/10 1 5 12 24000/1001 30000/1001 50 60 120 240 1000; do
  tag=${rate//\//-}
  for container in mp4 mkv avi ts webm flv; do
    codec=libx264
    case $container in avi) codec=mpeg4 ;; webm) codec=libvpx-vp9 ;; ts) codec=mpeg2video ;; esac
    [ "$container" = ts ] && case $rate in 1/10 | 1 | 5 | 12 | 120 | 240 | 1000) codec=libx264 ;; esac
    [ "$container" = flv ] && [ "$rate" = 1/10 ] && continue  # FLV times are in ms
    whole "r$tag-$codec.$container" 160x120 "$rate" 40 -- -c:v $codec -pix_fmt yuv420p
  done
done
# Variable rates: frames dropped, jittered, and slideshows of pictures
# that last 2, 3 and 10 s.
for container in mkv mp4 webm mov flv ts avi nut; do
  codec=libx264
  [ "$container" = webm ] && codec=libvpx-vp9
  [ "$container" = avi ] && codec=mpeg4
  whole_from "vfr-select-$codec.$container" -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 -- \
    -vf "select='lt(n,239)+gte(n,249)'" -fps_mode vfr -c:v $codec -pix_fmt yuv420p
  whole "vfr-jitter-$codec.$container" 320x240 30 150 -- \
    -vf "setpts='N/30/TB+if(gt(mod(N,7),3),0.05/TB,0)'" -fps_mode vfr -c:v $codec -pix_fmt yuv420p
  whole_from "vfr-halves-$codec.$container" -f lavfi -i testsrc2=size=320x240:rate=30:duration=6 -- \
    -vf "select='not(mod(n,2))+gt(t,3)'" -fps_mode vfr -c:v $codec -pix_fmt yuv420p
done
for colour in red green blue; do ff -f lavfi -i "color=$colour:size=320x240" -frames:v 1 "$colour.png"; done
printf "file 'red.png'\nduration 2\nfile 'green.png'\nduration 3\nfile 'blue.png'\nduration 10\nfile 'blue.png'\n" >slides.txt
for pair in mkv:libx264 mkv:libx265 mkv:libaom-av1 mp4:libx264 webm:libvpx-vp9 mov:libx264 flv:libx264 \
  ts:libx264 mkv:mpeg4 nut:libx264; do
  container=${pair%%:*} codec=${pair#*:}
  extra=
  [ "$codec" = libaom-av1 ] && extra="-cpu-used 8"
  [ "$codec" = libx265 ] && extra="-x265-params log-level=none"
  whole_from "slides-$codec.$container" -f concat -i slides.txt -- -c:v $codec -pix_fmt yuv420p $extra
done
# Written to a pipe, where the writer cannot go back to fill in lengths.
piped() {  # piped NAME FORMAT OPTIONS...
  local name=$1 format=$2
  shift 2
  if ff -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 75 "$@" -f "$format" - >"$name" &&
    [ -s "$name" ]; then WHOLE+=("$name"); fi
}
piped piped-mpeg4.avi avi -c:v mpeg4
piped piped-mjpeg.avi avi -c:v mjpeg -pix_fmt yuvj420p
piped piped-libx264.mkv matroska -c:v libx264
piped piped-libvpx.webm webm -c:v libvpx
piped piped-libx264.flv flv -c:v libx264
piped piped-frag.mp4 mp4 -c:v libx264 -movflags frag_keyframe+empty_moov
piped piped-wmv2.wmv asf -c:v wmv2
piped piped-mpeg4.nut nut -c:v mpeg4
piped piped-libtheora.ogv ogg -c:v libtheora
piped piped-libx264.ts mpegts -c:v libx264
# Fragmented mp4.
whole frag-keyframe.mp4 320x240 25 100 -- -c:v libx264 -movflags frag_keyframe+empty_moov
whole frag-duration.mp4 320x240 25 100 -- -c:v libx264 -movflags frag_keyframe -frag_duration 500000
whole frag-sound.mp4 320x240 25 100 $SOUND -- -c:v libx264 -c:a aac -movflags frag_keyframe+empty_moov
whole frag-dash.mp4 320x240 25 100 -- -c:v libx264 -movflags frag_keyframe+empty_moov+default_base_moof
whole frag-every.mp4 320x240 25 100 -- -c:v libx264 -movflags frag_every_frame+empty_moov
# Edit lists: copies cut from within, a delayed start, sound that starts
# first.
whole base-bframes.mp4 320x240 25 250 $SOUND -- -c:v libx264 -bf 3 -c:a aac
whole base-bframes.mkv 320x240 25 250 $SOUND -- -c:v libx264 -bf 3 -c:a aac
for start in 1.3 2.02 5.5; do
  for container in mp4 mov mkv; do
    whole_from "edit-ss$start.$container" -ss $start -i base-bframes.mp4 -- -c copy
  done
done
whole_from edit-itsoffset.mp4 -itsoffset 0.5 -i base-bframes.mp4 -- -c copy
whole edit-sound-first.mp4 320x240 25 100 -f lavfi -i sine -- -filter_complex "[0:v]setpts=PTS+1/TB[v]" -map "[v]" -map 1:a -t 5 -c:v libx264 -c:a aac
whole edit-sound-first.mkv 320x240 25 100 -f lavfi -i sine -- -filter_complex "[0:v]setpts=PTS+1/TB[v]" -map "[v]" -map 1:a -t 5 -c:v libx264 -c:a aac
# Open GOPs, many B-frames, interlacing, odd sizes.
for container in mkv mp4 ts; do
  whole "opengop-x264.$container" 320x240 25 120 -- -c:v libx264 -x264-params open-gop=1:keyint=30
  whole "opengop-x265.$container" 320x240 25 120 -- -c:v libx265 -x265-params open-gop=1:keyint=30:log-level=none
  whole "bframes16.$container" 320x240 25 120 -- -c:v libx264 -bf 16 -b_strategy 0
  whole "interlaced.$container" 720x576 25 50 -- -c:v libx264 -flags +ildct+ilme -x264-params tff=1
done
whole interlaced-mpeg2.ts 720x576 25 50 -- -c:v mpeg2video -flags +ildct+ilme -top 1
whole interlaced-mpeg2.mpg 720x576 25 50 -- -c:v mpeg2video -flags +ildct+ilme -top 1
for size in 161x121 2x2 3x3 4000x16 16x3000 1366x768; do
  whole "size$size-mjpeg.avi" $size 25 20 -- -c:v mjpeg -pix_fmt yuvj444p
  whole "size$size-ffv1.mkv" $size 25 20 -- -c:v ffv1
done
whole size161x121-x264.mp4 161x121 25 20 -- -c:v libx264 -pix_fmt yuv444p
set +f

# Cut and damaged files, each from a whole one made for it: LABEL is what
# the README's list goes by.
DAMAGED=()
declare -A ORIGINAL_COUNT
# damaged LABEL ORIGINAL HOW...: a copy of ORIGINAL as HOW leaves it
# (cut PERCENT, cutat BYTES, zeros PERCENT KB, garbage PERCENT KB).
damaged() {
  local label=$1 original=$2 name
  shift 2
  name="d-$label-$(tr -d ' ' <<<"$*").${original##*.}"
  local size
  size=$(stat -c %s "$original")
  case $1 in
    cut) head -c $((size * $2 / 100)) "$original" >"$name" ;;
    cutat) head -c "$2" "$original" >"$name" ;;
    zeros | garbage)
      cp "$original" "$name"
      local source=/dev/zero
      [ "$1" = garbage ] && source=/dev/urandom
      dd if=$source of="$name" bs=1024 count="$3" seek=$((size * $2 / 100 / 1024)) conv=notrunc status=none ;;
  esac
  DAMAGED+=("$name")
  ORIGINAL_COUNT[$name]=$(count "$original")
}
set -f
make_original() {  # make_original NAME FRAMES [INPUT...] -- OUTPUT...
  local name=$1 frames=$2
  shift 2
  local input=()
  while [ "$1" != -- ]; do input+=("$1"); shift; done
  shift
  ff -f lavfi -i testsrc2=size=320x240:rate=25 "${input[@]}" -frames:v "$frames" -shortest "$@" "$name"
}
make_original o-mp4.mp4 250 -- -c:v libx264 -movflags +faststart
make_original o-mp4s.mp4 250 $SOUND -- -c:v libx264 -c:a aac -movflags +faststart
make_original o-mov.mov 250 -- -c:v libx264 -movflags +faststart
make_original o-3gp.3gp 250 -- -c:v libx264 -movflags +faststart
make_original o-mkv.mkv 250 -- -c:v libx264
make_original o-mkvs.mkv 250 $SOUND -- -c:v libx264 -c:a aac
make_original o-webm.webm 250 -- -c:v libvpx-vp9 -deadline realtime
make_original o-webms.webm 250 $SOUND -- -c:v libvpx-vp9 -deadline realtime -c:a libopus
make_original o-avi.avi 250 -- -c:v mpeg4
make_original o-avis.avi 250 $SOUND -- -c:v mpeg4 -c:a mp3
make_original o-flv.flv 250 -- -c:v flv1
make_original o-flvs.flv 250 $SOUND -- -c:v libx264 -c:a mp3
make_original o-ts.ts 250 -- -c:v libx264
make_original o-tss.ts 250 $SOUND -- -c:v libx264 -c:a mp3
make_original o-mpg.mpg 250 -- -c:v mpeg2video
make_original o-ogv.ogv 250 -- -c:v libtheora
make_original o-wmv.wmv 250 -- -c:v wmv2
make_original o-wmvs.wmv 250 $SOUND -- -c:v wmv2 -c:a wmav2
make_original o-nut.nut 250 -- -c:v mpeg4
make_original o-ivf.ivf 250 -- -c:v libvpx
make_original o-h264.h264 250 -- -c:v libx264 -f h264
make_original o-y4m.y4m 100 -- -pix_fmt yuv420p -f yuv4mpegpipe
make_original o-gif.gif 100 -- -c:v gif
make_original o-frag.mp4 250 -- -c:v libx264 -g 25 -movflags frag_keyframe+empty_moov
ff -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 -vf "select='lt(n,100)+gte(n,140)'" \
  -fps_mode vfr -c:v libx264 -movflags +faststart o-vfrmp4.mp4
ff -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 -vf "select='lt(n,100)+gte(n,140)'" \
  -fps_mode vfr -c:v mpeg4 o-vfravi.avi
for triple in mkv:matroska:libx264 avi:avi:mpeg4 mp4:mp4:libx264; do
  IFS=: read -r extension format codec <<<"$triple"
  flags=
  [ "$format" = mp4 ] && flags="-movflags frag_keyframe+empty_moov"
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 250 -c:v $codec -g 25 $flags \
    -f $format - >"o-piped$extension.$extension"
done
ff -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 100 -c:v dvvideo -pix_fmt yuv420p o-dv.dv
ff -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 250 -c:v mpeg2video -pix_fmt yuv422p -b:v 10M o-mxf.mxf
set +f
for label in mp4 mp4s mov 3gp mkv mkvs webm webms avi avis flv flvs ts tss mpg ogv wmv wmvs nut ivf \
  mxf h264 y4m gif frag vfrmp4 vfravi dv pipedmkv pipedavi pipedmp4; do
  original=$(ls o-$label.* | head -1)
  for percent in 25 50 75; do damaged "$label" "$original" cut $percent; done
done
# FLV cut where a tag ends, Matroska where a cluster does.
for packet in 74 150 200; do
  position=$(ffprobe -v quiet -select_streams v:0 -show_entries packet=pos -of csv=p=0 o-flv.flv | sed -n "$((packet + 1))p")
  damaged flv o-flv.flv cutat "$position"
done
for position in $(LC_ALL=C grep -obUaP '\x1F\x43\xB6\x75' o-mkv.mkv | sed -n '2p;3p' | cut -d: -f1); do
  damaged mkv o-mkv.mkv cutat "$position"
done
# Zeros and garbage in the middle.
for label in mp4 mp4s mov avi avis mkv mkvs webm flv ts tss mpg ogv wmv nut; do
  original=$(ls o-$label.* | head -1)
  damaged "$label" "$original" zeros 50 64
done
for label in mp4 mkv avi ts wmv flv; do
  original=$(ls o-$label.* | head -1)
  damaged "$label" "$original" zeros 30 16
  damaged "$label" "$original" garbage 60 16
done

# Runs pellux on FILE; sets STATUS, ERR and GIVEN.
run() {
  timeout 300 "$PELLUX" "$1" -nd -nv -no >out.txt 2>err.txt
  STATUS=$?
  ERR=$(cat err.txt)
  GIVEN=$(grep -c 'capture time' out.txt)
}
# The frames missing that ERR's line about FILE says, or nothing.
told_missing() {
  local file=$1 line
  line=${ERR#"$file: "}
  if [[ $line =~ ^([0-9]+)\ frames?\ could\ not\ be\ decoded,\ the\ first\ after\ frame\ [0-9]+$ ]]; then
    echo "${BASH_REMATCH[1]}"
  elif [[ $line =~ ^reading\ stopped\ after\ ([0-9]+)\ of\ ([0-9]+)\ frames$ ]]; then
    echo $((BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
}

false_alarms=0
silent=0
untold_silent=0
wrong=0
untold_wrong=0
# judge FILE FRAMES [LABEL HOW]: counts what pellux said of FILE, which
# holds FRAMES; a whole file has no LABEL.
judge() {
  local file=$1 frames=$2 missing=$(($2 - GIVEN))
  if [ "$STATUS" -eq 0 ] && [ -z "$ERR" ]; then
    [ "$missing" -le 0 ] && return
    if [ $# -gt 2 ] && untold "$3" "$4"; then
      untold_silent=$((untold_silent + 1))
    else
      silent=$((silent + 1))
      echo "silent loss: $file: $GIVEN of $frames frames"
    fi
  elif [ "$missing" -le 0 ] && [ $# -eq 2 ]; then
    false_alarms=$((false_alarms + 1))
    echo "false alarm: $file: status $STATUS, $GIVEN of $frames frames: $ERR"
  elif [ "$(told_missing "$file")" != "$missing" ]; then
    if [ $# -gt 2 ] && untold "$3" "$4"; then
      untold_wrong=$((untold_wrong + 1))
    else
      wrong=$((wrong + 1))
    fi
    echo "wrong line: $file: status $STATUS, $GIVEN of $frames frames: $ERR"
  fi
}
for file in "${WHOLE[@]}"; do
  run "$file"
  judge "$file" "$(count "$file")"
done
for file in "${DAMAGED[@]}"; do
  run "$file"
  how=${file#d-*-}
  label=${file#d-}
  judge "$file" "${ORIGINAL_COUNT[$file]}" "${label%%-*}" "${how%.*}"
done
echo "whole files: ${#WHOLE[@]}; cut or damaged files: ${#DAMAGED[@]}"
echo "false alarms: $false_alarms"
echo "silent losses outside the README's list: $silent (and $untold_silent the README lists)"
echo "lines whose number is not the frames missing: $wrong (and $untold_wrong where the README says the loss is not all told)"
