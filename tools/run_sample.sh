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

links() {  # the reply links and subjects of an area's header file
  local f=$1 n i reply next len mark
  n=$(( $(stat -c %s "$f") / 186 ))
  echo "----- $f"
  for ((i = 0; i < n; i++)); do
    read -r reply next < <(od -An -t u2 -j $((i * 186)) -N 4 "$f")
    len=$(od -An -t u1 -j $((i * 186 + 113)) -N 1 "$f" | tr -d ' ')
    mark=$(( $(od -An -t u1 -j $((i * 186 + 30)) -N 1 "$f") & 1 ))
    printf '  %3d  ReplyTo %3d  NextReply %3d  %s%s\n' $((i + 1)) "$reply" "$next" \
      "$(dd if="$f" bs=1 skip=$((i * 186 + 114)) count="$len" 2>/dev/null)" "$([ "$mark" = 1 ] && echo "  (deleted)")"
  done
}

echo
echo "##### tether: link the reply chains of the areas marked in MSGREPLY.BBS"
for area in 1 2 7; do links "MSG/AREA1/MH0000$area.BBS"; done
"$build/tether/tether"
echo "##### after linking"
for area in 1 2 7; do links "MSG/AREA1/MH0000$area.BBS"; done
show LOGS/LNK1.LOG

areas() {  # one line per area file: messages, those marked deleted, text bytes
  local f n i del
  for f in MSG/AREA1/MH*.BBS; do
    n=$(( $(stat -c %s "$f") / 186 ))
    del=0
    for ((i = 0; i < n; i++)); do
      del=$(( del + ($(od -An -t u1 -j $((i * 186 + 30)) -N 1 "$f") & 1) ))
    done
    printf '  %s  %3d messages, %3d marked deleted, %6d bytes of text\n' "$f" "$n" "$del" \
      "$(stat -c %s "${f/MH/MT}" 2>/dev/null || echo 0)"
  done
  echo "  attach directory: $(cd ATTACH && find . -mindepth 1 | sort | tr '\n' ' ')"
}

echo
echo "##### sorrel: pack and renumber every area, link marked ones, fast mail for known users, remove old boards"
echo "----- before"
areas
"$build/sorrel/sorrel" -LINK -FASTMAIL -CLEANUP
echo "----- after"
areas
echo "----- MSGCOUNT.BBS (messages per area 1 to 16)"
od -An -t u2 -N 32 MSG/MSGCOUNT.BBS
echo "----- MSGFAST.BBS (name key, area, message)"
od -An -v -t x4 -t u2 -w8 MSG/MSGFAST.BBS | paste - - | awk '{printf "  %s  area %s  message %s\n", $1, $5, $6}'
show LOGS/MSG1.LOG

index_summary() {  # FFIDX.BBS, FFPTR.BBS and the system information, readable
  echo "----- FFIND/FFIDX.BBS (sorted: name, area, size)"
  perl -e 'open F, "<:raw", $ARGV[0] or die; while (read(F, $r, 20) == 20) {
             ($len, $name, $area, $res, $size) = unpack "C a12 v C l<", $r;
             printf "  %4d  %s  area %2d  %7d bytes\n", $n++, $name, $area, $size } ' FFIND/FFIDX.BBS
  echo "----- FFIND/FFPTR.BBS (first record of each letter pair in use)"
  perl -e 'open F, "<:raw", $ARGV[0] or die; read(F, $t, 2920) == 2920 or die "short table\n";
           @e = unpack "l<730", $t;
           for $i (0 .. 727) { next if $e[$i] < 0; $l = chr(65 + int($i / 28)); $s = $i % 28;
             $p = $s == 0 ? "$l + below A" : $s == 27 ? "$l + above Z" : $l . chr(64 + $s);
             printf "  %-13s record %d\n", $p, $e[$i] }
           printf "  %-13s record %d\n", "above Z", $e[728] if $e[728] >= 0;
           printf "  %d records in the index\n", $e[729]' FFIND/FFPTR.BBS
  echo "----- SYSINFO.BBS"
  perl -e 'open F, "<:raw", $ARGV[0] or die; read(F, $r, 168);
           ($kb, @c) = unpack "x40 l< v3", $r;
           printf "  files in the file areas: %d KB; daily counters %d %d %d\n", $kb, @c' SYSINFO.BBS
}

echo
echo "##### marten: build and sort the fast-find index of the file areas"
echo "----- file area directories"
(cd FILES && find . -mindepth 1 | sort | sed 's/^\.\//  /')
"$build/marten/marten" -BUILD
index_summary
show LOGS/IDX1.LOG
