#!/usr/bin/env bash
# Remakes the corpus of real PDFs in tests/data/pdf/corpus: a few documents written by Debian's
# own tools (upLaTeX + dvipdfmx, Ghostscript's ps2pdf, LibreOffice), rewritten by qpdf and
# mutool, and for each PDF a NAME.expected file with lines PAGE<TAB>WORD.
#
# The documents are generated here from one table of pages (below), so the words each page
# must yield are known beforehand; every expected word is then checked with pdftotext: it must
# be on its page and on no other, or the script fails. So a wrong page number is caught, and
# a word that poppler cannot read never becomes an expectation.
#
# It installs nothing. The Debian packages it needs (only to remake the corpus; the build and
# the tests use the committed files):
#   texlive-lang-japanese texlive-latex-base   uplatex, dvipdfmx, the HaranoAji fonts
#   ghostscript fonts-ipaexfont                ps2pdf and a TrueType font for the CIDFont
#   poppler-data                               UniJIS-UTF16-H, to write CIDs in PostScript
#   poppler-utils qpdf mupdf-tools             pdftotext, the rewrites
#   libreoffice-writer-nogui                   the LibreOffice export (skipped when missing)
#
# Usage: tools/make_pdf_corpus.sh [OUTPUT_FOLDER]   (default: tests/data/pdf/corpus)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-$here/tests/data/pdf/corpus}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Fixed dates and IDs wherever the tools allow, so that a rerun gives the same files.
export SOURCE_DATE_EPOCH=1700000000 FORCE_SOURCE_DATE=1 TZ=UTC LC_ALL=C.UTF-8

for tool in uplatex dvipdfmx ps2pdf qpdf mutool pdftotext python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (see the package list above)" >&2; exit 1; }
done
unijis=/usr/share/poppler/cMap/Adobe-Japan1/UniJIS-UTF16-H
mincho=/usr/share/fonts/opentype/ipaexfont-mincho/ipaexm.ttf
for file in "$unijis" "$mincho"; do
    [[ -f $file ]] || { echo "missing: $file (see the package list above)" >&2; exit 1; }
done
mkdir -p "$out"

# ---------------------------------------------------------------------------------------------
# The sources: one table of pages gives the TeX file, the PostScript files, the HTML for
# LibreOffice and the words each page must yield (ja.words, en.words: PAGE<TAB>WORD).
python3 - "$work" "$unijis" <<'PY'
import re, sys
work, unijis = sys.argv[1], sys.argv[2]

# Japanese documents: per page, Japanese lines, ASCII lines and the words to find. The filler
# stands for body text (it makes the streams realistic in size) and holds none of the words.
JA = [
    (["全文検索の試験文書です。", "東京都千代田区の会議室で打ち合わせをします。", "ファイルを開いてください。"],
     ["Ferretta keyword Alpha"], ["全文検索", "東京都", "会議室", "ファイル", "Ferretta", "keyword", "Alpha"]),
    (["請求書と見積書を株式会社あてに送ります。", "データは毎朝更新されます。"],
     ["Invoice number Bravo"], ["請求書", "見積書", "株式会社", "データ", "Invoice", "Bravo"]),
    (["議事録は月曜日までに提出すること。", "富士山の写真をテキストに添えた。"],
     ["Minutes Charlie"], ["議事録", "月曜日", "富士山", "テキスト", "Minutes", "Charlie"]),
    (["大阪府へ新幹線で向かう。", "漢字とひらがなとカタカナ。"],
     ["Delta route"], ["大阪府", "新幹線", "ひらがな", "カタカナ", "Delta"]),
    (["北海道の図書館で本を借りた。", "最後のページです。"],
     ["Echo last"], ["北海道", "図書館", "最後", "Echo"]),
]
FILLER = "これは文書の本文を模した段落であり、語の並びに特別な意味はありません。" * 6

# English documents: per page, runs of (font, text) per line; a line's runs are shown one
# after another, so a word may be split across fonts ("light" + "house").
EN = [
    ([[("Times-Roman", "Ferretta searches PDF files page by page.")],
      [("Helvetica", "Mount Kilimanjaro rises above the plain.")]],
     ["Ferretta", "Kilimanjaro", "searches"]),
    ([[("Times-Roman", "The light"), ("Helvetica-Bold", "house stands by the harbour.")],
      [("Courier", "(parenthesised) text and a back\\slash")]],
     ["lighthouse", "harbour", "parenthesised", "slash"]),
    ([[("Times-Italic", "A thunderstorm over Zanzibar.")],
      [("Times-Roman", "Page three ends the document.")]],
     ["thunderstorm", "Zanzibar", "document"]),
]

def write(name, text):
    with open(f"{work}/{name}", "w", encoding="utf-8") as f:
        f.write(text)

# Unicode -> Adobe-Japan1 CID through Adobe's standard CMap UniJIS-UTF16-H (the same CIDs
# a font's default glyphs have; BMP characters only).
cid = {}
for line in open(unijis, encoding="latin-1"):
    m = re.match(r"<([0-9a-f]{4})> <([0-9a-f]{4})> (\d+)\s*$", line)
    if m:
        for i in range(int(m.group(2), 16) - int(m.group(1), 16) + 1):
            cid[chr(int(m.group(1), 16) + i)] = int(m.group(3)) + i
        continue
    m = re.match(r"<([0-9a-f]{4})> (\d+)\s*$", line)
    if m:
        cid[chr(int(m.group(1), 16))] = int(m.group(2))

def cids(text):
    return "<" + "".join("%04X" % cid[c] for c in text) + ">"

# upLaTeX source.
pages = []
for ja, ascii_lines, _ in JA:
    body = "\n\n".join(ja + ascii_lines)
    pages.append(body + "\n\n" + FILLER + "\n")
write("ja.tex", "\\documentclass[uplatex,dvipdfmx,a5paper]{jsarticle}\n\\begin{document}\n"
      + "\\newpage\n".join(pages) + "\\end{document}\n")

# PostScript with a CIDFont: the strings are Adobe-Japan1 CIDs shown through Identity-H.
ps = ["%!PS-Adobe-3.0", "%%Pages: %d" % len(JA),
      "/JA /IPAexMincho-Identity-H /Identity-H /CMap findresource",
      "    [/IPAexMincho /CIDFont findresource] composefont 14 scalefont def",
      "/EN /Times-Roman findfont 12 scalefont def"]
for number, (ja, ascii_lines, _) in enumerate(JA, 1):
    ps.append("%%%%Page: %d %d" % (number, number))
    y = 760
    for line in ja:
        ps.append("JA setfont 56 %d moveto %s show" % (y, cids(line)))
        y -= 24
    for line in ascii_lines:
        ps.append("EN setfont 56 %d moveto (%s) show" % (y, line))
        y -= 24
    ps.append("showpage")
write("ja.ps", "\n".join(ps) + "\n%%EOF\n")

# The same Japanese text through the JIS CMap /H (the strings are JIS codes, not CIDs).
jis = ["%!PS-Adobe-3.0", "/Ryumin-Light-H findfont 14 scalefont setfont"]
for number, (ja, _, _) in enumerate(JA[:1], 1):
    y = 760
    for line in ja:
        codes = "".join("%02X%02X" % (b[0] - 0x80, b[1] - 0x80) for b in
                        (c.encode("euc_jp") for c in line))
        jis.append("56 %d moveto <%s> show" % (y, codes))
        y -= 24
    jis.append("showpage")
write("ja_jis.ps", "\n".join(jis) + "\n%%EOF\n")

# English PostScript with the standard single-byte Type 1 fonts.
ps = ["%!PS-Adobe-3.0", "%%Pages: %d" % len(EN)]
def ps_string(text):
    return "(" + text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"
for number, (lines, _) in enumerate(EN, 1):
    ps.append("%%%%Page: %d %d" % (number, number))
    y = 740
    for runs in lines:
        ps.append("72 %d moveto" % y)
        for font, text in runs:
            ps.append("/%s findfont 13 scalefont setfont %s show" % (font, ps_string(text)))
        y -= 22
    ps.append("showpage")
write("en.ps", "\n".join(ps) + "\n%%EOF\n")

# HTML for LibreOffice Writer: the Japanese pages again, one page each.
html = ['<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>']
for number, (ja, ascii_lines, _) in enumerate(JA[:3], 1):
    style = ' style="page-break-before: always"' if number > 1 else ""
    html.append("<p%s>%s</p>" % (style, "<br>".join(ja + ascii_lines)))
html.append("</body></html>")
write("lo_writer.html", "\n".join(html) + "\n")

write("ja.words", "".join("%d\t%s\n" % (n, w) for n, (_, _, ws) in enumerate(JA, 1) for w in ws))
write("en.words", "".join("%d\t%s\n" % (n, w) for n, (_, ws) in enumerate(EN, 1) for w in ws))
write("ja_jis.words", "".join("1\t%s\n" % w for w in JA[0][2] if not w.isascii()))
write("lo_writer.words", "".join("%d\t%s\n" % (n, w) for n, (_, _, ws) in enumerate(JA[:3], 1)
                                 for w in ws))
PY

# ---------------------------------------------------------------------------------------------
# The base documents.
cd "$work"

# upLaTeX + dvipdfmx with the HaranoAji fonts (OpenType, CID-keyed Adobe-Japan1): dvipdfmx
# writes the Japanese text as 2-byte CIDs in hex strings, the English in Type 1 fonts with
# single bytes. The map is chosen per run; the TeX installation is not changed.
uplatex -interaction=batchmode -halt-on-error ja.tex >/dev/null
dvipdfmx -q -f uptex-haranoaji.map -o tex_ja.pdf ja.dvi

# Ghostscript: a CIDFont "IPAexMincho" of ordering Japan1 taken from the IPAex TrueType font.
cat >cidfmap <<EOF
/IPAexMincho << /FileType /TrueType /Path ($mincho) /SubfontID 0 /CSI [(Japan1) 6] >> ;
/Ryumin-Light /IPAexMincho ;
EOF
gsopts=(-I"$work" --permit-file-read="$(dirname "$mincho")/" -dOmitInfoDate -dOmitID -dOmitXMP)
ps2pdf "${gsopts[@]}" ja.ps gs_ja.pdf
ps2pdf "${gsopts[@]}" ja_jis.ps gs_ja_jis.pdf
ps2pdf "${gsopts[@]}" en.ps gs_en.pdf

# ---------------------------------------------------------------------------------------------
# Rewrites. Ghostscript's TrueType subset keeps the font's per-glyph tables whole (about 60 KB
# compressed, 250 KB plain), so the rewrites of gs_ja keep every stream compressed.
qpdfopts=(--deterministic-id)
rewrite_qpdf() {  # base suffix options...
    local base=$1 suffix=$2
    shift 2
    qpdf "${qpdfopts[@]}" "$@" "$base.pdf" "${base}_$suffix.pdf"
}
for base in tex_ja gs_en; do
    rewrite_qpdf "$base" objstm --object-streams=generate
    rewrite_qpdf "$base" noobjstm --object-streams=disable
    rewrite_qpdf "$base" uncompressed --compress-streams=n --decode-level=generalized \
        --object-streams=disable
    rewrite_qpdf "$base" qdf --qdf --object-streams=disable
    rewrite_qpdf "$base" linearized --linearize
    mutool clean -d "$base.pdf" "${base}_mutool_d.pdf"
    mutool clean -z "${base}_uncompressed.pdf" "${base}_mutool_z.pdf"
done
rewrite_qpdf gs_ja objstm --object-streams=generate
rewrite_qpdf gs_ja linearized --linearize
# Ghostscript writes the 2-byte CIDs as literal strings of raw bytes; qpdf's and MuPDF's
# content rewriting turn them into hex strings, the form this engine reads as CIDs.
rewrite_qpdf gs_ja normalized --normalize-content=y
mutool clean -c -z -ggg gs_ja.pdf gs_ja_mutool_cz.pdf   # content streams rewritten by MuPDF

# LibreOffice's export: its fonts are TrueType subsets addressed by glyph number, readable only
# through their /ToUnicode maps.
if command -v soffice >/dev/null; then
    soffice --headless --convert-to pdf:writer_pdf_Export --outdir "$work" lo_writer.html \
        >/dev/null 2>&1
fi

# ---------------------------------------------------------------------------------------------
# Expectations, checked with pdftotext: each word on its page and on no other.
expect() {  # pdf words-file
    local pdf=$1 words=$2 pages page word other
    pages=$(qpdf --show-npages "$pdf")
    : >"${pdf%.pdf}.expected"
    while IFS=$'\t' read -r page word; do
        for ((other = 1; other <= pages; other++)); do
            if pdftotext -q -layout -f "$other" -l "$other" "$pdf" - | grep -qF -- "$word"; then
                [[ $other == "$page" ]] && continue
                echo "$pdf: '$word' also on page $other" >&2
                exit 1
            elif [[ $other == "$page" ]]; then
                echo "$pdf: pdftotext does not find '$word' on page $page" >&2
                exit 1
            fi
        done
        printf '%s\t%s\n' "$page" "$word" >>"${pdf%.pdf}.expected"
    done <"$words"
}

rm -f "$out"/*.pdf "$out"/*.expected
for pdf in tex_ja*.pdf gs_ja.pdf gs_ja_*.pdf gs_en*.pdf lo_writer.pdf; do
    [[ -f $pdf ]] || continue
    case $pdf in
        gs_ja_jis.pdf) expect "$pdf" ja_jis.words ;;  # JIS codes through the /H CMap
        lo_writer.pdf) expect "$pdf" lo_writer.words ;;  # glyph numbers through /ToUnicode
        tex_ja* | gs_ja*) expect "$pdf" ja.words ;;
        gs_en*) expect "$pdf" en.words ;;
    esac
    cp "$pdf" "${pdf%.pdf}.expected" "$out/"
    printf '%-28s %3s pages %7s bytes  %s\n' "$pdf" "$(qpdf --show-npages "$pdf")" \
        "$(stat -c %s "$pdf")" "$(pdfinfo "$pdf" | sed -n 's/^Producer: *//p')"
done
echo "total: $(du -cb "$out"/*.pdf | tail -n 1 | cut -f1) bytes in $out"
