#!/usr/bin/env bash
# Functions run through waitFor, which shellcheck cannot follow; the conditions handed to it
# are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016
# The normal window opens wide (most of the screen: the summary and the four columns in view),
# inside the work area, through Ctrl+K and a search; a size the user gives it stays through F9, Ctrl+K and a new start.
# openbox with tint2, every key typed with xdotool.
#
# Usage: window_size_check.sh /path/to/ferretta
# Exit 0 when it passed, 1 with a message, 77 (skipped) when a tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xwininfo xprop xclip openbox tint2
makeDesktopWorkDir window-size
startOpenboxDesktop

mkdir -p "$workDir/folder" "$workDir/home"
echo ferretta >"$workDir/folder/a.txt"
printf '%s\r\n' '[Search]' "Dir0=$workDir/folder" 'targetFileType1=True' 'textTags=TXT' \
    >"$workDir/home/frtta.ini"
search() {
    waitFor 10 isCompact || fail "ferretta is not in its compact form"
    focusMain
    typeWords ferretta
    xdotool key Return
    waitFor 15 isNormal || fail "the search did not end in the normal form"
}
hasSize() { isNormal && ((WIDTH == $1 && HEIGHT == $2)); }

isWide() { isNormal && ((WIDTH + frameLeft + frameRight >= areaWidth * 7 / 10)); }
isInside() {
    ((X - frameLeft >= areaX && X + WIDTH + frameRight <= areaX + areaWidth &&
        Y + HEIGHT + frameBottom <= areaY + areaHeight))
}

# Ctrl+K from the compact form at the first start, then a search: wide and inside the work area.
startFerretta
waitFor 10 isCompact || fail "ferretta did not start in its compact form"
focusMain
xdotool key ctrl+k
waitFor 5 eval 'isWide && isInside' ||
    fail "after Ctrl+K the normal window is ${WIDTH}x${HEIGHT} at $X,$Y in a work area of ${areaWidth}x${areaHeight}"
xdotool key F9
search
waitFor 5 eval 'isWide && isInside' ||
    fail "after a search the normal window is ${WIDTH}x${HEIGHT} at $X,$Y in a work area of ${areaWidth}x${areaHeight}"
echo "normal window: ${WIDTH}x${HEIGHT} in a work area of ${areaWidth}x${areaHeight}"

# The user's size, as dragging the border gives it.
xdotool windowsize "$mainWindow" 900 500
waitFor 5 hasSize 900 500 || fail "the window did not take the size 900x500 (${WIDTH}x${HEIGHT})"
xdotool key F9
waitFor 5 isCompact || fail "F9 did not bring the compact form"
xdotool key ctrl+k
waitFor 5 hasSize 900 500 || fail "after F9 and Ctrl+K the window is ${WIDTH}x${HEIGHT}, not 900x500"
endFerretta
grep -q '^NormalWidth=' "$workDir/home/frtta.ini" || fail "the size was not kept in the settings"

startFerretta
search
waitFor 5 hasSize 900 500 || fail "after a new start the window is ${WIDTH}x${HEIGHT}, not 900x500"
echo "PASS: wide normal window; 900x500 kept through F9, Ctrl+K and a new start"
exit 0
