# Steps of window_use_check.sh with the documents' own programs; sourced, not run.
# shellcheck shell=bash disable=SC2317,SC2016,SC2034,SC2154

# A Word hit opened twice leaves one LibreOffice window of the document; after ferretta ends and
# starts again, opening it once more brings that window forward, without a second window or a
# message. Left out without soffice.
office_reuseStep() {
    stepNeeds soffice || return 0
    # The offices of this step (found by its folder in their command line) end with it.
    officePids() { grep -l -- "$workDir" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3; }
    stepCleanup() { for pid in $(officePids); do kill -KILL "$pid" 2>/dev/null; done; }
    mkdir -p "$workDir/folder"
    soffice -env:UserInstallation="file://$workDir/convert" --headless --convert-to docx \
        --outdir "$workDir/folder" "$here/../../data/office/writer.fodt" >/dev/null 2>&1
    [[ -s "$workDir/folder/writer.docx" ]] || fail "soffice could not make writer.docx"
    printf '%s\r\n' '[Search]' "Dir0=$workDir/folder" 'targetFileType2=True' 'TextCache=0' \
        >"$workDir/home/frtta.ini"
    documentWindows() { xdotool search --onlyvisible --name 'writer\.docx' 2>/dev/null; }
    countDocumentWindows() { documentWindows | wc -l; }
    documentInFront() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$(documentWindows | head -n 1)" ]]; }
    searchAndOpen() {
        waitFor 10 isCompact || fail "ferretta is not in its compact form"
        focusMain
        typeWords "フェレッタ"
        xdotool key Return
        waitFor 60 isNormal || fail "the search did not end in the normal form"
        xdotool key Return # the first hit is selected and the list has the focus
    }
    # The document in front, or (wrongly) a second window or a message.
    expectOneWindowInFront() {
        waitFor 60 eval 'documentInFront || (($(countDocumentWindows) > 1)) || hasMessageBox' ||
            fail "$1: the opening neither brought the document forward nor opened it"
        hasMessageBox && fail "$1: opening the hit showed a message"
        (($(countDocumentWindows) == 1)) || fail "$1: the document has $(countDocumentWindows) windows"
    }
    startFerretta
    searchAndOpen
    waitFor 90 eval '(($(countDocumentWindows) >= 1))' || fail "Enter on the Word hit opened no window"
    # The office may take the focus back once more while it settles: ask again at each try.
    waitFor 5 eval 'focusMain; ! documentInFront' || fail "ferretta could not be brought to the front"
    xdotool key Return
    expectOneWindowInFront "the second opening"
    endFerretta
    (($(countDocumentWindows) == 1)) || fail "the document's window did not stay after ferretta ended"
    startFerretta
    searchAndOpen
    expectOneWindowInFront "after a new start"
}
