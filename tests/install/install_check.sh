#!/usr/bin/env bash
# Installs the build into a temporary prefix with `cmake --install` and checks what a desktop
# expects there: the programs in bin/, the data files in share/ferretta/, a valid desktop entry
# and AppStream file, the icon in the hicolor theme (SVG and PNGs of their nominal sizes), the
# manual page. Then the installed ferretta-cli, without a settings file, searches a folder with
# the shipped defaults and reads a Shift-JIS CMap PDF: its character tables come from
# share/ferretta, not from the build tree; with soffice, a Word search goes through the
# LibreOffice module installed in lib/ferretta.
#
# Usage: install_check.sh BUILD_DIR SOURCE_DIR
# Exit 0 when every check passed, 1 with a message on the first failure, 77 (skipped) when a
# validator is missing.
set -u
# A sanitized build reports at exit what the office's UNO libraries keep until then: not ours.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")/../documents" && pwd)/lsan_office.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
build=${1:?usage: install_check.sh BUILD_DIR SOURCE_DIR}
source=${2:?usage: install_check.sh BUILD_DIR SOURCE_DIR}
for tool in desktop-file-validate appstreamcli groff identify; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (packages in tools/deps/window.test)" >&2
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ferretta-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "cmake --install failed: $(tail -n 5 "$work/install.log")"

id=io.github.ferretta.Ferretta
for file in bin/ferretta bin/ferretta-cli share/ferretta/AdobeCID.dat \
    share/ferretta/JapanCMaps.dat share/ferretta/frtta-default.ini share/ferretta/help/index.html \
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg" share/man/man1/ferretta-cli.1 \
    lib/ferretta/ferretta-pim.so lib/ferretta/ferretta-libreoffice.so; do
    [[ -s "$prefix/$file" ]] || fail "$file is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    [[ "$(identify -format '%wx%h' "$png" 2>/dev/null)" == "${size}x${size}" ]] ||
        fail "the ${size}x${size} icon is missing or of another size"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
for key in 'Name\[ja\]' 'Comment\[ja\]' Keywords Categories; do
    grep -q "^$key=" "$prefix/share/applications/$id.desktop" || fail "the desktop entry has no $key"
done
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream.log")"
warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$prefix/share/man/man1/ferretta-cli.1" 2>&1)
[[ -z "$warnings" ]] || fail "the manual page: $warnings"

# The installed command line, with no settings file: the shipped defaults (text extensions
# TXT;CSV;LOG;MD and the built-in PDF engine) and the data files of share/ferretta.
mkdir -p "$work/home" "$work/folder"
echo "ferretta in markdown" >"$work/folder/notes.md"
cp "$source/tests/data/pdf/producers/gs_90ms_rksj.pdf" "$work/folder/"
FERRETTA_HOME=$work/home "$prefix/bin/ferretta-cli" --types=text,pdf "$work/folder" '議事録 ferretta' \
    >"$work/hits.txt" 2>"$work/cli.log" || fail "the installed ferretta-cli failed: $(cat "$work/cli.log")"
grep -q '^"notes.md","ferretta in markdown",' "$work/hits.txt" ||
    fail "the shipped defaults did not apply: $(cat "$work/hits.txt")"
grep -q '^"gs_90ms_rksj.pdf","議事録は' "$work/hits.txt" ||
    fail "the PDF was not read with the installed tables: $(cat "$work/hits.txt" "$work/cli.log")"
[[ ! -e "$work/home/frtta.ini" ]] || fail "ferretta-cli wrote a settings file"

# The office through the module the installed programs load from lib/ferretta at their first
# office (left out without soffice).
if command -v soffice >/dev/null 2>&1; then
    mkdir -p "$work/office"
    soffice -env:UserInstallation="file://$work/convert" --headless --convert-to odt \
        --outdir "$work/office" "$source/tests/data/office/writer.fodt" >/dev/null 2>&1
    [[ -s "$work/office/writer.odt" ]] || fail "soffice could not make writer.odt"
    FERRETTA_HOME=$work/home "$prefix/bin/ferretta-cli" --office-native=off --types=word \
        "$work/office" 'フェレッタ' >"$work/office-hits.txt" 2>"$work/office.log" ||
        fail "the installed ferretta-cli could not read through LibreOffice: $(cat "$work/office.log")"
    grep -q '^"writer.odt",' "$work/office-hits.txt" ||
        fail "no hit through LibreOffice: $(cat "$work/office-hits.txt" "$work/office.log")"
fi
echo "PASS: installed under $prefix, validated, and searched with the installed data"
