# Steps of window_use_check.sh about what is searched and what is done with the hits; sourced,
# not run.
# shellcheck shell=bash disable=SC2317,SC2016,SC2034,SC2154

# A folder of the step (folder) with a text file holding each word given, and settings that
# search it for text files.
textFolder() {
    folder=$workDir/folder
    mkdir -p "$folder"
    local word
    for word in "$@"; do echo "$word" >"$folder/$word.txt"; done
    printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'textTags=TXT' \
        >"$workDir/home/frtta.ini"
}
# The words typed into the compact form's box and Enter; the search ends in the normal form.
searchFor() {
    waitFor 10 isCompact || fail "ferretta is not in its compact form"
    focusMain
    typeWords "$1"
    xdotool key Return
    waitFor 15 isNormal || fail "the search of \"$1\" did not end in the normal form"
}
iniValue() { iconv -f CP932 -t UTF-8 "$workDir/home/frtta.ini" | tr -d '\r' | sed -n "s/^$1=//p"; }

# What was typed is what is searched: after "alpha beta", "alpha" typed key by key after F9 and
# Enter search "alpha" alone, nothing of the history filled in behind the user's back.
word_boxStep() {
    textFolder alpha beta
    startFerretta
    searchFor "alpha beta"
    xdotool key F9
    waitFor 5 isCompact || fail "F9 did not bring the compact form back"
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 60 alpha
    xdotool key Return
    waitFor 15 isNormal || fail "the second search did not end in the normal form"
    endFerretta
    [[ "$(iniValue keyword0)" == alpha ]] || fail "typing \"alpha\" searched \"$(iniValue keyword0)\""
}

# Ctrl+S proposes 検索結果_YYYYMMDD_HHMM.csv; a name typed without an extension is saved with
# ".csv"; the next Ctrl+S proposes the name again and its folder is kept as SaveFolder.
save_nameStep() {
    textFolder ferretta
    mkdir -p "$workDir/lists"
    startFerretta
    searchFor ferretta
    saveDialog() { windowNamed '検索結果の保存'; }
    # The name box of the dialog (it has the focus) read through the selection.
    nameIs() {
        xdotool key --clearmodifiers ctrl+a
        [[ "$(xclip -o -selection primary 2>/dev/null)" =~ $1 ]]
    }
    local proposed='^(.*/)?検索結果_[0-9]{8}_[0-9]{4}\.csv$'
    xdotool key --clearmodifiers ctrl+s
    waitFor 10 eval '[[ -n "$(saveDialog)" ]]' || fail "Ctrl+S opened no save dialog"
    waitFor 5 nameIs "$proposed" ||
        fail "the dialog proposes \"$(xclip -o -selection primary 2>/dev/null)\", not 検索結果_YYYYMMDD_HHMM.csv"
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
    [[ "$(iniValue SaveFolder)" == "$workDir/lists"* ]] ||
        fail "the folder of the last save was not kept: $(iniValue SaveFolder)"
}

# The desktop's default editor (a stand-in mousepad, named by a stand-in xdg-mime) opens a CP932
# file at the hit of 違う in 「見積書の合計が違う」: the Shift_JIS encoding, line 2 and the column
# as mousepad counts (7 characters before the hit), not the list's byte column (15).
editor_columnStep() {
    textFolder
    printf '見積書\r\n見積書の合計が違う\r\n' | iconv -f UTF-8 -t CP932 >"$folder/mitsumori.txt"
    mkdir -p "$workDir/bin"
    printf '#!/bin/sh\n[ "$*" = "query default text/plain" ] && echo org.xfce.mousepad.desktop\n' \
        >"$workDir/bin/xdg-mime"
    cat >"$workDir/bin/mousepad" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >"$workDir/args.tmp" && mv "$workDir/args.tmp" "$workDir/args.txt"
EOF
    chmod +x "$workDir/bin/xdg-mime" "$workDir/bin/mousepad"
    # No Editor key: the setting's default, the desktop's editor.
    PATH=$workDir/bin:$PATH startFerretta
    searchFor "違う"
    xdotool key Return # the first hit is selected and the list has the focus
    waitFor 10 test -s "$workDir/args.txt" || fail "Enter on the hit started no editor"
    local args expected="--encoding=SHIFT_JIS --line 2 --column 7 $folder/mitsumori.txt "
    args=$(tr '\n' ' ' <"$workDir/args.txt")
    [[ "$args" == "$expected" ]] || fail "the editor was given \"$args\", not \"$expected\""
}

# Hidden entries and files holding a NUL are left out (the hits saved with Ctrl+S) until Alt+H
# in the options takes them in; ﾌｧｲﾙ > 終了 writes AllFiles=1.
hidden_filesStep() {
    textFolder
    mkdir -p "$folder/.config"
    echo needle >"$folder/visible.txt"
    echo needle >"$folder/.hidden.txt"
    echo needle >"$folder/.config/settings.txt"
    printf 'x\0y\nneedle\n' >"$folder/image.txt"
    hitFiles() { awk -F'"' '{print $2}' <<<"$savedHits" | sort | tr '\n' ' '; }
    startFerretta
    searchFor needle
    saveHits
    [[ "$(hitFiles)" == "visible.txt " ]] || fail "hidden or binary files were searched: $(hitFiles)"
    openOptions
    xdotool key --clearmodifiers alt+h alt+o
    waitFor 5 noWindow 'Ferrettaの設定' || fail "Alt+O did not close the options"
    focusMain
    xdotool key F9 # the compact form, the word box focused
    searchFor needle
    saveHits
    [[ "$(hitFiles)" == ".hidden.txt image.txt settings.txt visible.txt " ]] ||
        fail "with the box ticked the search found $(hitFiles)"
    endFerretta
    [[ "$(iniValue AllFiles)" == 1 ]] || fail "AllFiles=1 was not written"
}
# Ctrl+O from the main window, and the options focused.
openOptions() {
    focusMain
    xdotool key --clearmodifiers ctrl+o
    waitFor 5 hasWindow 'Ferrettaの設定' || fail "Ctrl+O did not open the options"
    focusOn "$(windowNamed 'Ferrettaの設定')"
}

# A folder holding a FIFO and a 20 GB sparse text file that is read through: Esc, pressed well
# into the big file, brings "中断ボタンが押されました" within 0.5 s (times FERRETTA_WAIT_SCALE/3)
# in one of three tries; after Enter the caption is Ferretta again.
stop_readingStep() {
    textFolder
    mkfifo "$folder/pipe.txt"
    python3 - "$folder/big.txt" <<'EOF'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b"".join(b"line %06d of text\n" % i for i in range(5000)))
    step, size = 15 << 20, 20 << 30
    for offset in range(step, size, step):
        f.seek(offset)
        f.write(b"\nmore text\n")
    f.truncate(size)
EOF
    # The caption shows the progress (no status bar); binary files are read too.
    printf '%s\r\n' 'AllFiles=1' '[Form]' 'StatusBar=0' >>"$workDir/home/frtta.ini"
    caption() { xdotool getwindowname "$mainWindow" 2>/dev/null; }
    # Well into the big file: past the first few hundred megabytes that a worker reads ahead.
    bigRead() {
        local fd
        for fd in /proc/"$ferrettaPid"/fd/*; do
            [[ "$(readlink "$fd" 2>/dev/null)" == "$folder/big.txt" ]] &&
                (($(awk '/^pos:/ {print $2}' "/proc/$ferrettaPid/fdinfo/${fd##*/}" 2>/dev/null) > 400000000)) &&
                return 0
        done
        return 1
    }
    # The message is a second window titled Ferretta (the main one shows the progress).
    stopAnswered() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | grep -vxq "$mainWindow"; }
    now() { date +%s%N; }
    local pressed answered try limit=$((500000000 * ${FERRETTA_WAIT_SCALE:-3} / 3))
    # A stop that is slow by design is slow every time; a loaded machine that delays the
    # watching tools (each look spawns xdotool) only now and then. So the search is stopped up
    # to three times, and one answer within the limit passes.
    for try in 1 2 3; do
        startFerretta
        focusMain
        typeWords needle
        xdotool key Return
        waitFor 20 bigRead || fail "the search did not get far into big.txt (caption: $(caption))"
        # Timed from when the key has been sent (xdotool's own start-up is not ferretta's).
        xdotool key Escape
        pressed=$(now)
        until stopAnswered; do
            (($(now) - pressed < 5000000000)) || fail "Esc was not answered within 5 s"
        done
        answered=$(($(now) - pressed))
        echo "Esc answered after $((answered / 1000000)) ms (try $try)"
        xdotool key Return
        waitFor 2 eval '[[ "$(caption)" == Ferretta ]]' || fail "the search did not end after the message (caption: $(caption))"
        ((answered <= limit)) && return 0
        endFerretta
    done
    fail "Esc took $((answered / 1000000)) ms to answer (limit $((limit / 1000000)) ms) three times"
}
