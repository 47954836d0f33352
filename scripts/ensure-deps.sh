#!/usr/bin/env bash
# Installs what a fresh machine lacks to build and test Larkway.
set -euo pipefail
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
# The JSON library (header only) the --json report is written with.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
# A FidoNet tosser whose JAM and *.MSG areas the end-to-end tests scan.
command -v crashmail >/dev/null 2>&1 || missing+=(crashmail)
# The manual pages are rendered with warnings on by a test.
command -v man >/dev/null 2>&1 || missing+=(man-db)
command -v groff >/dev/null 2>&1 || missing+=(groff-base)
case "${1:-}" in
  --bench) [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev) ;;
  --clang) command -v clang++ >/dev/null 2>&1 || missing+=(clang) ;;
  --tidy)
    command -v clang-tidy-14 >/dev/null 2>&1 || missing+=(clang-tidy-14)
    command -v clang++ >/dev/null 2>&1 || missing+=(clang)
    ;;
  --deb)
    command -v dpkg-buildpackage >/dev/null 2>&1 || missing+=(dpkg-dev)
    command -v dh >/dev/null 2>&1 || missing+=(debhelper)
    dpkg -s build-essential >/dev/null 2>&1 || missing+=(build-essential)
    command -v lintian >/dev/null 2>&1 || missing+=(lintian)
    command -v systemd-analyze >/dev/null 2>&1 || missing+=(systemd)
    [ -x /usr/sbin/logrotate ] || missing+=(logrotate)
    ;;
  --win32)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64-posix)
    [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
    [ -d /usr/src/googletest ] || missing+=(googletest)
    command -v script >/dev/null 2>&1 || missing+=(bsdutils)
    ;;
esac
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
