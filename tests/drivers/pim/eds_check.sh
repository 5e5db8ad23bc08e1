#!/bin/bash
# Runs the EDS end-to-end test on a session bus of its own, with private XDG folders, so that
# EDS starts by D-Bus activation and keeps its data in a temporary folder; nothing is left
# running afterwards. Exits 77 (skipped) where dbus-run-session or EDS is missing.
set -u
test_binary=$1
command -v dbus-run-session >/dev/null || { echo "dbus-run-session is missing"; exit 77; }
for service in Sources5 Calendar8 AddressBook10; do
    [ -e "/usr/share/dbus-1/services/org.gnome.evolution.dataserver.$service.service" ] ||
        { echo "evolution-data-server is missing"; exit 77; }
done
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"
# Everything is set before the bus starts: the services it activates inherit its environment.
env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" GSETTINGS_BACKEND=memory \
    FERRETTA_HOME="$home/ferretta" FERRETTA_EDS_SESSION=1 LC_ALL=C.UTF-8 \
    ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${LSAN_OPTIONS:+LSAN_OPTIONS="$LSAN_OPTIONS"} \
    timeout 120 dbus-run-session -- "$test_binary"
