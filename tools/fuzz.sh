#!/usr/bin/env bash
# Builds the fuzz targets with clang (build/fuzz, -DVLM_FUZZ=ON) and runs the
# short fuzzing step of the test run: every regression input kept beside a
# target, then each target a fixed number of executions from a fixed seed,
# starting from its seed corpus.  Any finding fails the step.
#
#   tools/fuzz.sh          build and run the short step
#   tools/fuzz.sh build    build only (tools/fuzz_long.sh uses this)
#
# Installs clang and its fuzzer runtime with apt-get on Debian when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/fuzz
jobs=$(nproc 2>/dev/null || echo 2)

# Executions per target: together about two minutes on a 2-core machine.
declare -A runs=(
  [switches]=40000 [dates]=100000 [startup]=20000 [questionnaire]=20000 [users]=10000
  [fileindex]=8000 [msgreply]=5000 [pack]=1500 [journal]=1200
)
targets=(switches dates startup questionnaire users fileindex msgreply pack journal)

runtime_present() {
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1
}
if ! command -v clang++ >/dev/null || ! runtime_present; then
  if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq clang libclang-rt-dev >/dev/null || apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
  else
    echo "Missing packages: clang and its fuzzer runtime (libclang-rt-dev); install them with apt-get" >&2
    exit 1
  fi
fi

echo "=== fuzz build"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DVLM_FUZZ=ON -DVLM_TESTS=OFF -DVLM_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
[ "${1:-}" = build ] && exit 0

# Boards live in memory where the host has /dev/shm: the targets write files
# on every execution.
base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/vlm-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export VLM_FUZZ_SCRATCH=$scratch/boards
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

echo "=== fuzz targets"
start=$SECONDS
failed=0
for t in "${targets[@]}"; do
  exe=$build/fuzz/fuzz_$t
  log=$scratch/$t.log
  regressions=()
  if [ -d "$root/fuzz/regressions/$t" ]; then
    mapfile -t regressions < <(find "$root/fuzz/regressions/$t" -type f | sort)
  fi
  if [ ${#regressions[@]} -gt 0 ] && ! "$exe" "${regressions[@]}" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$t: a regression input fails"
    failed=1
    continue
  fi
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  mkdir -p "$scratch/corpus/$t"
  t0=$SECONDS
  if ! "$exe" -seed=1 -runs="${runs[$t]}" -timeout=30 "${dict[@]}" -artifact_prefix="$scratch/$t-" \
      "$scratch/corpus/$t" "$build/fuzz/seeds/fuzz_$t" >"$log" 2>&1; then
    tail -n 40 "$log"
    mkdir -p "$build/findings"
    cp "$scratch/$t-"* "$build/findings/" 2>/dev/null || true
    echo "fuzz_$t: finding (input kept in $build/findings)"
    failed=1
    continue
  fi
  printf 'fuzz_%-14s %7d runs, %3d regression inputs, %3d s\n' "$t" "${runs[$t]}" ${#regressions[@]} $((SECONDS - t0))
done
echo "=== fuzzing took $((SECONDS - start)) s"
exit $failed
