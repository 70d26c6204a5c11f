#!/usr/bin/env bash
# Builds the programs and the sample board generator, writes the sample board
# into a scratch directory and runs the programs on it, showing what they
# wrote.
#   tools/run_sample.sh [board directory]
# Without a directory it uses build/sample-board.  The directory is deleted
# and written anew only when it is a sample board this script made (it holds
# the marker file below); a new or empty directory is used as it is; anything
# else is refused and left alone.
set -euo pipefail
caller=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)

marker=.vlm-sample-board
marker_text="Sample board of tools/run_sample.sh: deleted and written anew by its next run."
board=${1:-$root/build/sample-board}
case $board in
  /*) ;;
  *) board=$caller/$board ;;
esac
# Refuses, with status 1, a directory that this script may not replace.
check_board() {
  if [ -L "$board" ] || { [ -e "$board" ] && [ ! -d "$board" ]; }; then
    echo "$board is not a directory that run_sample.sh made: it is left as it is." >&2
    exit 1
  fi
  if [ -d "$board" ] && [ -n "$(ls -A "$board")" ] &&
     ! { [ -f "$board/$marker" ] && [ "$(head -n 1 "$board/$marker")" = "$marker_text" ]; }; then
    echo "$board holds files but no $marker: it is not a sample board that" >&2
    echo "run_sample.sh made, so it is left as it is.  Name a new or empty directory." >&2
    exit 1
  fi
}
# Before the build, so that a wrong directory is refused at once.
check_board

if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v make >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake g++ make >/dev/null
  else
    echo "Needs cmake, g++ and make (apt-get install cmake g++ make)" >&2
    exit 1
  fi
fi
# The programs and the generator only: no test, no benchmark, no GoogleTest.
build=$root/build/sample
echo "##### building the programs and the sample board generator in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVLM_TESTS=OFF -DVLM_BENCH=OFF >/dev/null
. "$build/shipped.sh"
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target $VLM_SHIPPED_PROGRAMS make_sample_board

check_board
if [ -f "$board/$marker" ]; then rm -rf "$board"; fi
mkdir -p "$board"
echo "$marker_text" >"$board/$marker"
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

check() {  # vlmcheck with the given switches, and its status when not 0
  "$build/vlmcheck/vlmcheck" "$@" || echo "(vlmcheck ended with status $?: problems found)"
}

echo
echo "##### tether: link the reply chains of the areas marked in MSGREPLY.BBS"
echo "----- vlmcheck -DUMP1: the headers of area 1 before linking"
check -DUMP1
"$build/tether/tether"
echo "##### after linking"
for area in 1 2 7; do
  echo "----- vlmcheck -DUMP$area"
  check -DUMP$area
done
show LOGS/LNK1.LOG

echo
echo "##### sorrel: pack and renumber every area, link marked ones, fast mail for known users, remove old boards"
echo "----- before: vlmcheck, what a pack would remove and what is wrong"
check
echo "----- vlmcheck -DUMP9: an area over its count limit"
check -DUMP9
echo "  attach directory: $(cd ATTACH && find . -mindepth 1 | sort | tr '\n' ' ')"
"$build/sorrel/sorrel" -LINK -FASTMAIL -CLEANUP
echo "----- after: vlmcheck"
check
echo "----- vlmcheck -DUMP9"
check -DUMP9
echo "  attach directory: $(cd ATTACH && find . -mindepth 1 | sort | tr '\n' ' ')"
show LOGS/MSG1.LOG

echo
echo "##### marten: build and sort the fast-find index of the file areas"
echo "----- file area directories"
(cd FILES && find . -mindepth 1 | sort | sed 's/^\.\//  /')
"$build/marten/marten" -BUILD
show LOGS/IDX1.LOG
echo "----- vlmcheck: the index in order, its pointer table and the total of SYSINFO.BBS"
check | sed -n '/^Fast-find index/,$p'
show LOGS/CHK1.LOG
