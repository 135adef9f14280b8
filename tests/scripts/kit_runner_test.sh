#!/usr/bin/env bash
# The test kit's runner never reports a pass it did not see, under the Wine of a route (i386 by
# default): a file that is not a program, a program whose output file cannot be made, a program
# that hangs with a child, one of the kit's programs missing, one that ran no test, programs
# that GTEST_FILTER would filter away and that leave children behind (in the runner's job, and
# with the job refused), and a folder it cannot write.
#   tests/scripts/kit_runner_test.sh RUN-TESTS.EXE KIT_STAND_IN.EXE [ROUTE]   (inside an X display)
set -u
source "$(dirname "$0")/../../scripts/lib/route.sh"
quarvel_use_route "${3:-i386}"
runner=$(realpath "$1") stand_in=$(realpath "$2") failures=0 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: kit runner: $*"; failures=$((failures + 1)); }
kit() { mkdir -p "$1" && cp "$runner" "$1/run-tests.exe" && cp "$stand_in" "$1/hangs_test.exe"; }

for jobs in "" --jobs-refused; do
  folder="$work/kit$jobs" case=${jobs:-in its job} status=0
  kit "$folder"
  # The kit's programs but its first, each passing one test and leaving a child behind.
  for program in "${quarvel_kit_tests[@]:1}" latency_bench empty_test unwritten_test; do
    cp "$stand_in" "$folder/$program.exe"
  done
  mkdir -p "$folder/output/unwritten_test.exe.txt"  # a folder where its output file goes
  echo "not a program" >"$folder/broken_test.exe"
  (cd "$folder" && GTEST_FILTER=-* GTEST_TOTAL_SHARDS=2 "$quarvel_wine" run-tests.exe --limit 2 \
    $jobs) >"$folder/console" 2>&1 || status=$?
  report=$(tr -d '\r' <"$folder/report.txt" 2>/dev/null)
  ((status == 1)) || fail "$case: exit status $status, not 1"
  for line in '^result: 7 of 12 test programs passed \(1 missing\), benchmark passed: SOMETHING FAILED$' \
    "^${quarvel_kit_tests[0]}\.exe +missing\$" "^${quarvel_kit_tests[1]}\.exe +passed .*, 1 test\)\$" \
    '^empty_test\.exe +failed .*, 0 tests\)$' '^broken_test\.exe +could not start: error [0-9]+, ' \
    '^hangs_test\.exe +hung ' \
    '^unwritten_test\.exe +no output file: output.unwritten_test\.exe\.txt could not be made'; do
    grep -Eq "$line" <<<"$report" || fail "$case: the report lacks \"$line\""
  done
  # No program of the kit, nor a child of one, runs once the runner has ended (a guard of 20 s).
  for ((i = 0; i < 200; ++i)); do
    left=$(ps -eo stat=,args= | awk -v w="${work##*/}" '$1 !~ /^Z/ && index($0, w) && /(_[t]est|latency_[b]ench)\.exe/')
    [[ -z $left ]] && break || sleep 0.1
  done
  [[ -z $left ]] || fail "$case: runs on after the runner: $left"
  ((failures == 0)) || { cat "$folder/console"; echo "$report"; }
done

# A folder it cannot write: one line, exit status 2, nothing run. For root, a read-only bind
# mount in a mount namespace of its own, with a wineserver of its own there (it makes the files).
folder="$work/read-only" status=0
kit "$folder"
wineserver -k >/dev/null 2>&1
# Its words go to a file: Wine's services, started meanwhile, would hold a pipe open.
if (($(id -u) != 0)); then
  chmod a-w "$folder"
  (cd "$folder" && "$quarvel_wine" run-tests.exe --limit 2) >"$work/said" 2>&1 || status=$?
  chmod u+w "$folder"
else
  (cd "$folder" && unshare -m bash -c 'mount --bind . . && mount -o remount,ro,bind . . &&
    cd "$PWD" && { "$0" run-tests.exe --limit 2; s=$?; wineserver -k; exit $s; }' "$quarvel_wine") \
    >"$work/said" 2>&1 || status=$?
fi
console=$(<"$work/said")
if [[ $console == *"mount"*"denied"* || $console == unshare:* ]]; then
  echo "kit runner: the read-only folder is LEFT OUT: root cannot make one here ($console)"
elif ((status != 2)) || [[ $console != "run-tests: cannot write into "*"unzip the kit into a folder you can write to"* ||
  $(wc -l <<<"$console") -ne 1 ]]; then
  fail "read-only folder: exit status $status, said \"$console\""
fi
((failures == 0)) && echo "kit runner: every case passes"
exit $((failures != 0))
