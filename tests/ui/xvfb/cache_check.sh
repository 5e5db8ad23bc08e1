#!/usr/bin/env bash
# Several functions run only through trap or waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# The document cache as the user meets it in the real window on a virtual X server, searches
# typed with real keys over two PDF files read through a filter that notes each file it reads:
# a second search reads only the file that changed; the Options dialog's button (Alt+L) empties
# the cache, so the next search reads both again; its check box (Alt+U, then Enter for OK)
# turns the cache off, so every search reads every file.
#
# Usage: cache_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool or python3 (to look into the cache) is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
runUnderXvfb python3

workDir=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-cache.XXXXXX")
ferrettaPid=""
cleanup() {
    stopProcess "$ferrettaPid"
    rm -rf "$workDir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

docs="$workDir/docs"
runs="$workDir/runs"
mkdir -p "$docs" "$workDir/home"
printf '%%PDF a' >"$docs/a.pdf"
printf '%%PDF z' >"$docs/z.pdf"
cat >"$workDir/filter.sh" <<EOF
basename "\$1" >> '$runs'
echo alpha > "\$2"
EOF
: >"$runs"
export FERRETTA_HOME="$workDir/home" XDG_CACHE_HOME="$workDir/cache" QT_QPA_PLATFORM=xcb \
    LC_ALL=C.UTF-8
printf '[Search]\r\nDir0=%s\r\nSubFolder=0\r\ntargetFileType1=False\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=sh %s %%1 %%2\r\n' \
    "$docs" "$workDir/filter.sh" >"$FERRETTA_HOME/frtta.ini"

mainWindow() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | head -n 1; }
optionsWindow() { xdotool search --onlyvisible --name '^Ferrettaの設定$' 2>/dev/null | head -n 1; }
hasMainWindow() { [[ -n "$(mainWindow)" ]]; }
hasOptions() { [[ -n "$(optionsWindow)" ]]; }
noOptions() { [[ -z "$(optionsWindow)" ]]; }
# The files the filter read, in order, on one line.
readSoFar() { tr '\n' ' ' <"$runs"; }
runCount() { (($(wc -l <"$runs") == $1)); }
storedCount() {
    python3 - "$XDG_CACHE_HOME/ferretta/cache.db" <<'EOF' 2>/dev/null
import sqlite3, sys
db = sqlite3.connect("file:" + sys.argv[1] + "?mode=ro", uri=True, timeout=2)
print(db.execute("SELECT count(*) FROM documents").fetchone()[0])
EOF
}
hasStored() { [[ "$(storedCount)" == "$1" ]]; }
focusOn() {
    timeout 3 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}

# Types the word over what the search box holds and presses Enter; waits until the filter has
# read $1 files in all (the files are searched in name order, z.pdf last).
search() {
    focusOn "$(mainWindow)"
    xdotool key ctrl+a
    xdotool type --delay 20 alpha
    xdotool key Return
    waitFor 20 runCount "$1" || fail "the search did not read what it should: $(readSoFar)"
    # The compact form shows the progress in the title, which is "Ferretta" again at the end.
    waitFor 10 hasMainWindow || fail "the search did not end"
}
# Opens the Options dialog (Ctrl+O), presses the keys given in it, waits until it is gone.
inOptions() {
    focusOn "$(mainWindow)"
    xdotool key ctrl+o
    waitFor 10 hasOptions || fail "Ctrl+O did not open the Options dialog"
    focusOn "$(optionsWindow)"
    for key in "$@"; do
        xdotool key "$key"
    done
}
expectRead() {
    [[ "$(readSoFar)" == "$1" ]] || fail "$2: the filter read '$(readSoFar)', expected '$1'"
    echo "$2: the filter read $1"
}

"$ferretta" >"$workDir/ferretta.log" 2>&1 &
ferrettaPid=$!
waitFor 10 hasMainWindow || fail "the window was not mapped within 10 s"

search 2
waitFor 10 hasStored 2 || fail "the first search kept $(storedCount) files in the cache, not 2"
expectRead "a.pdf z.pdf " "first search"

printf ' changed' >>"$docs/z.pdf"
search 3
expectRead "a.pdf z.pdf z.pdf " "second search, z.pdf changed"

inOptions alt+l
waitFor 10 hasStored 0 || fail "the button left $(storedCount) files in the cache"
xdotool key Escape
waitFor 10 noOptions || fail "Esc did not close the Options dialog"
search 5
expectRead "a.pdf z.pdf z.pdf a.pdf z.pdf " "after emptying the cache"

inOptions alt+u Return
waitFor 10 noOptions || fail "Enter did not close the Options dialog"
search 7
search 9
expectRead "a.pdf z.pdf z.pdf a.pdf z.pdf a.pdf z.pdf a.pdf z.pdf " "cache switched off"

echo "PASS: unchanged files come from the cache; the Options dialog empties it and turns it off"
exit 0
