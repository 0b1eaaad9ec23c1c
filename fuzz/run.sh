#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzz target for SECONDS each, over its seeds (fuzz_make_seeds),
# the corpus checked in under fuzz/corpus/TARGET and whatever earlier runs
# left in BUILD_DIR/fuzz/corpus. SECONDS 0 replays those inputs once each and
# fuzzes nothing; after such a replay, SECONDS count from where the replay
# ended. New finds go to BUILD_DIR/fuzz/corpus, never to the checked-in
# corpus (fuzz/long.sh merges them there). Fails on the first finding; the
# input that triggered it is left in BUILD_DIR/fuzz/findings.
#   bash fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# As many targets run at once as there are processors (FUZZ_JOBS to change).
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
jobs=${FUZZ_JOBS:-$(nproc)}

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets <"$build/fuzz/targets.txt"
fi
for target in "${targets[@]}"; do
  [ -x "$build/fuzz/$target" ] || { echo "$0: $build/fuzz/$target is not built" >&2; exit 1; }
done

seeds="$build/fuzz/seeds"
corpus_root="$build/fuzz/corpus"
findings="$build/fuzz/findings"
logs="$build/fuzz/logs"
mkdir -p "$corpus_root" "$findings" "$logs"
rm -rf "$seeds"
"$build/fuzz/fuzz_make_seeds" "$seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-/usr/lib/llvm-14/bin/llvm-symbolizer}

# One target; its log in $logs/TARGET.log. A replay notes how long the target
# took over its inputs: libFuzzer counts that time against -max_total_time,
# and SECONDS are for new inputs.
fuzz_one() {
  local target=$1 out extra=() limit=() started=$SECONDS replayed=0
  if [ "$seconds" = 0 ]; then
    # libFuzzer writes what it keeps into its first directory: a scratch one.
    out=$(mktemp -d "$build/fuzz/replay.XXXXXX")
    limit=(-runs=0)
  else
    out="$corpus_root/$target"
    [ -f "$logs/$target.replay-seconds" ] && replayed=$(<"$logs/$target.replay-seconds")
    limit=(-max_total_time=$((seconds + replayed)))
  fi
  mkdir -p "$out" "$here/corpus/$target"
  [ -f "$here/$target.dict" ] && extra+=("-dict=$here/$target.dict")
  local status=0
  "$build/fuzz/$target" "$out" "$seeds/$target" "$here/corpus/$target" "${limit[@]}" \
    -timeout=20 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "${extra[@]}" >"$logs/$target.log" 2>&1 || status=$?
  if [ "$seconds" = 0 ]; then
    rm -rf "$out"
    echo $((SECONDS - started + 1)) >"$logs/$target.replay-seconds"
  fi
  return "$status"
}

# At most $jobs at once; the first failure stops the rest.
declare -A running=()
failed=
finish_one() {
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  if [ "$status" -ne 0 ] && [ -z "$failed" ]; then failed=${running[$pid]}; fi
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  [ -z "$failed" ] || break
  while [ "${#running[@]}" -ge "$jobs" ]; do finish_one; done
  fuzz_one "$target" &
  running[$!]=$target
done
while [ "${#running[@]}" -gt 0 ]; do finish_one; done

if [ -n "$failed" ]; then
  echo "$failed: FAILED (see $logs/$failed.log)" >&2
  tail -n 40 "$logs/$failed.log" >&2
  exit 1
fi

printf '%-18s %8s %10s %8s %8s %8s\n' target inputs execs exec/s cov ft
for target in "${targets[@]}"; do
  log="$logs/$target.log"
  inputs=$(sed -n 's/^INFO: seed corpus: files: \([0-9]*\).*/\1/p' "$log" | head -n 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-18s %8s %10s %8s %8s %8s\n' "$target" "${inputs:-?}" "$execs" "$rate" "${cov:-?}" "${ft:-?}"
done
