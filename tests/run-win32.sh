#!/usr/bin/env bash
# Builds the Win32 program (build-win32/larkway.exe) and its unit tests with
# mingw-w64 and runs them under Wine; then runs the end-to-end tests of the
# Linux build against larkway.exe, started through Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh --win32
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$(nproc)"
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target larkway_tests

export WINEPREFIX="${WINEPREFIX:-$PWD/build-win32/wineprefix}" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
# One wineserver for the whole run, so that program starts never race with
# a server that is shutting down.
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k || true' EXIT
"$wine" cmd /c exit >/dev/null 2>&1 || true   # creates the prefix once

echo "== Win32 unit tests under Wine"
# A folder of 100,000 files takes minutes to make under Wine; the console
# colour needs a console, so it runs on a pseudo terminal below.
"$wine" build-win32/tests/larkway_tests.exe --gtest_filter='-*ManyFilesThatAreNotMessages*:*Colour*'
echo "== Win32 console colour (on a pseudo terminal)"
# Wine draws the console with escape sequences (a blank is a cursor move).
colour=$(script -qec "$wine build-win32/tests/larkway_tests.exe --gtest_filter=*Colour*" /dev/null </dev/null \
  | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g')
if echo "$colour" | grep -q 'FAILED\|SKIPPED' || ! echo "$colour" | grep -q 'PASSED'; then
  echo "$colour"
  exit 1
fi
echo "console colour: 1 passed, 0 failed"
echo "== End-to-end tests against larkway.exe under Wine"
LARKWAY_BIN="$PWD/build-win32/larkway.exe" LARKWAY_LAUNCHER="$wine" \
  build/tests/larkway_tests --gtest_filter='E2E*:Scan*:*Formats*'
