#!/usr/bin/env bash
# The route decision of scripts/lib/route.sh for each kind of machine and each QUARVEL_ROUTE,
# plus the real probe of this machine. Prints one line per failed case; exits non-zero if any.
set -u
lib="$(cd "$(dirname "$0")/../.." && pwd)/scripts/lib/route.sh"
failures=0

# expect MACHINE QUARVEL_ROUTE STATUS ROUTES WHY-PATTERN
#   MACHINE is "yes" or "no": whether the probe found that 32-bit programs run.
expect() {
    local machine=$1 forced=$2 want_status=$3 want_routes=$4 want_why=$5 out status=0
    out=$(QUARVEL_PROBED_32BIT="$machine:probe says $machine" QUARVEL_ROUTE="$forced" bash -c '
        source "$0" && quarvel_select_routes && echo "${quarvel_routes[*]}|$quarvel_routes_why"' \
        "$lib" 2>&1) || status=$?
    if [[ $status -ne $want_status || ( $want_status -eq 0 && "$out" != "$want_routes|"* ) ||
          "$out" != *$want_why* ]]; then
        echo "FAILED: 32-bit $machine, QUARVEL_ROUTE='$forced': status $status, got '$out'"
        failures=$((failures + 1))
    fi
}

expect yes ""     0 "i386 x86-64" "this machine runs 32-bit programs (probe says yes)"
expect no  ""     0 "x86-64"      "this machine cannot run 32-bit programs (probe says no)"
expect yes i386   0 "i386"        "forced by QUARVEL_ROUTE=i386"
expect yes x86-64 0 "x86-64"      "forced by QUARVEL_ROUTE=x86-64"
expect no  x86-64 0 "x86-64"      "forced by QUARVEL_ROUTE=x86-64"
expect no  i386   1 ""            "cannot run 32-bit programs (probe says no); unset QUARVEL_ROUTE"
expect yes amd64  1 ""            "must be i386 or x86-64"

# The real probe answers yes or no with a reason, and hands its answer on to the scripts it calls.
probe=$(env -u QUARVEL_PROBED_32BIT bash -c '
    source "$0" && quarvel_probe_32bit && echo "$quarvel_runs_32bit|$quarvel_32bit_why|$QUARVEL_PROBED_32BIT"' "$lib")
case "$probe" in
    "yes|an i386 test program ran here|yes:an i386 test program ran here") ;;
    "no|an i386 test program does not run here: "*"|no:"*) ;;
    *) echo "FAILED: probe answered '$probe'"; failures=$((failures + 1)) ;;
esac
IFS='|' read -r answer why _ <<<"$probe"
echo "probe on this machine: $answer ($why)"

# A route sets up its own prefix and Wine.
env_of() {
    bash -c 'source "$0" && quarvel_use_route "$1" && echo "$quarvel_preset $WINEARCH ${WINEPREFIX##*/} ${WINELOADER:-none}"' "$lib" "$1"
}
[[ $(env_of i386) == "win32 win32 wine none" ]] || { echo "FAILED: i386 route sets $(env_of i386)"; failures=$((failures + 1)); }
[[ $(env_of x86-64) == "win64 win64 wine64 /usr/lib/wine/wine64" ]] || { echo "FAILED: x86-64 route sets $(env_of x86-64)"; failures=$((failures + 1)); }

((failures == 0)) && echo "route decisions: all cases pass"
exit $((failures != 0))
