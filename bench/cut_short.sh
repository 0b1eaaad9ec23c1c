#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Whether the adapter keeps its Bluetooth address when an update is cut short:
# brivelton-sim on a pseudo-terminal, `brivelton update --yes` stopped by a
# signal the moment the simulator sees a given frame (or unplugged by the
# simulator itself), then a new run of the update, then `brivelton identity`.
# One line per way of cutting it short.
#
# usage: bench/cut_short.sh [BUILD_DIR] [--quick]   (--quick: no twenty-failure run)
set -u
build=$(realpath "${1:-build}")
quick=${2:-}
tool=$build/src/cli/brivelton
sim=$build/src/sim/brivelton-sim
want=00:1B:DC:0F:21:7E
work=$(mktemp -d /tmp/brivelton-cut-short-XXXXXX)
# BRIVELTON_KEEP=1 keeps each case's logs.
[ -n "${BRIVELTON_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
echo "logs in $work"
export XDG_STATE_HOME=$work/state

# cut NAME FRAME[:N] SIGNAL [SIMULATOR OPTIONS...]: SIGNAL goes to the tool once
# the simulator has logged its Nth FRAME; FRAME "-" sends nothing.
cut() {
  local name=$1 frame=${2%%:*} nth=1 signal=$3
  [[ $2 == *:* ]] && nth=${2##*:}
  shift 3
  local dir=$work/$name
  mkdir -p "$dir"
  "$sim" --verbose --link "$dir/adapter" "$@" > "$dir/sim.out" 2> "$dir/sim.err" &
  local sim_pid=$!
  for _ in $(seq 200); do [ -L "$dir/adapter" ] && break; sleep 0.05; done
  local start=$(date +%s%N)
  "$tool" --port "$dir/adapter" update --yes > "$dir/first.out" 2> "$dir/first.err" &
  local tool_pid=$!
  if [ "$frame" != - ]; then
    while kill -0 "$tool_pid" 2> /dev/null; do
      [ "$(grep -c " $frame (" "$dir/sim.err")" -ge "$nth" ] && { kill "-$signal" "$tool_pid"; break; }
      sleep 0.002
    done
  fi
  wait "$tool_pid"
  local first=$?
  local took=$(( ($(date +%s%N) - start) / 100000000 ))
  "$tool" --port "$dir/adapter" identity > "$dir/between.out" 2> "$dir/between.err"
  local between=$(sed -n 's/^address: //p' "$dir/between.out")
  "$tool" --port "$dir/adapter" update --yes > "$dir/second.out" 2> "$dir/second.err"
  local second=$?
  "$tool" --port "$dir/adapter" identity > "$dir/after.out" 2> "$dir/after.err"
  local after=$(sed -n 's/^address: //p' "$dir/after.out")
  kill "$sim_pid" 2> /dev/null
  wait "$sim_pid" 2> /dev/null
  local restored=no
  grep -q "restored address" "$dir/second.out" && restored=yes
  local verdict=LOST
  [ "$after" = "$want" ] && verdict=kept
  printf '%-34s first run: exit %3s after %3d.%d s | page then: %-17s | journal used: %-3s | new run: exit %s | address: %-17s %s\n' \
    "$name" "$first" $((took / 10)) $((took % 10)) "${between:-blank}" "$restored" "$second" "${after:-none}" "$verdict"
}

echo "expected address $want; simulator $sim"
if [ "$quick" = --only-twenty ]; then
  cut "unplugged 20 times, then new run" - - --hangup-step page-write:40 --hangup-count 20
  exit
fi
cut "kill -9 at boot mode entry"      BootHandshake     KILL
cut "kill -9 at the identity read"    FlashReadPage     KILL
cut "kill -9 during the erase"        FlashErase:10     KILL
cut "kill -9 during the page writes"  FlashWritePage:40 KILL
cut "kill -9 at the identity write"   WriteIdentityPage KILL
cut "kill -9 at the verify"           FlashChecksum     KILL
cut "kill -9 at the identity read-back" FlashReadPage:2 KILL
cut "kill -9 during the restart"      ResetStepA        KILL
cut "identity page stored wrong once" - - --wrong-identity 1
cut "Ctrl-C during the page writes"   FlashWritePage:40 INT
cut "SIGTERM during the erase"        FlashErase:10     TERM
cut "SIGHUP during the page writes"   FlashWritePage:40 HUP
cut "Ctrl-C at boot mode entry"       BootHandshake     INT
cut "unplugged during the page writes" - - --hangup-step page-write:40
if [ "$quick" != --quick ]; then
  cut "unplugged 20 times, then new run" - - --hangup-step page-write:40 --hangup-count 20
fi
