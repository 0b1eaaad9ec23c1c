#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The update and Check Device benchmarks: the command-line tool against the
# simulator on a pseudo-terminal in real time, the same command line on the
# virtual port in virtual time, and the wire-time floor under both. Prints a
# table of medians; its last line is "update real/virtual = X.XX".
#   bash bench/run.sh [RUNS] [--rates]
# RUNS real runs of each scenario (default 3); --rates also runs the update's
# success rates under byte errors (a few minutes). BENCH_BUILD_DIR picks the
# build directory (default build-bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=3
rates=0
for arg in "$@"; do
  case $arg in
    --rates) rates=1 ;;
    *[!0-9]* | '') echo "usage: $0 [RUNS] [--rates]" >&2; exit 2 ;;
    *) runs=$arg ;;
  esac
done
build=${BENCH_BUILD_DIR:-$root/build-bench}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIVELTON_BENCH=ON \
  >/dev/null
cmake --build "$build" --target brivelton brivelton-sim virtual_update update_success_rates \
  -j "$(nproc)" >/dev/null
cli=$build/src/cli/brivelton
sim=$build/src/sim/brivelton-sim
virtual=$build/bench/virtual_update

work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulator serving on the link $1, with options $2...; its pid in $sim_pid.
start_sim() {
  local link=$1
  shift
  "$sim" --link "$link" "$@" >"$link.out" 2>&1 &
  sim_pid=$!
  sims+=("$sim_pid")
  for _ in $(seq 100); do
    [ -e "$link" ] && return 0
    sleep 0.05
  done
  echo "brivelton-sim did not come up on $link" >&2
  exit 1
}
stop_sim() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# a / b with $3 decimals (default 2).
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-2}" 'BEGIN {printf "%.*f", d, a / b}'; }

# Runs the tool under /usr/bin/time; appends "wall_ms user_s sys_s maxrss_kb"
# to the file $1; the tool's own arguments follow. The wall time is taken
# around it to the microsecond (time's own is in hundredths of a second).
timed_cli() {
  local out=$1 t0 t1
  shift
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$cli" "$@" >"$work/cli.log" 2>"$work/cli.err" || {
    echo "brivelton $* failed:" >&2
    tail -n 20 "$work/cli.log" "$work/cli.err" >&2
    exit 1
  }
  t1=$EPOCHREALTIME
  awk -v t0="$t0" -v t1="$t1" '{printf "%.1f %s %s %s\n", (t1 - t0) * 1000, $1, $2, $3}' \
    "$work/time" >>"$out"
}

echo "machine: $(nproc) cpus, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), kernel $(uname -r)"
echo "runs: $runs real runs per scenario (medians)"

# Virtual time and the floor.
"$virtual" update >"$work/virtual_update"
v_update=$(awk '$1 == "update_virtual_ms" {print $2}' "$work/virtual_update")
floor=$(awk '$1 == "update_floor_ms" {print $2}' "$work/virtual_update")
floor_parts=$(awk '$1 == "update_floor_parts" {$1 = ""; print}' "$work/virtual_update")
declare -A v_check
for n in 0 1 3; do
  v_check[$n]=$("$virtual" check "$n" | awk '$1 == "check_virtual_ms" {print $3}')
done

# Starting the tool at all: the fixed cost of every real run.
: >"$work/startup"
for _ in $(seq "$runs"); do timed_cli "$work/startup" --help; done
startup=$(cut -d' ' -f1 "$work/startup" | median)

# Real time: a fresh adapter (old firmware 1FF) for every update.
#   update_runs OUT [SIMULATOR OPTIONS...]
update_runs() {
  local out=$1
  shift
  : >"$out"
  for _ in $(seq "$runs"); do
    start_sim "$work/adapter" --version 1FF "$@"
    timed_cli "$out" --port "$work/adapter" update --yes
    grep -qx 'Firmware update done. Please re-pair device.' "$work/cli.log" || {
      echo "the update did not succeed" >&2
      cat "$work/cli.log" >&2
      exit 1
    }
    stop_sim "$sim_pid"
  done
}
update_runs "$work/update"
r_update=$(cut -d' ' -f1 "$work/update" | median)
# Behind an FTDI-like bridge, which holds each short reply for its latency
# timer: with the tool's low-latency request honoured (1 ms), and without it
# (16 ms), for the record. A pseudo-terminal cannot carry the request, so the
# simulator's ftdi-low-latency profile stands for the honoured one; the
# virtual-time tests see the request itself.
declare -A r_bridge
for bridge in ftdi-low-latency ftdi; do
  update_runs "$work/bridge-$bridge" --bridge "$bridge"
  r_bridge[$bridge]=$(cut -d' ' -f1 "$work/bridge-$bridge" | median)
done
cpu_share=$(awk '{print ($2 + $3) * 1000 / $1 * 100}' "$work/update" | median)
rss_kb=$(cut -d' ' -f4 "$work/update" | median)

# Many adapters at once: $parallel simulators, each updated by its own
# `brivelton --port P update --yes`, all started together. The wall time runs
# from the first start to the last exit; every adapter's flash must then be the
# image followed by its own identity page.
parallel=8
firmware_image=$work/firmware.bin
"$cli" firmware --save "$firmware_image" >/dev/null
identity_page() {  # ADDRESS (12 hex digits): the page as the update writes it
  local a=$1 hex=0123456789ABCDEF
  printf '%b' "$(sed 's/../\\x&/g' <<<"$a")"
  printf 'Brivelton(%s%s%s)' "${hex:$((0x${a:2:2} & 15)):1}" "${a:0:1}" "${a:1:1}"
  head -c 18 /dev/zero
  head -c $((4096 - 6 - 14 - 18)) /dev/zero | tr '\0' '\377'
}
cpu_seconds() {  # PID: user + system CPU of a running process
  awk -v hz="$(getconf CLK_TCK)" '{sub(/.*\) /, ""); print ($12 + $13) / hz}' "/proc/$1/stat"
}
: >"$work/parallel"
flashes_ok=0
for run in $(seq "$runs"); do
  par_sims=()
  for i in $(seq "$parallel"); do
    address=$(printf '001BDC0F21%02X' "$i")
    start_sim "$work/par$i" --version 1FF --address "$address" --dump-flash "$work/par$i.flash"
    par_sims+=("$sim_pid")
    { cat "$firmware_image"; identity_page "$address"
      head -c $((0x100000 - 512000 - 4096)) /dev/zero | tr '\0' '\377'; } >"$work/par$i.expected"
  done
  pids=()
  t0=$EPOCHREALTIME
  for i in $(seq "$parallel"); do
    /usr/bin/time -f '%U %S' -o "$work/par$i.time" "$cli" --port "$work/par$i" update --yes \
      >"$work/par$i.log" 2>"$work/par$i.err" &
    pids+=("$!")
  done
  failed=0
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  t1=$EPOCHREALTIME
  sim_cpu=0
  for pid in "${par_sims[@]}"; do
    sim_cpu=$(awk -v a="$sim_cpu" -v b="$(cpu_seconds "$pid")" 'BEGIN {print a + b}')
    stop_sim "$pid"
  done
  for i in $(seq "$parallel"); do
    if [ "$failed" = 0 ] && grep -qx 'Firmware update done. Please re-pair device.' "$work/par$i.log" &&
      cmp -s "$work/par$i.expected" "$work/par$i.flash"; then
      flashes_ok=$((flashes_ok + 1))
    else
      echo "parallel update $i of run $run: wrong result or flash" >&2
      tail -n 5 "$work/par$i.log" "$work/par$i.err" >&2
    fi
  done
  tool_cpu=$(cat "$work"/par*.time | awk '{s += $1 + $2} END {print s}')
  awk -v t0="$t0" -v t1="$t1" -v tool="$tool_cpu" -v sim="$sim_cpu" \
    'BEGIN {printf "%.1f %.3f %.3f\n", (t1 - t0) * 1000, tool, sim}' >>"$work/parallel"
done
r_parallel=$(cut -d' ' -f1 "$work/parallel" | median)
parallel_tool_cpu=$(cut -d' ' -f2 "$work/parallel" | median)
parallel_sim_cpu=$(cut -d' ' -f3 "$work/parallel" | median)

# Check Device behind 0, 1 and 3 silent ports (simulators that never answer).
start_sim "$work/adapter" --version 1FF
adapter_pid=$sim_pid
silent_ports=()
for i in 1 2 3; do
  start_sim "$work/silent$i" --silent
  silent_ports+=(--port "$work/silent$i")
done
declare -A r_check
for n in 0 1 3; do
  : >"$work/check$n"
  for _ in $(seq "$runs"); do
    timed_cli "$work/check$n" "${silent_ports[@]:0:$((2 * n))}" --port "$work/adapter" check
  done
  r_check[$n]=$(cut -d' ' -f1 "$work/check$n" | median)
done
stop_sim "$adapter_pid"

printf '\n%-28s %10s %12s %10s %13s\n' scenario "real ms" "virtual ms" "floor ms" "real/virtual"
printf '%-28s %10.1f %12s %10s %13s\n' "tool start-up (--help)" "$startup" - - -
printf '%-28s %10.1f %12.1f %10.1f %13s\n' "update (check + update)" "$r_update" "$v_update" "$floor" \
  "$(ratio "$r_update" "$v_update" 3)"
printf '%-28s %10.1f %12s %10s %13s\n' "update, FTDI low latency" "${r_bridge[ftdi-low-latency]}" - - \
  "$(ratio "${r_bridge[ftdi-low-latency]}" "$r_update" 3) of pty"
printf '%-28s %10.1f %12s %10s %13s\n' "update, FTDI at 16 ms" "${r_bridge[ftdi]}" - - \
  "$(ratio "${r_bridge[ftdi]}" "$r_update" 3) of pty"
for n in 0 1 3; do
  printf '%-28s %10.1f %12.1f %10s %13s\n' "check, $n silent ports" "${r_check[$n]}" "${v_check[$n]}" - \
    "$(ratio "${r_check[$n]}" "${v_check[$n]}" 3)"
done
printf '%-28s %10.1f %12s %10s %13s\n' "$parallel updates at once" "$r_parallel" - - \
  "$(ratio "$r_parallel" "$r_update" 3) x1"
per_real=$(awk -v a="${r_check[3]}" -v b="${r_check[0]}" 'BEGIN {print (a - b) / 3}')
per_virtual=$(awk -v a="${v_check[3]}" -v b="${v_check[0]}" 'BEGIN {print (a - b) / 3}')
printf '%-28s %10.1f %12.1f %10s %13s\n' "cost of one silent port" "$per_real" "$per_virtual" - \
  "$(ratio "$per_real" "$per_virtual" 3)"
echo
echo "update virtual/floor = $(ratio "$v_update" "$floor" 3)  (floor:$floor_parts)"
printf 'tool during the update: cpu %.2f%% of wall time (target < 5%%), peak rss %.1f MiB (target < 8 MiB)\n' \
  "$cpu_share" "$(awk -v k="$rss_kb" 'BEGIN {print k / 1024}')"

printf '%s updates at once: wall %.1f ms = %s x one update (goal at most 1.05), cpu %.2f s in the tools, %.2f s in the simulators, flashes correct %d/%d\n' \
  "$parallel" "$r_parallel" "$(ratio "$r_parallel" "$r_update" 3)" "$parallel_tool_cpu" "$parallel_sim_cpu" \
  "$flashes_ok" $((parallel * runs))

# The web page's update through the WebSocket bridge (tests/browser) against
# the tool's, each on a fresh simulator, in headless chromium.
if [ -x /usr/bin/chromium ] && command -v npm >/dev/null && command -v emcmake >/dev/null; then
  bash "$root/scripts/web" --no-serve >/dev/null
  browser=$root/tests/browser
  [ "$browser/node_modules/.package-lock.json" -nt "$browser/package-lock.json" ] ||
    (cd "$browser" && npm ci --no-audit --no-fund >/dev/null)
  BRIVELTON_BUILD=$build node "$browser/bench.mjs" "$runs" >"$work/page"
  page_ms=$(awk '$1 == "page_update_ms" {print $2}' "$work/page")
  page_cli_ms=$(awk '$1 == "cli_update_ms" {print $2}' "$work/page")
  page_sim_ms=$(awk '$1 == "page_in_page_sim_ms" {print $2}' "$work/page")
  page_hidden_ms=$(awk '$1 == "page_hidden_update_ms" {print $2}' "$work/page")
  echo
  printf 'page update through the bridge %.1f ms, the tool %.1f ms: page/tool = %s (goal at most 1.10); the page on its own simulated adapter %.1f ms\n' \
    "$page_ms" "$page_cli_ms" "$(ratio "$page_ms" "$page_cli_ms" 3)" "$page_sim_ms"
  printf 'page update in a tab behind another (no timer-throttling switches) %.1f ms: page/tool = %s (goal at most 1.10)\n' \
    "$page_hidden_ms" "$(ratio "$page_hidden_ms" "$page_cli_ms" 3)"
else
  echo
  echo "page update: not measured (needs /usr/bin/chromium, npm and emscripten: scripts/install-deps web)"
fi

if [ "$rates" = 1 ]; then
  echo
  echo "update success within 20 attempts under byte errors (virtual time, seeds 1-20):"
  "$build/bench/update_success_rates" 20
fi
echo "update real/virtual = $(ratio "$r_update" "$v_update")"
