#!/bin/bash
# The hits of ferretta-cli over the Office corpus of tools/make_office_corpus.py must be byte
# for byte the same whether Open XML and OpenDocument files are read directly (the native
# readers, the office only for what they leave) or by LibreOffice alone (--office-native=off):
# for a set of queries, in both Word modes, without the document cache.
#
# Usage: office_native_hits_check.sh <ferretta-cli> <source-dir> [corpus-folder]
# Without a corpus folder the corpus is made. Exits 77 (skipped) without soffice, without a
# producer of the corpus, or with an empty one.
set -euo pipefail
cli="${1:?usage: office_native_hits_check.sh <ferretta-cli> <source-dir>}"
source="${2:?usage: office_native_hits_check.sh <ferretta-cli> <source-dir>}"
command -v soffice >/dev/null || { echo "soffice is missing"; exit 77; }
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan_office.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Under the sanitizers, no leak check at exit here: with the office's bridge threads still winding
# down, the leak checker's own tracer can crash (about one run in eight on a loaded machine), and
# that is not what this check is about. Memory errors are still caught; the office path's leaks
# are the install check's and the office driver tests'.
[ -z "${ASAN_OPTIONS:-}" ] || export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
# Debian's python3 first: the one apt gave python-docx and openpyxl (another python3 may come
# first on PATH without them).
python=$(command -v /usr/bin/python3 python3 | sed -n 1p)
[ -n "$python" ] || { echo "python3 is missing"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus="${3:-$work/corpus}"
if [ -z "${3:-}" ]; then
    status=0
    "$python" "$source/tools/make_office_corpus.py" "$corpus" || status=$?
    [ "$status" -ne 77 ] || { echo "a producer of the corpus is missing"; exit 77; }
    [ "$status" -eq 0 ] || { echo "make_office_corpus.py failed ($status)"; exit 1; }
fi
documents=$(find "$corpus" -type f | wc -l)
[ "$documents" -gt 0 ] || { echo "the corpus is empty"; exit 77; }

# The programs' data folder, the offices' profiles and the cache stay in the work folder.
export FERRETTA_HOME="$work/home" TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache"
mkdir -p "$FERRETTA_HOME" "$TMPDIR"
failed=0
for wordFast in False True; do
    printf '[Office]\nWordFast=%s\n' "$wordFast" >"$work/frtta.ini"
    # Any of several words (Japanese, full-width, ASCII in another case, digits), all of two,
    # and a word of one character.
    for query in '表 テキスト FERRETTA ＡＢＣ 12 検索' '&& 検索 文書' 'の'; do
        for reading in on off; do
            code=0
            "$cli" --settings="$work/frtta.ini" --no-cache --office-native="$reading" \
                --types=word,excel,powerpoint "$corpus" "$query" \
                >"$work/$reading.out" 2>"$work/$reading.err" || code=$?
            # The summary's time differs from run to run: everything else must not.
            sed -i 's/([0-9.]*秒)//' "$work/$reading.err"
            echo "exit $code" >>"$work/$reading.err"
        done
        # Both runs hand the documents the native readers leave (named -office- by the corpus
        # maker) to the office, whose order of inline text boxes can vary with its layout's
        # timing on a loaded machine: their hits are not compared, their count in the summary is.
        for out in on off; do
            grep -v -e '-office-' -e '-office\.' "$work/$out.out" >"$work/$out.native" || true
        done
        if ! cmp -s "$work/on.native" "$work/off.native" || ! cmp -s "$work/on.err" "$work/off.err"; then
            echo "different hits for '$query' (WordFast=$wordFast):"
            diff "$work/off.native" "$work/on.native" | head -40 || true
            diff "$work/off.err" "$work/on.err" | head -10 || true
            failed=1
        fi
    done
done
[ "$failed" -eq 0 ] && echo "same hits over $documents documents"
exit "$failed"
