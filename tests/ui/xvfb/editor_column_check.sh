#!/usr/bin/env bash
# Functions run through waitFor, which shellcheck cannot follow; the conditions handed to it
# are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016
# The desktop's default editor (here mousepad, a stand-in that records its arguments, named by a
# stand-in xdg-mime) opens a CP932 file at the hit: Enter on the hit of 違う on line 2 of
# 「見積書の合計が違う」 gives mousepad the Shift_JIS encoding, the line and the column as it counts
# (7 characters before the hit), not the byte column of the list (15). openbox with tint2,
# every key typed with xdotool.
#
# Usage: editor_column_check.sh /path/to/ferretta
# Exit 0 when it passed, 1 with a message, 77 (skipped) when a tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xwininfo xprop xclip iconv openbox tint2
makeDesktopWorkDir editor-column
startOpenboxDesktop

mkdir -p "$workDir/folder" "$workDir/home" "$workDir/bin"
printf '見積書\r\n見積書の合計が違う\r\n' | iconv -f UTF-8 -t CP932 >"$workDir/folder/mitsumori.txt"
cat >"$workDir/bin/xdg-mime" <<'STANDIN'
#!/bin/sh
[ "$*" = "query default text/plain" ] && echo org.xfce.mousepad.desktop
STANDIN
cat >"$workDir/bin/mousepad" <<STANDIN
#!/bin/sh
printf '%s\n' "\$@" >"$workDir/args.tmp" && mv "$workDir/args.tmp" "$workDir/args.txt"
STANDIN
chmod +x "$workDir/bin/xdg-mime" "$workDir/bin/mousepad"
# No Editor key: the setting's default, the desktop's editor.
printf '%s\r\n' '[Search]' "Dir0=$workDir/folder" 'targetFileType1=True' 'textTags=TXT' \
    >"$workDir/home/frtta.ini"
PATH=$workDir/bin:$PATH startFerretta
waitFor 10 isCompact || fail "ferretta did not open its compact form"

focusMain
xdotool key --clearmodifiers ctrl+a BackSpace
printf '%s' "違う" | xclip -selection clipboard
xdotool key --clearmodifiers ctrl+v Return
waitFor 15 isNormal || fail "the search did not end in the normal form"
xdotool key Return # the first hit is selected and the list has the focus
waitFor 10 test -s "$workDir/args.txt" || fail "Enter on the hit started no editor"
args=$(tr '\n' ' ' <"$workDir/args.txt")
expected="--encoding=SHIFT_JIS --line 2 --column 7 $workDir/folder/mitsumori.txt "
[[ "$args" == "$expected" ]] || fail "the editor was given \"$args\", not \"$expected\""
echo "PASS: mousepad $args"
exit 0
