#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# Drives the real ferretta window on a virtual X server: Ctrl+K pressed while another program's
# window has the focus cycles the window minimum -> normal -> tray -> minimum, also with CapsLock
# and NumLock on; a second start with a folder makes the first report it in a message box while
# the second waits without a window and then ends with 0; a second start without argument ends
# with 0 and changes nothing. At the end the window is closed through its menu and the settings
# file must name the handed-over folder.
#
# Usage: hot_key_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool, trayer or xmessage is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb trayer xmessage iconv

workDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-hotkey.XXXXXX")
trayerPid="" ferrettaPid="" otherPid="" secondPid=""

cleanup() {
    stopProcess "$secondPid"
    stopProcess "$ferrettaPid"
    stopProcess "$otherPid"
    stopProcess "$trayerPid"
    rm -rf "$workDir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Every mapped window titled Ferretta: the main window, and message boxes (titled the same).
ferrettaWindows() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null; }
isMainVisible() { ferrettaWindows | grep -qx "$mainWindow"; }
isMainHidden() { ! isMainVisible; }
# A mapped Ferretta window other than the main one: a message box.
messageBox() { ferrettaWindows | grep -vx "$mainWindow" | head -n 1; }
hasMessageBox() { [[ -n "$(messageBox)" ]]; }
noMessageBox() { ! hasMessageBox; }
anyFerrettaWindow() { [[ -n "$(ferrettaWindows)" ]]; }
otherWindowOf() { xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -n 1; }
hasOtherWindow() { [[ -n "$(otherWindowOf)" ]]; }
hasEnded() { ! kill -0 "$1" 2>/dev/null; }

readGeometry() {
    # shellcheck disable=SC2034  # set by the eval, not wanted
    local WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
}
isNormal() {
    isMainVisible || return 1
    readGeometry "$mainWindow"
    ((HEIGHT >= minHeight + 150))
}
# The compact form: mapped, without the list, as high as at start-up (also back from the tray).
isMinimum() {
    isMainVisible || return 1
    readGeometry "$mainWindow"
    ((HEIGHT <= minHeight + 4))
}

focusOther() {
    timeout 3 xdotool windowfocus --sync "$otherWindow" 2>/dev/null || xdotool windowfocus "$otherWindow"
}
# Ctrl+K with the focus on the other program, then wait for the form $1 (isNormal, isMainHidden,
# isMinimum). The modifiers are given as they are: CapsLock and NumLock stay as set.
hotKeyTo() {
    local want=$1 what=$2
    focusOther
    xdotool key ctrl+k
    waitFor 5 "$want" || fail "Ctrl+K ($what) did not lead to $want"
    # Let the window settle before the next press (a form change maps and moves it).
    sleep 0.5
    echo "Ctrl+K ($what): $want"
}

# --- the tray host and the program
trayerShown() { xdotool search --onlyvisible --class trayer >/dev/null 2>&1; }
startAndWait 5 trayerShown "$workDir/trayer.log" trayer --edge top --align right --widthtype pixel \
    --width 120 --heighttype pixel --height 28 --transparent false ||
    fail "trayer did not show its window"
trayerPid=$startedPid
sleep 0.5

export FERRETTA_HOME="$workDir/home"
mkdir -p "$FERRETTA_HOME"
export QT_QPA_PLATFORM=xcb LANG=ja_JP.UTF-8 LC_ALL=C.UTF-8
"$ferretta" >"$workDir/ferretta.log" 2>&1 &
ferrettaPid=$!
waitFor 10 anyFerrettaWindow || fail "the window titled Ferretta was not mapped within 10 s"
sleep 1
mainWindow=$(ferrettaWindows | head -n 1)
readGeometry "$mainWindow"
minHeight=$HEIGHT
echo "minimum form: ${WIDTH}x${HEIGHT}"

# Another program's window takes the focus: the hot key must be global.
xmessage -geometry 300x80+20+20 -name other "another program" >/dev/null 2>&1 &
otherPid=$!
waitFor 5 hasOtherWindow ||
    fail "xmessage did not show its window"
otherWindow=$(otherWindowOf)
focusOther
[[ "$(xdotool getwindowfocus)" != "$mainWindow" ]] || fail "the focus stayed on ferretta"

# --- the hot key: minimum -> normal -> tray -> minimum
hotKeyTo isNormal "plain"
hotKeyTo isMainHidden "plain"
hotKeyTo isMinimum "plain"

# --- the same with the lock keys: CapsLock, CapsLock+NumLock, NumLock
lockState() { xset q 2>/dev/null | grep -o "$1: *o[nf]*" | awk '{print $NF}'; }
xdotool key Caps_Lock
if command -v xset >/dev/null 2>&1; then
    [[ "$(lockState 'Caps Lock')" == on ]] || fail "CapsLock did not turn on"
fi
hotKeyTo isNormal "CapsLock"
xdotool key Num_Lock
if command -v xset >/dev/null 2>&1; then
    [[ "$(lockState 'Num Lock')" == on ]] || fail "NumLock did not turn on"
fi
hotKeyTo isMainHidden "CapsLock and NumLock"
xdotool key Caps_Lock
hotKeyTo isMinimum "NumLock"
xdotool key Num_Lock

# --- a second start without argument: ends with 0, nothing changes
readGeometry "$mainWindow"
before="${WIDTH}x${HEIGHT}+${X}+${Y}"
timeout 10 "$ferretta" >"$workDir/second-empty.log" 2>&1
rc=$?
((rc == 0)) || fail "a second start without argument ended with $rc"
sleep 0.5
hasMessageBox && fail "a second start without argument made the first show a message"
readGeometry "$mainWindow"
[[ "${WIDTH}x${HEIGHT}+${X}+${Y}" == "$before" ]] ||
    fail "a second start without argument changed the window ($before -> ${WIDTH}x${HEIGHT}+${X}+${Y})"
echo "second start without argument: ended with 0, window unchanged"

# --- a second start with a folder while the first is in the tray (entered from normal)
hotKeyTo isNormal "to normal"
hotKeyTo isMainHidden "to the tray"
folder="$workDir/検索 フォルダ"
mkdir -p "$folder"
"$ferretta" "\"$folder\"" >"$workDir/second.log" 2>&1 &
secondPid=$!
waitFor 10 hasMessageBox || fail "the running window showed no message for the handed-over folder"
box=$(messageBox)
# Event 3 from the tray entered from the normal window: the minimum window.
waitFor 5 isMinimum || fail "the window did not leave the tray for the minimum form"
kill -0 "$secondPid" 2>/dev/null || fail "the second start ended before the message was answered"
[[ -z "$(xdotool search --pid "$secondPid" 2>/dev/null)" ]] ||
    fail "the second start created a window"
echo "second start with a folder: message box $box shown, second start waiting without a window"
timeout 3 xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key --window "$box" Return 2>/dev/null || xdotool key Return
waitFor 5 noMessageBox || fail "the message box did not close"
waitFor 5 hasEnded "$secondPid" || fail "the second start did not end after the answer"
wait "$secondPid"
rc=$?
secondPid=""
((rc == 0)) || fail "the second start with a folder ended with $rc"
echo "second start with a folder: ended with 0 after the message was closed"

# --- leave through the menu so that the settings are written, then look for the folder
hotKeyTo isNormal "to normal, to close"
timeout 3 xdotool windowfocus --sync "$mainWindow" 2>/dev/null || xdotool windowfocus "$mainWindow"
# Alt+F is also the search button's key, so the menu "ﾌｧｲﾙ(&F)" (first in the menu bar) is
# opened with the mouse; "終了(&X)" then by its key.
xdotool mousemove --window "$mainWindow" 20 10 click 1
sleep 0.5
xdotool key --clearmodifiers x
waitFor 10 hasEnded "$ferrettaPid" || fail "ferretta did not end through 終了"
ferrettaPid=""
settingsFile=$(find "$FERRETTA_HOME" -iname 'frtta.ini' | head -n 1)
[[ -n "$settingsFile" ]] || fail "no settings file was written"
iconv -f CP932 -t UTF-8 "$settingsFile" | tr -d '\r' | grep -qxF "Dir=$folder" ||
    fail "the settings do not name the handed-over folder as the search folder"
echo "settings: Dir=$folder"

echo "PASS: hot key (plain, CapsLock, NumLock) and second starts (with and without a folder)"
exit 0
