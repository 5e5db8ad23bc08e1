#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# The preview pane as a person uses it, on a virtual X server with openbox and tint2, every key
# typed with xdotool: words typed and Enter; the hits of a CP932 text file, a PDF page, a Word
# document, an Excel sheet and a PowerPoint slide (OpenDocument files read without the office,
# which is never started) selected with Home and F3; for each, Tab into the pane, Ctrl+A,
# Ctrl+C, and the pane's text read from the clipboard: the hit's neighbouring lines decoded, the
# sentences around it, the cells around it, the slide's texts. Then 表示 >
# プレビュー(&R) switches the pane off: Tab from the list no longer reaches it, and ﾌｧｲﾙ > 終了
# writes Preview=0. A screenshot of each kind is left in a temporary folder.
#
# Usage: preview_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when a
# tool is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb xclip xprop iconv python3 openbox tint2

makeWorkDir preview
shotDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-preview-shots.XXXXXX")
wmPid="" panelPid=""
trap 'stopProcess "$ferrettaPid"; stopProcess "$panelPid"; stopProcess "$wmPid"; rm -rf "$workDir"' EXIT
shoot() {
    command -v import >/dev/null 2>&1 || return 0
    timeout 10 import -window root "$shotDir/$1.png" 2>/dev/null && echo "screenshot: $shotDir/$1.png"
}

startAndWait 5 hasWindowManager "$workDir/wm.log" openbox || fail "openbox did not start"
wmPid=$startedPid
printf 'panel_items = T\npanel_position = bottom center horizontal\npanel_size = 100%% 30\n' \
    >"$workDir/tint2rc"
tint2 -c "$workDir/tint2rc" >"$workDir/panel.log" 2>&1 &
panelPid=$!

folder=$workDir/docs
mkdir -p "$folder" "$workDir/home"
printf '件名: 見積の件\r\n宛先: 総務部\r\n見積書番号 42\r\n金額: 1200円\r\n以上\r\n' |
    iconv -f UTF-8 -t CP932 >"$folder/memo.txt"
cp "$(dirname "$0")/../../data/pdf/handmade/nested_pages.pdf" "$folder/"
# OpenDocument text, spreadsheet and presentation: the mimetype, an empty manifest and the
# content.
python3 - "$folder" <<'EOF'
import sys, zipfile
def odf(name, mime, body):
    with zipfile.ZipFile(f"{sys.argv[1]}/{name}", "w") as z:
        z.writestr("mimetype", mime)
        z.writestr("META-INF/manifest.xml", '<manifest:manifest '
            'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"/>')
        z.writestr("content.xml", '<office:document-content '
            'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
            'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
            'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"><office:body>'
            + body + '</office:body></office:document-content>')
cell = lambda t: f'<table:table-cell office:value-type="string"><text:p>{t}</text:p></table:table-cell>'
frame = lambda t: f'<draw:frame><draw:text-box><text:p>{t}</text:p></draw:text-box></draw:frame>'
odf("a.odt", "application/vnd.oasis.opendocument.text",
    "<office:text><text:p>一つ目。二つ目の見積。三つ目。</text:p></office:text>")
odf("b.ods", "application/vnd.oasis.opendocument.spreadsheet",
    '<office:spreadsheet><table:table table:name="表1"><table:table-row>' + cell("品名") +
    cell("数") + "</table:table-row><table:table-row>" + cell("見積") + cell("個") +
    "</table:table-row></table:table></office:spreadsheet>")
odf("c.odp", "application/vnd.oasis.opendocument.presentation",
    "<office:presentation><draw:page>" + frame("表紙") + "</draw:page><draw:page>" +
    frame("題") + frame("見積の話") + frame("結び") + "</draw:page></office:presentation>")
EOF
printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'targetFileType2=True' \
    'targetFileType3=True' 'targetFileType13=True' 'targetFileType16=True' 'textTags=TXT' \
    'pdfOwnEngine=1' 'TextCache=0' '[Form]' 'Fixed=1' >"$workDir/home/frtta.ini"

# No office: whatever the window shows of the documents, their own readers read.
(cd "$workDir" && FERRETTA_HOME="$workDir/home" FERRETTA_SOFFICE=/nonexistent/soffice \
    QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 exec "$ferretta" >"$workDir/ferretta.log" 2>&1) &
ferrettaPid=$!
waitFor 10 hasWindow Ferretta || fail "the window titled Ferretta was not mapped within 10 s"
window=$(windowNamed Ferretta)
focusOn "$window"
typeWords '見積 Charlie'
xdotool key --clearmodifiers Return
# The search ends in the normal form with the first hit selected and the list focused.
isNormal() { [[ $(xdotool getwindowgeometry "$window" 2>/dev/null | awk '/Geometry/ {split($2, g, "x"); print g[2]}') -ge 300 ]]; }
waitFor 20 isNormal || fail "the search did not end in the normal window"

# The pane's text, as the user copies it: Tab into the pane, select all, copy, back.
clipboardHolds() { [[ "$(xclip -o -selection clipboard 2>/dev/null)" == *"$1"* ]]; }
paneShows() {
    printf 'nothing' | xclip -selection clipboard
    xdotool key --clearmodifiers Tab ctrl+a ctrl+c shift+Tab
    waitFor 1 clipboardHolds "$1"
}
# The hits arrive in the order the folder is walked: from the first, look at each until the
# kind is found.
expectHit() {
    local kind=$1 text=$2 tries
    xdotool key --clearmodifiers Home
    for tries in 1 2 3 4 5 6 7; do
        if waitFor 2 paneShows "$text"; then
            shoot "$kind"
            return 0
        fi
        xdotool key --clearmodifiers F3
    done
    fail "no hit showed \"$text\" in the pane (the last copy: $(xclip -o -selection clipboard 2>/dev/null))"
}
expectHit text $'2  宛先: 総務部\n3  見積書番号 42\n4  金額: 1200円'
expectHit pdf $'ページ 2\n2  Bravo\n2  Charlie'
expectHit word $'1  一つ目。\n2  二つ目の見積。\n3  三つ目。'
expectHit excel $'表1\n1  A1: 品名 │ B1: 数\n2  ▶A2: 見積 │ B2: 個'
expectHit powerpoint $'スライド 2\n2  題\n2  見積の話\n2  結び'
# Back on a text hit, whose lines the word box never holds.
expectHit text '1  件名: 見積の件'

# 表示 > プレビュー(&R): off; Tab from the list goes on to the word box, not to a pane.
# A popup of the program's own is mapped (the menu opened).
popupOpen() { (($(xdotool search --onlyvisible --pid "$ferrettaPid" 2>/dev/null | wc -l) > 1)); }
xdotool key --clearmodifiers alt+v
waitFor 2 popupOpen || fail "Alt+V did not open 表示"
xdotool key --clearmodifiers r
paneGone() {
    printf 'nothing' | xclip -selection clipboard
    xdotool key --clearmodifiers Tab ctrl+a ctrl+c
    local copied
    copied=$(xclip -o -selection clipboard 2>/dev/null)
    xdotool key --clearmodifiers shift+Tab
    # The word box holds "見積 Charlie"; the pane, the text hit's lines.
    [[ "$copied" != *件名* ]]
}
waitFor 3 paneGone || fail "the pane is still there after 表示 > プレビュー"
shoot off

# ﾌｧｲﾙ > 終了 (opened with the mouse: Alt+F is the search button's key) writes the switch.
xdotool mousemove --window "$window" 20 10 click 1
waitFor 2 popupOpen || fail "a click on ﾌｧｲﾙ did not open it"
xdotool key --clearmodifiers x
ended() { ! kill -0 "$ferrettaPid" 2>/dev/null; }
waitFor 10 ended || fail "ferretta did not end through 終了"
ferrettaPid=""
tr -d '\r' <"$workDir/home/frtta.ini" | grep -qx 'Preview=0' || fail "Preview=0 was not written"
echo "PASS: the pane showed the context of a text, PDF, Word, Excel and PowerPoint hit, and 表示 > プレビュー switched it off"
