#!/usr/bin/env bash
# How pellux reaches its users: the man page, what cmake --install puts
# where, and the Debian package that cpack makes.
# Usage: install_test.sh PELLUX CLIPS BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/lib.sh"
BUILD=$3
SOURCE=$4
unset DISPLAY WAYLAND_DISPLAY

check "man page lints clean" "$(groff -man -ww -z "$SOURCE/pellux.1" 2>&1)" ""

installed=(bin/pellux share/doc/pellux/LICENSE share/doc/pellux/README.md
  share/doc/pellux/changelog.gz share/doc/pellux/copyright
  share/man/man1/pellux.1.gz)
DESTDIR=$WORK/root cmake --install "$BUILD" --prefix /opt/pellux >/dev/null
check "install manifest" "$(cd "$WORK/root/opt/pellux" && find . -type f | sed 's|^\./||' | sort)" \
  "$(printf '%s\n' "${installed[@]}")"

(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/deb" >/dev/null)
deb=$(ls "$WORK"/deb/pellux_*.deb 2>/dev/null)
check "package name" "$(basename "$deb")" "pellux_1.0.0_$(dpkg --print-architecture).deb"
check "package fields" "$(dpkg-deb -f "$deb" Package Version Section | tr '\n' ' ')" \
  "Package: pellux Version: 1.0.0 Section: graphics "
check "package version is the changelog's" \
  "$(dpkg-deb -f "$deb" Version) $(dpkg-deb --fsys-tarfile "$deb" |
    tar -xO ./usr/share/doc/pellux/changelog.gz | gzip -dc | head -1 | cut -d' ' -f2)" "1.0.0 (1.0.0)"
# Debian's own checks: no error, no warning.
check "lintian" "$(lintian --fail-on error,warning "$deb" 2>/dev/null; echo "status $?")" "status 0"
check "package depends on what the binary links" \
  "$(dpkg-deb -f "$deb" Depends | grep -oE 'libc6|libopencv-core406|libopencv-videoio406' | sort | tr '\n' ' ')" \
  "libc6 libopencv-core406 libopencv-videoio406 "
check "package files" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | sort)" \
  "$(printf '%s\n' "${installed[@]}")"
dpkg-deb -x "$deb" "$WORK/unpacked"
PELLUX=$WORK/unpacked/usr/bin/pellux
run "$CLIPS/c.mkv" -nv
check "packaged pellux converts a clip" "$STATUS $(timed_names | wc -l) $(files | wc -l)" "0 25 11"

finish
