#!/usr/bin/env bash
# The Debian package as a user gets it: made by cpack from a build folder, installed with apt
# (which brings its dependencies), ferretta-cli run from /usr/bin on the samples and on a PDF
# (its character tables must come from /usr/share/ferretta), the desktop files validated where
# they were installed, and the package removed again. Run as root, from the source folder.
#
# Usage: .ci/package_check.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:?usage: package_check.sh BUILD_DIR}")

rm -f "$build"/ferretta_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/ferretta_*.deb)
dpkg-deb --field "$deb" Package Version Depends Recommends Suggests

apt-get install -y "$deb"
trap 'apt-get remove -y ferretta >/dev/null 2>&1 || true' EXIT

work=$(mktemp -d)
cp -r samples "$work/samples"
cp tests/data/pdf/producers/gs_90ms_rksj.pdf "$work/samples/"
# A user without settings: the shipped defaults, Office switched off on the line.
HOME=$work/home XDG_CONFIG_HOME=$work/config /usr/bin/ferretta-cli --types=text,pdf \
    "$work/samples" '議事録 ferretta' >"$work/hits.txt"
cat "$work/hits.txt"
# Root can write to /usr/bin, yet its data folder is its own XDG folder like anyone's.
test -d "$work/config/ferretta"
grep -q '^"readme.txt",' "$work/hits.txt"
grep -q '^"gs_90ms_rksj.pdf","議事録は' "$work/hits.txt"
# Mail through the module the programs load on first use, from the installed library folder.
cp tests/data/pim/Inbox "$work/Inbox"
printf '[Outlook]\nInbox=%s\n' "$work/Inbox" >"$work/mail.ini"
HOME=$work/home /usr/bin/ferretta-cli --settings="$work/mail.ini" --types=outlook-mail \
    "$work/samples" '山田' >"$work/mail-hits.txt"
cat "$work/mail-hits.txt"
grep -q 'Outlookメール(1)-本文' "$work/mail-hits.txt"
desktop-file-validate /usr/share/applications/io.github.ferretta.Ferretta.desktop
appstreamcli validate --no-net /usr/share/metainfo/io.github.ferretta.Ferretta.metainfo.xml
test -s /usr/share/man/man1/ferretta-cli.1
rm -rf "$work"

apt-get remove -y ferretta
trap - EXIT
if [[ -e /usr/bin/ferretta-cli || -e /usr/share/ferretta ]]; then
    echo "FAIL: the package left files behind" >&2
    exit 1
fi
echo "PASS: $(basename "$deb") installed, ran from /usr/bin and was removed"
