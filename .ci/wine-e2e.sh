#!/usr/bin/env bash
# The Win32 window end to end: brivelton-utility.exe under Wine in Xvfb, with
# brivelton-sim on a pseudo-terminal mapped into Wine as COM5. A driver
# program (also run under Wine) clicks through Check Device, Update Firmware
# and Setting, answers the dialogs and reads the message list back; its
# transcript, the simulator's flash and its parameters are then compared with
# what they must be. Then a second adapter, its page's address lost: the
# driver answers the address dialog each way and the address typed must be
# on the page. Screenshots land in BUILD_DIR_MINGW/wine-e2e/shots.
#
# usage: .ci/wine-e2e.sh BUILD_DIR_NATIVE BUILD_DIR_MINGW
# Needs: wine wine64 fonts-wine fonts-liberation xvfb xauth imagemagick.
# BRIVELTON_E2E_WINEDEBUG, when set, replaces WINEDEBUG=-all (for example
# -all,+debugstr shows the utility's trace in run/utility.log).
# BRIVELTON_E2E_TIME_SCALE, when set, runs the simulator at that time scale
# instead of 0 (3 gives an update slow enough to watch in the screenshots).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR_NATIVE BUILD_DIR_MINGW" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "$1")
mingw=$(realpath "$2")
started=$(date +%s)

say() { printf 'wine-e2e: %s\n' "$*"; }
fail() { printf 'wine-e2e: FAILED: %s\n' "$*" >&2; exit 1; }

for tool in wine wineserver Xvfb import cmp; do
  command -v "$tool" > /dev/null || fail "$tool is not installed"
done

cmake --build "$native" --target brivelton-sim -j 2 > /dev/null
cmake --build "$mingw" --target brivelton-utility brivelton-window-driver -j 2 > /dev/null
sim=$native/src/sim/brivelton-sim
exe=$mingw/src/gui/win32/brivelton-utility.exe
driver=$mingw/tests/gui_win32/brivelton-window-driver.exe

# The image the .exe carries, as its build chose it.
cache=$mingw/CMakeCache.txt
image=$(sed -n 's/^BRIVELTON_FIRMWARE_IMAGE:FILEPATH=//p' "$cache")
version=$(sed -n 's/^BRIVELTON_FIRMWARE_VERSION:STRING=//p' "$cache")
[ -n "$image" ] || image=$mingw/placeholder_firmware_${version}.bin
[ -f "$image" ] || fail "firmware image $image not found"

work=$mingw/wine-e2e
prefix=$work/prefix
run=$work/run
shots=$work/shots
mkdir -p "$prefix" "$work/home" "$work/tmp" "$run" "$shots"
rm -f "$run"/* "$shots"/*

# Wine runs only through this, so that its processes are the ones carrying
# our WINEPREFIX.
w() {
  env WINEPREFIX="$prefix" WINEARCH=win64 HOME="$work/home" TMPDIR="$work/tmp" \
    WINEDEBUG="${BRIVELTON_E2E_WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    DISPLAY="$display" "$@"
}
# Any process carrying our WINEPREFIX: one grep over all environments, where
# a pipeline per process took seconds.
wine_running() {
  grep -qszxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ
}
# `wineserver -k` returns before the processes are gone.
stop_wine() {
  w wineserver -k 2> /dev/null || true
  local _
  for _ in $(seq 100); do
    wine_running || return 0
    sleep 0.1
  done
  fail "Wine processes of $prefix are still running"
}

display=
xvfb_pid=
sim_pid=
cleanup() {
  set +e
  [ -n "$display" ] && stop_wine 2> /dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null && wait "$sim_pid" 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null && wait "$xvfb_pid" 2> /dev/null
}
trap cleanup EXIT

# --- An X server of our own ---------------------------------------------------
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5> "$run/display" 2> "$run/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$run/display" ] && break
  kill -0 "$xvfb_pid" 2> /dev/null || fail "Xvfb did not start: $(cat "$run/xvfb.log")"
  sleep 0.1
done
[ -s "$run/display" ] || fail "Xvfb named no display"
display=:$(head -n1 "$run/display")
say "Xvfb on $display"

# --- The Wine prefix ------------------------------------------------------------
if [ ! -f "$prefix/system.reg" ]; then
  say "creating the Wine prefix (the first boot takes a while)"
  # The server stays up for the import below; stopping it then saves both.
  w timeout 900 wineboot -i > "$run/wineboot.log" 2>&1 ||
    fail "wineboot failed: $(tail -n 5 "$run/wineboot.log")"
fi
# Captions need these without a desktop of their own.
for fonts in /usr/share/wine/fonts /usr/lib/wine/fonts; do
  if [ -f "$fonts/marlett.ttf" ]; then
    cp -f "$fonts"/marlett.ttf "$fonts"/tahoma*.ttf "$prefix/drive_c/windows/Fonts/"
  fi
done

link=$run/com5
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n\r\n'
  printf '[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  printf '"COM5"="%s"\r\n' "$link"
} > "$run/setup.reg"
w wine reg import "Z:${run//\//\\}\\setup.reg" > "$run/reg.log" 2>&1 ||
  fail "registry import failed: $(cat "$run/reg.log")"
rm -f "$prefix"/dosdevices/com*
stop_wine  # the serial ports are listed when the server starts again

# --- The simulated adapter --------------------------------------------------------
# An old image and an identity page that holds the adapter's address under a
# stale name: the update must keep the address and write the page afresh.
# The device takes no time, but the line keeps its speed: the window is
# watched for answers while the pages go out as they would to an adapter.
address='\x5a\x1b\x3c\x4d\x5e\x6f'
identity_page() {  # NAME: the page as the adapter keeps it
  printf '%b' "$address"
  printf '%s' "$1"
  head -c 18 /dev/zero
  head -c $((4096 - 6 - ${#1} - 18)) /dev/zero | tr '\0' '\377'
}
{
  head -c 512000 /dev/zero | tr '\0' '\021'
  identity_page 'Brivelton(OLD)'
} > "$run/flash-before.bin"
{
  cat "$image"
  identity_page 'Brivelton(B5A)'
  head -c $((0x100000 - 512000 - 4096)) /dev/zero | tr '\0' '\377'
} > "$run/flash-expected.bin"

# start_sim NAME ARGS...: brivelton-sim behind COM5, its output in NAME.out
# and NAME.err.
start_sim() {
  local name=$1
  shift
  rm -f "$link"
  "$sim" --link "$link" "$@" > "$run/$name.out" 2> "$run/$name.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$link" ] && break
    kill -0 "$sim_pid" 2> /dev/null || fail "brivelton-sim did not start: $(cat "$run/$name.err")"
    sleep 0.1
  done
  [ -L "$link" ] || fail "brivelton-sim made no link"
  say "brivelton-sim on $(head -n1 "$run/$name.out"), linked as COM5"
}
# stop_sim: sim_status is how it ended.
stop_sim() {
  kill "$sim_pid" 2> /dev/null || true
  sim_status=0
  wait "$sim_pid" || sim_status=$?
  sim_pid=
}

start_sim sim --time-scale "${BRIVELTON_E2E_TIME_SCALE:-0}" --flash "$run/flash-before.bin" \
  --image "$image" --image-version "$version" --dump-flash "$run/flash-after.bin" \
  --dump-params "$run/params-after.txt"

# list_com5: Wine lists COM5 and no other port. A server that stays up, so
# that the port list trimmed here lasts the run.
list_com5() {
  w wineserver -p
  serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
  for _ in $(seq 60); do
    # Into a file, not a pipe: Wine's services keep the descriptors they inherit.
    w wine reg query "$serialcomm" > "$run/serialcomm.raw" 2>&1 || true
    tr -d '\r' < "$run/serialcomm.raw" > "$run/serialcomm.txt"
    grep -q ' COM5$' "$run/serialcomm.txt" && break
    sleep 0.5
  done
  grep -q ' COM5$' "$run/serialcomm.txt" || fail "Wine does not list COM5: $(cat "$run/serialcomm.txt")"
  # Wine lists the machine's own serial ports too, from COM1 on: out with them,
  # a probe of a real port would only cost time.
  while read -r name type port; do
    if [ "$type" != REG_SZ ] || [ "$port" = COM5 ]; then continue; fi
    w wine reg delete "$serialcomm" /v "$name" /f > /dev/null 2>&1 || fail "cannot unlist $port"
  done < "$run/serialcomm.txt"
}
list_com5

# --- The window, worked by the driver ------------------------------------------------
# drive TRANSCRIPT [MODE]: the utility's window and the driver, until both
# have ended; driver_status and utility_running say how.
drive() {
  w wine "$exe" > "$run/utility.log" 2>&1 &
  utility_pid=$!
  w timeout 900 wine "$driver" "Z:${shots//\//\\}" ${2:+"$2"} > "$run/$1" 2> "$run/${1%.txt}.err" &
  driver_pid=$!
  while kill -0 "$driver_pid" 2> /dev/null; do
    for request in "$shots"/*.req; do
      [ -e "$request" ] || continue
      sleep 0.3  # let the window finish painting
      import -display "$display" -window root -crop "$(head -n1 "$request")" +repage \
        "${request%.req}.png" 2>> "$run/import.log" || true
      rm -f "$request"
    done
    sleep 0.05
  done
  driver_status=0
  wait "$driver_pid" || driver_status=$?
  for _ in $(seq 100); do
    kill -0 "$utility_pid" 2> /dev/null || break
    sleep 0.1
  done
  utility_running=0
  kill -0 "$utility_pid" 2> /dev/null && utility_running=1
  stop_wine
}
drive transcript.txt
stop_sim
first_driver_status=$driver_status first_utility_running=$utility_running first_sim_status=$sim_status

# --- The address dialog -----------------------------------------------------------
# An adapter whose identity page has lost its address, and two addresses saved
# from COM5: every update asks first. Cancel erases nothing, "Continue
# without" writes the start-up address, and 12 digits typed are written.
start_sim address-sim --time-scale 0 --wire-scale 0 --blank-identity \
  --dump-flash "$run/address-flash-after.bin"
list_com5
drive address-transcript.txt address
stop_sim

# --- What must have happened ------------------------------------------------------
status=0
if ! diff -u "$src/tests/gui_win32/expected_transcript.txt" "$run/transcript.txt" > "$run/transcript.diff"; then
  say "the transcript differs from the expected one:"
  cat "$run/transcript.diff"
  status=1
fi
[ "$first_driver_status" -eq 0 ] || { say "the driver ended with $first_driver_status: $(cat "$run/transcript.err")"; status=1; }
[ "$first_utility_running" -eq 0 ] || { say "the utility did not end when its window closed"; status=1; }
[ "$first_sim_status" -eq 0 ] || { say "brivelton-sim ended with $first_sim_status: $(cat "$run/sim.err")"; status=1; }
if [ "$driver_status" -ne 0 ]; then
  say "the address dialog's driver ended with $driver_status: $(cat "$run/address-transcript.err")"
  grep '^FAIL' "$run/address-transcript.txt" || true
  status=1
fi
[ "$utility_running" -eq 0 ] || { say "the utility did not end after the address dialogs"; status=1; }
[ "$sim_status" -eq 0 ] || { say "brivelton-sim ended with $sim_status: $(cat "$run/address-sim.err")"; status=1; }
written=$(od -An -tx1 -j 512000 -N 6 "$run/address-flash-after.bin" 2> /dev/null | tr -d ' \n')
[ "$written" = 5a1b3c778899 ] || { say "the address typed in the dialog was not written (the page holds ${written:-nothing})"; status=1; }
if ! cmp "$run/flash-expected.bin" "$run/flash-after.bin"; then
  say "the adapter's flash is not the built-in image with the adapter's identity page"
  status=1
fi
if ! diff -u "$src/tests/gui_win32/expected_params.txt" "$run/params-after.txt"; then
  say "the adapter's parameters differ"
  status=1
fi
for shot in main-after-check-device main-progress settings address address-refused; do
  [ -s "$shots/$shot.png" ] || { say "no screenshot $shot.png"; status=1; }
done

say "brivelton-utility.exe: $(stat -c %s "$exe") bytes; run took $(( $(date +%s) - started )) s"
if [ "$status" -eq 0 ]; then say "passed"; else say "FAILED (files in $run)"; fi
exit "$status"
