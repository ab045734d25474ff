#!/usr/bin/env bash
# Every example command in the README, in docs/ and in the man page that
# can run here, run as written: those that convert a clip, in a directory
# that has such clips, must succeed, say nothing on stderr, and leave the
# first file their comment names; those that record a camera run on the
# test camera until it is unplugged, and must end as a camera that stopped.
# Examples of a network camera name hosts that are not here, and are left
# to the stream tests.
# Usage: examples_test.sh PELLUX CLIPS SOURCE_DIR TEST_CAMERA_LIBRARY
source "$(dirname "$0")/lib.sh"
SOURCE=$3
CAMERA=$4
unset DISPLAY WAYLAND_DISPLAY
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
mkdir "$WORK/bin"
ln -s "$PELLUX" "$WORK/bin/pellux"

examples() {
  grep -hE '^    (mkdir .*&& )?pellux( |$)' "$SOURCE/README.md" "$SOURCE"/docs/*.md | sed 's/^    //'
  sed -n '/^\.EX/,/^\.EE/p' "$SOURCE/pellux.1" | grep -E '^(mkdir .*&& )?pellux( |$)' | sed 's/\\-/-/g'
}
clips=0 cameras=0
while IFS= read -r example; do
  command=$(sed -E "s/  +#.*//; s/ +$//" <<<"$example")
  expected=$(sed -nE 's/.*  # ([^ ]+\.[a-z]+).*/\1/p' <<<"$example")
  [[ $command == *://* ]] && continue
  new_dir
  if [[ $command == *clip.* ]]; then
    clips=$((clips + 1))
    for clip in mp4 mkv avi; do ln -s "$CLIPS/c.$clip" "$DIR/clip.$clip"; done
    (cd "$DIR" && PATH=$WORK/bin:$PATH timeout 60 bash -c "$command" >/dev/null 2>"$WORK/err")
    check "$command" "$? $(cat "$WORK/err")" "0 "
    [ -z "$expected" ] || check "$command leaves $expected" "$(cd "$DIR" && ls "$expected")" "$expected"
  else
    cameras=$((cameras + 1))
    index=$(sed -nE 's#^pellux (/dev/video)?([0-9]+)( .*)?$#\2#p' <<<"$command")
    (cd "$DIR" && PATH=$WORK/bin:$PATH TEST_CAMERA_INDEX=${index:-0} \
      TEST_CAMERA_SIZES=640x480,1280x720 TEST_CAMERA_UNPLUG_AFTER=45 LD_PRELOAD="$CAMERA" \
      timeout 60 bash -c "$command" >/dev/null 2>"$WORK/err")
    check "$command" "$? $(cat "$WORK/err")" "1 /dev/video${index:-0}: the camera stopped giving frames"
  fi
done < <(examples)
check "examples found" "$((clips >= 4 && cameras >= 2))" 1

# The README's set-up table quotes the figures that setup.sh prints.
while IFS='|' read -r script after count download disk time; do
  row="| \`$script\`${after:+ $after} | $count | $download | $disk | $time |"
  check "set-up figures of $script" "$(grep -cxF "$row" "$SOURCE/README.md")" 1
done < <(sed -nE 's/^COST_[a-z]+="(.*)"$/\1/p' "$SOURCE/scripts/setup.sh")

finish
