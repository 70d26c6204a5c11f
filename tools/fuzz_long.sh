#!/usr/bin/env bash
# Runs the fuzz targets at length, one after the other at the lowest
# priority, and reports the executions of each.  Each target stops after
# VLM_FUZZ_RUNS executions (default 1,000,000) or VLM_FUZZ_TIME seconds
# (default 1800), whichever comes first.  The corpora grow in
# build/fuzz/corpus/<target>; findings are kept in build/fuzz/findings.
#
#   tools/fuzz_long.sh [target ...]     (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/fuzz
runs=${VLM_FUZZ_RUNS:-1000000}
seconds=${VLM_FUZZ_TIME:-1800}

tools/fuzz.sh build
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(switches dates startup questionnaire users fileindex msgreply pack journal)

base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/vlm-fuzz-long.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export VLM_FUZZ_SCRATCH=$scratch/boards
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
mkdir -p "$build/findings"

report=()
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  log=$build/findings/$t.log
  t0=$SECONDS
  status=ok
  nice -n 19 "$build/fuzz/fuzz_$t" -runs="$runs" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$build/findings/$t-" "$build/corpus/$t" "$build/fuzz/seeds/fuzz_$t" \
    >"$log" 2>&1 || { status=FINDING; failed=1; }
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  line=$(printf 'fuzz_%-14s %10s executions in %5d s  %s' "$t" "${execs:-?}" $((SECONDS - t0)) "$status")
  echo "$line"
  report+=("$line")
done
echo "=== executions per target"
printf '%s\n' "${report[@]}"
exit $failed
