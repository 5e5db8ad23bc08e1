#!/usr/bin/env bash
# Pages per second of ferretta-cli's own PDF engine against pdftotext on the same PDFs, in the
# same run, and the peak RSS of each.
#
#   bench/pdf_bench.sh [--runs N] [--copies N] [--repeat N] [--query WORD]
#
# Environment:
#   FERRETTA_CLI   a ferretta-cli to use instead of building build/release/src/ferretta-cli
#
# Needs pdftotext and pdfinfo (poppler-utils), qpdf, hyperfine, GNU time (time), python3,
# cmake and ninja; installs nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
source_corpus=$root/tests/data/pdf/corpus
data=$here/data/pdf
runs=5
copies=20  # copies of every corpus file in the "many files" case
repeat=250 # copies of a document concatenated into one file in the "large files" case
query=検索

die() {
    echo "pdf_bench: $*" >&2
    exit 2
}

while (($#)); do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --copies) copies=${2:?--copies needs a number}; shift 2 ;;
        --repeat) repeat=${2:?--repeat needs a number}; shift 2 ;;
        --query) query=${2:?--query needs a word}; shift 2 ;;
        -h | --help) sed -n '2,11s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) die "unknown argument '$1' (try --help)" ;;
    esac
done
for number in "$runs" "$copies" "$repeat"; do
    [[ $number =~ ^[1-9][0-9]*$ ]] || die "not a positive number: '$number'"
done

# --- tools -------------------------------------------------------------------------------------
missing=()
for tool in pdftotext:poppler-utils pdfinfo:poppler-utils qpdf:qpdf hyperfine:hyperfine \
    python3:python3; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
[[ -x /usr/bin/time ]] || missing+=(time)
if [[ -z ${FERRETTA_CLI:-} ]]; then
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
fi
if ((${#missing[@]})); then
    echo "pdf_bench: missing tools; install them with" >&2
    echo "    sudo apt-get install $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')" >&2
    exit 2
fi

# --- ferretta-cli ------------------------------------------------------------------------------
if [[ -n ${FERRETTA_CLI:-} ]]; then
    cli=$(realpath "$FERRETTA_CLI")
    [[ -x $cli ]] || die "FERRETTA_CLI=$FERRETTA_CLI is not an executable"
    echo "using FERRETTA_CLI=$cli (not building)"
else
    echo "building ferretta-cli (release preset) ..."
    (
        cd "$root"
        [[ -f build/release/CMakeCache.txt ]] || cmake --preset release >/dev/null
        cmake --build --preset release --target ferretta-cli
    ) >"${TMPDIR:-/tmp}/ferretta_pdf_bench_build.log" 2>&1 ||
        die "release build failed; see ${TMPDIR:-/tmp}/ferretta_pdf_bench_build.log"
    cli=$root/build/release/src/ferretta-cli
    [[ -x $cli ]] || die "the build did not produce $cli"
fi
# The engine reads its CID table from beside the executable.
cli_dir=$(dirname "$cli")
if [[ ! -f $cli_dir/AdobeCID.dat && ! -f $cli_dir/../share/ferretta/AdobeCID.dat ]]; then
    cp "$root/resources/AdobeCID.dat" "$cli_dir/" || die "cannot put AdobeCID.dat beside $cli"
fi

# --- the bench corpus --------------------------------------------------------------------------
# many/: every corpus file, $copies times. large/: a few documents concatenated $repeat times
# each, so that per-process start-up does not dominate. encrypted/: the files of large/,
# protected for the empty password with AES-256 (what most protected PDFs use today). Rebuilt
# when the parameters change.
stamp=$data/stamp
want="copies=$copies repeat=$repeat $(cat "$source_corpus"/*.pdf | md5sum | cut -d' ' -f1)"
if [[ ! -f $stamp || $(cat "$stamp") != "$want" ]]; then
    echo "making the bench corpus in $data ..."
    rm -rf "$data"
    mkdir -p "$data/many" "$data/large" "$data/encrypted"
    for pdf in "$source_corpus"/*.pdf; do
        name=$(basename "$pdf" .pdf)
        for ((k = 1; k <= copies; k++)); do
            cp "$pdf" "$data/many/$name-$(printf %03d "$k").pdf"
        done
    done
    for name in tex_ja tex_ja_objstm gs_ja_normalized gs_en; do
        pages=()
        for ((k = 0; k < repeat; k++)); do pages+=("$source_corpus/$name.pdf"); done
        qpdf --empty --pages "${pages[@]}" -- "$data/large/$name-x$repeat.pdf"
        qpdf --encrypt "" owner 256 -- "$data/large/$name-x$repeat.pdf" \
            "$data/encrypted/$name-x$repeat.pdf"
    done
    echo "$want" >"$stamp"
fi

count_pages() {  # folder -> total pages of its PDFs (none for one that needs a password)
    local total=0 pdf pages
    for pdf in "$1"/*.pdf; do
        pages=$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p')
        total=$((total + ${pages:-0}))
    done
    echo "$total"
}

# --- timing ------------------------------------------------------------------------------------
results=$here/results
mkdir -p "$results"
run_id=pdf_$(date +%Y%m%d-%H%M%S)
summary=$results/$run_id.txt
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; query '$query'" | tee "$summary"

median() {  # hyperfine-json index -> median seconds
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"
}

declare -A seconds
for case in many large encrypted; do
    folder=$data/$case
    files=$(find "$folder" -name '*.pdf' | wc -l)
    pages=$(count_pages "$folder")
    ferretta_cmd="'$cli' --pdf-engine --no-cache --types=pdf --no-subfolders '$folder' '$query'"
    # pdftotext is started once per file, the way the filter front end uses it.
    poppler_cmd="for f in '$folder'/*.pdf; do pdftotext -q \"\$f\" -; done"
    json=$results/${run_id}_$case.json
    hyperfine -i --style basic --warmup 1 --runs "$runs" --shell=bash --export-json "$json" \
        -n ferretta "$ferretta_cmd" -n pdftotext "$poppler_cmd" >"$results/${run_id}_$case.log" 2>&1 ||
        die "hyperfine failed; see $results/${run_id}_$case.log"
    t_ferretta=$(median "$json" 0)
    t_poppler=$(median "$json" 1)
    seconds[$case]=$t_ferretta

    rss_ferretta=$(/usr/bin/time -f %M bash -c "$ferretta_cmd >/dev/null 2>&1" 2>&1 >/dev/null | tail -n 1)
    rss_poppler=$(/usr/bin/time -f %M bash -c "$poppler_cmd >/dev/null 2>&1" 2>&1 >/dev/null | tail -n 1)
    hits=$(bash -c "$ferretta_cmd" 2>/dev/null | grep -c ',"[0-9][0-9]*"$' || true)

    python3 - "$case" "$files" "$pages" "$t_ferretta" "$t_poppler" "$rss_ferretta" "$rss_poppler" \
        "$hits" <<'PY' | tee -a "$summary"
import sys
case, files, pages = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
tf, tp, rf, rp, hits = float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7]), int(sys.argv[8])
print(f"\n{case}: {files} files, {pages} pages (median of the timed runs, after a warm-up)")
print(f"  ferretta-cli --pdf-engine  {tf:8.3f} s  {pages / tf:10.0f} pages/s  peak RSS {rf / 1024:6.1f} MB  ({hits} page hits)")
print(f"  pdftotext (per file)       {tp:8.3f} s  {pages / tp:10.0f} pages/s  peak RSS {rp / 1024:6.1f} MB")
ratio = tp / tf
target = 5 if case == "many" else 10
print(f"  ratio {ratio:.1f}x  (target >= {target}x pdftotext's pages per second: {'met' if ratio >= target else 'NOT met'})")
PY
done
python3 - "${seconds[large]}" "${seconds[encrypted]}" <<'PY' | tee -a "$summary"
import sys
plain, encrypted = float(sys.argv[1]), float(sys.argv[2])
cost = (encrypted / plain - 1) * 100
print(f"\nencryption: the encrypted copies take {cost:+.1f} % of the plain files' time "
      f"(target at most +20 %: {'met' if cost <= 20 else 'NOT met'})")
PY
echo
echo "hyperfine logs and JSON: $results/${run_id}_*"
