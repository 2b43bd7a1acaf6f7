#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop finds the program:
# the executable, its menu entry (a valid .desktop file naming both) and a 48 x 48 PNG icon.
# Usage: install_e2e.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/quavrel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"

bin="$prefix/bin/quavrel"
desktop="$prefix/share/applications/quavrel.desktop"
icon="$prefix/share/icons/hicolor/48x48/apps/quavrel.png"
[ -x "$bin" ] || fail "no executable at $bin"
[ -s "$desktop" ] || fail "no desktop file at $desktop"
[ -s "$icon" ] || fail "no icon at $icon"

# The PNG header: signature, then the IHDR width and height as big-endian words.
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the icon is not a PNG"
size=$(od -An -tu1 -j 16 -N 8 "$icon" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }')
[ "$size" = "48x48" ] || fail "the icon is $size, not 48x48"

grep -qx 'Exec=quavrel' "$desktop" || fail "the desktop file does not start quavrel"
grep -qx 'Icon=quavrel' "$desktop" || fail "the desktop file does not name the icon"
grep -qx 'Type=Application' "$desktop" || fail "the desktop file is not an application entry"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate complains: $out"
else
  echo "desktop-file-validate missing (desktop-file-utils): only the keys were checked"
fi
echo "ok"
