#!/usr/bin/env bash
# Makes the test clips with a known frame count: 25 frames of 160x120 in
# several containers and codecs, and a long clip to press ESC in.
set -eu
dir=$1
mkdir -p "$dir"
source=(-f lavfi -i testsrc2=size=160x120:rate=25)
make() { ffmpeg -v error -y "${source[@]}" -frames:v "$1" "${@:3}" "$dir/$2"; }
make 25 c.mp4 -c:v libx264 -pix_fmt yuv420p
make 25 c.avi -c:v mjpeg -q:v 3
make 25 c.webm -c:v libvpx-vp9 -deadline realtime
make 25 c.mkv -c:v mpeg4
make 25 c.mov -c:v libx264 -pix_fmt yuv420p
make 25 c.ts -c:v mpeg2video
make 3000 long.avi -c:v mjpeg -q:v 5
