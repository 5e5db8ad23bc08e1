#!/usr/bin/env bash
# Times ferretta-cli searching an mbox of 10,000 Japanese mails (about 100 MB, Thunderbird's
# format) as the inbox, against grep reading the same file in the same run, and prints a table:
# wall time, CPU time and peak memory of each (ferretta-cli reading the mailbox, and again
# answering from its document cache), the ratios, and the targets (under 2 s, under 100 MB).
# The hit counts are checked against the generator's.
#
#   bench/outlook_bench.sh [--runs N] [--messages N]
#
# Environment: FERRETTA_CLI, a ferretta-cli to use instead of building build/release's.
# Needs python3, GNU time and grep; installs nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
runs=3
messages=10000
while (($#)); do
    case $1 in
        --runs) runs=${2:?}; shift 2 ;;
        --messages) messages=${2:?}; shift 2 ;;
        -h | --help) sed -n '2,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) echo "outlook_bench: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
[[ -x /usr/bin/time ]] || { echo "outlook_bench: needs GNU time (apt-get install time)" >&2; exit 2; }

if [[ -n ${FERRETTA_CLI:-} ]]; then
    cli=$(realpath "$FERRETTA_CLI")
else
    (cd "$root" && { [[ -f build/release/CMakeCache.txt ]] || cmake --preset release; } &&
        cmake --build --preset release --target ferretta-cli) >/tmp/ferretta_outlook_bench_build.log 2>&1 ||
        { echo "outlook_bench: build failed, see /tmp/ferretta_outlook_bench_build.log" >&2; exit 2; }
    cli=$root/build/release/src/ferretta-cli
fi

data=$here/data
mkdir -p "$data"
mbox=$data/inbox-$messages.mbox
if [[ ! -s $mbox || ! -s $mbox.expected ]]; then
    echo "writing $mbox ..."
    python3 "$here/gen_mail_corpus.py" "$mbox" --messages "$messages" >"$mbox.expected"
fi
expected=$(cat "$mbox.expected")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[Outlook]\r\nInbox=%s\r\n' "$mbox" >"$work/frtta.ini"

# run LABEL COMMAND...: the best of the runs as "wall cpu peak_kb"
measure() {
    local best=""
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$work/out" 2>/dev/null || true
        read -r wall user sys peak < <(tail -n 1 "$work/time")
        local line
        line=$(awk -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" 'BEGIN { printf "%.3f %.3f %d", w, u + s, p }')
        if [[ -z $best ]] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
            best=$line
        fi
    done
    echo "$best"
}

# Read from the mailbox itself, then again from the document cache (filled by a first run, in
# a cache folder of the bench's own).
search=(env FERRETTA_HOME="$work" XDG_CACHE_HOME="$work/cache" "$cli" --settings="$work/frtta.ini"
    --types=outlook-mail)
read -r f_wall f_cpu f_peak < <(measure "${search[@]}" --no-cache "$work" ベンチ会議)
hits=$(wc -l <"$work/out")
"${search[@]}" --rebuild-cache "$work" ベンチ会議 >/dev/null 2>&1 || true
read -r c_wall c_cpu c_peak < <(measure "${search[@]}" "$work" ベンチ会議)
cached_hits=$(wc -l <"$work/out")
read -r g_wall g_cpu g_peak < <(measure env LC_ALL=C grep -c -F ベンチ会議 "$mbox")

size_mb=$(($(stat -c %s "$mbox") / 1000000))
echo
echo "mbox: $messages messages, $size_mb MB; best of $runs runs; load average $(cut -d' ' -f1 /proc/loadavg)"
printf '%-12s %9s %9s %10s\n' "" "wall s" "cpu s" "peak MB"
printf '%-12s %9s %9s %10.1f\n' ferretta-cli "$f_wall" "$f_cpu" "$(awk -v p="$f_peak" 'BEGIN { print p / 1024 }')"
printf '%-12s %9s %9s %10.1f\n' "  cached" "$c_wall" "$c_cpu" "$(awk -v p="$c_peak" 'BEGIN { print p / 1024 }')"
printf '%-12s %9s %9s %10.1f\n' grep "$g_wall" "$g_cpu" "$(awk -v p="$g_peak" 'BEGIN { print p / 1024 }')"
echo "ratio ferretta-cli / grep (wall): $(awk -v a="$f_wall" -v b="$g_wall" 'BEGIN { printf "%.1f", a / b }')"
echo "targets: wall < 2 s ($(awk -v a="$f_wall" 'BEGIN { print (a < 2) ? "met" : "missed" }')), peak < 100 MB ($(awk -v p="$f_peak" 'BEGIN { print (p < 102400) ? "met" : "missed" }'))"
echo "ratio cached / grep (wall): $(awk -v a="$c_wall" -v b="$g_wall" 'BEGIN { printf "%.1f", a / b }')"
if [[ $cached_hits != "$hits" ]]; then
    echo "outlook_bench: from the cache ferretta-cli found $cached_hits hits, reading $hits" >&2
    exit 1
fi
if [[ $hits != "$expected" ]]; then
    echo "outlook_bench: ferretta-cli found $hits hits, the generator planted $expected" >&2
    exit 1
fi
echo "hits: $hits, as planted"
