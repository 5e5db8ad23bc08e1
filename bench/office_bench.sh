#!/bin/bash
# Reading Office files through LibreOffice: Ferretta's automation (one hidden office for the
# whole run, text read in bulk) against the obvious alternative, one
# `soffice --headless --convert-to` per file. Prints documents per second per kind, the ratio,
# and the office's peak memory (the sum of its processes' RSS, sampled) during our run.
#
# Usage: bench/office_bench.sh <build-dir> [files-per-kind=100] [baseline-files-per-kind=10]
# The build dir must hold bench/office_read_bench (target office_read_bench)
# and src/ferretta-cli.
# The documents (ten pages, ten slides, ten sheet pages) are made from generated flat-XML
# templates and converted to .doc/.xls/.ppt once into $TMPDIR/ferretta-office-bench.
# The baseline converts only the first files of each kind (each conversion starts an office,
# about 5 s): doc -> txt, xls -> csv, ppt -> pdf (Impress has no text export).
set -euo pipefail
build="${1:?usage: office_bench.sh <build-dir> [files] [baseline-files]}"
count="${2:-100}"
baselineCount="${3:-10}"
reader="$build/bench/office_read_bench"
command -v soffice >/dev/null || { echo "soffice is missing"; exit 77; }

# OFFICE_BENCH_FORMATS: the Word, Excel and PowerPoint formats to convert to (default .doc
# .xls .ppt; office_native_bench.sh asks for Open XML and OpenDocument ones).
formats="${OFFICE_BENCH_FORMATS:-doc xls ppt}"
read -r wordFormat sheetFormat slideFormat <<<"$formats"
work="${TMPDIR:-/tmp}/ferretta-office-bench"
docs="$work/docs-$count"
[ "$formats" = "doc xls ppt" ] || docs="$docs-$wordFormat-$sheetFormat-$slideFormat"
mkdir -p "$work" "$docs"

if [ ! -f "$docs/.done" ]; then
    python3 - "$work/src" "$count" <<'PY'
import os, sys
out, count = sys.argv[1], int(sys.argv[2])
os.makedirs(out, exist_ok=True)
NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"')
SENT = ["検索対象の文書には様々な文章が含まれています。", "これは性能測定のための文です。",
        "The quick brown fox jumps over the lazy dog. ", "全角ＡＢＣと半角abcが混在します。",
        "報告書の第{n}章では結果を述べる。", "Numbers like {n} appear too. "]
def para(i, k):
    return "".join(SENT[(i + j) % len(SENT)].format(n=i * 7 + j) for j in range(k))
for d in range(count):
    # Writer: about ten pages: 130 paragraphs of some 120 characters, a table, a text frame.
    body = "".join(f"<text:p>{para(d + i, 5)}</text:p>" for i in range(130))
    rows = "".join(f"<table:table-row><table:table-cell><text:p>表{r}</text:p></table:table-cell>"
                   f"<table:table-cell><text:p>{para(r, 1)}</text:p></table:table-cell></table:table-row>"
                   for r in range(20))
    frame = ('<text:p><draw:frame draw:name="F1" text:anchor-type="paragraph" svg:width="6cm" '
             'svg:height="2cm"><draw:text-box><text:p>枠の文章</text:p></draw:text-box></draw:frame></text:p>')
    open(f"{out}/w{d:03}.fodt", "w").write(
        f'<?xml version="1.0" encoding="UTF-8"?><office:document {NS} office:version="1.3" '
        f'office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text>'
        f'{frame}{body}<table:table table:name="T"><table:table-column table:number-columns-repeated="2"/>'
        f'{rows}</table:table></office:text></office:body></office:document>')
    # Calc: ten printed pages: three sheets, 500 rows of six cells in all.
    sheets = ""
    for s in range(3):
        r = "".join("<table:table-row>" + "".join(
            (f'<table:table-cell office:value-type="float" office:value="{row * 6 + c}"><text:p>{row * 6 + c}</text:p></table:table-cell>'
             if c % 2 else f'<table:table-cell office:value-type="string"><text:p>{para(row + c, 1)}</text:p></table:table-cell>')
            for c in range(6)) + "</table:table-row>" for row in range(167))
        sheets += f'<table:table table:name="Sheet{s + 1}">{r}</table:table>'
    open(f"{out}/c{d:03}.fods", "w").write(
        f'<?xml version="1.0" encoding="UTF-8"?><office:document {NS} office:version="1.3" '
        f'office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body>'
        f'<office:spreadsheet>{sheets}</office:spreadsheet></office:body></office:document>')
    # Impress: ten slides: a title, a body of five paragraphs, a group of two boxes.
    slides = ""
    for p in range(10):
        bodyText = "".join(f"<text:p>{para(p + i, 1)}</text:p>" for i in range(5))
        slides += (f'<draw:page draw:name="p{p}" draw:master-page-name="Default">'
                   f'<draw:frame svg:x="1cm" svg:y="1cm" svg:width="20cm" svg:height="2cm"><draw:text-box><text:p>スライド{p + 1}の題</text:p></draw:text-box></draw:frame>'
                   f'<draw:frame svg:x="1cm" svg:y="4cm" svg:width="20cm" svg:height="6cm"><draw:text-box>{bodyText}</draw:text-box></draw:frame>'
                   f'<draw:g><draw:rect svg:x="1cm" svg:y="11cm" svg:width="5cm" svg:height="2cm"><text:p>図{p}</text:p></draw:rect>'
                   f'<draw:rect svg:x="7cm" svg:y="11cm" svg:width="5cm" svg:height="2cm"><text:p>注{p}</text:p></draw:rect></draw:g></draw:page>')
    open(f"{out}/p{d:03}.fodp", "w").write(
        f'<?xml version="1.0" encoding="UTF-8"?><office:document {NS} office:version="1.3" '
        f'office:mimetype="application/vnd.oasis.opendocument.presentation"><office:automatic-styles>'
        f'<style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm"/>'
        f'</style:page-layout></office:automatic-styles><office:master-styles><style:master-page style:name="Default" '
        f'style:page-layout-name="PM1"/></office:master-styles><office:body><office:presentation>{slides}'
        f'</office:presentation></office:body></office:document>')
PY
    profile="file://$work/convert-profile"
    soffice -env:UserInstallation="$profile" --headless --norestore --convert-to "$wordFormat" --outdir "$docs" "$work"/src/w*.fodt >/dev/null 2>&1
    soffice -env:UserInstallation="$profile" --headless --norestore --convert-to "$sheetFormat" --outdir "$docs" "$work"/src/c*.fods >/dev/null 2>&1
    soffice -env:UserInstallation="$profile" --headless --norestore --convert-to "$slideFormat" --outdir "$docs" "$work"/src/p*.fodp >/dev/null 2>&1
    touch "$docs/.done"
fi
# cache_search_bench.sh takes the documents only.
[ -z "${OFFICE_BENCH_DOCUMENTS_ONLY:-}" ] || exit 0
[ -x "$reader" ] || { echo "missing $reader (build target office_read_bench)"; exit 1; }

# Ours, with the office's memory sampled meanwhile.
peakFile="$work/peak"
echo 0 >"$peakFile"
(
    peak=0
    while true; do
        pids=$(pgrep -f 'ferretta_lo_' || true)
        if [ -n "$pids" ]; then
            rss=$(ps -o rss= -p $(echo $pids | tr ' ' ',') 2>/dev/null | awk '{s += $1} END {print s + 0}')
            if [ "$rss" -gt "$peak" ]; then peak=$rss; echo "$peak" >"$peakFile"; fi
        fi
        sleep 0.2
    done
) &
sampler=$!
trap 'kill $sampler 2>/dev/null || true' EXIT
ours=$("$reader" "$docs" "$work/profile" 2>"$work/reader.err" | grep -E '^(word|excel|powerpoint) ')
# The whole search as a user runs it: ferretta-cli over the folder, one kind at a time (the
# office is started once per run and its start is counted).
cli="$build/src/ferretta-cli"
search() {  # kind type extension
    local start end
    start=$(date +%s.%N)
    FERRETTA_HOME="$work/cli-home" "$cli" --types="$2" "$docs" 'ferrettaneedle' >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$1 $(find "$docs" -maxdepth 1 -name "*.$3" | wc -l) $(echo "$end - $start" | bc)"
}
mkdir -p "$work/cli-home"
searched=$(search word word doc; search excel excel xls; search powerpoint powerpoint ppt)
kill $sampler 2>/dev/null || true
peakKb=$(cat "$peakFile")

# The alternative, on the first files of each kind.
baseline() {  # kind extension target
    local files=("$docs"/*."$2")
    files=("${files[@]:0:$baselineCount}")
    local out="$work/converted"
    rm -rf "$out"; mkdir -p "$out"
    local start end
    start=$(date +%s.%N)
    for f in "${files[@]}"; do
        soffice -env:UserInstallation="file://$work/convert-profile" --headless --norestore \
            --convert-to "$3" --outdir "$out" "$f" >/dev/null 2>&1
    done
    end=$(date +%s.%N)
    echo "$1 ${#files[@]} $(echo "$end - $start" | bc)"
}
theirs=$(baseline word doc txt; baseline excel xls csv; baseline powerpoint ppt pdf)

printf '%-11s %6s %12s %14s %12s %7s\n' kind files "read doc/s" "search doc/s" "convert/s" ratio
while read -r kind files seconds _; do
    read -r _ bfiles bseconds < <(grep "^$kind " <<<"$theirs")
    read -r _ sfiles sseconds < <(grep "^$kind " <<<"$searched")
    awk -v k="$kind" -v f="$files" -v s="$seconds" -v bf="$bfiles" -v bs="$bseconds" \
        -v sf="$sfiles" -v ss="$sseconds" 'BEGIN {
        o = f / s; c = sf / ss; t = bf / bs
        printf "%-11s %6d %12.2f %14.2f %12.2f %6.1fx\n", k, f, o, c, t, c / t }'
done <<<"$ours"
echo "(ratio: ferretta-cli's search against one soffice --convert-to per file)"
echo "office peak RSS during our run: $((peakKb / 1024)) MiB"
