#!/usr/bin/env bash
# Several functions run only through waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# Hidden entries and binary files, by real keys on a virtual X server with openbox and tint2. A
# word typed and Enter find it only in the visible text file (not in a hidden file, a hidden
# folder or a file holding a NUL); the options (Ctrl+O), Alt+H and Alt+O switch those on, and
# the same search finds all four; the settings written at the end say AllFiles=1.
#
# Usage: hidden_files_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool, openbox, tint2, xclip or iconv is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb openbox tint2 xclip iconv

makeWorkDir hidden
wmPid="" panelPid=""
trap 'stopProcess "$ferrettaPid"; stopProcess "$panelPid"; stopProcess "$wmPid"; rm -rf "$workDir"' EXIT
startOpenboxAndPanel

folder=$workDir/folder
mkdir -p "$folder/.config" "$workDir/home"
echo "needle" >"$folder/visible.txt"
echo "needle" >"$folder/.hidden.txt"
echo "needle" >"$folder/.config/settings.txt"
printf 'x\0y\nneedle\n' >"$folder/image.txt"
printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'textTags=TXT' \
    >"$workDir/home/frtta.ini"

(cd "$workDir" && FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    exec "$ferretta" >"$workDir/ferretta.log" 2>&1) &
ferrettaPid=$!
waitFor 10 hasWindow Ferretta || fail "the window titled Ferretta was not mapped within 10 s"
window=$(windowNamed Ferretta)

# Types the word, Enter; once the search has ended, the hits saved (savedHits).
searchNeedle() {
    focusOn "$window"
    xdotool key F9 # the compact form, the word box focused (a search ends in the normal form)
    typeWords needle
    xdotool key Return
    waitFor 10 isNormalForm || fail "the search did not end"
    saveHits
}
isNormalForm() { xwininfo -id "$window" 2>/dev/null | awk '/Height:/ {exit !($2 >= 300)}'; }
hitFiles() { awk -F'"' '{print $2}' <<<"$savedHits" | sort | tr '\n' ' '; }

focusOn "$window"
typeWords needle
xdotool key Return
waitFor 10 isNormalForm || fail "the first search did not end"
saveHits
[[ "$(hitFiles)" == "visible.txt " ]] || fail "hidden or binary files were searched: $(hitFiles)"

optionsOpen() { hasWindow 'Ferrettaの設定'; }
focusOn "$window"
xdotool key --clearmodifiers ctrl+o
waitFor 5 optionsOpen || fail "Ctrl+O did not open the options"
focusOn "$(windowNamed 'Ferrettaの設定')"
xdotool key --clearmodifiers alt+h alt+o
waitFor 5 eval '! optionsOpen' || fail "Alt+O did not close the options"
searchNeedle
[[ "$(hitFiles)" == ".hidden.txt image.txt settings.txt visible.txt " ]] ||
    fail "with the box ticked the search found $(hitFiles)"

# The end through ﾌｧｲﾙ > 終了 (opened with the mouse: Alt+F is the search button's key).
focusOn "$window"
xdotool mousemove --window "$window" 20 10 click 1
sleep 0.5
xdotool key --clearmodifiers x
ended() { ! kill -0 "$ferrettaPid" 2>/dev/null; }
waitFor 10 ended || fail "ferretta did not end through 終了"
ferrettaPid=""
tr -d '\r' <"$workDir/home/frtta.ini" | grep -qx 'AllFiles=1' || fail "AllFiles=1 was not written"
echo "PASS: hidden and binary files left out, then searched after Alt+H in the options"
