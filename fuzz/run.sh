#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, from its seeds and whatever corpus
# earlier runs left in BUILD_DIR/fuzz/corpus. Fails on the first finding; the
# input that triggered it is left in BUILD_DIR/fuzz/findings.
#   bash fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets <"$build/fuzz/targets.txt"
fi

seeds="$build/fuzz/seeds"
corpus_root="$build/fuzz/corpus"
findings="$build/fuzz/findings"
mkdir -p "$corpus_root" "$findings"
rm -rf "$seeds"
"$build/fuzz/fuzz_make_seeds" "$seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

printf '%-18s %10s %8s %8s %8s\n' target execs exec/s cov ft
for target in "${targets[@]}"; do
  corpus="$corpus_root/$target"
  mkdir -p "$corpus"
  log="$build/fuzz/$target.log"
  extra=()
  [ -f "$here/$target.dict" ] && extra+=("-dict=$here/$target.dict")
  if ! "$build/fuzz/$target" "$corpus" "$seeds/$target" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$findings/$target-" "${extra[@]}" \
      >"$log" 2>&1; then
    echo "$target: FAILED (see $log)" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-18s %10s %8s %8s %8s\n' "$target" "$execs" "$rate" "${cov:-?}" "${ft:-?}"
done
