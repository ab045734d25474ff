#!/usr/bin/env bash
# Every example in the README and the man page that converts a clip, run
# as written in a directory that has such clips: it must succeed, say
# nothing on stderr, and leave the first file its comment names.
# Usage: examples_test.sh PELLUX CLIPS SOURCE_DIR
source "$(dirname "$0")/lib.sh"
SOURCE=$3
unset DISPLAY WAYLAND_DISPLAY
mkdir "$WORK/bin"
ln -s "$PELLUX" "$WORK/bin/pellux"

examples() {
  grep -E '^    .*pellux .*clip\.' "$SOURCE/README.md" | sed 's/^    //'
  sed -n '/^\.EX/,/^\.EE/p' "$SOURCE/pellux.1" | grep 'clip\.' | sed 's/\\-/-/g'
}
count=0
while IFS= read -r example; do
  count=$((count + 1))
  command=$(sed -E "s/  +#.*//; s/ +$//" <<<"$example")
  expected=$(sed -nE 's/.*  # ([^ ]+\.[a-z]+).*/\1/p' <<<"$example")
  dir=$WORK/example$count
  mkdir "$dir"
  for clip in mp4 mkv avi; do ln -s "$CLIPS/c.$clip" "$dir/clip.$clip"; done
  (cd "$dir" && PATH=$WORK/bin:$PATH timeout 60 bash -c "$command" >/dev/null 2>"$WORK/err")
  check "$command" "$? $(cat "$WORK/err")" "0 "
  [ -z "$expected" ] || check "$command leaves $expected" "$(cd "$dir" && ls "$expected")" "$expected"
done < <(examples)
check "examples found" "$((count >= 6))" 1

finish
