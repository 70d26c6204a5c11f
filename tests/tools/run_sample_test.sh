#!/bin/sh
# tools/run_sample.sh must refuse a directory that holds files but not its
# marker, at once and before it builds anything, with status 1, and leave
# the directory as it was.
#   run_sample_test.sh <path of run_sample.sh>
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/BBS"
echo "a board's own file" >"$dir/BBS/MESSAGES.VLM"

status=0
said=$("$1" "$dir" 2>&1) || status=$?
if [ "$status" != 1 ]; then
  echo "run_sample.sh ended with status $status, not 1:"
  echo "$said"
  exit 1
fi
case $said in
  *"left as it is"*) ;;
  *) echo "run_sample.sh did not say why it refused: $said"; exit 1 ;;
esac
case $said in
  *"#####"*) echo "run_sample.sh went on after refusing: $said"; exit 1 ;;
esac
[ "$(ls -A "$dir")" = BBS ] && [ "$(ls -A "$dir/BBS")" = MESSAGES.VLM ] &&
  [ "$(cat "$dir/BBS/MESSAGES.VLM")" = "a board's own file" ] || {
  echo "run_sample.sh changed the directory it refused"
  exit 1
}
