# Shared by the checks that drive the real ferretta window on a virtual X server; sourced, not
# run. The sourcing script sets workDir and ferrettaPid before it can fail.
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317,SC2148,SC2154

# A sanitized build of ferretta checks for leaks at exit; the system libraries' own are not ours.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# A fresh work folder in workDir, removed with the ferretta started in it (ferrettaPid) when the
# script ends, also on a signal.
makeWorkDir() {
    workDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-$1.XXXXXX")
    ferrettaPid=""
    trap 'stopProcess "$ferrettaPid"; rm -rf "$workDir"' EXIT
    trap 'exit 1' INT TERM HUP
}

# The ferretta program of the command line ($1 of the script), or a failure.
requireFerretta() {
    ferretta=${1:-}
    if [[ -z "$ferretta" || ! -x "$ferretta" ]]; then
        echo "FAIL: no ferretta program given (usage: $0 /path/to/ferretta)" >&2
        exit 1
    fi
}

# Outside the virtual server: skips (77) when one of the tools given is missing, else runs the
# script again under xvfb-run on a fresh 1280x800 server (not the developer's desktop), which
# hands back the script's own exit code. Inside it returns at once. The script's arguments
# after the program are passed on in innerArgs; innerWrapper (a command such as
# dbus-run-session) runs the inner script when set.
runUnderXvfb() {
    [[ -z "${FERRETTA_XVFB_INNER:-}" ]] || return 0
    [[ -v innerArgs ]] || innerArgs=()
    for tool in xvfb-run Xvfb xauth xdotool "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is missing (the Debian packages are listed in tools/deps/xserver.test)" >&2
            exit 77
        fi
    done
    # shellcheck disable=SC2086  # no wrapper: nothing at all, not an empty word
    FERRETTA_XVFB_INNER=1 exec xvfb-run -a -s "-screen 0 1280x800x24" ${innerWrapper:-} \
        bash "$0" "$ferretta" "${innerArgs[@]}"
}

# Ends process $1: politely, then after 3 s (a modal box may hold it) for good.
stopProcess() {
    local pid=$1 tries=30
    [[ -n "$pid" ]] || return 0
    kill "$pid" 2>/dev/null || return 0
    while ((tries-- > 0)) && kill -0 "$pid" 2>/dev/null; do
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

fail() {
    echo "FAIL: $*" >&2
    if [[ -s "$workDir/ferretta.log" ]]; then
        echo "--- ferretta's output:" >&2
        tail -n 20 "$workDir/ferretta.log" >&2
    fi
    if [[ -n "${ferrettaPid:-}" ]] && ! kill -0 "$ferrettaPid" 2>/dev/null; then
        echo "(ferretta is no longer running)" >&2
    fi
    exit 1
}

# Runs the command given until it succeeds, for at most $1 seconds (every 0.1 s).
waitFor() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
