#!/usr/bin/env bash
# Several functions run only through waitFor, which shellcheck cannot follow.
# shellcheck disable=SC2317
# A stop while one big file is read, by real keys on a virtual X server with openbox and tint2.
# The folder holds a FIFO and a 20 GB sparse text file (some text, then lines of zeros from its
# holes, each just short of the line cap, so that all of it is read). A word typed and Enter
# start the search; Esc, pressed while the big file is read, must be answered within 0.5 s with
# "中断ボタンが押されました"; Enter closes it and the search ends at once (中止 back to 検索: the
# window's caption back to Ferretta).
#
# Usage: stop_reading_check.sh /path/to/ferretta
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when
# xvfb-run, xdotool, openbox, tint2 or python3 is missing.
set -u

# shellcheck source=tests/ui/xvfb/xvfb_common.sh
source "$(dirname "$0")/xvfb_common.sh"
requireFerretta "${1:-}"
ferretta=$(realpath "$ferretta")
runUnderXvfb openbox tint2 python3

makeWorkDir stop
wmPid="" panelPid=""
trap 'stopProcess "$ferrettaPid"; stopProcess "$panelPid"; stopProcess "$wmPid"; rm -rf "$workDir"' EXIT
startOpenboxAndPanel

folder=$workDir/folder
mkdir -p "$folder" "$workDir/home"
mkfifo "$folder/pipe.txt"
python3 - "$folder/big.txt" <<'EOF'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b"".join(b"line %06d of text\n" % i for i in range(5000)))
    step, size = 15 << 20, 20 << 30
    for offset in range(step, size, step):
        f.seek(offset)
        f.write(b"\nmore text\n")
    f.truncate(size)
EOF
# The caption shows the progress (no status bar); binary files are read too.
printf '%s\r\n' '[Search]' "Dir0=$folder" 'targetFileType1=True' 'textTags=TXT' 'AllFiles=1' \
    '[Form]' 'StatusBar=0' >"$workDir/home/frtta.ini"

(cd "$workDir" && FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    exec "$ferretta" >"$workDir/ferretta.log" 2>&1) &
ferrettaPid=$!
waitFor 10 hasWindow Ferretta || fail "the window titled Ferretta was not mapped within 10 s"
window=$(windowNamed Ferretta)
focusOn "$window"
typeWords needle
xdotool key Return

caption() { xdotool getwindowname "$window" 2>/dev/null; }
readingBig() { [[ "$(caption)" == "検索中...big.txt"* ]]; }
waitFor 10 readingBig || fail "the search did not reach big.txt (caption: $(caption))"
sleep 1 # a good way into the file: past the first megabytes a worker may read ahead

# The message is a second window titled Ferretta (the main one shows the progress).
stopAnswered() { xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | grep -vxq "$window"; }
now() { date +%s%N; }
pressed=$(now)
xdotool key Escape
until stopAnswered; do
    (($(now) - pressed < 5000000000)) || fail "Esc was not answered within 5 s"
    sleep 0.02
done
answered=$(($(now) - pressed))
echo "Esc answered after $((answered / 1000000)) ms"
limit=$((500000000 * ${FERRETTA_WAIT_SCALE:-3} / 3))
((answered <= limit)) || fail "Esc took $((answered / 1000000)) ms to answer (limit $((limit / 1000000)) ms)"
xdotool key Return
ended() { [[ "$(caption)" == Ferretta ]]; }
waitFor 2 ended || fail "the search did not end after the message (caption: $(caption))"
echo "PASS: Esc answered within $((limit / 1000000)) ms while a 20 GB file was read; the FIFO was passed by"
