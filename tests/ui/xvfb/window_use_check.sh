#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow; the
# conditions handed to waitFor are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016,SC2034,SC2154
# A person's use of the real ferretta window, start to end, on one virtual X server with one
# window manager and its panel (openbox with tint2, or xfwm4 with xfce4-panel), every key typed
# with xdotool. The steps, each with a ferretta of its own in a folder of its own (README.md
# says what each checks): session, word_box, window_size, save_name, editor_column,
# hidden_files, stop_reading, cache_options, outlook, hot_key, window_safety, office_reuse,
# preview.
# Screenshots are left in a temporary folder.
#
# Usage: window_use_check.sh /path/to/ferretta openbox|xfwm4 [STEP...]
# Exit 0 when every step passed, 1 with a message naming the step on the first failure, 77
# (skipped) when a tool is missing. A step whose own tool is missing (soffice) is left out and
# says so.
set -u

here=$(dirname "$0")
# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$here/xvfb_common.sh"
for steps in "$here"/*_steps.sh; do
    # shellcheck source=/dev/null
    source "$steps"
done
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
windowManager=${2:-openbox}
innerArgs=("${@:2}")
case "$windowManager" in
    openbox) desktopTools=(openbox tint2) ;;
    xfwm4)
        desktopTools=(xfwm4 xfce4-panel dbus-run-session dbus-update-activation-environment)
        innerWrapper=dbus-run-session
        ;;
    *)
        echo "FAIL: unknown window manager $windowManager (openbox or xfwm4)" >&2
        exit 1
        ;;
esac
runUnderXvfb xwininfo xprop xclip inotifywait iconv python3 xmessage "${desktopTools[@]}"

steps=("${@:3}")
((${#steps[@]} > 0)) || steps=(session word_box window_size save_name editor_column hidden_files
    stop_reading cache_options outlook hot_key window_safety office_reuse preview)
scenarioDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-use.XXXXXX")
shotDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-shots-$windowManager.XXXXXX")
# The document cache of every step stays in the scenario's folder.
export XDG_CACHE_HOME=$scenarioDir/cache
ferrettaPid="" wmPid="" panelPid="" currentStep=""
cleanup() {
    stopProcess "$ferrettaPid"
    stepCleanup
    stopProcess "$panelPid"
    stopProcess "$wmPid"
    rm -rf "$scenarioDir"
}
# What a step started beside ferretta (a watcher, another program) and must end with it.
stepCleanup() { :; }
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

startDesktop "$windowManager" "$scenarioDir"
echo "$windowManager: work area ${areaWidth}x${areaHeight} at ${areaX},${areaY}"
for step in "${steps[@]}"; do
    declare -F "${step}Step" >/dev/null || fail "no step named $step"
    beginStep "$step"
    "${step}Step"
    endStep
    stepCleanup
    stepCleanup() { :; }
done
echo "screenshots in $shotDir"
echo "PASS ($windowManager): ${steps[*]}"
exit 0
