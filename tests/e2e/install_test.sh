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
unit=lib/systemd/system/pellux@.service
DESTDIR=$WORK/root cmake --install "$BUILD" --prefix /opt/pellux >/dev/null
check "install manifest" "$(cd "$WORK/root/opt/pellux" && find . -type f | sed 's|^\./||' | sort)" \
  "$(printf '%s\n' "${installed[@]}" "$unit" | sort)"
# The unit's command, with the binary where the install put it: a shell
# that hands the URL over in the environment, never as an argument.
unit_command() { grep -E '^(EnvironmentFile|ExecStart)=' "$1"; }
command_of() {
  printf '%s\n' 'EnvironmentFile=/etc/pellux/%i.conf' \
    "ExecStart=/bin/sh -c 'PELLUX_SOURCE=\$\$CAMERA_URL exec $1 -nv \"\$\$@\"' sh \"\$OUTPUT_BASE\" \$PELLUX_OPTIONS"
}
check "installed unit runs the installed pellux" \
  "$(unit_command "$WORK/root/opt/pellux/$unit")" "$(command_of /opt/pellux/bin/pellux)"

(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/deb" >/dev/null)
deb=$(ls "$WORK"/deb/pellux_*.deb 2>/dev/null)
version=$(sed -nE '1s/^pellux \(([0-9.]+)\).*/\1/p' "$SOURCE/packaging/changelog")
check "package name" "$(basename "$deb")" "pellux_${version}_$(dpkg --print-architecture).deb"
check "package fields" "$(dpkg-deb -f "$deb" Package Version Section | tr '\n' ' ')" \
  "Package: pellux Version: $version Section: graphics "
check "package version is the changelog's" \
  "$(dpkg-deb -f "$deb" Version) $(dpkg-deb --fsys-tarfile "$deb" |
    tar -xO ./usr/share/doc/pellux/changelog.gz | gzip -dc | head -1 | cut -d' ' -f2)" "$version ($version)"
# Debian's own checks: no error, no warning.
check "lintian" "$(lintian --fail-on error,warning "$deb" 2>/dev/null; echo "status $?")" "status 0"
check "package depends on what the binary links" \
  "$(dpkg-deb -f "$deb" Depends | grep -oE 'libc6|libopencv-core406|libopencv-videoio406' | sort | tr '\n' ' ')" \
  "libc6 libopencv-core406 libopencv-videoio406 "
# Debian 12's packages put units in /lib/systemd/system.
check "package files" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort)" \
  "$( (printf 'usr/%s\n' "${installed[@]}"; echo "$unit") | sort)"
dpkg-deb -x "$deb" "$WORK/unpacked"
check "packaged unit runs the packaged pellux" \
  "$(unit_command "$WORK/unpacked/$unit")" "$(command_of /usr/bin/pellux)"
if command -v systemd-analyze >/dev/null; then
  check "systemd accepts the unit" \
    "$(systemd-analyze verify --man=no "$WORK/unpacked/$unit" 2>&1; echo "status $?")" "status 0"
else
  echo "SKIP: systemd-analyze verify of the unit (no systemd-analyze on this machine)"
fi
PELLUX=$WORK/unpacked/usr/bin/pellux
run "$CLIPS/c.mkv" -nv
check "packaged pellux converts a clip" "$STATUS $(timed_names | wc -l) $(files | wc -l)" "0 25 11"

finish
