#!/usr/bin/env bash
# Functions run through waitFor, which shellcheck cannot follow; the conditions handed to it
# are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016
# What was typed is what is searched: after a search of "alpha beta", "alpha" typed into the
# word box and Enter search "alpha" alone; nothing of the history is filled in behind the
# user's back. The settings written at the end hold the words searched. openbox with tint2,
# every key typed with xdotool.
#
# Usage: word_box_check.sh /path/to/ferretta
# Exit 0 when it passed, 1 with a message, 77 (skipped) when a tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xwininfo xprop xclip openbox tint2
makeDesktopWorkDir word-box
startOpenboxDesktop

mkdir -p "$workDir/folder" "$workDir/home"
echo alpha >"$workDir/folder/a.txt"
echo beta >"$workDir/folder/b.txt"
printf '%s\r\n' '[Search]' "Dir0=$workDir/folder" 'targetFileType1=True' 'textTags=TXT' \
    >"$workDir/home/frtta.ini"
startFerretta
waitFor 10 isCompact || fail "ferretta did not open its compact form"

focusMain
typeWords "alpha beta"
xdotool key Return
waitFor 15 isNormal || fail "the first search did not end in the normal form"
# F9: the compact form with the focus in the word box; typed as a person types, key by key.
xdotool key F9
waitFor 5 isCompact || fail "F9 did not bring the compact form back"
xdotool key --clearmodifiers ctrl+a BackSpace
xdotool type --delay 60 alpha
xdotool key Return
waitFor 15 isNormal || fail "the second search did not end in the normal form"
endFerretta
ini=$(iconv -f CP932 -t UTF-8 "$workDir/home/frtta.ini")
searched=$(sed -n 's/^keyword0=//p' <<<"$ini" | tr -d '\r')
[[ "$searched" == alpha ]] || fail "typing \"alpha\" searched \"$searched\""
echo "PASS: \"alpha\" typed after \"alpha beta\" searched \"alpha\""
exit 0
