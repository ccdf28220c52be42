#!/bin/sh
# Installs what building and testing tickwatch needs on Debian 12:
# the mingw-w64 cross compilers, CMake and Ninja, GoogleTest (and its sources,
# built for Windows too), clang for the fuzzers, Wine (32- and 64-bit) to
# run the Windows builds, node_exporter to collect the analyzer's metrics,
# Prometheus for promtool, which checks them and tests the alerting rules,
# mawk, which tools/bench-analyze measures the analyzer against, and GNU time,
# git and groff for the release and its manual page, and Chromium, which
# prints the report for the page count in docs/report.md (tools/docs-examples),
# and Nagios, the monitoring core the --check test runs the analyzer under.
# Does nothing when everything is already there.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 python3 mawk clang-format clang-tidy prometheus-node-exporter prometheus git groff-base time
  chromium nagios4-core"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing:$missing" >&2
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >&2
