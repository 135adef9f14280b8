# Sourced by the scripts: the one place that decides which Windows route runs here.
#
# The released product is always the i386 build, build/win32/bin/xmp-quarvel.dll. The programs
# that run under Wine (the simulated player, the Wine tests, the latency benchmark) come in two
# routes, built from the same sources:
#   i386    preset win32, build/win32, 32-bit Wine (wine),                 prefix build/wine
#   x86-64  preset win64, build/win64, 64-bit Wine (/usr/lib/wine/wine64), prefix build/wine64
# The i386 route needs a kernel that runs 32-bit programs. Whether this one does is found out
# by running a tiny i386 program, once per command (the answer is handed on to the scripts it
# calls). QUARVEL_ROUTE=i386 or QUARVEL_ROUTE=x86-64 forces one route; otherwise every route
# this machine can run is used, and where one is enough, the first of them.

quarvel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
quarvel_wine64=/usr/lib/wine/wine64

# Sets quarvel_runs_32bit (yes or no) and quarvel_32bit_why.
quarvel_probe_32bit() {
    if [[ -n "${QUARVEL_PROBED_32BIT:-}" ]]; then
        quarvel_runs_32bit=${QUARVEL_PROBED_32BIT%%:*}
        quarvel_32bit_why=${QUARVEL_PROBED_32BIT#*:}
        return 0
    fi
    local probe="$quarvel_root/build/probe/i386-exit7" output status=0
    mkdir -p "${probe%/*}"
    # A whole i386 Linux program, 93 bytes: ELF header, one program header, then
    # xor ebx,ebx; mov bl,7; xor eax,eax; inc eax; int 0x80 (exit with status 7).
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb3\x07\x31\xc0\x40\xcd\x80' >"$probe"
    chmod +x "$probe"
    output=$(cd "${probe%/*}" && ./"${probe##*/}" 2>&1) || status=$?
    if ((status == 7)); then
        quarvel_runs_32bit=yes
        quarvel_32bit_why="an i386 test program ran here"
    else
        output=${output##*: }  # the reason, without the shell's file name in front
        if [[ -z $output ]] && ((status > 128)); then
            output="killed by signal $((status - 128))"
        fi
        quarvel_runs_32bit=no
        quarvel_32bit_why="an i386 test program does not run here: ${output:-exit status $status}"
    fi
    export QUARVEL_PROBED_32BIT="$quarvel_runs_32bit:$quarvel_32bit_why"
}

# Sets quarvel_routes (an array) and quarvel_routes_why; fails with a one-line message for a
# route that cannot run here or an unknown one.
quarvel_select_routes() {
    quarvel_probe_32bit
    case "${QUARVEL_ROUTE:-}" in
        "")
            if [[ $quarvel_runs_32bit == yes ]]; then
                quarvel_routes=(i386 x86-64)
                quarvel_routes_why="this machine runs 32-bit programs ($quarvel_32bit_why)"
            else
                quarvel_routes=(x86-64)
                quarvel_routes_why="this machine cannot run 32-bit programs ($quarvel_32bit_why)"
            fi
            ;;
        i386)
            if [[ $quarvel_runs_32bit != yes ]]; then
                echo "route: QUARVEL_ROUTE=i386, but this machine cannot run 32-bit programs" \
                    "($quarvel_32bit_why); unset QUARVEL_ROUTE or set it to x86-64" >&2
                return 1
            fi
            quarvel_routes=(i386)
            quarvel_routes_why="forced by QUARVEL_ROUTE=i386"
            ;;
        x86-64)
            quarvel_routes=(x86-64)
            quarvel_routes_why="forced by QUARVEL_ROUTE=x86-64; $quarvel_32bit_why"
            ;;
        *)
            echo "route: QUARVEL_ROUTE must be i386 or x86-64 (or unset), not \"$QUARVEL_ROUTE\"" >&2
            return 1
            ;;
    esac
}

# Where scripts/setup could not install 32-bit Wine, it remembers when, outside the work tree,
# for six hours: until then setup does not try again (scripts/setup --retry does, at once).
quarvel_i386_note="${XDG_CACHE_HOME:-$HOME/.cache}/xmp-quarvel/i386-wine-failed"
quarvel_i386_remembered_s=$((6 * 3600))

# Prints when installing 32-bit Wine last failed (seconds since 1970), if that is remembered
# and less than six hours ago; fails otherwise.
quarvel_i386_failed_at() {
    local at
    at=$(cat "$quarvel_i386_note" 2>/dev/null) && [[ $at =~ ^[0-9]+$ ]] &&
        (($(date +%s) - at < quarvel_i386_remembered_s)) && echo "$at"
}

# Whether Debian package $1 is installed.
quarvel_installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == "install ok installed" ]]; }

# After scripts/setup: leaves out the i386 route, saying so, where 32-bit Wine is not installed
# because scripts/setup could not install it (it showed why). A forced route is kept as it is.
quarvel_installed_routes() {
    [[ -z ${QUARVEL_ROUTE:-} && ${quarvel_routes[0]} == i386 ]] || return 0
    quarvel_installed wine32:i386 && return 0
    local at
    quarvel_routes=(x86-64)
    if at=$(quarvel_i386_failed_at); then
        quarvel_routes_why="32-bit Wine (wine32:i386) could not be installed at $(TZ=UTC date -d "@$at" '+%Y-%m-%d %H:%M UTC'): the i386 route is LEFT OUT until $(TZ=UTC date -d "@$((at + quarvel_i386_remembered_s))" '+%H:%M UTC') (scripts/setup --retry tries again now)"
    else
        quarvel_routes_why="32-bit Wine (wine32:i386) is not installed: the i386 route is LEFT OUT (scripts/setup, as root, installs it)"
    fi
    echo "route: $quarvel_routes_why" >&2
}

# Builds the released DLL, build/win32/bin/xmp-quarvel.dll, at one moment, fixed here for the
# whole command: SOURCE_DATE_EPOCH as given, else now. It is the About text's build date and
# time (the compiler gives them in UTC for it) and the PE time stamps (the linker takes it too);
# scripts/package reads it back from the About text for the zip's entries. So the same commit
# and moment give the same bytes, wherever and whenever they are built.
quarvel_build_release() {
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(date +%s)}
    quarvel_configure win32
    # The moment is a dependency of the About text and of the link (cmake/windows.cmake),
    # written at every release build: so it links at its own moment, whatever an ordinary
    # build (at another moment) left in the tree before it.
    echo "$SOURCE_DATE_EPOCH" >"$quarvel_root/build/win32/source-date-epoch"
    cmake --build --preset win32 --target xmp-quarvel
}

# Prints the build moment (seconds since 1970) that a built DLL's About text shows, in UTC; fails
# with a one-line message where it shows none.
quarvel_dll_moment() {
    local built
    built=$(strings -e l "$1" | sed -n 's/^XMPlay Quarvel plugin 1\.4 (built \(.*\))$/\1/p')
    TZ=UTC date -d "$built" +%s 2>/dev/null ||
        { echo "${0##*/}: no build date and time in the About text of $1" >&2; return 2; }
}

# The Windows test kit's test programs (its runner is built knowing them, and runs them and any
# other *_test.exe beside it); besides them the kit holds run-tests.exe, caption_window.exe,
# simplayer.exe and latency_bench.exe.
quarvel_kit_tests=(binding_test dialog_test dll_loader_test rest_test simplayer_cli_test
                   threads_test time_limit_play_test unload_test)

# Builds the Windows test kit's programs beside the released DLL (scripts/package-kit packs
# them), at the release's moment: after quarvel_build_release.
quarvel_build_kit() {
    cmake --build --preset win32 --target run_tests "${quarvel_kit_tests[@]}" caption_window \
        simplayer_cli latency_bench
}

# The kit that the Wine tests run, built and packed (after quarvel_build_release).
quarvel_test_kit="$quarvel_root/build/win32/xmp-quarvel-1.4-windows-tests.zip"
quarvel_pack_test_kit() {
    quarvel_build_kit
    "$quarvel_root/scripts/package-kit" "$quarvel_root/build/win32/bin" "$quarvel_test_kit"
}

# Runs the Windows test kit (a zip made by scripts/package-kit) as a user on Windows would, in the
# i386 route: unzipped into a folder of its own, its runner started there (with the benchmark's
# quick mode); shows report.txt, and fails unless it names every test program as passed and holds
# the benchmark's table.
quarvel_run_kit() {
    local folder status=0 report program
    folder=$(mktemp -d)
    unzip -q "$1" -d "$folder"
    (cd "$folder" && "$quarvel_wine" run-tests.exe --quick) || status=$?
    report=$(tr -d '\r' <"$folder/report.txt" 2>/dev/null) || report=""
    echo "$report"
    rm -rf "$folder"
    for program in "${quarvel_kit_tests[@]}"; do
        grep -Eq "^$program\.exe +passed " <<<"$report" ||
            { echo "test kit: $program.exe did not pass (report above)" >&2; status=1; }
    done
    for line in "^benchmark \(latency_bench.exe.*\): passed" "host message round trip +p50" \
        "time limit reaction .* p99" "loop jump reaction .* p99" "plug-in rested on"; do
        grep -Eq "$line" <<<"$report" ||
            { echo "test kit: the report lacks the benchmark's \"$line\"" >&2; status=1; }
    done
    return "$status"
}

# Builds the Windows programs of every route in quarvel_routes and makes each route's prefix.
quarvel_build_wine_routes() {
    local route
    for route in "${quarvel_routes[@]}"; do
        echo "== Windows programs, $route route: build and Wine prefix"
        quarvel_use_route "$route"
        quarvel_configure "$quarvel_preset"
        cmake --build --preset "$quarvel_preset"
        "$quarvel_root/scripts/wine-prefix" "$route"
    done
}

# The Wine tests of the routes given, inside an X display (xvfb-run): in the i386 route the test
# kit KIT unzipped and run by its runner, as on Windows; in the x86-64 route the same programs
# through CTest; in each, then, the runner's own cases, with that route's runner. Each route's Wine is ended after it; fails at the first route that fails.
#   quarvel_wine_tests KIT ROUTE...
quarvel_wine_tests() {
    local kit=$1 route status
    shift
    for route in "$@"; do
        echo "== Wine tests, $route route"
        quarvel_use_route "$route"
        status=0
        if [[ $route == i386 ]]; then
            quarvel_run_kit "$kit" || status=$?
        else
            (cd "$quarvel_root" && ctest --preset "$quarvel_preset") || status=$?
        fi
        "$quarvel_root/tests/scripts/kit_runner_test.sh" "$quarvel_bin/run-tests.exe" \
            "$quarvel_bin/kit_stand_in.exe" "$route" || status=$?
        wineserver -k >/dev/null 2>&1 || true
        if ((status != 0)); then
            echo "test: the Wine tests of the $route route failed (see above)" >&2
            return "$status"
        fi
    done
}

# Selects a route for what follows: sets quarvel_preset, quarvel_bin and quarvel_wine, and
# exports the Wine environment of its prefix.
quarvel_use_route() {
    case "$1" in
        i386)
            quarvel_preset=win32
            quarvel_wine=wine
            export WINEARCH=win32 WINEPREFIX="$quarvel_root/build/wine"
            unset WINELOADER
            ;;
        x86-64)
            quarvel_preset=win64
            quarvel_wine=$quarvel_wine64
            export WINEARCH=win64 WINEPREFIX="$quarvel_root/build/wine64" WINELOADER=$quarvel_wine64
            ;;
        *)
            echo "route: unknown route \"$1\"" >&2
            return 1
            ;;
    esac
    quarvel_bin="$quarvel_root/build/$quarvel_preset/bin"
    export WINEDEBUG=-all
}

# Runs a set-up step with its output held back. On failure shows that output, then one line
# naming the step and what to do, and ends the script with the step's status.
#   quarvel_step "what" "what to do" command...
quarvel_step() {
    local what=$1 hint=$2 log status=0
    shift 2
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    if ((status != 0)); then
        cat "$log" >&2
        rm -f "$log"
        echo "${0##*/}: $what failed (exit status $status): $hint" >&2
        exit "$status"
    fi
    rm -f "$log"
}

# Configures a CMake preset once per command, showing CMake's output only when it fails.
quarvel_configured=" "
quarvel_configure() {
    [[ $quarvel_configured == *" $1 "* ]] && return 0
    quarvel_step "configuring the CMake preset $1" \
        "read CMake's message above; scripts/setup installs the compilers it needs" \
        cmake --preset "$1"
    quarvel_configured+="$1 "
}
