#!/bin/bash
# Runs the open-at-hit tests of the LibreOffice automation on a virtual X server.
# Usage: open_at_hit_check.sh <libreoffice_open_test>. Exit 77 (skipped) without xvfb-run or
# LibreOffice.
set -u
test_program="$1"
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run is missing: skipped"
    exit 77
fi
if [ ! -x /usr/lib/libreoffice/program/soffice ]; then
    echo "LibreOffice is missing: skipped"
    exit 77
fi
# The display number as the window checks take theirs, so that none of them runs on this one.
source "$(dirname "$0")/../../ui/xvfb/xvfb_common.sh"
takeDisplayNumber 100
exec xvfb-run -n "$displayNumber" -s "-screen 0 1280x1024x24 -noreset" "$test_program"
