#!/bin/sh
# Makes a fresh Wine prefix for a test run and keeps its wineserver running
# for the run's tests (setup), or stops the server again (cleanup).
#
#   wine_prefix.sh setup|cleanup PREFIX [LOADER]
#
# Programs run through Debian's wine, which starts the 32-bit loader, or
# through LOADER when given: the 64-bit loader where this machine cannot run
# 32-bit programs (tests/e2e/CMakeLists.txt).
set -eu
action=$1
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko to install
unset DISPLAY
wine=wine
if [ $# -ge 3 ]; then
    wine=$3
    export WINELOADER="$3"
fi

case "$action" in
setup)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    "$wine" wineboot.exe --init >/dev/null 2>&1
    wineserver -w
    # Persistent, so that each test's programs start at once; detached
    # from the output that CTest waits on.
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the system services now, detached too: started by a test's
    # first program, they would hold on to its output (and CTest would wait
    # for them) as long as the server runs. The program that starts them
    # limits the relay trace (WINEDEBUG=+relay) to the timer-period calls.
    "$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'winmm.timeBeginPeriod;winmm.timeEndPeriod' /f </dev/null >/dev/null 2>&1
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    ;;
esac
