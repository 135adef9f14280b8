#!/usr/bin/env bash
# The test kit's runner never reports a pass it did not see, under the i386 route's Wine: a file
# that is not a program, a program whose output file cannot be made, a program that hangs with a
# child (in the runner's job, and where the job is refused), and a folder it cannot write.
#   tests/scripts/kit_runner_test.sh RUN-TESTS.EXE HANGS_WITH_CHILD.EXE   (inside an X display)
set -u
source "$(dirname "$0")/../../scripts/lib/route.sh"
quarvel_use_route i386
runner=$(realpath "$1") hang=$(realpath "$2") failures=0
fail() { echo "FAILED: kit runner: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for jobs in "" --jobs-refused; do
  folder="$work/kit$jobs"
  mkdir -p "$folder/output/unwritten_test.exe.txt"  # a folder where its output file would go
  cp "$runner" "$folder/run-tests.exe"
  cp "$hang" "$folder/hangs_test.exe"
  cp "$hang" "$folder/unwritten_test.exe"
  echo "not a program" >"$folder/broken_test.exe"
  status=0
  (cd "$folder" && "$quarvel_wine" run-tests.exe --limit 2 $jobs) >"$folder/console" 2>&1 || status=$?
  report=$(tr -d '\r' <"$folder/report.txt" 2>/dev/null)
  ((status == 1)) || fail "${jobs:-in its job}: exit status $status, not 1"
  for line in '^result: 0 of 3 test programs passed, benchmark could not start: .*SOMETHING FAILED$' \
    '^broken_test\.exe +could not start: error [0-9]+, ' '^hangs_test\.exe +hung ' \
    '^unwritten_test\.exe +no output file: output.unwritten_test\.exe\.txt could not be made'; do
    grep -Eq "$line" <<<"$report" || fail "${jobs:-in its job}: the report lacks \"$line\""
  done
  # The hung program and its child are gone once the runner has ended (a guard of 20 s).
  for ((i = 0; i < 200; ++i)); do
    left=$(ps -eo stat=,args= | awk '$1 !~ /^Z/ && /hangs_test\.exe/')
    [[ -z $left ]] && break
    sleep 0.1
  done
  [[ -z $left ]] || fail "${jobs:-in its job}: runs on after the runner: $left"
  ((failures == 0)) || { cat "$folder/console"; echo "$report"; }
done

# A folder it cannot write: one line, exit status 2, nothing run. Read-only for root too: a
# read-only bind mount in a mount namespace of its own, with a wineserver of its own there (the
# server makes the files).
wineserver -k >/dev/null 2>&1
folder="$work/read-only"
mkdir -p "$folder"
cp "$runner" "$folder/run-tests.exe"
cp "$hang" "$folder/hangs_test.exe"
run_read_only() { cd "$folder" && "$quarvel_wine" run-tests.exe --limit 2; }
status=0
if (($(id -u) != 0)); then
  chmod a-w "$folder"
  console=$(run_read_only 2>&1) || status=$?
  chmod u+w "$folder"
else
  console=$(export -f run_read_only; folder=$folder quarvel_wine=$quarvel_wine unshare -m bash -c \
    'mount --bind "$folder" "$folder" && mount -o remount,ro,bind "$folder" "$folder" &&
     run_read_only; status=$?; wineserver -k; exit $status' 2>&1) || status=$?
fi
if [[ $console == *"mount"*"denied"* || $console == *"unshare"* ]]; then
  echo "kit runner: the read-only folder is LEFT OUT: root cannot make one here ($console)"
else
  ((status == 2)) || fail "read-only folder: exit status $status, not 2"
  [[ $console == "run-tests: cannot write into "*"unzip the kit into a folder you can write to"* &&
     $(wc -l <<<"$console") -eq 1 ]] || fail "read-only folder: said \"$console\""
fi

((failures == 0)) && echo "kit runner: every case passes"
exit $((failures != 0))
