#!/usr/bin/env bash
# Functions run through trap or waitFor, which shellcheck cannot follow; the conditions handed
# to it are single-quoted on purpose, to be expanded at each try.
# shellcheck disable=SC2317,SC2016
# A Word hit opened twice with Enter gives one LibreOffice window of the document, brought to
# the front the second time; after ferretta ends (the office stays for the user's document) and
# starts again, the hit opens in that office once more: still one window, and no error. openbox
# with tint2, every key typed with xdotool.
#
# Usage: office_reuse_check.sh /path/to/ferretta
# Exit 0 when it passed, 1 with a message, 77 (skipped) when a tool or LibreOffice is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xwininfo xprop xclip openbox tint2 soffice
makeDesktopWorkDir office-reuse
# The offices of this check (found by its folder in their command line) end with it.
officePids() { grep -l -- "$workDir" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3; }
trap 'stopProcess "$ferrettaPid"; for pid in $(officePids); do kill -KILL "$pid" 2>/dev/null; done
      stopProcess "$panelPid"; stopProcess "$wmPid"; rm -rf "$workDir"' EXIT
startOpenboxDesktop

mkdir -p "$workDir/folder" "$workDir/home"
soffice -env:UserInstallation="file://$workDir/convert" --headless --convert-to docx \
    --outdir "$workDir/folder" "$(dirname "$0")/../../data/office/writer.fodt" >/dev/null 2>&1
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
# Once opened, ferretta again in front and Enter on the same hit: the document comes to the
# front (or, wrongly, a second window appears).
openAgain() {
    # The office may take the focus back once more while it settles: ask again at each try.
    waitFor 5 eval 'focusMain; ! documentInFront' || fail "ferretta could not be brought to the front"
    xdotool key Return
    waitFor 60 eval 'documentInFront || (($(countDocumentWindows) > 1)) || hasMessageBox' ||
        fail "the second opening neither brought the document forward nor opened it"
    hasMessageBox && fail "opening the hit showed a message"
    (($(countDocumentWindows) == 1)) || fail "the document has $(countDocumentWindows) windows"
}

startFerretta
searchAndOpen
waitFor 90 eval '(($(countDocumentWindows) >= 1))' || fail "Enter on the Word hit opened no window"
openAgain
echo "two openings: one window"

endFerretta
(($(countDocumentWindows) == 1)) || fail "the document's window did not stay after ferretta ended"
startFerretta
searchAndOpen
waitFor 60 eval 'documentInFront || (($(countDocumentWindows) > 1)) || hasMessageBox' ||
    fail "after a new start the opening neither brought the document forward nor opened it"
hasMessageBox && fail "after a new start, opening the hit showed a message"
(($(countDocumentWindows) == 1)) || fail "after a new start the document has $(countDocumentWindows) windows"
echo "PASS: one window of the document through two openings and a new start"
exit 0
