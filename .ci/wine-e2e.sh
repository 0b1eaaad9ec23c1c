#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Win32 window end to end: brivelton-utility.exe under Wine in Xvfb, with
# brivelton-sim on a pseudo-terminal mapped into Wine as COM5. A driver
# program (also run under Wine) clicks through Check Device, Update Firmware
# and Setting, answers the dialogs and reads the message list back; its
# transcript, the simulator's flash and its parameters are then compared with
# what they must be. Then a second adapter, its page's address lost: the
# driver answers the address dialog each way and the address typed must be
# on the page. Then a third, whose first checksum comes back short: the
# window in the pause after the failed attempt. Screenshots land in
# BUILD_DIR_MINGW/wine-e2e/shots.
# Then the console brivelton.exe on the same COM5 (see below).
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

cmake --build "$native" --target brivelton-sim brivelton -j 2 > /dev/null
cmake --build "$mingw" --target brivelton-utility brivelton-window-driver brivelton -j 2 > /dev/null
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

source "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"

sim_pid=
cleanup() {
  set +e
  [ -n "$display" ] && stop_wine 2> /dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null && wait "$sim_pid" 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null && wait "$xvfb_pid" 2> /dev/null
}
trap cleanup EXIT

# --- An X server of our own ---------------------------------------------------
start_xvfb 1280x1024x24
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
address_driver_status=$driver_status address_utility_running=$utility_running
address_sim_status=$sim_status

# --- A failed attempt -----------------------------------------------------------------
# The blank page takes its address from the one entry saved from COM5; the
# first checksum comes back short, so the first attempt fails and the second
# is verified after the 3-second pause, in which the window is pictured.
start_sim attempts-sim --time-scale 0 --wire-scale 0 --blank-identity --image "$image" \
  --image-version "$version" --short FlashChecksum=1 --dump-flash "$run/attempts-flash-after.bin"
list_com5
drive attempts-transcript.txt attempts
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
# check_drive NAME WHAT DRIVER_STATUS UTILITY_RUNNING SIM_STATUS: how the run
# with NAME-transcript.txt and NAME-sim ended; WHAT says what it was.
check_drive() {
  if [ "$3" -ne 0 ]; then
    say "the driver of $2 ended with $3: $(cat "$run/$1-transcript.err")"
    grep '^FAIL' "$run/$1-transcript.txt" || true
    status=1
  fi
  [ "$4" -eq 0 ] || { say "the utility did not end after $2"; status=1; }
  [ "$5" -eq 0 ] || { say "brivelton-sim ended with $5: $(cat "$run/$1-sim.err")"; status=1; }
}
check_drive address "the address dialogs" "$address_driver_status" "$address_utility_running" \
  "$address_sim_status"
check_drive attempts "the failed attempt" "$driver_status" "$utility_running" "$sim_status"
[ "$(od -An -tx1 -j 512000 -N 6 "$run/attempts-flash-after.bin" 2> /dev/null | tr -d ' \n')" = 5a1b3c4d5e6f ] ||
  { say "the second attempt did not write the saved address"; status=1; }
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
for shot in main-after-check-device main-progress settings address address-refused \
  main-attempt-failed main-result-beside-bar main-long-line; do
  [ -s "$shots/$shot.png" ] || { say "no screenshot $shot.png"; status=1; }
done

# --- The console tool, on the same COM5 ---------------------------------------------
# brivelton.exe says what the Linux tool says to the same adapter, gives an
# adapter with a blank identity page the address --address names, and takes
# an address back from %LOCALAPPDATA%\Brivelton after an update stopped
# while its pages were written. The adapters take no time, and the line none
# either but where a Ctrl-C must land among the pages.
tool_started=$(date +%s)
tool=$mingw/src/cli/brivelton.exe
cli=$native/src/cli/brivelton
rm -rf "$work/state"
journal=$(cd "$prefix/drive_c/users" && ls -d */ | grep -v '^Public/$' | head -n1)
journal=$prefix/drive_c/users/${journal%/}/AppData/Local/Brivelton
rm -rf "$journal"

tool_failed() { say "brivelton.exe: $*"; status=1; }
# start_adapter NAME OPTIONS...: a fresh simulated adapter behind COM5 that
# knows the image, its flash written to NAME-flash.bin when it is stopped.
start_adapter() {
  local name=$1
  shift
  start_sim "$name-sim" --image "$image" --image-version "$version" \
    --dump-flash "$run/$name-flash.bin" "$@"
}
# run_tool NAME ARGS...: brivelton.exe ARGS; stdout in NAME.out without the
# console's CRs, stderr in NAME.err, the status in $tool_status.
run_tool() {
  local name=$1
  shift
  tool_status=0
  w wine "$tool" "$@" < /dev/null > "$run/$name.raw" 2> "$run/$name.err" || tool_status=$?
  tr -d '\r' < "$run/$name.raw" > "$run/$name.out"
}
# run_both NAME STATUS ARGS...: brivelton.exe and the Linux brivelton on the
# same adapter end with STATUS and print the same, but for the port's name.
run_both() {
  local name=$1 expected=$2 linux_status=0
  shift 2
  env XDG_STATE_HOME="$work/state" "$cli" --port "$link" "$@" < /dev/null \
    > "$run/$name.linux.raw" 2> "$run/$name.linux.err" || linux_status=$?
  sed "s|$link|COM5|g" "$run/$name.linux.raw" > "$run/$name.linux"
  run_tool "$name" --port COM5 "$@"
  [ "$linux_status" = "$expected" ] || tool_failed "brivelton $* ended with $linux_status"
  [ "$tool_status" = "$expected" ] ||
    tool_failed "brivelton.exe $* ended with $tool_status: $(cat "$run/$name.err")"
  diff -u "$run/$name.linux" "$run/$name.out" > "$run/$name.diff" ||
    tool_failed "brivelton.exe $* printed otherwise than brivelton: $(cat "$run/$name.diff")"
}
# identity_bytes FILE: the first bytes of the identity page in a flash dump.
identity_bytes() { od -An -tx1 -j 512000 -N 6 "$1" | tr -d ' \n'; }

w wineserver -p
start_adapter blank --time-scale 0 --wire-scale 0 --blank-identity
run_tool ports ports
grep -qx COM5 "$run/ports.out" || tool_failed "ports does not list COM5: $(cat "$run/ports.out")"
run_both check 0 check
run_both identity-blank 6 identity
# The exit statuses scripts act on, as on Linux: cancelled without --yes and
# without a terminal; no adapter on a port where none answers.
run_both update-cancelled 5 update
run_tool no-adapter --port COM9 check
[ "$tool_status" = 3 ] || tool_failed "check with no adapter ended with $tool_status, not 3"
run_tool help --help
grep -q 'manual page' "$run/help.out" && tool_failed "brivelton.exe --help names a manual page"
grep -q 'README' "$run/help.out" || tool_failed "brivelton.exe --help does not say where the fields are listed"
run_both check-json 0 check --json
grep -q '"port": "COM5"' "$run/check-json.out" || tool_failed "check --json named no COM5"
run_tool update-address --port COM5 update --yes --address 00:1B:DC:0F:21:7E
[ "$tool_status" = 0 ] ||
  tool_failed "update --address ended with $tool_status: $(cat "$run/update-address.out" "$run/update-address.err")"
run_tool identity-after --port COM5 identity
grep -qx 'address: 00:1B:DC:0F:21:7E' "$run/identity-after.out" ||
  tool_failed "identity after update --address: $(cat "$run/identity-after.out" "$run/identity-after.err")"
run_both settings 0 settings
# Nothing to do: said on stderr even with -q, and in the JSON object.
run_tool if-older -q --port COM5 update --yes --if-older --json
[ "$tool_status" = 0 ] || tool_failed "update --if-older ended with $tool_status"
grep -q '"outcome": "up-to-date"' "$run/if-older.out" ||
  tool_failed "update --if-older --json: $(cat "$run/if-older.out")"
grep -q '^brivelton: nothing to do: ' "$run/if-older.err" ||
  tool_failed "update --if-older -q said nothing on stderr: $(cat "$run/if-older.err")"
grep -q '^hook-speed=' "$run/settings.out" || tool_failed "settings printed no values"
run_tool firmware firmware --save "Z:${run//\//\\}\\saved.bin"
cmp -s "$image" "$run/saved.bin" || tool_failed "firmware --save did not write the image byte for byte"
stop_sim
[ "$(identity_bytes "$run/blank-flash.bin")" = 001bdc0f217e ] ||
  tool_failed "the adapter's page holds $(identity_bytes "$run/blank-flash.bin"), not 00:1B:DC:0F:21:7E"

# Ctrl-C while the pages are written (Wine hands the console program a
# SIGINT as Ctrl-C): held, and the update finishes. A second one stops it at
# once; the address waits in LOCALAPPDATA\Brivelton for the next run. On this
# line the pages take more than a second.
held_note=$'\nbrivelton: the flash is being written; stopping once it is written and checked (press Ctrl-C again to stop at once and leave the adapter without firmware)'
# interrupt_update NAME COUNT: update --yes, with COUNT Ctrl-Cs from the line
# that says the pages are written on, each once the last was answered.
interrupt_update() {
  local name=$1 count=$2 pid sent=0
  : > "$run/$name.raw"
  : > "$run/$name.err"
  wine_environment
  env "${wine_vars[@]}" wine "$tool" --port COM5 update --yes > "$run/$name.raw" 2> "$run/$name.err" &
  pid=$!
  for _ in $(seq 400); do
    kill -0 "$pid" 2> /dev/null || break
    if [ "$sent" = 0 ] && grep -q '^ Write flash' "$run/$name.raw"; then
      kill -INT "$pid" && sent=1
    elif [ "$sent" = 1 ] && [ "$count" = 2 ] && grep -q 'stopping once' "$run/$name.err"; then
      kill -INT "$pid" && sent=2
    fi
    sleep 0.05
  done
  tool_status=0
  wait "$pid" || tool_status=$?
  tr -d '\r' < "$run/$name.raw" > "$run/$name.out"
  [ "$sent" = "$count" ] || tool_failed "$name: $sent of $count Ctrl-Cs sent: $(cat "$run/$name.out")"
  # Besides the progress lines: the note that the Ctrl-C is held and, after a
  # second one, what the adapter is left with and the command to run.
  local said expected=$held_note
  said=$(tr -d '\r' < "$run/$name.err" | grep -vE '^(Erasing|Writing|Verifying) [0-9]+% ')
  [ "$count" = 2 ] && expected+=$'\n'
  [ "${said:0:${#expected}}" = "$expected" ] ||
    tool_failed "$name: stderr is not the note that the Ctrl-C is held: $said"
  if [ "$count" = 2 ]; then
    grep -q 'the adapter has no working firmware. Its Bluetooth address 5A:1B:3C:4D:5E:6F is saved at ' <<<"$said" &&
      grep -qx '  brivelton --port COM5 update' <<<"$said" ||
      tool_failed "$name: no closing words after the second Ctrl-C: $said"
  else
    [ "$said" = "$held_note" ] || tool_failed "$name: more than the note on stderr: $said"
  fi
}
pages_slow=(--time-scale 0 --wire-scale 0.25)
start_adapter held "${pages_slow[@]}" --address 5A1B3C4D5E6F
interrupt_update update-held 1
[ "$tool_status" = 0 ] || tool_failed "one Ctrl-C: the update ended with $tool_status"
stop_sim
[ "$(identity_bytes "$run/held-flash.bin")" = 5a1b3c4d5e6f ] ||
  tool_failed "one Ctrl-C: the page holds $(identity_bytes "$run/held-flash.bin")"
cmp -s -n 512000 "$image" "$run/held-flash.bin" || tool_failed "one Ctrl-C: the image is not written"

start_adapter insisted "${pages_slow[@]}" --address 5A1B3C4D5E6F
interrupt_update update-insisted 2
[ "$tool_status" = 130 ] || tool_failed "two Ctrl-Cs: the update ended with $tool_status, not 130"
saved=$(ls "$journal" 2> /dev/null | wc -l)
[ "$saved" = 1 ] || tool_failed "two Ctrl-Cs left $saved files in LOCALAPPDATA\\Brivelton, not 1"
stop_sim
[ "$(identity_bytes "$run/insisted-flash.bin")" = ffffffffffff ] ||
  tool_failed "two Ctrl-Cs: the page was not erased yet: $(identity_bytes "$run/insisted-flash.bin")"
# An adapter without firmware costs the search its time-outs, which the Linux
# tool's tests wait through; here one that answers, its page as blank.
start_adapter again --time-scale 0 --wire-scale 0 --blank-identity
run_tool update-again --port COM5 update --yes
[ "$tool_status" = 0 ] ||
  tool_failed "the update run again ended with $tool_status: $(cat "$run/update-again.out" "$run/update-again.err")"
left=$(ls "$journal" 2> /dev/null | wc -l)
[ "$left" = 0 ] || tool_failed "the verified update left $left files in LOCALAPPDATA\\Brivelton"
stop_sim
[ "$(identity_bytes "$run/again-flash.bin")" = 5a1b3c4d5e6f ] ||
  tool_failed "run again: the page holds $(identity_bytes "$run/again-flash.bin")"
stop_wine
rm -rf "$journal"
say "brivelton.exe: $(stat -c %s "$tool") bytes; its runs took $(( $(date +%s) - tool_started )) s"

say "brivelton-utility.exe: $(stat -c %s "$exe") bytes; run took $(( $(date +%s) - started )) s"
if [ "$status" -eq 0 ]; then say "passed"; else say "FAILED (files in $run)"; fi
exit "$status"
