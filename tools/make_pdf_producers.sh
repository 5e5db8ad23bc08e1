#!/usr/bin/env bash
# Remakes tests/data/pdf/producers: the same short Japanese and English document written by
# every PDF producer Debian 12 offers (LibreOffice Writer, Impress and Calc with two font
# families, cairo through pango-view and rsvg-convert, Chromium, wkhtmltopdf, MuPDF,
# Ghostscript with predefined CMaps, LuaLaTeX with luatexja, Tesseract's OCR output), and beside
# each NAME.pdf its NAME.pdftotext (`pdftotext -enc UTF-8 NAME.pdf -`, pages ended by form
# feeds), so that the test that compares the engine's text with poppler's needs no poppler.
#
# It installs nothing; a producer whose tool is missing is skipped with a note. The Debian
# packages (only to remake the files; the build and the tests use the committed files):
#   libreoffice-writer libreoffice-impress libreoffice-calc   soffice
#   fonts-ipaexfont fonts-noto-cjk fonts-liberation           the fonts the documents name
#   pango1.0-tools librsvg2-bin                               pango-view, rsvg-convert (cairo)
#   chromium wkhtmltopdf mupdf-tools                          HTML to PDF
#   ghostscript poppler-data                                  ps2pdf and the CMaps
#   texlive-luatex texlive-lang-japanese                      lualatex, luatexja, HaranoAji
#   texlive-latex-recommended                                 xkeyval, which luatexja loads
#   tesseract-ocr tesseract-ocr-jpn                           OCR to a PDF with invisible text
#   poppler-utils qpdf                                        pdftotext, pdfinfo, page counts
#
# Usage: tools/make_pdf_producers.sh [OUTPUT_FOLDER]   (default: tests/data/pdf/producers)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-$here/tests/data/pdf/producers}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Fixed dates and IDs wherever the tools honour them (LuaTeX, Ghostscript with -dOmit*, MuPDF,
# rsvg-convert); LibreOffice, Chromium, wkhtmltopdf, pango-view and Tesseract write the time of
# the run (and LibreOffice a random ID) anyway. The .pdftotext files come out the same.
export SOURCE_DATE_EPOCH=1700000000 FORCE_SOURCE_DATE=1 TZ=UTC LC_ALL=C.UTF-8

for tool in python3 pdftotext pdfinfo qpdf; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (see the package list above)" >&2; exit 1; }
done
mincho=/usr/share/fonts/opentype/ipaexfont-mincho/ipaexm.ttf
[[ -f $mincho ]] || { echo "missing: $mincho (fonts-ipaexfont)" >&2; exit 1; }
mkdir -p "$out"

# ---------------------------------------------------------------------------------------------
# The sources, all from one table of pages: kanji, hiragana, katakana, full-width letters and
# digits, half-width katakana and English on every page.
python3 - "$work" "$mincho" <<'PY'
import sys
from xml.sax.saxutils import escape
work, mincho = sys.argv[1], sys.argv[2]

PAGES = [
    ["全文検索の試験文書です。",
     "東京都千代田区の会議室で打ち合わせをします。",
     "ひらがな、カタカナ、全角のＡＢＣ１２３と半角のｶﾀｶﾅ。",
     "Ferretta keyword search, page Alpha."],
    ["請求書と見積書を株式会社あてに送ります。",
     "データベースは毎朝６時に更新されます。",
     "Invoice number 2024-017 for Bravo Ltd."],
    ["議事録は月曜日までに提出すること。",
     "富士山の写真をテキストに添えました。",
     "Minutes of the Charlie meeting, last page."],
]

def write(name, text, encoding="utf-8"):
    with open(f"{work}/{name}", "w", encoding=encoding) as f:
        f.write(text)

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" '
      'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'office:version="1.3"')

def fonts(ja):
    return ('<office:font-face-decls>'
            f'<style:font-face style:name="JA" svg:font-family="&apos;{ja}&apos;"/>'
            '<style:font-face style:name="EN" svg:font-family="&apos;Liberation Serif&apos;"/>'
            '</office:font-face-decls>')

TEXT_PROPS = ('style:font-name="EN" style:font-name-asian="JA" style:font-name-complex="EN" '
              'fo:font-size="12pt" style:font-size-asian="12pt" fo:language="en" '
              'fo:country="US" style:language-asian="ja" style:country-asian="JP"')

def paragraphs(lines, first_style=None, style=None):
    def p(line, name):
        attr = f' text:style-name="{name}"' if name else ""
        return f"<text:p{attr}>{escape(line)}</text:p>"
    return p(lines[0], first_style or style) + "".join(p(line, style) for line in lines[1:])

for key, ja in (("ipaex", "IPAexMincho"), ("noto", "Noto Serif CJK JP")):
    # Writer: two horizontal pages, then one page of vertical writing (page style tb-rl).
    layout = ('<style:page-layout style:name="%s"><style:page-layout-properties '
              'fo:page-width="148mm" fo:page-height="210mm" fo:margin-top="20mm" '
              'fo:margin-bottom="20mm" fo:margin-left="20mm" fo:margin-right="20mm" '
              'style:writing-mode="%s"/></style:page-layout>')
    write(f"writer_{key}.fodt",
          '<?xml version="1.0" encoding="UTF-8"?>\n'
          f'<office:document {NS} office:mimetype="application/vnd.oasis.opendocument.text">'
          + fonts(ja) +
          '<office:styles><style:default-style style:family="paragraph">'
          f'<style:text-properties {TEXT_PROPS}/></style:default-style></office:styles>'
          '<office:automatic-styles>' + layout % ("H", "lr-tb") + layout % ("V", "tb-rl") +
          '<style:style style:name="Break" style:family="paragraph">'
          '<style:paragraph-properties fo:break-before="page"/></style:style>'
          '<style:style style:name="Vertical" style:family="paragraph" '
          'style:master-page-name="Vertical"/></office:automatic-styles>'
          '<office:master-styles><style:master-page style:name="Standard" '
          'style:page-layout-name="H"/><style:master-page style:name="Vertical" '
          'style:page-layout-name="V"/></office:master-styles>'
          '<office:body><office:text>'
          + paragraphs(PAGES[0]) + paragraphs(PAGES[1], "Break") + paragraphs(PAGES[2], "Vertical")
          + '</office:text></office:body></office:document>\n')

    # Impress: one slide per page, the lines in one text frame.
    slides = "".join(
        f'<draw:page draw:name="slide{n}" draw:master-page-name="Default">'
        '<draw:frame draw:style-name="gr1" svg:x="1cm" svg:y="1cm" svg:width="26cm" '
        f'svg:height="12cm"><draw:text-box>{paragraphs(lines, style="P1")}</draw:text-box></draw:frame>'
        '</draw:page>' for n, lines in enumerate(PAGES, 1))
    write(f"impress_{key}.fodp",
          '<?xml version="1.0" encoding="UTF-8"?>\n'
          f'<office:document {NS} '
          'office:mimetype="application/vnd.oasis.opendocument.presentation">' + fonts(ja) +
          '<office:styles><style:default-style style:family="graphic">'
          f'<style:text-properties {TEXT_PROPS}/></style:default-style></office:styles>'
          '<office:automatic-styles><style:page-layout style:name="PM1">'
          '<style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm" '
          'style:print-orientation="landscape"/></style:page-layout>'
          '<style:style style:name="gr1" style:family="graphic"><style:graphic-properties '
          'draw:stroke="none" draw:fill="none"/>'
          f'<style:text-properties {TEXT_PROPS.replace("12pt", "24pt")}/></style:style>'
          '<style:style style:name="P1" style:family="paragraph">'
          f'<style:text-properties {TEXT_PROPS.replace("12pt", "24pt")}/></style:style>'
          '</office:automatic-styles><office:master-styles><style:master-page '
          'style:name="Default" style:page-layout-name="PM1"/></office:master-styles>'
          f'<office:body><office:presentation>{slides}</office:presentation></office:body>'
          '</office:document>\n')

    # Calc: one sheet per page (each sheet prints on a page of its own), one line per row.
    sheets = "".join(
        f'<table:table table:name="Sheet{n}"><table:table-column table:style-name="co1"/>'
        + "".join('<table:table-row><table:table-cell office:value-type="string">'
                  f'<text:p>{escape(line)}</text:p></table:table-cell></table:table-row>'
                  for line in lines)
        + '</table:table>' for n, lines in enumerate(PAGES, 1))
    write(f"calc_{key}.fods",
          '<?xml version="1.0" encoding="UTF-8"?>\n'
          f'<office:document {NS} '
          'office:mimetype="application/vnd.oasis.opendocument.spreadsheet">' + fonts(ja) +
          '<office:styles><style:default-style style:family="table-cell">'
          f'<style:text-properties {TEXT_PROPS}/></style:default-style></office:styles>'
          '<office:automatic-styles><style:style style:name="co1" '
          'style:family="table-column"><style:table-column-properties '
          'style:column-width="14cm"/></style:style></office:automatic-styles>'
          f'<office:body><office:spreadsheet>{sheets}</office:spreadsheet></office:body>'
          '</office:document>\n')

# HTML, one page each; the last page in vertical writing where the engine is asked to.
def html(font, vertical_last, xhtml=False):
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n<html xmlns="http://www.w3.org/1999/xhtml">'
            if xhtml else '<!DOCTYPE html>\n<html lang="ja">')
    parts = [head, '<head><meta charset="utf-8"/><title>Ferretta</title><style>',
             f'body {{ font-family: "{font}"; font-size: 14pt; }}',
             '.page { page-break-after: always; break-after: page; }',
             '.last { page-break-after: auto; }',
             '.vertical { writing-mode: vertical-rl; -webkit-writing-mode: vertical-rl; '
             'height: 150mm; }',
             '</style></head><body>']
    for n, lines in enumerate(PAGES, 1):
        classes = ["page"] + (["last"] if n == len(PAGES) else [])
        if vertical_last and n == len(PAGES):
            classes.append("vertical")
        parts.append(f'<div class="{" ".join(classes)}">'
                     + "".join(f"<p>{escape(line)}</p>" for line in lines) + "</div>")
    parts.append("</body></html>\n")
    return "\n".join(parts)

write("chromium_noto.html", html("Noto Sans CJK JP", True))
write("chromium_ipaex.html", html("IPAexMincho", True))
write("wkhtmltopdf.html", html("IPAexGothic", False))
# MuPDF embeds a font named by @font-face whole (5 MB for IPAex); without one it falls back
# to its own fonts: a non-embedded "Mincho" for the Japanese, Charis SIL for the rest.
write("mutool.xhtml", html("serif", False, True))

# pango-view and rsvg-convert draw one page: every line of the table on it.
write("pango.txt", "\n".join(line for lines in PAGES for line in lines) + "\n")
svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="480" height="330" viewBox="0 0 480 330">',
       '<rect width="480" height="330" fill="white"/>']
y = 30
for lines in PAGES[:1]:
    for line in lines:
        svg.append(f'<text x="16" y="{y}" font-family="Noto Serif CJK JP" font-size="15">'
                   f'{escape(line)}</text>')
        y += 26
svg.append("</svg>")
write("rsvg.svg", "\n".join(svg) + "\n")

# Tesseract reads what pango-view renders: the first two pages, one image each.
for n, lines in enumerate(PAGES[:2], 1):
    write(f"ocr{n}.txt", "\n".join(lines) + "\n")

# Ghostscript: composite fonts named CIDFont-CMap, the CMap one of Adobe's predefined ones.
# The Shift-JIS document shows the English through the same font (single-byte codes of the
# 90ms-RKSJ CMap), the UTF-8 one through Times-Roman.
def ps_hex(data):
    return "<" + data.hex().upper() + ">"

def postscript(cmap, encoding, english_font):
    ps = ["%!PS-Adobe-3.0", "%%%%Pages: %d" % len(PAGES),
          f"/JA /Ryumin-Light-{cmap} findfont 14 scalefont def",
          f"/EN /{english_font} findfont {'14' if english_font.startswith('Ryumin') else '12'}"
          " scalefont def"]
    for n, lines in enumerate(PAGES, 1):
        ps.append("%%%%Page: %d %d" % (n, n))
        y = 760
        for line in lines:
            font = "EN" if line.isascii() else "JA"
            data = line.encode(encoding)
            ps.append(f"{font} setfont 56 {y} moveto {ps_hex(data)} show")
            y -= 24
        ps.append("showpage")
    return "\n".join(ps) + "\n%%EOF\n"

write("gs_90ms_rksj.ps", postscript("90ms-RKSJ-H", "cp932", "Ryumin-Light-90ms-RKSJ-H"))
write("gs_unijis_utf8.ps", postscript("UniJIS-UTF8-H", "utf-8", "Times-Roman"))

# LuaLaTeX with luatexja (HaranoAji by default), one page per table page.
# A fixed trailer ID: LuaTeX would derive it from the path of the (temporary) output.
tex = ["\\pdfvariable trailerid {[<4645525245545441> <4645525245545441>]}",
       "\\documentclass[a5paper]{ltjsarticle}", "\\begin{document}"]
for n, lines in enumerate(PAGES, 1):
    if n > 1:
        tex.append("\\newpage")
    tex.append("\n\n".join(lines) + "\n")
tex.append("\\end{document}")
write("lualatex.tex", "\n".join(tex) + "\n")
PY

cd "$work"
made=()
have() { command -v "$1" >/dev/null || { echo "skipped (no $1): $2" >&2; return 1; }; }

# ---------------------------------------------------------------------------------------------
# LibreOffice: Writer, Impress and Calc, each once with IPAex Mincho and once with Noto Serif
# CJK JP as the Asian font (Liberation Serif for the Latin text).
if have soffice "LibreOffice"; then
    for key in ipaex noto; do
        for doc in writer_$key.fodt impress_$key.fodp calc_$key.fods; do
            timeout 300 soffice --headless -env:UserInstallation="file://$work/lo-profile" \
                --convert-to pdf --outdir "$work/lo" "$doc" >/dev/null 2>&1
            cp "lo/${doc%.*}.pdf" "lo_${doc%.*}.pdf"
            made+=("lo_${doc%.*}")
        done
    done
fi

# cairo: pango-view (IPAex Gothic) and rsvg-convert (Noto Serif CJK JP, an OpenType CFF font in a
# collection); one page each. cairo's CFF subsets keep much of the font: the SVG is kept short.
if have pango-view "cairo (pango-view)"; then
    pango-view -q --output=cairo_pango.pdf --font="IPAexGothic 11" --margin=24 pango.txt
    made+=(cairo_pango)
fi
if have rsvg-convert "cairo (rsvg-convert)"; then
    rsvg-convert -f pdf -o cairo_rsvg.pdf rsvg.svg
    made+=(cairo_rsvg)
fi

# Chromium's print to PDF (Skia), without the header and footer (they would hold the date).
# With Noto Sans CJK (CFF in a collection) Skia writes Type 3 fonts; with IPAex Mincho
# (TrueType) Type0 fonts. The last page is in vertical writing.
if have chromium "Chromium"; then
    for key in noto ipaex; do
        timeout 180 chromium --headless --no-sandbox --disable-gpu \
            --user-data-dir="$work/chrome" --no-pdf-header-footer --print-to-pdf-no-header \
            --print-to-pdf="$work/chromium_$key.pdf" "file://$work/chromium_$key.html" \
            >/dev/null 2>&1
        made+=("chromium_$key")
    done
fi

# wkhtmltopdf (Qt WebKit's PDF writer), without a display.
if have wkhtmltopdf "wkhtmltopdf"; then
    QT_QPA_PLATFORM=offscreen timeout 180 wkhtmltopdf -q --page-size A5 \
        --enable-local-file-access wkhtmltopdf.html wkhtmltopdf.pdf >/dev/null 2>&1 || true
    [[ -s wkhtmltopdf.pdf ]] && made+=(wkhtmltopdf)
fi

# MuPDF's own HTML layout with its fallback fonts.
if have mutool "MuPDF"; then
    mutool convert -F pdf -O compress -o mutool_html.pdf mutool.xhtml >/dev/null 2>&1
    made+=(mutool_html)
fi

# Ghostscript: the CIDFont "IPAexMincho" (ordering Japan1, from the IPAex TrueType font) shown
# through the predefined CMaps 90ms-RKSJ-H and UniJIS-UTF8-H.
if have ps2pdf "Ghostscript"; then
    cat >cidfmap <<EOF
/IPAexMincho << /FileType /TrueType /Path ($mincho) /SubfontID 0 /CSI [(Japan1) 6] >> ;
/Ryumin-Light /IPAexMincho ;
EOF
    gsopts=(-I"$work" --permit-file-read="$(dirname "$mincho")/" -dOmitInfoDate -dOmitID
        -dOmitXMP)
    for doc in gs_90ms_rksj gs_unijis_utf8; do
        ps2pdf "${gsopts[@]}" "$doc.ps" "$doc.pdf"
        made+=("$doc")
    done
fi

# LuaLaTeX with luatexja: HaranoAji (OpenType CFF) for Japanese, Latin Modern for English.
if have lualatex "LuaLaTeX"; then
    if kpsewhich ltjsarticle.cls >/dev/null; then
        lualatex -interaction=batchmode -halt-on-error lualatex.tex >/dev/null
        made+=(lualatex)
    else
        echo "skipped (no luatexja): LuaLaTeX" >&2
    fi
fi

# Tesseract: images of two pages drawn by pango-view, read back by OCR; the PDF keeps only the
# invisible text layer (textonly_pdf) so that it stays small.
if have tesseract "Tesseract" && have pango-view "Tesseract"; then
    for n in 1 2; do
        pango-view -q --output="ocr$n.png" --font="IPAexGothic 14" --dpi=300 --margin=40 \
            --pixels "ocr$n.txt" 2>/dev/null ||
            pango-view -q --output="ocr$n.png" --font="IPAexGothic 14" --dpi=300 --margin=40 \
                "ocr$n.txt"
    done
    printf '%s\n' "$work/ocr1.png" "$work/ocr2.png" >ocr.list
    tesseract ocr.list tesseract -l jpn+eng -c textonly_pdf=1 pdf >/dev/null 2>&1
    made+=(tesseract)
fi

# ---------------------------------------------------------------------------------------------
rm -f "$out"/*.pdf "$out"/*.pdftotext
for name in "${made[@]}"; do
    pdftotext -q -enc UTF-8 "$name.pdf" - >"$name.pdftotext"
    cp "$name.pdf" "$name.pdftotext" "$out/"
    printf '%-22s %2s pages %7s bytes %5s chars  %s\n' "$name.pdf" \
        "$(qpdf --show-npages "$name.pdf")" "$(stat -c %s "$name.pdf")" \
        "$(tr -d '[:space:]' <"$name.pdftotext" | wc -m)" \
        "$(pdfinfo "$name.pdf" | sed -n 's/^Producer: *//p')"
done
echo "total: $(du -cb "$out"/*.pdf | tail -n 1 | cut -f1) bytes in $out"
