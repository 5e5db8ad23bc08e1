#!/usr/bin/env bash
# Deliberate one-line faults, put in one at a time: does a test catch each? The table below is
# the list; for each fault the script finds the file by its name anywhere under src/ (files
# move), applies the sed expression, builds only the test programs of the fault's module,
# runs those tests (ctest -L, the labels are the test folders) and, when none fails, builds
# everything and runs the rest of the suite until the first failure. Then it puts the file
# back as it was. A fault whose pattern matches nothing any more is reported as such, so that
# the table can be mended rather than silently shrink.
#
# Not run in CI: each fault costs a build. Run it before and after changing tests, and compare.
#
#   tools/fault_check.sh [--build DIR] [--only ID,ID...] [--module-only] [--no-baseline]
#                        [--check] [--out FILE]
#
#   --build DIR    a configured and built tree (default build/ci); it is rebuilt at the end
#   --only IDS     just these faults
#   --module-only  do not fall back to the whole suite when the module's tests miss a fault
#   --no-baseline  do not run the module tests once without faults first (a test that fails
#                  without any fault would otherwise pass for a catch)
#   --check        only say whether each pattern still applies; builds nothing
#   --out FILE     also write the result table (Markdown) there
#
# The file is restored on every way out, also on Ctrl+C.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/ci
only=""
moduleOnly=0
baseline=1
checkOnly=0
out=""
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$(cd "$2" && pwd) || exit 2; shift 2 ;;
        --only) only=",$2,"; shift 2 ;;
        --module-only) moduleOnly=1; shift ;;
        --no-baseline) baseline=0; shift ;;
        --check) checkOnly=1; shift ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--only IDS] [--module-only] [--no-baseline] [--check] [--out FILE]" >&2
           exit 2 ;;
    esac
done

ids=() files=() exprs=() labels=() descriptions=()
# fault ID 'file names (the first that exists and changes is used)' 'sed -E expression'
#       'labels of the module's tests (ctest -L)' 'what goes wrong'
fault() {
    ids+=("$1") files+=("$2") exprs+=("$3") labels+=("$4") descriptions+=("$5")
}

# ---- platform ----------------------------------------------------------------------------
fault cp932-length 'cp932.cpp' \
    's/length \+= code < 0x100 \? 1 : 2;/length += code < 0x100 ? 1 : 1;/' \
    '^platform|^search' 'CP932 byte count: a double-byte character counted as one byte'
fault fold-voiced 'width_fold.cpp' \
    's/\{0xFF76, kVoiced\}/{0xFF76, 0}/' \
    '^platform|^search' 'wrong fold: ガ folds to ｶ without its voicing mark'
fault ini-trail-byte 'ini_file.cpp' \
    's/if \(form\.isLead\(a\[i\]\) && i \+ 1 < a\.size\(\)\) \{/if (false \&\& form.isLead(a[i]) \&\& i + 1 < a.size()) {/' \
    '^platform|^app' 'INI names: the trail byte of a kanji compared as a letter, without case'
fault regex-ideographic-space 'regex.cpp' \
    's/\\\\u205f\\\\u3000/\\\\u205f/' \
    '^platform|^search' 'regular expressions: \s no longer matches the ideographic space'
fault utf16-low-surrogate 'unicode.cpp' \
    's/0xDC00 \+ \(v & 0x3FF\)/0xDC00 + (v \& 0x1FF)/' \
    '^platform|^pdf' 'UTF-16: the low surrogate of a character past U+FFFF loses its top bit'
fault line-reader-cr-at-chunk-end 'line_reader.cpp' \
    's/if \(end \+ unit > buffer\.size\(\) && !eof\) \{/if (false \&\& end + unit > buffer.size() \&\& !eof) {/' \
    '^platform|^search' 'lines: a CR at the end of a read chunk ends the line before its LF is seen'
# ---- app ----------------------------------------------------------------------------------
fault settings-key 'settings.cpp' \
    's/readTextFlag\(ini, kOffice, "NoJump"\)/readTextFlag(ini, kOffice, "NoJmp")/' \
    '^app|^run' 'INI key: NoJump read under a misspelt key'
fault debug-log-line-end 'debug_log.cpp' \
    's/line \+= "\\r\\n";/line += "\\n";/' \
    '^app' 'debug log: lines end in LF instead of CR LF'
# ---- search -------------------------------------------------------------------------------
fault and-or-swap 'query.cpp' \
    's/^    if \(isAnd\) \{/    if (!isAnd) {/' \
    '^search' 'AND/OR swap in the walk over the words'
fault column-folded 'query.cpp' \
    's/countDoubleByteChars\(text\.substr\(0, before\)\)/countDoubleByteChars(text.substr(0, before + 1))/' \
    '^search' 'column off by one: the hit'"'"'s own double-byte character counted before it'
fault line-filter-literal 'line_filter.cpp' \
    's/if \(least == 0 && m_lastWasLiteral\)$/if (least == 0 \&\& false)/' \
    '^search' 'line filter: the character before * or ? is still required literally'
fault stop-check 'finder.cpp' \
    '/if \(searchFile\(step\.path/,/if \(flags\.isAbort\) \{/ s/if \(flags\.isAbort\) \{/if (false \&\& flags.isAbort) {/' \
    '^search|^run' 'missed stop check: the folder walk goes on after a stop between files'
fault dispatch-docx 'file_dispatch.cpp' \
    's/\{"DOCX", FileType::Word\}/{"DOCX", FileType::Excel}/' \
    '^search|^run' 'dispatch: .docx handed to the Excel searcher'
# ---- hits, run, cli -----------------------------------------------------------------------
fault csv-quote 'results_file.cpp' \
    "s/line \\+= '\"';/line += ' ';/" \
    '^hits' 'saved results: a field'"'"'s closing quote lost'
fault editor-placeholders 'text_editor.cpp' \
    "s/next == '2' \\? line : column/next == '2' ? column : line/" \
    '^hits' 'editor command: %2 and %3 swapped'
fault summary-count 'search_run.cpp' \
    's/std::to_string\(files\) \+ (".*") \+ std::to_string\(hits\) \+/std::to_string(hits) + \1 + std::to_string(files) +/' \
    '^run|^cli' 'summary line: the file and hit counts swapped'
fault hand-off-path 'hand_off.cpp' \
    "s/payload\\.substr\\(0, payload\\.find\\('\\\\0'\\)\\)/payload.substr(0, payload.find('\\\\0') - 1)/" \
    '^run|^ui/modes' 'hand-off: the handed folder loses its last character'
fault cli-no-subfolders 'cli_options.cpp' \
    's/options\.noSubfolders = true;/options.noSubfolders = false;/' \
    '^cli' 'command line: --no-subfolders ignored'
# ---- cache --------------------------------------------------------------------------------
fault cache-mtime 'document_cache.cpp' \
    's/find\.integer\(1\) == identity\.size && find\.integer\(2\) == identity\.mtimeNs &&/find.integer(1) == identity.size \&\&/' \
    '^cache|^run' 'cache key without the mtime: a changed file of the same size answered from the cache'
fault index-kana-trail 'index_text.cpp' \
    's/return \(b >= 0x40 && b <= 0x7E\) \|\| \(b >= 0xA1 && b <= 0xDF\);/return (b >= 0x40 \&\& b <= 0x7E);/' \
    '^cache|^run' 'index: no shifted trigram across a half-width kana trail byte'
# ---- documents ----------------------------------------------------------------------------
fault docx-tab 'docx_text.cpp' \
    's/local == "tab" \? "\\t"/local == "tab" ? " "/' \
    '^documents' 'Word reader: a tab read as a blank'
# ---- Office and mail searchers ------------------------------------------------------------
fault ppt-newline 'powerpoint_search.cpp office_extractors.cpp' \
    "s/c != '\\\\r' && c != '\\\\n'/c != '\\\\r'/;s/c == '\\\\r' \\|\\| c == '\\\\n'/c == '\\\\r'/" \
    '^searchers/office|^pipeline' 'PowerPoint: a LF inside a shape'"'"'s text kept'
fault word-fast-index 'word_search.cpp office_extractors.cpp' \
    's/std::int32_t index = 0;/std::int32_t index = 1;/' \
    '^searchers/office|^pipeline' 'Word fast mode: line indexes start at 1 instead of 0'
fault excel-sheet-name 'excel_search.cpp' \
    's/"\[" \+ (m_)?sheet \+ "\]"/"[" + \1sheet.substr(1) + "]"/' \
    '^searchers/office|^pipeline' 'Excel: the sheet name in a hit loses its first character'
fault outlook-crlf 'outlook_search.cpp' \
    "s/if \\(body\\[end\\] == '\\\\r' && start/if (false \\&\\& body[end] == '\\\\r' \\&\\& start/" \
    '^searchers/outlook|^drivers/pim' 'mail body: CR LF counted as two lines (wrong line numbers)'
# ---- PDF ----------------------------------------------------------------------------------
fault pdf-page-number 'read_contents.cpp' \
    's/std::to_string\(p2tGetPageCounter\(\)\)\);/std::to_string(m_pageTotal));/;s/unit\(\{p2tGetPageCounter\(\),/unit({m_pageTotal,/' \
    '^pdf' 'PDF engine: a hit reported on the last page instead of its own'
fault pdf-octal 'lexer.cpp' \
    's/k < 2 && m_at < n/k < 1 \&\& m_at < n/' \
    '^pdf' 'PDF strings: a three-digit octal escape read as two digits'
fault pdf-bfrange-array 'cmap.cpp' \
    's/low \+ k <= high/low + k < high/' \
    '^pdf' 'ToUnicode: the last code of a bfrange array dropped'
fault pdf-tounicode-surrogate 'cmap.cpp' \
    's/appendUtf8\(0x10000 \+ \(\(unit - 0xD800\) << 10\)/appendUtf8(((unit - 0xD800) << 10)/' \
    '^pdf' 'ToUnicode: a surrogate pair decoded without its 0x10000 offset'
fault pdf-xref-subsection 'pdf_objects.cpp' \
    's/const std::int32_t firstNumber = tokenToInt32\(token\);/const std::int32_t firstNumber = tokenToInt32(token) * 0;/' \
    '^pdf' 'cross-reference table: a subsection numbered from 0 instead of its first object'
fault pdf-paeth 'filters.cpp' \
    's/\(pb <= pc \? b : c\)/(pb < pc ? b : c)/' \
    '^pdf' 'PNG predictor: a Paeth tie between up and upper left broken the wrong way'
fault pdf-rc4-key 'security_handler.cpp' \
    's/m_fileKey\.size\(\) \+ 5, 16/m_fileKey.size() + 4, 16/' \
    '^pdf' 'encrypted PDF: the object key one byte short'
fault pdf-filter-page 'pdf_filter_search.cpp' \
    's/std::int32_t page = 1;/std::int32_t page = 0;/' \
    '^pdf' 'PDF filter: pages counted from 0'
# ---- drivers ------------------------------------------------------------------------------
fault mail-part 'mail_message.cpp' \
    's/for \(int i = 0; i < count; \+\+i\)$/for (int i = 1; i < count; ++i)/' \
    '^drivers/pim|^searchers/outlook' 'mail: the first part of a multipart message skipped'
fault vcard-fold 'vcard_file.cpp' \
    's/logical\.back\(\) \+= line\.substr\(1\);/logical.back() += line;/' \
    '^drivers/pim|^searchers/outlook' 'vCard: a folded line keeps its folding blank'
fault mail-q-underscore 'mail_charsets.cpp' \
    "/if \(text\[i\] == '_'\) \{/,+1 s/out \+= ' ';/out += '_';/" \
    '^drivers/pim|^searchers/outlook' 'mail headers: an underscore of a Q-encoded word stays an underscore'
fault ical-created 'calendar_file.cpp' \
    's/timeProperty\(component, ICAL_CREATED_PROPERTY\)/timeProperty(component, ICAL_DTSTAMP_PROPERTY)/' \
    '^drivers/pim|^searchers/outlook' 'iCalendar: the creation date taken from DTSTAMP although CREATED is given'
fault office-a1-last 'libreoffice_text.cpp' \
    's/if \(holdsA1 && r == 0 && c == 0\)/if (false \&\& holdsA1 \&\& r == 0 \&\& c == 0)/' \
    '^drivers/office' 'Excel find order: A1 found first instead of last'
# ---- window -------------------------------------------------------------------------------
fault tray-click-return 'window_state_machine.cpp' \
    's/none\(\), none\(\), none\(\), to\(StateMinimum, kOff, kMin\), none\(\)\},/none(), none(), none(), to(StateNormal, kOff, kNorm), none()},/' \
    '^ui/modes' 'window modes: a click on the tray icon opens the normal window, not the minimum one it came from'
fault lost-caption 'options_dialog.cpp' \
    's/QStringLiteral\("サブフォルダも検索\(&B\)"\)/QString()/' \
    '^ui/options|^ui/main' 'options: the sub-folder check box lost its caption'
fault results-sort-path 'results_model.cpp' \
    '/case 2:/,/return hit\.location;/ s/return hit\.location;/return hit.name;/' \
    '^ui/main' 'results: the path column sorts by the file name'

# ---------------------------------------------------------------------------------------------

log() { printf '%s\n' "$*" >&2; }

# The file of that name under src/, when there is exactly one.
findSource() {
    local found
    found=$(find "$root/src" -type f -name "$1" 2>/dev/null)
    [ -n "$found" ] && [ "$(printf '%s\n' "$found" | wc -l)" -eq 1 ] && printf '%s\n' "$found"
}

restoreFile=""
restoreCopy=$(mktemp)
restore() {
    if [ -n "$restoreFile" ]; then
        cat "$restoreCopy" > "$restoreFile"
        restoreFile=""
    fi
}
trap 'restore; rm -f "$restoreCopy"' EXIT
trap 'exit 130' INT TERM

# The build targets that the tests with these labels run: the executables of their commands.
targetsFor() {
    ctest --test-dir "$build" -L "$1" --show-only=json-v1 2>/dev/null | python3 -c '
import json, os, sys
build = sys.argv[1]
names = set()
for test in json.load(sys.stdin).get("tests", []):
    for word in test.get("command") or []:
        if word.startswith(build + "/") and os.access(word, os.X_OK) and not os.path.isdir(word):
            names.add(os.path.basename(word))
print(" ".join(sorted(names)))' "$build"
}

# Runs ctest with the given arguments; prints the names of the failed tests, one a line.
failedTests() {
    local logFile=$1
    shift
    nice ctest --test-dir "$build" --timeout 300 "$@" > "$logFile" 2>&1
    sed -n '/The following tests FAILED:/,$ s/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' "$logFile"
}

logs=$build/fault-logs
mkdir -p "$logs"
exclude=""
if [ "$checkOnly" -eq 0 ]; then
    log "building $build"
    nice cmake --build "$build" > "$logs/build.log" 2>&1 || { log "the tree does not build: $logs/build.log"; exit 1; }
    if [ "$baseline" -eq 1 ]; then
        allLabels=$(IFS='|'; echo "${labels[*]}")
        log "baseline: the modules' tests without faults"
        broken=$(failedTests "$logs/baseline.log" -j2 -L "$allLabels")
        if [ -n "$broken" ]; then
            log "failing without any fault (left out of every run):"
            log "$broken"
            exclude=$(printf '%s\n' "$broken" | sed 's/[][\\.*^$+?(){}|]/\\&/g; s/^/^/; s/$/$/' | paste -sd'|')
        fi
    fi
fi

rows=()
row() { rows+=("$(printf '| %s | %s | %s | %s |' "$1" "$2" "$3" "$4")"); printf '%-28s %-10s %s\n' "$1" "$3" "$4"; }

for i in "${!ids[@]}"; do
    id=${ids[$i]}
    [ -n "$only" ] && [[ $only != *",$id,"* ]] && continue
    file="" applied=""
    for name in ${files[$i]}; do
        candidate=$(findSource "$name") || continue
        tmp=$(mktemp)
        if LC_ALL=C sed -E "${exprs[$i]}" "$candidate" > "$tmp" && ! cmp -s "$tmp" "$candidate"; then
            file=$candidate applied=$tmp
            break
        fi
        rm -f "$tmp"
    done
    if [ -z "$file" ]; then
        row "$id" "${descriptions[$i]}" "stale" "pattern no longer applies in: ${files[$i]}"
        continue
    fi
    where=${file#"$root/"}
    if [ "$checkOnly" -eq 1 ]; then
        row "$id" "${descriptions[$i]}" "applies" "$where ($(diff "$file" "$applied" | grep -c '^>') line)"
        rm -f "$applied"
        continue
    fi
    cp "$file" "$restoreCopy"
    restoreFile=$file
    cat "$applied" > "$file"
    rm -f "$applied"
    targets=$(targetsFor "${labels[$i]}")
    result="" by=""
    # shellcheck disable=SC2086
    if ! nice cmake --build "$build" --target $targets > "$logs/$id.build.log" 2>&1; then
        if grep -q 'error:' "$logs/$id.build.log"; then
            result="no build" by="the fault does not compile ($where): mend the row"
        else
            result="caught" by="test discovery (a test program fails to start)"
        fi
    else
        excludeArgs=()
        [ -n "$exclude" ] && excludeArgs=(-E "$exclude")
        failed=$(failedTests "$logs/$id.module.log" -j2 -L "${labels[$i]}" "${excludeArgs[@]}")
        if [ -n "$failed" ]; then
            result="caught" by=$(printf '%s\n' "$failed" | sed -n 1,3p | paste -sd' ')
            [ "$(printf '%s\n' "$failed" | wc -l)" -gt 3 ] && by="$by …"
        elif [ "$moduleOnly" -eq 1 ]; then
            result="missed" by="not by the module's tests (${labels[$i]}); suite not run"
        elif ! nice cmake --build "$build" > "$logs/$id.suite-build.log" 2>&1; then
            result="caught" by="test discovery (a test program fails to start)"
        else
            failed=$(failedTests "$logs/$id.suite.log" --stop-on-failure -LE "${labels[$i]}" "${excludeArgs[@]}")
            if [ -n "$failed" ]; then
                result="caught" by="$(printf '%s\n' "$failed" | sed -n 1p) (outside the module)"
            else
                result="missed" by="no test fails"
            fi
        fi
    fi
    restore
    row "$id" "${descriptions[$i]}" "$result" "$by"
done

if [ "$checkOnly" -eq 0 ]; then
    log "rebuilding $build without faults"
    nice cmake --build "$build" > "$logs/build.log" 2>&1 || log "the final build failed: $logs/build.log"
fi
if [ -n "$out" ]; then
    {
        echo "| fault | what goes wrong | result | caught by |"
        echo "|---|---|---|---|"
        printf '%s\n' "${rows[@]}"
    } > "$out"
fi
