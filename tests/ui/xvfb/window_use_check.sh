#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow; the
# conditions handed to waitFor are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016,SC2034
# A person's session with the real ferretta window on a virtual X server with a window manager
# and a panel (openbox with tint2, or xfwm4 with xfce4-panel), every key typed with xdotool:
#  - start-up: the compact window lies fully inside the screen's work area, frame included;
#    the mode toggle opens the normal form and closes it again;
#  - a Japanese word typed into the word box (read back through the selection) and Enter: the
#    hits, saved with Ctrl+S through the save dialog, hold the word;
#  - ﾌｧｲﾙ opened and its entries pointed at: the status bar's summary stays;
#  - F9: the compact form, fully on screen, the focus in the word box; an ASCII word and Enter;
#    Enter on the selected hit and a double-click on another start the editor (a stand-in that
#    records its arguments) at line and column;
#  - a long search (a PDF filter that takes its time) stopped with Esc;
#  - 表示 > アイコン化 into the panel's tray, a left click on the icon back, to the tray again
#    and the tray menu's 終了(&X): the process ends and the settings were written once.
# Screenshots of the compact and the normal window are left in a temporary folder.
#
# Usage: window_use_check.sh /path/to/ferretta openbox|xfwm4
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when a
# tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
windowManager=${2:-openbox}
innerArgs=("$windowManager")
case "$windowManager" in
    openbox) panelTools=(openbox tint2) ;;
    xfwm4)
        # The panel keeps its settings in xfconf, reached over a session bus of our own.
        panelTools=(xfwm4 xfce4-panel dbus-run-session dbus-update-activation-environment)
        innerWrapper=dbus-run-session
        ;;
    *)
        echo "FAIL: unknown window manager $windowManager (openbox or xfwm4)" >&2
        exit 1
        ;;
esac
runUnderXvfb xwininfo xprop xclip inotifywait iconv "${panelTools[@]}"

workDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-use.XXXXXX")
shotDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-shots-$windowManager.XXXXXX")
ferrettaPid="" wmPid="" panelPid="" watchPid=""
cleanup() {
    stopProcess "$ferrettaPid"
    stopProcess "$watchPid"
    stopProcess "$panelPid"
    stopProcess "$wmPid"
    rm -rf "$workDir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

shoot() {
    command -v import >/dev/null 2>&1 || return 0
    if timeout 10 import -window root "$shotDir/$1.png" 2>/dev/null; then
        echo "screenshot: $shotDir/$1.png"
    fi
}

# A failure leaves a picture of the screen beside the others.
eval "original$(declare -f fail)"
fail() {
    shoot failure
    for log in wm panel; do
        [[ -s "$workDir/$log.log" ]] && { echo "--- $log:"; tail -n 5 "$workDir/$log.log"; } >&2
    done
    originalfail "$@"
}

# --- the window manager and its panel at the bottom, with a tray
if [[ "$windowManager" == openbox ]]; then
    startOpenboxDesktop
else
    # A home of our own for the panel's settings, also for the settings service the bus starts.
    export HOME=$workDir/xfce XDG_CONFIG_HOME=$workDir/xfce/.config
    dbus-update-activation-environment HOME XDG_CONFIG_HOME
    panelConfig=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p "$panelConfig"
    cat >"$panelConfig/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/><value type="int" value="2"/><value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-3" type="string" value="systray"/>
  </property>
</channel>
EOF
    startAndWait 10 hasWindowManager "$workDir/wm.log" xfwm4 || fail "xfwm4 did not start"
    wmPid=$startedPid
    startAndWait 30 workAreaShort "$workDir/panel.log" xfce4-panel ||
        fail "the panel reserved no room at the bottom"
    panelPid=$startedPid
fi
echo "$windowManager: work area ${areaWidth}x${areaHeight} at ${areaX},${areaY}"

# --- what the user searches, and the stand-ins for the editor and a slow PDF filter
folder=$workDir/folder
mkdir -p "$folder/pdf" "$workDir/home"
printf '3月の議事録です\n別の行\n' >"$folder/メモ.txt"
printf '会議の議事録\r\n' | iconv -f UTF-8 -t CP932 >"$folder/kaigi.txt"
for i in $(seq -w 1 40); do echo "ferretta $i"; done >"$folder/notes.txt"
for i in $(seq -w 1 150); do echo "%PDF-1.4" >"$folder/pdf/a$i.pdf"; done
cat >"$workDir/editor.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >"$workDir/args.tmp" && mv "$workDir/args.tmp" "$workDir/args.txt"
EOF
# Quick until the marker exists; then each file takes a fifth of a second and is counted.
cat >"$workDir/filter.sh" <<EOF
#!/bin/sh
if [ -e "$workDir/slow" ]; then echo "\$1" >>"$workDir/slow.log"; sleep 0.2; fi
: >"\${1%.pdf}.txt"
EOF
chmod +x "$workDir/editor.sh" "$workDir/filter.sh"
# Without the document cache: the long search must run the filter again over the same files.
printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'targetFileType13=True' \
    'textTags=TXT' 'pdfOwnEngine=0' "pdfFilterPath=$workDir/filter.sh %1" 'TextCache=0' \
    '[Other]' "Editor=$workDir/editor.sh %1 %2 %3" '[Form]' 'StatusBar=1' 'Fixed=1' \
    >"$workDir/home/frtta.ini"

# Every write of the settings file, from now on.
inotifywait -m -e close_write -e moved_to --format '%e %f' "$workDir/home" \
    >"$workDir/writes.log" 2>"$workDir/watch.log" &
watchPid=$!
waitFor 5 grep -q 'Watches established' "$workDir/watch.log" || fail "inotifywait did not start"

startFerretta
isMainHidden() { ! isMainVisible; }
# The frame has arrived and the whole window, frame included, lies in the work area.
insideWorkArea() {
    isMainVisible || return 1
    readGeometry
    [[ -n "${frameTop:-}" ]] && ((frameTop > 0)) || return 1
    ((X - frameLeft >= areaX && Y - frameTop >= areaY &&
        X + WIDTH + frameRight <= areaX + areaWidth && Y + HEIGHT + frameBottom <= areaY + areaHeight))
}
expectCompactOnScreen() {
    waitFor 10 eval 'isCompact && insideWorkArea' || fail "$1: the compact window $(placement)"
    echo "$1: compact $(placement)"
}
placement() {
    echo "${WIDTH}x${HEIGHT} at ${X},${Y}, frame ${frameLeft:-?} ${frameRight:-?} ${frameTop:-?} ${frameBottom:-?} (work area ${areaWidth}x${areaHeight} at ${areaX},${areaY})"
}
editorArgs() { tr '\n' ' ' <"$workDir/args.txt" 2>/dev/null; }

# --- start-up: the compact form, placed with its frame above the panel
expectCompactOnScreen "start-up"
shoot 1-compact
compactWidth=$WIDTH compactHeight=$HEIGHT
# The mode toggle, the right-most control of the row: the normal form, and back.
xdotool mousemove --window "$mainWindow" $((compactWidth - 14)) $((compactHeight / 2)) click 1
waitFor 5 isNormal || fail "the toggle button did not open the normal form"
waitFor 5 insideWorkArea || fail "the normal form is not inside the work area: $(placement)"
xdotool mousemove --window "$mainWindow" $((WIDTH - 14)) 40 click 1 # below the menu bar
expectCompactOnScreen "toggled back"

# --- a Japanese word, Enter: the search ends in the normal form
focusMain
typeWords "議事録"
xdotool key Return
waitFor 15 isNormal || fail "Enter in the word box started no search (still ${WIDTH}x${HEIGHT})"
waitFor 5 insideWorkArea || fail "the normal form is not inside the work area after the search: $(placement)"

# Ctrl+S: the save dialog starts in the current folder; the name typed, Enter, the box closed.
xdotool key --clearmodifiers ctrl+s
waitFor 10 eval '[[ -n "$(xdotool search --onlyvisible --name "検索結果の保存" 2>/dev/null)" ]]' ||
    fail "Ctrl+S opened no save dialog"
sleep 0.3 # the dialog's name box takes the focus once it is shown
xdotool type --delay 20 -- "saved.csv"
xdotool key Return
waitFor 10 hasMessageBox || fail "saving showed no message"
xdotool key Return
waitFor 5 eval '! hasMessageBox' || fail "the message box after saving did not close with Enter"
[[ -s "$workDir/saved.csv" ]] || fail "Ctrl+S wrote no file"
saved=$(iconv -f CP932 -t UTF-8 "$workDir/saved.csv")
{ grep -q '^"kaigi.txt","会議の議事録",".*kaigi.txt","1,7"' <<<"$saved" &&
    grep -q '^"メモ.txt","3月の議事録です",' <<<"$saved"; } ||
    fail "the saved hits are not those of 議事録: $saved"
echo "Japanese word: $(wc -l <<<"$saved") hits saved"

# --- ﾌｧｲﾙ opened and pointed at: the status bar keeps the summary
readGeometry
statusStrip() {
    import -window root -crop "$((WIDTH / 2))x14+$((X + 4))+$((Y + HEIGHT - 18))" "$workDir/$1.png" 2>/dev/null
}
statusStrip before || fail "the status bar could not be captured"
(($(identify -format '%k' "$workDir/before.png") > 4)) || fail "the status bar shows no summary"
windowsBefore=$(ferrettaWindowCount)
xdotool mousemove --window "$mainWindow" 22 10 click 1
waitFor 5 eval '(($(ferrettaWindowCount) > windowsBefore))' || fail "a click on ﾌｧｲﾙ opened no menu"
for offset in 30 50 70; do xdotool mousemove --window "$mainWindow" 40 "$offset"; done
sleep 0.3 # the pointed entry reports its tip at once; a moment for a repaint
shoot 2-normal-menu
statusStrip during
xdotool key Escape
cmp -s <(convert "$workDir/before.png" rgb:-) <(convert "$workDir/during.png" rgb:-) ||
    fail "the status bar changed while the menu was open"
shoot 2-normal

# --- F9: compact, focus in the word box; an ASCII word; Enter and a double-click on hits
xdotool key F9
expectCompactOnScreen "F9"
typeWords "ferretta"
xdotool key Return
waitFor 15 isNormal || fail "the ASCII search did not end in the normal form"
rm -f "$workDir/args.txt"
xdotool key Return # the first hit is selected and the list has the focus
waitFor 5 test -s "$workDir/args.txt" || fail "Enter on the selected hit started no editor"
[[ "$(editorArgs)" == "$folder/notes.txt 1 1 " ]] || fail "Enter opened $(editorArgs)"
rm -f "$workDir/args.txt"
readGeometry
xdotool mousemove --window "$mainWindow" 60 $((HEIGHT / 2)) click --repeat 2 --delay 80 1
waitFor 5 test -s "$workDir/args.txt" || fail "a double-click on a hit started no editor"
[[ "$(editorArgs)" =~ ^"$folder/notes.txt "[0-9]+" 1 "$ ]] || fail "the double-click opened $(editorArgs)"
echo "editor: Enter and double-click gave $(editorArgs)"

# --- a long search stopped with Esc
xdotool key F9
expectCompactOnScreen "F9 again"
touch "$workDir/slow"
typeWords "ferretta"
xdotool key Return
slowCalls() { cat "$workDir/slow.log" 2>/dev/null | wc -l; }
waitFor 15 eval '(($(slowCalls) >= 3))' || fail "the long search did not start"
xdotool key Escape
waitFor 5 isNormal || fail "Esc did not stop the long search within 5 s"
calls=$(slowCalls)
((calls < 100)) || fail "the search went on after Esc ($calls of 150 files)"
echo "Esc stopped the long search after $calls of 150 PDF files"

# --- to the tray and back by a click; to the tray again and out through its menu
# The icon is wherever the panel draws it (an embedded window, or a status item the panel
# paints itself): found as what changed in the right end of the panel.
panelTop=$((areaY + areaHeight))
panelShot() {
    import -window root -crop "240x$((800 - panelTop))+1040+$panelTop" "$workDir/$1.png" 2>/dev/null
}
findTrayIcon() {
    local box w h x y
    panelShot tray-with
    box=$(convert "$workDir/tray-without.png" "$workDir/tray-with.png" -compose difference \
        -composite -threshold 10% -format '%@' info: 2>/dev/null)
    [[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
    ((w >= 8 && h >= 8 && w <= 64)) || return 1
    iconX=$((1040 + x + w / 2)) iconY=$((panelTop + y + h / 2))
}
toTray() {
    focusMain
    xdotool key --clearmodifiers alt+v
    sleep 0.3 # the menu opens
    xdotool key i
    waitFor 5 isMainHidden || fail "the window stayed mapped after 表示 > アイコン化"
    waitFor 5 findTrayIcon || fail "the panel's tray shows no icon"
}
panelShot tray-without
toTray
echo "tray icon at $iconX,$iconY"
xdotool mousemove "$iconX" "$iconY" click 1
waitFor 5 isNormal || fail "a click on the tray icon did not bring the normal window back"
toTray
# The tray menu, its last entry: 終了(&X).
xdotool mousemove "$iconX" "$iconY" click 3
sleep 0.5 # the menu opens and takes the keyboard
xdotool key Up Return
waitFor 10 eval '! kill -0 "$ferrettaPid" 2>/dev/null' ||
    fail "the tray menu's 終了(&X) did not end the program"
wait "$ferrettaPid"
status=$?
ferrettaPid=""
((status == 0)) || fail "ferretta ended with status $status"
writes=$(grep -c ' frtta.ini$' "$workDir/writes.log")
((writes == 1)) || fail "the settings were written $writes times: $(cat "$workDir/writes.log")"
ini=$(iconv -f CP932 -t UTF-8 "$workDir/home/frtta.ini")
{ grep -q '^keyword0=ferretta' <<<"$ini" && grep -q '^keyword1=議事録' <<<"$ini"; } ||
    fail "the settings do not hold the words searched: $ini"

echo "screenshots in $shotDir"
echo "PASS ($windowManager): compact placement, typed words, Enter, Esc, F9, Ctrl+S, menus, double-click, tray, exit"
exit 0
