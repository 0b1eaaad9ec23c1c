#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows installer under Wine, as a user without administrator rights
# meets it: installed silently into a fresh prefix, both programs run from
# where it put them, uninstalled silently, and nothing left behind: the files
# of the prefix (Wine's own aside) and the list of installed programs are as
# they were before.
#
# usage: .ci/wine-installer.sh BUILD_DIR_MINGW [PREFIX]
# PREFIX: a Wine prefix already booted (the window's end-to-end test's), used
# instead of booting a fresh one, which takes most of the time. What it holds
# already does not matter: the check compares it before and after.
# Needs: wine wine64 xvfb xauth xdotool, and the installer built by the
# Windows build (nsis).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR_MINGW [PREFIX]" >&2
  exit 2
fi
mingw=$(realpath "$1")
say() { printf 'wine-installer: %s\n' "$*"; }
fail() { printf 'wine-installer: FAILED: %s\n' "$*" >&2; exit 1; }
for tool in wine wineserver Xvfb xdotool; do
  command -v "$tool" > /dev/null || fail "$tool is not installed"
done

cmake --build "$mingw" --target brivelton-utility-installer -j 2 > /dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$mingw/CMakeCache.txt")
setup=$mingw/brivelton-utility-$version-win64-setup.exe
[ -f "$setup" ] || fail "no installer at $setup"

work=$mingw/wine-installer
prefix=$work/prefix
run=$work/run
rm -rf "$prefix" "$run"
if [ $# -eq 2 ]; then
  prefix=$(realpath "$2")
  [ -f "$prefix/system.reg" ] || fail "$2 is not a Wine prefix"
fi
mkdir -p "$prefix" "$run" "$work/home" "$work/tmp"

source "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"

cleanup() {
  set +e
  [ -n "$display" ] && stop_wine 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null && wait "$xvfb_pid" 2> /dev/null
}
trap cleanup EXIT

start_xvfb 1024x768x24

if [ $# -eq 1 ]; then
  say "creating a fresh Wine prefix"
  w timeout 900 wineboot -i > "$run/wineboot.log" 2>&1 || fail "wineboot failed: $(tail -n 5 "$run/wineboot.log")"
fi

# What a user's part of the machine holds: every file of the prefix but
# Wine's own (its windows folder and the temporary ones), and the registry.
# The user's registry as Wine keeps it once its server ended: every line
# that names the program (keys and values), in the order of the file.
snapshot() {  # NAME [wait]: into $run/NAME.files and $run/NAME.reg
  # Stopped at once when nothing of ours runs; waited for when something may.
  if [ "${2:-}" = wait ]; then w wineserver -w; else stop_wine; fi
  (cd "$prefix/drive_c" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print) |
    LC_ALL=C sort > "$run/$1.files"
  grep -i brivelton "$prefix/user.reg" > "$run/$1.reg" || true
}
snapshot before

say "installing $(basename "$setup") silently"
w timeout 300 wine "$setup" /S > "$run/install.log" 2>&1 || fail "the installer failed: $(cat "$run/install.log")"
snapshot installed
added=$(LC_ALL=C comm -13 "$run/before.files" "$run/installed.files")
home=$(cd "$prefix/drive_c/users" && ls -d */ | grep -v '^Public/$' | head -n1)
home=./users/${home%/}
programs="$home/AppData/Local/Programs/Brivelton Utility"
menu="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
expected=$(
  # A fresh prefix may not have the per-user Programs folder yet.
  grep -qxF "${programs%/*}" "$run/before.files" || echo "${programs%/*}"
  printf '%s\n' "$programs" "$programs/brivelton-utility.exe" "$programs/brivelton.exe" \
    "$programs/README.txt" "$programs/LICENSE.txt" "$programs/uninstall.exe" \
    "$menu/Brivelton Utility.lnk"
)
expected=$(echo "$expected" | LC_ALL=C sort)
[ "$added" = "$expected" ] || fail "the installer added$(printf '\n%s' "$added")
where these were expected:$(printf '\n%s' "$expected")"
LC_ALL=C comm -23 "$run/before.files" "$run/installed.files" | grep -q . &&
  fail "the installer removed files"
grep -q '^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\BriveltonUtility\]' \
  "$run/installed.reg" || fail "no entry in the list of installed programs"
grep -qx '"DisplayName"="Brivelton Utility"' "$run/installed.reg" ||
  fail "the uninstall entry has no name"
say "installed: the programs, the uninstaller, the Start-menu entry and the uninstall entry"

dir="$prefix/drive_c/${programs#./}"
cmp -s "$dir/LICENSE.txt" "$(dirname "$(realpath "$0")")/../LICENSE" || fail "the installed LICENSE.txt is not the licence"
w wine "$dir/brivelton.exe" --version > "$run/version.raw" 2>&1 ||
  fail "brivelton.exe --version failed: $(cat "$run/version.raw")"
tr -d '\r' < "$run/version.raw" | head -n1 | grep -qx "brivelton $version" ||
  fail "brivelton.exe --version said: $(cat "$run/version.raw")"
say "brivelton.exe --version: $(tr -d '\r' < "$run/version.raw" | head -n1)"

w wine "$dir/brivelton-utility.exe" > "$run/utility.log" 2>&1 &
shown=
for _ in $(seq 300); do
  shown=$(w xdotool search --name '^Brivelton Utility' 2> /dev/null | head -n1 || true)
  [ -n "$shown" ] && break
  sleep 0.1
done
[ -n "$shown" ] || fail "brivelton-utility.exe showed no window"
say "brivelton-utility.exe shows its window"
stop_wine

say "uninstalling silently"
w timeout 300 wine "$dir/uninstall.exe" /S > "$run/uninstall.log" 2>&1 || fail "the uninstaller failed"
# It runs on from a copy of itself: the snapshot waits for the server to end.
snapshot after wait
cat "$run/before.files" "$run/before.reg" > "$run/before.txt"
cat "$run/after.files" "$run/after.reg" > "$run/after.txt"
diff -u "$run/before.txt" "$run/after.txt" > "$run/left.diff" ||
  fail "left behind after uninstalling:$(printf '\n')$(cat "$run/left.diff")"
say "passed: installed, ran, uninstalled, nothing left"
