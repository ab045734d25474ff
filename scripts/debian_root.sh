#!/usr/bin/env bash
# Makes a minimal Debian 12 in ROOT with debootstrap, from the mirror apt
# uses here and with the same suites (the updates too) in its sources.list,
# as a fresh install has them. OPTIONS go to debootstrap (--include=...).
# Says why on stderr and exits 1 when it cannot.
# Usage: scripts/debian_root.sh ROOT [OPTION...]
set -eu
root=$1
shift
targets=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages')
mirror=$(awk '$2 == "bookworm" { print $1; exit }' <<<"$targets")
if [ -z "$mirror" ]; then
  echo "apt has no Debian 12 mirror" >&2
  exit 1
fi
echo "making a minimal Debian 12 in $root from $mirror"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! debootstrap --variant=minbase "$@" bookworm "$root" "$mirror" >"$log" 2>&1; then
  echo "debootstrap from $mirror failed: $(tail -1 "$log")" >&2
  exit 1
fi
awk '$2 ~ /^bookworm/ { print "deb", $1, $2, $3 }' <<<"$targets" | sort -u >"$root/etc/apt/sources.list"
