#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# Drives the real ferretta window on a virtual X server: the compact minimum form at start-up,
# the normal form through the mode toggle button, the task tray through the view menu, and back
# through a click on the tray icon. A screenshot of each form is left in a temporary folder.
#
# Usage: window_modes_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool or trayer is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb xwininfo

readonly screenWidth=1280 screenHeight=800
workDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-xvfb.XXXXXX")
# Screenshots outlive the run (their paths are printed); everything else goes.
shotDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-xvfb-shots.XXXXXX")
trayerPid=""
ferrettaPid=""

cleanup() {
    stopProcess "$ferrettaPid"
    stopProcess "$trayerPid"
    rm -rf "$workDir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

shoot() {
    local path="$shotDir/$1.png"
    if command -v import >/dev/null 2>&1; then
        if timeout 10 import -window root "$path" 2>/dev/null; then
            echo "screenshot: $path"
        else
            echo "note: the screenshot $path could not be taken" >&2
        fi
    fi
}

# The main window, when it is mapped (an unmapped one is not found).
visibleWindow() {
    xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | head -n 1
}
isVisible() { [[ -n "$(visibleWindow)" ]]; }
isHidden() { [[ -z "$(visibleWindow)" ]]; }

# Sets X, Y, WIDTH and HEIGHT to the geometry of window $1.
readGeometry() {
    # shellcheck disable=SC2034  # set by the eval, not wanted
    local WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
}

# Windows below trayer's top-level window: an embedded icon adds to them.
trayChildCount() {
    xwininfo -tree -id "$trayerWindow" 2>/dev/null | grep -c '^ *0x'
}

# --- the tray host, at the top so that it does not cover the window's lower-right corner
trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
    --transparent false >"$workDir/trayer.log" 2>&1 &
trayerPid=$!
waitFor 5 xdotool search --onlyvisible --class trayer >/dev/null ||
    fail "trayer did not show its window within 5 s"
trayerWindow=$(xdotool search --onlyvisible --class trayer | head -n 1)
# Give trayer time to claim the tray selection before ferretta asks for it.
sleep 0.5
emptyTrayChildren=$(trayChildCount)
emptyTrayIds=$(xwininfo -tree -id "$trayerWindow" 2>/dev/null | awk '/^ +0x/ {print $1}')

# --- start-up: no settings file, so the compact minimum form at the lower right
export FERRETTA_HOME="$workDir/home"
mkdir -p "$FERRETTA_HOME"
QT_QPA_PLATFORM=xcb LANG=ja_JP.UTF-8 LC_ALL=C.UTF-8 "$ferretta" >"$workDir/ferretta.log" 2>&1 &
ferrettaPid=$!
waitFor 10 isVisible || fail "the window titled Ferretta was not mapped within 10 s"
# The window maps first and settles into its form a moment later.
sleep 1
window=$(visibleWindow)
readGeometry "$window"
minWidth=$WIDTH minHeight=$HEIGHT
echo "minimum form: ${WIDTH}x${HEIGHT} at ${X},${Y}"
((HEIGHT <= 120 && WIDTH <= 600)) || fail "the start-up window is not the compact form (${WIDTH}x${HEIGHT})"
# No window manager draws a frame here, so the corner is the client area's (a little slack).
((X + WIDTH >= screenWidth - 40 && Y + HEIGHT >= screenHeight - 40)) ||
    fail "the start-up window is not at the lower right (${WIDTH}x${HEIGHT} at ${X},${Y})"
shoot 1-minimum

# --- the mode toggle button, the right-most control of the search row
isNormal() {
    local w
    w=$(visibleWindow)
    [[ -n "$w" ]] || return 1
    readGeometry "$w"
    ((HEIGHT >= minHeight + 150))
}
xdotool mousemove --window "$window" $((minWidth - 18)) $((minHeight / 2)) click 1
waitFor 5 isNormal || fail "the toggle button did not bring the normal form (still ${WIDTH}x${HEIGHT})"
sleep 0.5
readGeometry "$window"
echo "normal form: ${WIDTH}x${HEIGHT} at ${X},${Y}"
((X >= 0 && Y >= 0 && X + WIDTH <= screenWidth && Y + HEIGHT <= screenHeight)) ||
    fail "the normal form sticks out of the screen (${WIDTH}x${HEIGHT} at ${X},${Y})"
shoot 2-normal

# --- to the tray: the view menu "表示(&V)", entry "アイコン化(&I)", by keyboard
# --sync waits for the focus without a bound of its own.
timeout 3 xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --clearmodifiers alt+v
sleep 0.5
xdotool key --clearmodifiers i
trayHasIcon() { (($(trayChildCount) > emptyTrayChildren)); }
waitFor 5 isHidden || fail "the window stayed mapped after 表示 > アイコン化"
waitFor 5 trayHasIcon || fail "trayer holds no icon while the window is in the tray"
sleep 0.5
echo "tray: window unmapped, trayer has $(trayChildCount) windows (was $emptyTrayChildren)"
shoot 3-tray

# --- a left click on the tray icon brings the normal form back
readGeometry "$trayerWindow"
trayX=$X trayY=$Y trayWidth=$WIDTH trayHeight=$HEIGHT
# The icon is the deepest window in trayer's tree that was not there before ferretta came;
# its absolute position is what xwininfo reports for it.
iconWindow=""
while read -r id; do
    grep -qxF -- "$id" <<<"$emptyTrayIds" || iconWindow=$id
done < <(xwininfo -tree -id "$trayerWindow" | awk '/^ +0x/ {print $1}')
[[ -n "$iconWindow" ]] || fail "no window found below trayer for the tray icon"
iconX=$(xwininfo -id "$iconWindow" | awk '/Absolute upper-left X/ {print $4}')
iconY=$(xwininfo -id "$iconWindow" | awk '/Absolute upper-left Y/ {print $4}')
iconW=$(xwininfo -id "$iconWindow" | awk '/Width:/ {print $2}')
iconH=$(xwininfo -id "$iconWindow" | awk '/Height:/ {print $2}')
echo "tray icon window $iconWindow: ${iconW}x${iconH} at ${iconX},${iconY} (trayer ${trayWidth}x${trayHeight} at ${trayX},${trayY})"
xdotool mousemove $((iconX + iconW / 2)) $((iconY + iconH / 2)) click 1
waitFor 5 isVisible || fail "a click on the tray icon did not bring the window back"
waitFor 5 isNormal || fail "the window came back from the tray but not in the normal form"
waitFor 5 eval '! trayHasIcon' || fail "the tray icon stayed after the window came back"
sleep 0.5
window=$(visibleWindow)
readGeometry "$window"
echo "back from the tray: ${WIDTH}x${HEIGHT} at ${X},${Y}"
shoot 4-back

echo "screenshots in $shotDir"
echo "PASS: minimum -> normal -> tray -> back"
exit 0
