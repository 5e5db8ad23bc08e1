#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# Nothing the user owns is lost when the real window ends, checked on a virtual X server:
# - ended by a signal in the middle of a PDF filter run started with typed keys: while the
#   filter runs (SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGKILL) and while its text is read
#   (SIGTERM). Each time the user's a.txt beside the PDF must be untouched throughout, the
#   filter and the child it started in a session of its own must be gone, nothing may be left
#   in the user's folder, and the run's work folder must be gone (after SIGKILL: once the window
#   is started again);
# - ended through ﾌｧｲﾙ > 終了 with a read-only settings file: the window says the settings could
#   not be saved and the file stays as it was.
#
# Usage: window_safety_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run or xdotool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb

makeWorkDir signal

docs="$workDir/docs"
notes="the user's own notes"
mkdir -p "$docs" "$workDir/home"
printf '%%PDF' >"$docs/a.pdf"
# "running": writes its text, starts a child and waits; "reading": a long text without hits,
# then a mark just before it ends.
cat >"$workDir/filter.sh" <<EOF
if [ "\$2" = running ]; then
    echo alpha > "\${1%.*}.txt"; setsid sleep 300 & echo \$! > '$workDir/sleeper'; wait
else
    seq 3000000 > "\${1%.*}.txt"; : > '$workDir/written'
fi
EOF
export FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8

configure() {
    printf '[Search]\r\nDir0=%s\r\nSubFolder=0\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=sh %s %%1 %s\r\n' \
        "$docs" "$workDir/filter.sh" "$1" >"$FERRETTA_HOME/frtta.ini"
}
mainWindow() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | head -n 1; }
hasWindow() { [[ -n "$(mainWindow)" ]]; }
hasEnded() { ! kill -0 "$1" 2>/dev/null; }
isFile() { [[ -f "$1" ]]; }
notesBack() { [[ "$(cat "$docs/a.txt" 2>/dev/null)" == "$notes" ]]; }
workEmpty() { [[ -z "$(ls -A "$FERRETTA_HOME/work" 2>/dev/null)" ]]; }
processEnded() { [[ ! -e /proc/$1 ]] || grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

startWindow() {
    "$ferretta" >>"$workDir/ferretta.log" 2>&1 &
    ferrettaPid=$!
    waitFor 10 hasWindow || fail "the window was not mapped within 10 s"
}
# Types the word into the compact window and presses its search button's key, Alt+F.
search() {
    local window
    window=$(mainWindow)
    timeout 3 xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    xdotool type --delay 20 alpha
    xdotool key alt+f
}
checkClean() {
    local what=$1
    notesBack || fail "$what: a.txt is not the user's file: $(head -c 80 "$docs/a.txt" 2>&1)"
    [[ "$(ls -A "$docs" | tr '\n' ' ')" == "a.pdf a.txt " ]] || fail "$what: something was left: $(ls -A "$docs")"
    workEmpty || fail "$what: a work folder was left: $(ls -A "$FERRETTA_HOME/work")"
    echo "$what: a.txt untouched, nothing left"
}

for signal in TERM HUP INT QUIT KILL; do
    configure running
    echo "$notes" >"$docs/a.txt"
    rm -f "$workDir/sleeper"
    startWindow
    search
    waitFor 10 isFile "$workDir/sleeper" || fail "SIG$signal: the filter did not start"
    notesBack || fail "SIG$signal: a.txt was touched while the filter runs"
    sleeper=$(cat "$workDir/sleeper")
    kill "-$signal" "$ferrettaPid"
    waitFor 10 hasEnded "$ferrettaPid" || fail "SIG$signal while the filter runs: the window did not end"
    wait "$ferrettaPid" 2>/dev/null
    ferrettaPid=""
    waitFor 3 processEnded "$sleeper" || fail "SIG$signal: the filter's child is still running"
    if [[ $signal == KILL ]]; then
        workEmpty && fail "SIGKILL: no work folder was left to clear away"
        touch -d '2 minutes ago' "$FERRETTA_HOME"/work/run-*
        startWindow # the next start clears the dead run's folder away
        waitFor 5 workEmpty || fail "SIGKILL: the next start did not clear the work folder away"
        stopProcess "$ferrettaPid"
        ferrettaPid=""
    fi
    checkClean "SIG$signal while the filter runs"
done

configure reading
echo "$notes" >"$docs/a.txt"
rm -f "$workDir/written"
startWindow
search
waitFor 20 isFile "$workDir/written" || fail "the filter did not write its text"
kill -TERM "$ferrettaPid"
waitFor 10 hasEnded "$ferrettaPid" || fail "SIGTERM while reading: the window did not end"
ferrettaPid=""
checkClean "SIGTERM while the text is read"

# --- a read-only settings file: left alone, and the user is told at the exit
configure running
chmod 444 "$FERRETTA_HOME/frtta.ini"
cp "$FERRETTA_HOME/frtta.ini" "$workDir/settings.before"
startWindow
window=$(mainWindow)
xdotool key ctrl+k # the normal form, with its menus
sleep 1
timeout 3 xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool mousemove --window "$window" 20 10 click 1 # ﾌｧｲﾙ (its Alt+F is the search button's)
sleep 0.5
xdotool key --clearmodifiers x
messageBox() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | grep -vx "$window" | head -n 1; }
hasMessageBox() { [[ -n "$(messageBox)" ]]; }
waitFor 10 hasMessageBox || fail "no message about the settings that could not be saved"
box=$(messageBox)
timeout 3 xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key Return
waitFor 10 hasEnded "$ferrettaPid" || fail "the window did not end after the message"
ferrettaPid=""
cmp -s "$FERRETTA_HOME/frtta.ini" "$workDir/settings.before" || fail "the read-only settings file was changed"
echo "read-only settings: told at the exit, the file unchanged"

echo "PASS: the window ended by signals during a filter run or with read-only settings loses nothing"
exit 0
