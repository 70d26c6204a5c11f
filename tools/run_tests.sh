#!/usr/bin/env bash
# Builds everything and runs every test: a plain build, a sanitizer build
# (AddressSanitizer and UndefinedBehaviorSanitizer), a short fuzzing step
# (tools/fuzz.sh) and, where the cross toolchain is available or can be
# installed, the Windows build under Wine.  After the native and the Windows
# build it makes their packages and checks what they hold.  Installs what it
# needs with apt-get on Debian when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] || [ -d /usr/include/gtest ] || need+=(libgtest-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
if [ "${VLM_SKIP_FUZZ:-0}" != 1 ]; then
  command -v clang++ >/dev/null || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
fi
if [ "${VLM_SKIP_WINDOWS:-0}" != 1 ]; then
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || need+=(wine wine64)
fi
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null
  else
    echo "Missing packages: ${need[*]} (install them with apt-get)" >&2
    exit 1
  fi
fi

run_suite() {  # name, build dir, extra cmake arguments...
  local name=$1 dir=$2
  shift 2
  echo "=== $name build"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "=== $name tests"
  if ! (cd "$dir" && ctest --output-on-failure -j"$jobs"); then
    [ "$name" = windows ] || return 1
    # Under Wine a test process now and then never starts (no output at all,
    # on a loaded machine): the failed tests run once more, alone, and a test
    # that fails again fails the run.
    echo "=== $name: the failed tests once more"
    (cd "$dir" && ctest --output-on-failure --rerun-failed -j1)
  fi
}

run_suite native "$root/build/native"
echo "=== native packages"
"$root/tools/check_packages.sh" "$root/build/native"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite sanitizers "$root/build/sanitize" -DVLM_SANITIZE=ON -DVLM_BENCH=OFF

# ---- short fuzzing step: every fuzz target a fixed number of executions
# from a fixed seed (set VLM_SKIP_FUZZ=1 to leave it out)
if [ "${VLM_SKIP_FUZZ:-0}" != 1 ]; then
  tools/fuzz.sh
fi

# ---- Windows build under Wine (set VLM_SKIP_WINDOWS=1 to leave it out)
if [ "${VLM_SKIP_WINDOWS:-0}" != 1 ] && [ -f "$root/cmake/mingw-w64-x86_64.cmake" ]; then
  export WINEDEBUG=-all
  export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
  # No browser or .NET runtime in the prefix: console programs need neither,
  # and their installers would only slow down the first start.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # One prefix for the whole run, made once before the first test, and one
  # wine server kept running for every test process instead of one each.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== windows: creating the Wine prefix $WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1 || true
  fi
  wineserver -w
  wineserver -p
  # The first program of a server session starts Wine's background services,
  # which keep its output handles: started here, they hold /dev/null rather
  # than the pipe of a test, whose reader would otherwise never see its end.
  wine wineboot </dev/null >/dev/null 2>&1 || true
  # A drive of its own for the test of a board kept under a drive letter.
  mkdir -p "$root/build/windows/drive_v"
  ln -sfn "$root/build/windows/drive_v" "$WINEPREFIX/dosdevices/v:"
  export VLM_TEST_DRIVE=V:
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  windows_start=$SECONDS
  run_suite windows "$root/build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVLM_BENCH=OFF
  echo "=== windows package"
  "$root/tools/check_packages.sh" "$root/build/windows"
  echo "=== windows build and tests took $((SECONDS - windows_start)) s"
fi
# ---- end of the Windows build
echo "All test suites passed."
