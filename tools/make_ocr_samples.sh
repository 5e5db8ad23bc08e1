#!/usr/bin/env bash
# Remakes the OCR sample in tests/data/pdf/corpus: a page of Japanese text rendered to an image
# and read back by Tesseract into a PDF with an invisible text layer (what scanners and OCR
# tools write over a scanned page), with its NAME.expected of PAGE<TAB>WORD lines. Words that
# OCR split with blanks ("カタ カナ") must be found whole; "-<TAB>WORD" lines are words across
# the gap between two columns of the page's table, which must not be found.
#
# Every expected word is checked against the text layer (pdftotext's text without blanks), so
# a Tesseract that reads the image differently fails the script instead of the test.
#
# Packages (only to remake the file): tesseract-ocr tesseract-ocr-jpn pango1.0-tools
# fonts-ipaexfont-gothic poppler-utils
#
# Usage: tools/make_ocr_samples.sh [CORPUS_FOLDER]   (default: tests/data/pdf/corpus)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=$(realpath -m "${1:-$here/tests/data/pdf/corpus}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in tesseract pango-view pdftotext; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (see the package list above)" >&2; exit 1; }
done
tesseract --list-langs 2>/dev/null | grep -qx jpn || { echo "missing: tesseract-ocr-jpn" >&2; exit 1; }

cd "$work"
cat >page.txt <<'EOF'
全文検索のカタカナ語とデータベースを試験します。
ネットワーク管理者はサーバーのログファイルを毎日確認する。
氏名　　　　　　　　住所
山田太郎　　　　　　東京都港区
鈴木花子　　　　　　大阪府大阪市
EOF
pango-view -q --output=page.png --font="IPAexGothic 14" --dpi=300 --margin=40 page.txt
# textonly_pdf: only the text layer, no image (a few KB instead of a few hundred).
tesseract page.png ocr_tesseract -l jpn+eng -c textonly_pdf=1 pdf >/dev/null 2>&1

cat >ocr_tesseract.expected <<'EOF'
1	カタカナ
1	データベース
1	試験します
1	管理者
1	サーバー
1	ログファイル
1	山田太郎
1	鈴木花子
1	東京都港区
1	大阪府大阪市
-	太郎東京
-	花子大阪
EOF
layer=$(pdftotext -q -enc UTF-8 ocr_tesseract.pdf - | tr -d ' \n\f')
while IFS=$'\t' read -r page word; do
    if [[ $page == - ]]; then
        continue
    fi
    [[ $layer == *"$word"* ]] || { echo "Tesseract did not read \"$word\"; the text layer: $layer" >&2; exit 1; }
done <ocr_tesseract.expected
cp ocr_tesseract.pdf ocr_tesseract.expected "$corpus/"
echo "pdftotext reads: $(pdftotext -q -enc UTF-8 ocr_tesseract.pdf - | tr '\n' '|')"
ls -l "$corpus/ocr_tesseract.pdf"
