# The first step of window_use_check.sh, a whole session; sourced, not run.
# shellcheck shell=bash disable=SC2317,SC2016,SC2034,SC2154

# The frame has arrived and the whole window, frame included, lies in the work area.
insideWorkArea() {
    isMainVisible || return 1
    readGeometry
    [[ -n "${frameTop:-}" ]] && ((frameTop > 0)) || return 1
    ((X - frameLeft >= areaX && Y - frameTop >= areaY &&
        X + WIDTH + frameRight <= areaX + areaWidth && Y + HEIGHT + frameBottom <= areaY + areaHeight))
}
placement() {
    echo "${WIDTH}x${HEIGHT} at ${X},${Y}, frame ${frameLeft:-?} ${frameRight:-?} ${frameTop:-?} ${frameBottom:-?} (work area ${areaWidth}x${areaHeight} at ${areaX},${areaY})"
}
expectCompactOnScreen() {
    waitFor 10 eval 'isCompact && insideWorkArea' || fail "$1: the compact window $(placement)"
    echo "$1: compact $(placement)"
}
isMainHidden() { ! isMainVisible; }

# Start-up placement, the mode toggle, a Japanese word and Enter, Ctrl+S, ﾌｧｲﾙ pointed at with
# the summary kept, F9, an ASCII word, Enter and a double-click on hits starting the editor at
# line and column, a long search stopped with Esc, the tray and back, and the tray menu's
# 終了(&X) with the settings written once.
sessionStep() {
    local folder=$workDir/folder
    mkdir -p "$folder/pdf"
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
    stepCleanup() { stopProcess "$watchPid"; }
    waitFor 5 grep -q 'Watches established' "$workDir/watch.log" || fail "inotifywait did not start"

    # --- start-up: the compact form, placed with its frame above the panel
    startFerretta
    expectCompactOnScreen "start-up"
    shoot 1-compact
    local compactWidth=$WIDTH compactHeight=$HEIGHT
    # The mode toggle, the right-most control of the row: the normal form, and back.
    xdotool mousemove --window "$mainWindow" $((compactWidth - 14)) $((compactHeight / 2)) click 1
    waitFor 5 isNormal || fail "the toggle button did not open the normal form"
    waitFor 5 insideWorkArea || fail "the normal form is not inside the work area: $(placement)"
    xdotool mousemove --window "$mainWindow" $((WIDTH - 14)) 40 click 1 # below the menu bar
    expectCompactOnScreen "toggled back"

    # --- a Japanese word, Enter: the search ends in the normal form; Ctrl+S saves its hits
    focusMain
    typeWords "議事録"
    xdotool key Return
    waitFor 15 isNormal || fail "Enter in the word box started no search (still ${WIDTH}x${HEIGHT})"
    waitFor 5 insideWorkArea || fail "the normal form is not inside the work area after the search: $(placement)"
    saveHits
    { grep -q '^"kaigi.txt","会議の議事録",".*kaigi.txt","1,7"' <<<"$savedHits" &&
        grep -q '^"メモ.txt","3月の議事録です",' <<<"$savedHits"; } ||
        fail "the saved hits are not those of 議事録: $savedHits"
    echo "Japanese word: $(wc -l <<<"$savedHits") hits saved"

    # --- ﾌｧｲﾙ opened and its entries pointed at: the status bar keeps the summary
    readGeometry
    statusStrip() {
        import -window root -crop "$((WIDTH / 2))x14+$((X + 4))+$((Y + HEIGHT - 18))" \
            "$workDir/$1.png" 2>/dev/null
    }
    statusChanged() {
        statusStrip during
        ! cmp -s <(convert "$workDir/before.png" rgb:-) <(convert "$workDir/during.png" rgb:-)
    }
    statusStrip before || fail "the status bar could not be captured"
    (($(identify -format '%k' "$workDir/before.png") > 4)) || fail "the status bar shows no summary"
    openFileMenu 22 || fail "a click on ﾌｧｲﾙ opened no menu"
    for offset in 30 50 70; do xdotool mousemove --window "$mainWindow" 40 "$offset"; done
    # The pointed entry would report its tip at once: the summary must stay for a while.
    waitFor 1 statusChanged && fail "the status bar changed while the menu was open"
    shoot 2-normal-menu
    xdotool key Escape

    # --- F9: compact, focus in the word box; an ASCII word; Enter and a double-click on hits
    xdotool key F9
    expectCompactOnScreen "F9"
    typeWords "ferretta"
    xdotool key Return
    waitFor 15 isNormal || fail "the ASCII search did not end in the normal form"
    editorArgs() { tr '\n' ' ' <"$workDir/args.txt" 2>/dev/null; }
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
    slowCalls() { { wc -l <"$workDir/slow.log"; } 2>/dev/null || echo 0; }
    waitFor 15 eval '(($(slowCalls) >= 3))' || fail "the long search did not start"
    xdotool key Escape
    waitFor 5 isNormal || fail "Esc did not stop the long search within 5 s"
    local calls
    calls=$(slowCalls)
    ((calls < 100)) || fail "the search went on after Esc ($calls of 150 files)"
    echo "Esc stopped the long search after $calls of 150 PDF files"

    # --- to the tray and back by a click; to the tray again and out through its menu. The icon
    # is wherever the panel draws it (an embedded window, or a status item the panel paints
    # itself): found as what changed in the right end of the panel.
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
        opensMenu xdotool key --clearmodifiers alt+v || fail "Alt+V opened no menu"
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
    # A click that came before the icon took clicks is tried again.
    local before try
    before=$(menuWindowCount)
    for try in 1 2 3; do
        xdotool mousemove "$iconX" "$iconY" click 3
        waitFor 1 eval '(($(menuWindowCount) > before))' && break
    done
    (($(menuWindowCount) > before)) || fail "a right click on the icon opened no menu"
    xdotool key Up Return
    waitFor 10 eval '! kill -0 "$ferrettaPid" 2>/dev/null' ||
        fail "the tray menu's 終了(&X) did not end the program"
    wait "$ferrettaPid"
    local status=$?
    ferrettaPid=""
    ((status == 0)) || fail "ferretta ended with status $status"
    local writes ini
    writes=$(grep -c ' frtta.ini$' "$workDir/writes.log")
    ((writes == 1)) || fail "the settings were written $writes times: $(cat "$workDir/writes.log")"
    ini=$(iconv -f CP932 -t UTF-8 "$workDir/home/frtta.ini")
    { grep -q '^keyword0=ferretta' <<<"$ini" && grep -q '^keyword1=議事録' <<<"$ini"; } ||
        fail "the settings do not hold the words searched: $ini"
}
