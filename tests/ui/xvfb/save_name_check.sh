#!/usr/bin/env bash
# Functions run through waitFor, which shellcheck cannot follow; the conditions handed to it
# are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016
# Ctrl+S proposes 検索結果_YYYYMMDD_HHMM.csv in the folder the results were last saved in (the
# current folder the first time); a name typed without an extension is saved with ".csv", and
# the next Ctrl+S proposes its folder again. openbox with tint2, every key typed with xdotool.
#
# Usage: save_name_check.sh /path/to/ferretta
# Exit 0 when it passed, 1 with a message, 77 (skipped) when a tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xwininfo xprop xclip openbox tint2
makeDesktopWorkDir save-name
startOpenboxDesktop

mkdir -p "$workDir/folder" "$workDir/home" "$workDir/lists"
echo ferretta >"$workDir/folder/a.txt"
printf '%s\r\n' '[Search]' "Dir0=$workDir/folder" 'targetFileType1=True' 'textTags=TXT' \
    >"$workDir/home/frtta.ini"
startFerretta
waitFor 10 isCompact || fail "ferretta did not open its compact form"
focusMain
typeWords ferretta
xdotool key Return
waitFor 15 isNormal || fail "the search did not end in the normal form"

saveDialog() { xdotool search --onlyvisible --name '^検索結果の保存$' 2>/dev/null | head -n 1; }
# The name box of the dialog (it has the focus) read through the selection.
nameIs() {
    xdotool key --clearmodifiers ctrl+a
    [[ "$(xclip -o -selection primary 2>/dev/null)" =~ $1 ]]
}
proposed='^(.*/)?検索結果_[0-9]{8}_[0-9]{4}\.csv$'
xdotool key --clearmodifiers ctrl+s
waitFor 10 eval '[[ -n "$(saveDialog)" ]]' || fail "Ctrl+S opened no save dialog"
waitFor 5 nameIs "$proposed" ||
    fail "the dialog proposes \"$(xclip -o -selection primary 2>/dev/null)\", not 検索結果_YYYYMMDD_HHMM.csv"
# Another folder and a name without an extension.
xdotool type --delay 20 -- "$workDir/lists/hits"
xdotool key Return
waitFor 10 hasMessageBox || fail "saving showed no message"
xdotool key Return
waitFor 5 eval '! hasMessageBox' || fail "the message box after saving did not close"
[[ -s "$workDir/lists/hits.csv" ]] || fail "the list was not saved as hits.csv: $(ls "$workDir/lists")"

xdotool key --clearmodifiers ctrl+s
waitFor 10 eval '[[ -n "$(saveDialog)" ]]' || fail "the second Ctrl+S opened no save dialog"
waitFor 5 nameIs "$proposed" || fail "the second dialog proposes no name"
xdotool key Escape
waitFor 5 eval '[[ -z "$(saveDialog)" ]]' || fail "Esc did not close the save dialog"
endFerretta
grep -q "^SaveFolder=$workDir/lists" "$workDir/home/frtta.ini" ||
    fail "the folder of the last save was not kept: $(grep SaveFolder "$workDir/home/frtta.ini")"
echo "PASS: Ctrl+S proposed 検索結果_….csv and saved hits.csv"
exit 0
