#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes at length, then folds what the run found interesting into the
# checked-in corpus (fuzz/corpus/TARGET), minimised with -merge=1, so that
# every later test run replays it.
#   bash fuzz/long.sh [SECONDS [TARGET...]]       (default 600 s a target)
# Builds the clang sanitizer tree in BUILD_DIR (default build-clang) as
# scripts/test does. Commit fuzz/corpus afterwards if it grew.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-build-clang}
seconds=${1:-600}
[ $# -gt 0 ] && shift

bash scripts/install-deps
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DBRIVELTON_SANITIZE=ON -DBRIVELTON_FUZZ=ON > /dev/null
cmake --build "$build" -j "$(nproc)"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets <"$build/fuzz/targets.txt"
fi
bash fuzz/run.sh "$build" "$seconds" "${targets[@]}"

# Only inputs that reach something neither the seeds (written afresh by every
# run) nor the checked-in corpus reach.
for target in "${targets[@]}"; do
  kept=fuzz/corpus/$target
  mkdir -p "$kept"
  before=$(find "$kept" -type f | wc -l)
  merged=$(mktemp -d)
  cp -r "$build/fuzz/seeds/$target"/. "$kept"/. "$merged"/
  find "$merged" -type f -printf '%f\n' | sort >"$merged.old"
  "$build/fuzz/$target" -merge=1 "$merged" "$build/fuzz/corpus/$target" \
    >"$build/fuzz/logs/$target.merge.log" 2>&1
  find "$merged" -type f -printf '%f\n' | sort | comm -13 "$merged.old" - |
    while read -r name; do cp "$merged/$name" "$kept/"; done
  rm -rf "$merged" "$merged.old"
  after=$(find "$kept" -type f | wc -l)
  printf '%-18s %5d -> %5d inputs, %s\n' "$target" "$before" "$after" "$(du -sh "$kept" | cut -f1)"
done
