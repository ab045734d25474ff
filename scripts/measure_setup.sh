#!/usr/bin/env bash
# Measures what scripts/demo.sh and then scripts/test.sh cost a new user on a
# fresh minimal Debian 12: the packages, download and disk space as apt
# counts them, and the time each takes. Prints them as README.md's table.
# Runs as root on Debian 12, with debootstrap (scripts/setup.sh's tests
# need installs it) and this checkout's git.
# Usage: scripts/measure_setup.sh [DIR]   (DIR: a new or empty directory for
# the root and the commands' logs, kept afterwards; without it a temporary
# one is used and removed)
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
fail() {
  echo "$0: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "making a root and mounting in it needs root"
command -v debootstrap >/dev/null || fail "no debootstrap: as root, apt-get install debootstrap"
if [ -n "${1-}" ]; then
  dir=$1
  mkdir -p "$dir"
  [ -z "$(ls -A "$dir")" ] || fail "$dir is not empty"
  made=
else
  dir=$(mktemp -d)
  made=$dir
fi
dir=$(cd "$dir" && pwd)
root=$dir/root
mounted=()
cleanup() {
  # Innermost first; lazily where a process left in the root still holds
  # one, so that nothing mounted is ever under what is removed.
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" 2>/dev/null || umount -Rl "${mounted[i]}"
  done
  [ -z "$made" ] || rm -rf --one-file-system "$made"
}
trap cleanup EXIT
trap 'exit 130' INT TERM # through the EXIT trap
started=$SECONDS

bash "$source/scripts/debian_root.sh" "$root" || fail "no Debian 12 root to measure in"

# The checkout as a clone has it: committed files only, no builds.
mkdir "$root/root/pellux"
git -C "$source" archive HEAD | tar -x -C "$root/root/pellux"

# What a booted machine has: / is a mount point (unshare -m and
# systemd-nspawn change its propagation, which fails on a plain directory);
# its cgroups come with /sys (the service test's container needs them),
# slaved so that nothing mounted in the root reaches this machine; /dev/shm
# is the root's own.
mount_in() { # mount_in TARGET MOUNT-ARGUMENTS...
  mount "${@:2}" "$root/$1"
  mounted+=("$root/$1")
}
mount_in "" --bind "$root"
mount_in proc -t proc proc
mount_in sys --rbind /sys
mount --make-rslave "$root/sys"
mount_in dev --bind /dev
mount_in dev/pts --bind /dev/pts
mount_in dev/shm -t tmpfs -o mode=1777 shm

# run NAME: runs scripts/NAME.sh in the root as root with a login's plain
# environment, its output in DIR/NAME.log; sets the figures apt printed
# (packages, download, disk) and seconds.
run() {
  local log=$dir/$1.log start=$SECONDS status=0
  echo "running scripts/$1.sh (log: $log)"
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    sh -c "cd /root/pellux && scripts/$1.sh" </dev/null >"$log" 2>&1 || status=$?
  seconds=$((SECONDS - start))
  if [ $status -ne 0 ]; then
    tail -n 30 "$log" >&2
    fail "scripts/$1.sh failed (status $status) after $seconds s"
  fi
  packages=$(sed -nE 's/.* ([0-9]+) newly installed.*/\1/p' "$log" | head -1)
  download=$(sed -nE 's/^Need to get ([^ ]+ [kMG]?B).* of archives\.$/\1/p' "$log" | head -1)
  disk=$(sed -nE 's/^After this operation, (.+) of additional disk space will be used\.$/\1/p' \
    "$log" | head -1)
}
minutes() { # minutes SECONDS: as the table shows a time
  if (($1 < 120)); then echo "$1 s"; else awk -v s="$1" 'BEGIN { printf "%.1f min", s / 60 }'; fi
}
run demo
demo="| \`scripts/demo.sh\` | ${packages:-0} | ${download:-0 B} | ${disk:-0 B} | $(minutes $seconds) |"
run test
test="| \`scripts/test.sh\` after it | ${packages:-0} more | ${download:-0 B} | ${disk:-0 B} | $(minutes $seconds) |"
echo
echo "| command | packages | download | on disk | time |"
echo "|---|---|---|---|---|"
echo "$demo"
echo "$test"
echo
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with nproc $(nproc), in $(minutes $((SECONDS - started))) in all."
