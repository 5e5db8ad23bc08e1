#!/usr/bin/env bash
# Several functions run only through waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# The document cache in the options, by real keys on a virtual X server: a word typed and
# searched keeps the folder's PDF in the cache; in the options (Ctrl+O) Alt+Y empties the cache
# at once, Alt+U unticks it and Alt+O keeps that; the settings written at the end say so.
#
# Usage: cache_options_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool, xclip or python3 (which counts the cached documents) is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb xclip python3

makeWorkDir cache

export FERRETTA_HOME="$workDir/home" HOME="$workDir/user" XDG_CACHE_HOME="$workDir/cache"
mkdir -p "$FERRETTA_HOME" "$HOME" "$workDir/docs"
cp "$(dirname "$0")/../../data/pdf/corpus/gs_en_uncompressed.pdf" "$workDir/docs/"
printf '[Search]\r\nDir0=%s\r\ntargetFileType1=False\r\ntargetFileType13=True\r\npdfOwnEngine=1\r\n' \
    "$workDir/docs" >"$FERRETTA_HOME/frtta.ini"

QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$ferretta" >"$workDir/ferretta.log" 2>&1 &
ferrettaPid=$!

cached() {
    [[ $(python3 -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute("select count(*) from documents").fetchone()[0])' \
        "$workDir/cache/ferretta/cache.db" 2>/dev/null) == "$1" ]]
}
optionsOpen() { hasWindow 'Ferrettaの設定'; }
optionsClosed() { ! optionsOpen; }
ended() { ! kill -0 "$ferrettaPid" 2>/dev/null; }

waitFor 10 hasWindow Ferretta || fail "the window titled Ferretta was not mapped within 10 s"
window=$(windowNamed Ferretta)
focusOn "$window"
typeWords Kilimanjaro
xdotool key --clearmodifiers alt+f
waitFor 10 cached 1 || fail "the PDF searched was not kept in the cache"

# The options open once the search has ended (the menu is off meanwhile).
openOptions() {
    focusOn "$window"
    xdotool key --clearmodifiers ctrl+o
    waitFor 2 optionsOpen
}
waitFor 20 openOptions || fail "Ctrl+O did not open the options"
focusOn "$(windowNamed 'Ferrettaの設定')"
xdotool key --clearmodifiers alt+y
waitFor 5 cached 0 || fail "Alt+Y did not empty the cache"
xdotool key --clearmodifiers alt+u alt+o
waitFor 5 optionsClosed || fail "Alt+O did not close the options"

# The end through ﾌｧｲﾙ > 終了 (opened with the mouse: Alt+F is the search button's key).
focusOn "$window"
xdotool mousemove --window "$window" 20 10 click 1
sleep 0.5
xdotool key --clearmodifiers x
waitFor 10 ended || fail "ferretta did not end through 終了"
ferrettaPid=""
tr -d '\r' <"$FERRETTA_HOME/frtta.ini" | grep -qx 'TextCache=0' || fail "the cache was not switched off"
echo "PASS: the cache kept the PDF searched, Alt+Y emptied it, Alt+U and Alt+O switched it off"
