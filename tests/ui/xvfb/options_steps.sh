# Steps of window_use_check.sh through the options by keys: the document cache, the mail's
# place; sourced, not run.
# shellcheck shell=bash disable=SC2317,SC2016,SC2034,SC2154

# A word typed and searched (Alt+F) keeps the folder's PDF in the document cache; Ctrl+O, Alt+Y
# empties the cache at once, Alt+U and Alt+O switch it off, and ﾌｧｲﾙ > 終了 writes TextCache=0.
cache_optionsStep() {
    mkdir -p "$workDir/docs"
    cp "$here/../../data/pdf/corpus/gs_en_uncompressed.pdf" "$workDir/docs/"
    printf '[Search]\r\nDir0=%s\r\ntargetFileType1=False\r\ntargetFileType13=True\r\npdfOwnEngine=1\r\n' \
        "$workDir/docs" >"$workDir/home/frtta.ini"
    cached() {
        [[ $(python3 -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute("select count(*) from documents").fetchone()[0])' \
            "$workDir/cache/ferretta/cache.db" 2>/dev/null) == "$1" ]]
    }
    XDG_CACHE_HOME=$workDir/cache startFerretta
    focusMain
    typeWords Kilimanjaro
    xdotool key --clearmodifiers alt+f
    waitFor 10 cached 1 || fail "the PDF searched was not kept in the cache"
    waitFor 20 isNormal || fail "the search did not end in the normal form"
    openOptions
    xdotool key --clearmodifiers alt+y
    waitFor 5 cached 0 || fail "Alt+Y did not empty the cache"
    xdotool key --clearmodifiers alt+u alt+o
    waitFor 5 noWindow 'Ferrettaの設定' || fail "Alt+O did not close the options"
    endFerretta
    [[ "$(iniValue TextCache)" == 0 ]] || fail "the cache was not switched off"
}

# With the mail switched on and its place left automatic (an empty home), Ctrl+K, Ctrl+O, three
# Ctrl+Tab to Office検索, Alt+L, then in "Outlook項目の場所" Alt+M and an mbox's path typed,
# Enter, Alt+O; F9, "山田" typed, Alt+F; Enter on the first hit and on the third hand the first
# and the second mail (as .eml, without the mbox's From line) to a stand-in xdg-open; ﾌｧｲﾙ >
# 終了 removes the copies and keeps Inbox= in the settings.
outlookStep() {
    mkdir -p "$workDir/user" "$workDir/bin" "$workDir/shown"
    cp "$here/../../data/pim/Inbox" "$workDir/Inbox"
    printf '[Search]\r\nDir=%s\r\ntargetFileType1=False\r\ntargetFileType5=True\r\n' "$workDir" \
        >"$workDir/home/frtta.ini"
    cat >"$workDir/bin/xdg-open" <<EOF
#!/bin/sh
n=\$(ls "$workDir/shown" | wc -l)
cp "\$1" "$workDir/shown/.copy" && mv "$workDir/shown/.copy" "$workDir/shown/\$n.eml"
EOF
    chmod +x "$workDir/bin/xdg-open"
    shown() { (($(find "$workDir/shown" -name '*.eml' | wc -l) >= $1)); }
    PATH=$workDir/bin:$PATH HOME=$workDir/user startFerretta
    waitFor 10 isCompact || fail "ferretta did not start in its compact form"
    focusMain
    xdotool key --clearmodifiers ctrl+k
    waitFor 5 isNormal || fail "Ctrl+K did not bring the normal form"
    openOptions
    xdotool key --clearmodifiers ctrl+Tab ctrl+Tab ctrl+Tab alt+l
    waitFor 5 hasWindow 'Outlook項目の場所' || fail "場所(&L) did not open the places dialog"
    focusOn "$(windowNamed 'Outlook項目の場所')"
    xdotool key --clearmodifiers alt+m ctrl+a
    xdotool type --delay 10 "$workDir/Inbox"
    xdotool key --clearmodifiers Return
    waitFor 5 noWindow 'Outlook項目の場所' || fail "the places dialog did not close on Enter"
    focusOn "$(windowNamed 'Ferrettaの設定')"
    xdotool key --clearmodifiers alt+o
    waitFor 5 noWindow 'Ferrettaの設定' || fail "the options did not close on Alt+O"
    focusMain
    xdotool key --clearmodifiers F9
    waitFor 5 isCompact || fail "F9 did not bring the compact form"
    typeWords '山田'
    xdotool key --clearmodifiers alt+f
    waitFor 10 isNormal || fail "the search did not end in the normal form (no hits?)"
    grep -q 'Inbox=' "$workDir/home/frtta.ini" && fail "the settings were written before the exit"
    focusMain
    xdotool key --clearmodifiers Return
    waitFor 10 shown 1 || fail "Enter on the first hit handed nothing to the viewer"
    grep -q '^Message-ID: <fixture-1@example.jp>' "$workDir/shown/0.eml" ||
        fail "the first hit did not show its message: $(head -c 300 "$workDir/shown/0.eml")"
    grep -q '^From - ' "$workDir/shown/0.eml" && fail "the copy kept the mbox's From line"
    xdotool key --clearmodifiers Down Down Return
    waitFor 10 shown 2 || fail "Enter on the third hit handed nothing to the viewer"
    grep -q '^Message-ID: <fixture-2@example.jp>' "$workDir/shown/1.eml" ||
        fail "the third hit did not show the second mail: $(grep -h '^Message-ID' "$workDir/shown/1.eml")"
    local copies
    copies=$(find "$workDir/home/opened" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [[ -n "$copies" ]] || fail "no folder of copies in the data folder"
    endFerretta
    [[ ! -e "$copies" ]] || fail "the copies handed to the viewer are still in $copies"
    [[ "$(iniValue Inbox)" == "$workDir/Inbox" ]] || fail "the settings do not keep the inbox's place"
}
