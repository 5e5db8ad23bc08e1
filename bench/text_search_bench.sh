#!/usr/bin/env bash
# Times ferretta-cli against ripgrep on a generated 100 MB CP932 corpus (rg -E shift_jis) and
# the same kind of text as a 100 MB UTF-8 corpus (plain rg), ripgrep with -n (ferretta reports
# positions), its default threads and -j1, and prints a table of ratios against the targets:
# the planted needles (few hits) and common words of the text (thousands of hits), then the
# peak memory on a 1 GB file of one line and a 1 GB sparse file.
#
#   bench/text_search_bench.sh [--runs N] [--corpus DIR] [--no-memory] [--keep-going]
#
# Environment:
#   FERRETTA_CLI   a ferretta-cli to use instead of building build/release/src/ferretta-cli
#   FERRETTA_OPTS  options given to every ferretta-cli run (default: --text-tags=TXT)
#
# Needs rg, hyperfine, GNU time, python3, cmake and ninja; installs nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
runs=5
corpus="$here/data/corpus"  # the UTF-8 corpus lies beside it: DIR-utf8
memory_case=1
keep_going=0

die() {
    echo "text_search_bench: $*" >&2
    exit 2
}

while (($#)); do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --runs=*) runs=${1#*=}; shift ;;
        --corpus) corpus=${2:?--corpus needs a folder}; shift 2 ;;
        --corpus=*) corpus=${1#*=}; shift ;;
        --no-memory) memory_case=0; shift ;;
        --keep-going) keep_going=1; shift ;;
        -h | --help) sed -n '2,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) die "unknown argument '$1' (try --help)" ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "--runs must be a positive number, not '$runs'"
corpus=$(realpath -m "$corpus")

# --- tools -------------------------------------------------------------------------------------
missing=()
for tool in rg:ripgrep hyperfine:hyperfine python3:python3; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
[[ -x /usr/bin/time ]] || missing+=(time)
if [[ -z ${FERRETTA_CLI:-} ]]; then
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
fi
if ((${#missing[@]})); then
    echo "text_search_bench: missing tools; install them with" >&2
    echo "    sudo apt-get install ${missing[*]}" >&2
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
    ) >"${TMPDIR:-/tmp}/ferretta_bench_build.log" 2>&1 ||
        die "release build failed; see ${TMPDIR:-/tmp}/ferretta_bench_build.log"
    cli=$root/build/release/src/ferretta-cli
    [[ -x $cli ]] || die "the build did not produce $cli"
fi
read -r -a fopts <<<"${FERRETTA_OPTS---text-tags=TXT}"

# --- corpora ----------------------------------------------------------------------------------
corpus8="$corpus-utf8"
python3 "$here/gen_text_corpus.py" "$corpus" --encoding cp932 || die "corpus generation failed"
# UTF-8 takes 3 bytes where CP932 takes 2: 70 MB of CP932 text is about 100 MB of UTF-8.
python3 "$here/gen_text_corpus.py" "$corpus8" --encoding utf-8 --size-mb 70 ||
    die "corpus generation failed"
expected() { # expected CORPUS KEY -> planted line count for that query ("-": none planted)
    if [[ $2 == - ]]; then
        echo -
        return
    fi
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["expected"]["lines"][sys.argv[2]])' \
        "$1.stamp.json" "$2"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/ferretta_bench.XXXXXX")
oneline_dir=
cleanup() {
    rm -rf "$work"
    [[ -z $oneline_dir ]] || rm -rf "$oneline_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

results_dir="$here/results"
mkdir -p "$results_dir"
stamp_time=$(date +%Y%m%d-%H%M%S)
log="$results_dir/text_search_$stamp_time.log"
report="$results_dir/text_search_$stamp_time.txt"
: >"$log"

# hyperfine -N splits its command line itself (POSIX-like words), so quote every argument.
quote_words() {
    local out='' word
    for word in "$@"; do
        out+=" '${word//\'/\'\\\'\'}'"
    done
    printf '%s' "${out# }"
}

# count_run OUT_PREFIX CMD... : runs once untimed; writes OUT_PREFIX.hits, .rss (KB), .err.
# Exit 0 and 1 (no hits) are fine; anything else is a failure of the tool.
count_run() {
    local prefix=$1 status
    shift
    set +e
    /usr/bin/time -f %M -o "$prefix.time" "$@" 2>"$prefix.err" | wc -l >"$prefix.hits"
    status=${PIPESTATUS[0]}
    set -e
    tail -n 1 "$prefix.time" >"$prefix.rss"
    if ((status > 1)); then
        echo "text_search_bench: '$*' failed with exit status $status:" >&2
        head -n 20 "$prefix.err" >&2
        ((keep_going)) || exit 2
        echo "?" >"$prefix.hits"
    fi
}

rows=()
corpus_rss_kb=0
misses=0

# run_case NAME TARGET CORPUS FERRETTA_KEY RG_KEY --f FERRETTA_ARGS... --rg RG_ARGS...
run_case() {
    local name=$1 target=$2 dir=$3 fkey=$4 rkey=$5
    shift 5
    local fargs=() rargs=() into=
    for arg in "$@"; do
        case $arg in
            --f) into=f ;;
            --rg) into=r ;;
            *) if [[ $into == f ]]; then fargs+=("$arg"); else rargs+=("$arg"); fi ;;
        esac
    done
    local tag=${name// /_}
    echo "case '$name' ..."

    count_run "$work/$tag.f" "$cli" "${fopts[@]}" "${fargs[@]}"
    count_run "$work/$tag.r" rg "${rargs[@]}"

    local fcmd rcmd r1cmd
    fcmd=$(quote_words "$cli" "${fopts[@]}" "${fargs[@]}")
    rcmd=$(quote_words rg "${rargs[@]}")
    r1cmd=$(quote_words rg -j1 "${rargs[@]}")
    {
        echo "== $name"
        echo "ferretta: $fcmd"
        echo "rg:       $rcmd"
    } >>"$log"
    hyperfine -N -i --style basic --warmup 1 --runs "$runs" \
        --export-json "$results_dir/text_search_${stamp_time}_$tag.json" \
        -n ferretta "$fcmd" -n rg "$rcmd" -n rg-j1 "$r1cmd" >>"$log" 2>&1 ||
        die "hyperfine failed for '$name'; see $log"

    # Wall medians, then mean CPU seconds (user + system): on a busy machine the CPU time is the
    # steadier of the two.
    local stats
    stats=$(python3 -c '
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print(" ".join(["%.3f" % r["median"] for r in results] +
               ["%.3f" % (r["user"] + r["system"]) for r in results]))' \
        "$results_dir/text_search_${stamp_time}_$tag.json")
    local fmed rmed r1med fcpu r1cpu
    read -r fmed rmed r1med fcpu _ r1cpu <<<"$stats"
    local rss_kb
    rss_kb=$(<"$work/$tag.f.rss")
    [[ $rss_kb =~ ^[0-9]+$ ]] || rss_kb=0
    ((rss_kb > corpus_rss_kb)) && corpus_rss_kb=$rss_kb
    local verdict ratio ratio1 cpu_ratio
    ratio=$(awk -v a="$fmed" -v b="$rmed" 'BEGIN { printf "%.2f", a / b }')
    ratio1=$(awk -v a="$fmed" -v b="$r1med" 'BEGIN { printf "%.2f", a / b }')
    cpu_ratio=$(awk -v a="$fcpu" -v b="$r1cpu" 'BEGIN { printf "%.2f", a / b }')
    verdict=$(awk -v r="$ratio" -v t="$target" 'BEGIN { print (r <= t) ? "ok" : "MISS" }')
    [[ $verdict == ok ]] || misses=$((misses + 1))
    rows+=("$(printf '%-22s %7s %7s %7s %6sx %6sx %6s %-4s %7sx %11s %11s %6.1f' \
        "$name" "$fmed" "$rmed" "$r1med" "$ratio" "$ratio1" "<=${target}x" "$verdict" "$cpu_ratio" \
        "$(<"$work/$tag.f.hits")/$(expected "$dir" "$fkey")" \
        "$(<"$work/$tag.r.hits")/$(expected "$dir" "$rkey")" \
        "$(awk -v k="$rss_kb" 'BEGIN { print k / 1024 }')")")
}

# The needles planted by the generator (see gen_text_corpus.py for the counts), then words of
# the text itself, found on thousands of lines (no planted count: rg's count is the reference
# for the strict literal). Folded Japanese: rg needs the alternation of both widths.
ja=検索対象ファイル
ja_half=検索対象ﾌｧｲﾙ
en=ferrettaneedle
re='id-\d{4}-[a-z]{3}'
word=会議室
kana=データベース
kana_half=ﾃﾞｰﾀﾍﾞｰｽ
ascii=update
word_re='請求番号[0-9]{6}'
for form in cp932 utf8; do
    if [[ $form == cp932 ]]; then
        dir=$corpus
        rgenc=(-E shift_jis)
        targets=(0.5 0.7 1.0 1.0)
    else
        dir=$corpus8
        rgenc=()
        targets=(1.0 1.0 1.0 1.0)
    fi
    run_case "$form strict literal" "${targets[0]}" "$dir" strict_ja strict_ja \
        --f --strict "$dir" "$ja" --rg -n -uu "${rgenc[@]}" -F "$ja" "$dir"
    run_case "$form folded Japanese" "${targets[1]}" "$dir" folded_ja folded_ja \
        --f "$dir" "$ja" --rg -n -uu "${rgenc[@]}" "$ja|$ja_half" "$dir"
    run_case "$form folded ASCII" "${targets[2]}" "$dir" folded_en ascii_ci_en \
        --f "$dir" "$en" --rg -n -uu "${rgenc[@]}" -F -i "$en" "$dir"
    run_case "$form regex" "${targets[3]}" "$dir" regex_id regex_id_unicode \
        --f --regex "$dir" "$re" --rg -n -uu "${rgenc[@]}" -i "$re" "$dir"
    run_case "$form literal $word" "${targets[0]}" "$dir" - - \
        --f --strict "$dir" "$word" --rg -n -uu "${rgenc[@]}" -F "$word" "$dir"
    run_case "$form folded $kana" "${targets[1]}" "$dir" - - \
        --f "$dir" "$kana" --rg -n -uu "${rgenc[@]}" "$kana|$kana_half" "$dir"
    run_case "$form folded $ascii" "${targets[2]}" "$dir" - - \
        --f "$dir" "$ascii" --rg -n -uu "${rgenc[@]}" -F -i "$ascii" "$dir"
    run_case "$form regex $word_re" "${targets[3]}" "$dir" - - \
        --f --regex "$dir" "$word_re" --rg -n -uu "${rgenc[@]}" -i "$word_re" "$dir"
done

# --- endless lines -----------------------------------------------------------------------------
# A file of one 1 GB line and a 1 GB sparse file (one line of zeros after a first line): the
# searcher keeps only the first 16 MiB of a line, so its peak memory must not follow the file's
# size.
memory_rows=()
if ((memory_case)); then
    # Beside the corpus, not in /tmp, which may be a RAM disk and would blur the measurement.
    oneline_dir=$(mktemp -d "$(dirname "$corpus")/oneline.XXXXXX")
    python3 "$here/gen_text_corpus.py" --one-line "$oneline_dir/one_line.txt" --size-mb 1024 \
        >/dev/null || die "could not write the long-line file"
    printf '\x8c\x9f\x8d\xf5\x91\xce\x8f\xdb\x83\x74\x83\x40\x83\x43\x83\x8b\n' \
        >"$oneline_dir/sparse.txt" # 検索対象ファイル in CP932
    truncate -s 1G "$oneline_dir/sparse.txt"
    for file in one_line.txt sparse.txt; do
        echo "case '$file' ..."
        mkdir "$oneline_dir/only" && mv "$oneline_dir/$file" "$oneline_dir/only/"
        cat "$oneline_dir/only/$file" >/dev/null # warm the cache
        start=$(date +%s.%N)
        count_run "$work/oneline.f" "$cli" "${fopts[@]}" --binary "$oneline_dir/only" 検索対象ファイル
        end=$(date +%s.%N)
        rss_kb=$(<"$work/oneline.f.rss")
        [[ $rss_kb =~ ^[0-9]+$ ]] || rss_kb=0
        memory_rows+=("$(printf '%-15s %6.2f s  hits %s/1  peak RSS %.1f MB (target <= 64, %s)' \
            "$file" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
            "$(<"$work/oneline.f.hits")" "$(awk -v k="$rss_kb" 'BEGIN { print k / 1024 }')" \
            "$( ((rss_kb <= 64 * 1024)) && echo ok || echo MISS)")")
        rm -rf "$oneline_dir/only"
    done
    rm -rf "$oneline_dir"
    oneline_dir=
fi

# --- report ------------------------------------------------------------------------------------
{
    echo
    echo "ferretta-cli text search vs ripgrep; median of $runs warm runs, seconds"
    echo "host: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
    rg_version=$(rg --version)
    echo "tools: ${rg_version%%$'\n'*}; ferretta $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
    read -r load1 _ </proc/loadavg
    echo "load average before the report: $load1$(awk -v l="$load1" -v n="$(nproc)" \
        'BEGIN { if (l > n) print "  (busy machine: wall times are noisy, compare cpu-f/j1)" }')"
    echo "corpora: $corpus ($(du -sh "$corpus" | cut -f1), CP932) and $corpus8 ($(du -sh "$corpus8" | cut -f1), UTF-8), $(find "$corpus" -type f | wc -l) files each"
    echo "ferretta options: ${fopts[*]}"
    echo
    printf '%-22s %7s %7s %7s %7s %7s %-11s %8s %11s %11s %6s\n' \
        case ferretta rg rg-j1 f/rg f/rg-j1 target cpu-f/j1 "hits f/exp" "hits rg/exp" "RSS MB"
    printf '%s\n' "${rows[@]}"
    echo
    printf 'corpus peak RSS of ferretta-cli: %.1f MB (target <= 32, %s)\n' \
        "$(awk -v k="$corpus_rss_kb" 'BEGIN { print k / 1024 }')" \
        "$( ((corpus_rss_kb <= 32 * 1024)) && echo ok || echo MISS)"
    ((${#memory_rows[@]} == 0)) || printf '%s\n' "${memory_rows[@]}"
    echo
    echo "hits: output lines; exp: lines planted by the generator (-: a word of the text itself)."
    echo "rg -i folds ASCII case only and the alternation gives rg two widths only, so rg misses"
    echo "the mixed and full-width forms that ferretta's default mode finds."
    echo "cpu-f/j1: ferretta's CPU time over rg -j1's; $misses case(s) missed their target."
} | tee "$report"
echo "details: $log, $report"
