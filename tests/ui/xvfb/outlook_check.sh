#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# The mail-program items as a person uses them, on a virtual X server with real keys: the inbox
# place is set in the options (Ctrl+O, the Office tab, 場所(&L), the メール row), a Japanese
# word typed and searched; Enter on a hit hands the message to
# the desktop's viewer (a stand-in xdg-open that keeps what it was given), down to the next hit
# another one; the copies are gone once the window has ended.
#
# Usage: outlook_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run or xdotool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb iconv xclip

makeWorkDir outlook

export FERRETTA_HOME="$workDir/home" HOME="$workDir/user"
mkdir -p "$FERRETTA_HOME" "$HOME" "$workDir/bin" "$workDir/shown"
cp "$(dirname "$0")/../../data/pim/Inbox" "$workDir/Inbox"
# The search folder holds nothing to search; the mail is switched on, its place left automatic
# (an empty home: no mailbox) until the options set it.
printf '[Search]\r\nDir=%s\r\ntargetFileType1=False\r\ntargetFileType5=True\r\n' "$workDir" \
    >"$FERRETTA_HOME/frtta.ini"
cat >"$workDir/bin/xdg-open" <<SCRIPT
#!/bin/sh
n=\$(ls "$workDir/shown" | wc -l)
cp "\$1" "$workDir/shown/.copy" && mv "$workDir/shown/.copy" "$workDir/shown/\$n.eml"
SCRIPT
chmod +x "$workDir/bin/xdg-open"

PATH="$workDir/bin:$PATH" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$ferretta" >"$workDir/ferretta.log" 2>&1 &
ferrettaPid=$!

shownCount() { find "$workDir/shown" -name '*.eml' | wc -l; }
shown() { (($(shownCount) >= $1)); }
readGeometry() {
    # shellcheck disable=SC2034  # set by the eval, not wanted
    local WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
}

waitFor 10 hasWindow Ferretta || fail "the window titled Ferretta was not mapped within 10 s"
sleep 1
window=$(windowNamed Ferretta)
readGeometry "$window"
startHeight=$HEIGHT

# --- the normal form (the hot key), where the menus and their keys are
grew() { readGeometry "$window"; ((HEIGHT >= startHeight + 150)); }
xdotool key --clearmodifiers ctrl+k
waitFor 5 grew || fail "Ctrl+K did not bring the normal form"
sleep 0.5
readGeometry "$window"
normalHeight=$HEIGHT

# --- the options: the mail type and the inbox's place
focusOn "$window"
xdotool key --clearmodifiers ctrl+o
waitFor 5 hasWindow 'Ferrettaの設定' || fail "Ctrl+O did not open the options"
options=$(windowNamed 'Ferrettaの設定')
focusOn "$options"
xdotool key --clearmodifiers ctrl+Tab ctrl+Tab ctrl+Tab
sleep 0.3
xdotool key --clearmodifiers alt+l
waitFor 5 hasWindow 'Outlook項目の場所' || fail "場所(&L) did not open the places dialog"
focusOn "$(windowNamed 'Outlook項目の場所')"
xdotool key --clearmodifiers alt+m ctrl+a
xdotool type --delay 10 "$workDir/Inbox"
xdotool key --clearmodifiers Return
waitFor 5 noWindow 'Outlook項目の場所' || fail "the places dialog did not close on Enter"
focusOn "$options"
xdotool key --clearmodifiers alt+o
waitFor 5 noWindow 'Ferrettaの設定' || fail "the options did not close on Enter"

# --- back to the compact form (F9), where Alt+F is the search button's alone; the end of the
# search brings the normal form, which tells that it has ended
focusOn "$window"
xdotool key --clearmodifiers F9
shrunk() { readGeometry "$window"; ((HEIGHT < normalHeight - 150)); }
waitFor 5 shrunk || fail "F9 did not bring the compact form"
focusOn "$window"
typeWords '山田'
xdotool key --clearmodifiers alt+f
waitFor 10 grew || fail "the search did not end in the normal form (no hits?)"
grep -q 'Inbox=' "$FERRETTA_HOME/frtta.ini" && fail "the settings were written before the exit"

# --- Enter on the first hit, then on the next one
focusOn "$window"
xdotool key --clearmodifiers Return
waitFor 10 shown 1 || fail "Enter on the first hit handed nothing to the viewer"
grep -q '^Message-ID: <fixture-1@example.jp>' "$workDir/shown/0.eml" ||
    fail "the first hit did not show its message: $(head -c 300 "$workDir/shown/0.eml")"
grep -q '^From - ' "$workDir/shown/0.eml" && fail "the copy kept the mbox's From line"
xdotool key --clearmodifiers Down Down Return
waitFor 10 shown 2 || fail "Enter on the third hit handed nothing to the viewer"
# The hits: mail 1's body line and sender, then mail 2's To.
grep -q '^Message-ID: <fixture-2@example.jp>' "$workDir/shown/1.eml" ||
    fail "the third hit did not show the second mail: $(grep -h '^Message-ID' "$workDir/shown/1.eml")"

# --- the end, through ﾌｧｲﾙ > 終了 (the menu opened with the mouse: Alt+F is also the search
# button's key): the settings keep the place, the copies handed to the viewer go
copies=$(find "$FERRETTA_HOME/opened" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[[ -n "$copies" ]] || fail "no folder of copies in the data folder"
focusOn "$window"
xdotool mousemove --window "$window" 20 10 click 1
sleep 0.5
xdotool key --clearmodifiers x
ended() { ! kill -0 "$ferrettaPid" 2>/dev/null; }
waitFor 10 ended || fail "ferretta did not end through 終了"
ferrettaPid=""
[[ ! -e "$copies" ]] || fail "the copies handed to the viewer are still in $copies"
iconv -f CP932 -t UTF-8 "$FERRETTA_HOME/frtta.ini" | tr -d '\r' | grep -qxF "Inbox=$workDir/Inbox" ||
    fail "the settings do not keep the inbox's place"
echo "PASS: the inbox set in the options, searched, two hits shown, the copies removed at the end"
