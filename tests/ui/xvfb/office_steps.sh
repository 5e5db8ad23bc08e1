# Steps of window_use_check.sh with documents: opened in their own program, shown in the preview
# pane; sourced, not run.
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

# Words typed and Enter; the hits of a CP932 text file, a PDF page, a Word document, an Excel
# sheet, a PowerPoint slide (OpenDocument files read without the office, which is never
# started) and a mail of a Maildir inbox selected with Home and F3; for each, Tab into the preview pane, Ctrl+A, Ctrl+C and
# the pane's text read from the clipboard. Then 表示 > プレビュー(&R) switches the pane off: Tab
# from the list no longer reaches it, and ﾌｧｲﾙ > 終了 writes Preview=0.
previewStep() {
    local folder=$workDir/docs
    mkdir -p "$folder"
    printf '件名: 見積の件\r\n宛先: 総務部\r\n見積書番号 42\r\n金額: 1200円\r\n以上\r\n' |
        iconv -f UTF-8 -t CP932 >"$folder/memo.txt"
    cp "$here/../../data/pdf/handmade/nested_pages.pdf" "$folder/"
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
    # One mail in a Maildir inbox, its hit in the second line of its body.
    mkdir -p "$workDir/Maildir/cur" "$workDir/Maildir/new" "$workDir/Maildir/tmp"
    printf '%s\n' 'From: 山田 <yamada@example.jp>' 'Subject: ご案内' \
        'Content-Type: text/plain; charset=UTF-8' '' 'お世話になります。' '見積をお送りします。' \
        'よろしく。' >"$workDir/Maildir/cur/1.eml:2,S"
    printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'targetFileType2=True' \
        'targetFileType3=True' 'targetFileType5=True' 'targetFileType13=True' \
        'targetFileType16=True' 'textTags=TXT' 'pdfOwnEngine=1' 'TextCache=0' '[Form]' 'Fixed=1' \
        '[Outlook]' "Inbox=$workDir/Maildir" >"$workDir/home/frtta.ini"
    # No office: whatever the window shows of the documents, their own readers read.
    FERRETTA_SOFFICE=/nonexistent/soffice startFerretta
    searchFor '見積 Charlie'
    clipboardHolds() { [[ "$(xclip -o -selection clipboard 2>/dev/null)" == *"$1"* ]]; }
    # The pane's text, as the user copies it: Tab into the pane, select all, copy, back.
    paneShows() {
        printf 'nothing' | xclip -selection clipboard
        xdotool key --clearmodifiers Tab ctrl+a ctrl+c shift+Tab
        waitFor 1 clipboardHolds "$1"
    }
    # The hits arrive in the order the folder is walked: from the first, each until the kind.
    expectHit() {
        local tries
        xdotool key --clearmodifiers Home
        for tries in 1 2 3 4 5 6 7 8 9; do
            if waitFor 2 paneShows "$2"; then
                shoot "preview-$1"
                return 0
            fi
            xdotool key --clearmodifiers F3
        done
        fail "no hit showed \"$2\" in the pane (the last copy: $(xclip -o -selection clipboard 2>/dev/null))"
    }
    expectHit text $'2  宛先: 総務部\n3  見積書番号 42\n4  金額: 1200円'
    expectHit pdf $'ページ 2\n2  Bravo\n2  Charlie'
    expectHit word $'1  一つ目。\n2  二つ目の見積。\n3  三つ目。'
    expectHit excel $'表1\n1  A1: 品名 │ B1: 数\n2  ▶A2: 見積 │ B2: 個'
    expectHit powerpoint $'スライド 2\n2  題\n2  見積の話\n2  結び'
    expectHit mail $'送信者(SenderName)  山田\n1  お世話になります。\n2  見積をお送りします。\n3  よろしく。'
    # Back on a text hit, whose lines the word box never holds.
    expectHit text '1  件名: 見積の件'
    opensMenu xdotool key --clearmodifiers alt+v || fail "Alt+V did not open 表示"
    xdotool key --clearmodifiers r
    # Tab from the list: the word box ("見積 Charlie"), not the pane (the text hit's lines).
    paneGone() {
        printf 'nothing' | xclip -selection clipboard
        xdotool key --clearmodifiers Tab ctrl+a ctrl+c
        local copied
        copied=$(xclip -o -selection clipboard 2>/dev/null)
        xdotool key --clearmodifiers shift+Tab
        [[ "$copied" != *件名* ]]
    }
    waitFor 3 paneGone || fail "the pane is still there after 表示 > プレビュー"
    endFerretta
    [[ "$(iniValue Preview)" == 0 ]] || fail "Preview=0 was not written"
}
