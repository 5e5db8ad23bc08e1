#!/bin/bash
# The document cache's targets in one run.
#
# 1. A mixed folder of Word/Excel/PowerPoint documents and PDFs searched with ferretta-cli three
#    times: without the document cache (every document read, as before the cache), the first
#    search with an emptied cache (everything read and stored; the program ends only when the
#    store is written) and the second search (everything from the cache). Prints the three
#    times, first/without (target at most 1.10) and the second's time (target under 1 s), and
#    checks that the three searches list the same hits.
# 2. cache_bench over generated extracted text (1 GB by default): a three-character word through
#    the trigram index (target under 200 ms) and the cache's size on disk against the text
#    (target at most 1.5x).
#
# Usage: bench/cache_search_bench.sh <build-dir> [office-files-per-kind=100] [pdfs=1000]
#                                    [word=検索] [index-text-mb=1024]
# The build dir must hold src/ferretta-cli and bench/cache_bench (index-text-mb 0 skips the
# second part). The Office documents are office_bench.sh's (made through LibreOffice once into
# $TMPDIR/ferretta-office-bench); the PDFs are copies of the PDF test corpus
# (tests/data/pdf/corpus). The caches live in the work folder, not the user's. The machine's
# load is printed before and after: timings taken while others compile are noisy.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=$(realpath "${1:?usage: cache_search_bench.sh <build-dir> [office-per-kind] [pdfs] [word] [index-mb]}")
perKind="${2:-100}"
pdfs="${3:-1000}"
word="${4:-検索}"
indexMb="${5:-1024}"
cli="$build/src/ferretta-cli"
indexBench="$build/bench/cache_bench"
[ -x "$cli" ] || { echo "missing $cli (build target ferretta-cli)"; exit 1; }
[ "$indexMb" = 0 ] || [ -x "$indexBench" ] || { echo "missing $indexBench (build target cache_bench)"; exit 1; }
command -v soffice >/dev/null || { echo "soffice is missing"; exit 77; }

work="${TMPDIR:-/tmp}/ferretta-cache-bench"
mixed="$work/mixed-$perKind-$pdfs"
if [ ! -f "$mixed/.done" ]; then
    OFFICE_BENCH_DOCUMENTS_ONLY=1 "$here/office_bench.sh" "$build" "$perKind"
    rm -rf "$mixed"
    mkdir -p "$mixed/office" "$mixed/pdf"
    cp "${TMPDIR:-/tmp}/ferretta-office-bench/docs-$perKind"/*.{doc,xls,ppt} "$mixed/office/"
    corpus=("$root"/tests/data/pdf/corpus/*.pdf)
    for ((i = 0; i < pdfs; i++)); do
        cp "${corpus[i % ${#corpus[@]}]}" "$mixed/pdf/$(printf %04d "$i").pdf"
    done
    touch "$mixed/.done"
fi
offices=$(find "$mixed/office" -type f | wc -l)

export FERRETTA_HOME="$work/home" XDG_CACHE_HOME="$work/xdg-cache"
mkdir -p "$FERRETTA_HOME"
# The engine reads its CID table from beside the program.
[ -f "$(dirname "$cli")/AdobeCID.dat" ] || cp "$root/resources/AdobeCID.dat" "$(dirname "$cli")/"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
run() {  # label, options...
    local label=$1 start end
    shift
    start=$(date +%s.%N)
    "$cli" "$@" --types=pdf,word,excel,powerpoint --pdf-engine "$mixed" "$word" \
        >"$work/$label.out" 2>"$work/$label.err"
    end=$(date +%s.%N)
    echo "$label $(echo "$end - $start" | bc) $(tail -n 1 "$work/$label.err")"
}
without=$(run without --no-cache)
first=$(run first --rebuild-cache)
second=$(run second)
for label in first second; do
    cmp -s "$work/without.out" "$work/$label.out" ||
        echo "MISMATCH: the $label search's hits differ from the search without the cache"
done

echo "$offices Office documents, $pdfs PDFs, word $word, $(wc -l <"$work/without.out") hits"
for line in "$without" "$first" "$second"; do
    read -r label seconds summary <<<"$line"
    printf '%-8s %8.2f s   %s\n' "$label" "$seconds" "$summary"
done
read -r _ base _ <<<"$without"
read -r _ cold _ <<<"$first"
read -r _ warm _ <<<"$second"
awk -v b="$base" -v c="$cold" -v w="$warm" 'BEGIN {
    printf "first/without %.3f (target at most 1.10), second %.2f s (target under 1 s), without/second %.1fx\n",
        c / b, w, b / w }'
du -sh "$XDG_CACHE_HOME/ferretta" | awk '{print "cache of the mixed folder on disk: " $1}'

if [ "$indexMb" != 0 ]; then
    echo "--- index over $indexMb MB of extracted text"
    rm -rf "$work/index"
    "$indexBench" --size-mb "$indexMb" --folder "$work/index"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
