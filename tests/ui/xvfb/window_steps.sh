# Steps of window_use_check.sh about the window itself: its size, the hot key and second starts,
# its end by signals; sourced, not run.
# shellcheck shell=bash disable=SC2317,SC2016,SC2034,SC2154

# The normal window opens over most of the work area's width and inside it, after Ctrl+K at the
# first start and after a search; a size given as dragging the border gives it stays through F9
# and Ctrl+K and comes back after a new start.
window_sizeStep() {
    textFolder ferretta
    hasSize() { isNormal && ((WIDTH == $1 && HEIGHT == $2)); }
    wideInside() {
        isNormal && ((WIDTH + frameLeft + frameRight >= areaWidth * 7 / 10 &&
            X - frameLeft >= areaX && X + WIDTH + frameRight <= areaX + areaWidth &&
            Y + HEIGHT + frameBottom <= areaY + areaHeight))
    }
    startFerretta
    waitFor 10 isCompact || fail "ferretta did not start in its compact form"
    focusMain
    xdotool key ctrl+k
    waitFor 5 wideInside || fail "after Ctrl+K the normal window is ${WIDTH}x${HEIGHT} at $X,$Y"
    xdotool key F9
    searchFor ferretta
    waitFor 5 wideInside || fail "after a search the normal window is ${WIDTH}x${HEIGHT} at $X,$Y"
    xdotool windowsize "$mainWindow" 900 500
    waitFor 5 hasSize 900 500 || fail "the window did not take the size 900x500 (${WIDTH}x${HEIGHT})"
    xdotool key F9
    waitFor 5 isCompact || fail "F9 did not bring the compact form"
    xdotool key ctrl+k
    waitFor 5 hasSize 900 500 || fail "after F9 and Ctrl+K the window is ${WIDTH}x${HEIGHT}, not 900x500"
    endFerretta
    [[ -n "$(iniValue NormalWidth)" ]] || fail "the size was not kept in the settings"
    startFerretta
    searchFor ferretta
    waitFor 5 hasSize 900 500 || fail "after a new start the window is ${WIDTH}x${HEIGHT}, not 900x500"
}

# Ctrl+K pressed while another program's window has the focus cycles the window minimum ->
# normal -> tray -> minimum, also with CapsLock and NumLock on. A second start without an
# argument ends with 0 and changes nothing; one with a folder while the window is in the tray
# brings it back, makes it report the folder in a message box and waits without a window until
# the box is closed, then ends with 0; the settings written at the end name the folder.
hot_keyStep() {
    isMainHidden() { ! isMainVisible; }
    otherWindowOf() { xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -n 1; }
    # The same place and size in two readings a moment apart: the form change is over.
    settled() {
        local before
        readGeometry && before="$X $Y $WIDTH $HEIGHT" && readGeometry && [[ "$X $Y $WIDTH $HEIGHT" == "$before" ]]
    }
    hotKeyTo() {
        focusOn "$otherWindow"
        xdotool key ctrl+k
        waitFor 5 "$1" || fail "Ctrl+K ($2) did not lead to $1"
        [[ "$1" == isMainHidden ]] || waitFor 5 settled || fail "the window did not settle after Ctrl+K ($2)"
        echo "Ctrl+K ($2): $1"
    }
    lockIs() { ! command -v xset >/dev/null 2>&1 || xset q | grep -q "$1: *$2"; }
    startFerretta
    waitFor 10 isCompact || fail "ferretta did not start in its compact form"
    xmessage -geometry 300x80+20+20 -name other "another program" >/dev/null 2>&1 &
    otherPid=$!
    stepCleanup() { stopProcess "$otherPid"; }
    waitFor 5 eval '[[ -n "$(otherWindowOf)" ]]' || fail "xmessage did not show its window"
    otherWindow=$(otherWindowOf)
    focusOn "$otherWindow"
    [[ "$(xdotool getwindowfocus)" != "$mainWindow" ]] || fail "the focus stayed on ferretta"
    hotKeyTo isNormal plain
    hotKeyTo isMainHidden plain
    hotKeyTo isCompact plain
    xdotool key Caps_Lock
    waitFor 2 lockIs 'Caps Lock' on || fail "CapsLock did not turn on"
    hotKeyTo isNormal CapsLock
    xdotool key Num_Lock
    waitFor 2 lockIs 'Num Lock' on || fail "NumLock did not turn on"
    hotKeyTo isMainHidden "CapsLock and NumLock"
    xdotool key Caps_Lock
    hotKeyTo isCompact NumLock
    xdotool key Num_Lock
    waitFor 2 lockIs 'Num Lock' off || fail "NumLock did not turn off"

    readGeometry
    local before="${WIDTH}x${HEIGHT}+${X}+${Y}" rc
    (cd "$workDir" && FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb timeout 10 "$ferretta") \
        >>"$workDir/second.log" 2>&1
    rc=$?
    ((rc == 0)) || fail "a second start without argument ended with $rc"
    waitFor 1 hasMessageBox && fail "a second start without argument made the first show a message"
    readGeometry
    [[ "${WIDTH}x${HEIGHT}+${X}+${Y}" == "$before" ]] ||
        fail "a second start without argument changed the window ($before -> ${WIDTH}x${HEIGHT}+${X}+${Y})"

    hotKeyTo isNormal "to normal"
    hotKeyTo isMainHidden "to the tray"
    local handed="$workDir/検索 フォルダ"
    mkdir -p "$handed"
    (cd "$workDir" && FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb exec "$ferretta" "\"$handed\"") \
        >>"$workDir/second.log" 2>&1 &
    secondPid=$!
    stepCleanup() { stopProcess "$otherPid"; stopProcess "$secondPid"; }
    waitFor 10 hasMessageBox || fail "the running window showed no message for the handed-over folder"
    # From the tray entered from the normal window: the compact form.
    waitFor 5 isCompact || fail "the window did not leave the tray for the compact form"
    kill -0 "$secondPid" 2>/dev/null || fail "the second start ended before the message was answered"
    [[ -z "$(xdotool search --pid "$secondPid" 2>/dev/null)" ]] || fail "the second start created a window"
    focusOn "$(messageBox)"
    xdotool key Return
    waitFor 5 eval '! hasMessageBox' || fail "the message box did not close"
    waitFor 5 eval '! kill -0 "$secondPid" 2>/dev/null' || fail "the second start did not end after the answer"
    wait "$secondPid"
    rc=$?
    ((rc == 0)) || fail "the second start with a folder ended with $rc"
    endFerretta
    [[ "$(iniValue Dir)" == "$handed" ]] || fail "the settings name $(iniValue Dir), not the handed-over folder"
}

# A search typed into the window runs a PDF filter while the user's a.txt is moved aside; the
# window is sent SIGTERM, SIGHUP, SIGINT, SIGQUIT or SIGKILL while the filter runs, and SIGTERM
# while its text is read: a.txt is back each time (after SIGKILL once the window is started
# again), the filter's child gone, no temporary file or work folder left. With a read-only
# frtta.ini, ﾌｧｲﾙ > 終了 says that the settings could not be saved and leaves the file as it was.
window_safetyStep() {
    local docs=$workDir/docs notes="the user's own notes" home=$workDir/home signal sleeper
    mkdir -p "$docs"
    printf '%%PDF' >"$docs/a.pdf"
    # "running": writes its text, starts a child and waits; "reading": a long text without
    # hits, then a mark just before it ends.
    cat >"$workDir/filter.sh" <<EOF
if [ "\$2" = running ]; then
    echo alpha > "\${1%.*}.txt"; setsid sleep 300 & echo \$! > '$workDir/sleeper'; wait
else
    seq 3000000 > "\${1%.*}.txt"; : > '$workDir/written'
fi
EOF
    configure() {
        printf '[Search]\r\nDir0=%s\r\nSubFolder=0\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=sh %s %%1 %s\r\n' \
            "$docs" "$workDir/filter.sh" "$1" >"$home/frtta.ini"
        echo "$notes" >"$docs/a.txt"
        rm -f "$workDir/sleeper" "$workDir/written"
    }
    notesBack() { [[ "$(cat "$docs/a.txt" 2>/dev/null)" == "$notes" ]]; }
    workEmpty() { [[ -z "$(ls -A "$home/work" 2>/dev/null)" ]]; }
    processEnded() { [[ ! -e /proc/$1 ]] || grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
    ended() { ! kill -0 "$ferrettaPid" 2>/dev/null; }
    searchAlpha() {
        focusMain
        typeWords alpha
        xdotool key alt+f
    }
    checkClean() {
        notesBack || fail "$1: a.txt is not the user's file: $(head -c 80 "$docs/a.txt" 2>&1)"
        [[ "$(ls -A "$docs" | tr '\n' ' ')" == "a.pdf a.txt " ]] || fail "$1: something was left: $(ls -A "$docs")"
        workEmpty || fail "$1: a work folder was left: $(ls -A "$home/work")"
        echo "$1: a.txt untouched, nothing left"
    }
    for signal in TERM HUP INT QUIT KILL; do
        configure running
        startFerretta
        searchAlpha
        waitFor 10 test -f "$workDir/sleeper" || fail "SIG$signal: the filter did not start"
        notesBack || fail "SIG$signal: a.txt was touched while the filter runs"
        sleeper=$(cat "$workDir/sleeper")
        kill "-$signal" "$ferrettaPid"
        waitFor 10 ended || fail "SIG$signal while the filter runs: the window did not end"
        wait "$ferrettaPid" 2>/dev/null
        ferrettaPid=""
        waitFor 3 processEnded "$sleeper" || fail "SIG$signal: the filter's child is still running"
        if [[ $signal == KILL ]]; then
            workEmpty && fail "SIGKILL: no work folder was left to clear away"
            touch -d '2 minutes ago' "$home"/work/run-*
            startFerretta # the next start clears the dead run's folder away
            waitFor 5 workEmpty || fail "SIGKILL: the next start did not clear the work folder away"
            stopProcess "$ferrettaPid"
            ferrettaPid=""
        fi
        checkClean "SIG$signal while the filter runs"
    done
    configure reading
    startFerretta
    searchAlpha
    waitFor 20 test -f "$workDir/written" || fail "the filter did not write its text"
    kill -TERM "$ferrettaPid"
    waitFor 10 ended || fail "SIGTERM while reading: the window did not end"
    ferrettaPid=""
    checkClean "SIGTERM while the text is read"

    configure running
    chmod 444 "$home/frtta.ini"
    cp "$home/frtta.ini" "$workDir/settings.before"
    startFerretta
    focusMain
    xdotool key ctrl+k
    waitFor 5 isNormal || fail "Ctrl+K did not open the normal form"
    openFileMenu || fail "a click on ﾌｧｲﾙ opened no menu"
    xdotool key --clearmodifiers x
    waitFor 10 hasMessageBox || fail "no message about the settings that could not be saved"
    focusOn "$(messageBox)"
    xdotool key Return
    waitFor 10 ended || fail "the window did not end after the message"
    ferrettaPid=""
    cmp -s "$home/frtta.ini" "$workDir/settings.before" || fail "the read-only settings file was changed"
}
