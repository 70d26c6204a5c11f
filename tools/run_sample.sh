#!/usr/bin/env bash
# Builds everything, writes the sample board into a scratch directory and
# runs the programs on it, showing what they wrote.
#   tools/run_sample.sh [board directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! [ -d /usr/include/gtest ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake g++ make libgtest-dev >/dev/null
  else
    echo "Needs cmake, g++, make and libgtest-dev (apt-get install cmake g++ make libgtest-dev)" >&2
    exit 1
  fi
fi
build=$root/build/sample
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

board=${1:-$root/build/sample-board}
rm -rf "$board"
"$build/tools/make_sample_board" "$board"

# Drive C: of the board's records is the scratch directory.
export VLM_DRIVE_C=$board VLM='C:\BBS\'
unset TASK
cd "$board/BBS"

show() {  # a text file of the board, line ends made visible
  echo "----- $1"
  sed 's/\r$/  [CR LF]/' "$1"
}

echo
echo "##### quarry2: directory list of areas 1 to 8 with security 10 to 255"
"$build/quarry2/quarry2" -LISTDIRS.TXT -FROM1 -TO8 -MINSEC10 -MAXSEC255
show DIRS.TXT

echo
echo "##### quarry2: compile the questionnaire"
"$build/quarry2/quarry2" -COMPILESURVEY.Q
show SURVEY.QAC

echo
show LOGS/UT21.LOG
