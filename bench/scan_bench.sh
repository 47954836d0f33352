#!/usr/bin/env bash
# The whole job on large areas: wall time and peak memory of larkway runs.
#   bash bench/scan_bench.sh            (2,000 and 10,000 messages)
#   LARKWAY_BIN=$PWD/build-win32/larkway.exe LARKWAY_LAUNCHER=/usr/lib/wine/wine64 \
#     bash bench/scan_bench.sh 10000      (the Win32 build under Wine)
# Needs python3 and GNU time (installed when missing).  Peak memory is that
# of the process started (under Wine: the Wine loader's).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time; }
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target larkway >/dev/null
bin=${LARKWAY_BIN:-$PWD/build/larkway}
launcher=${LARKWAY_LAUNCHER:-}
counts=${1:-2000 10000}
work=$(mktemp -d /tmp/lwscan.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ -n "$launcher" ]; then
  # Start Wine's services once with no pipes open, so that they do not hold
  # the pipes of the measured runs.
  $launcher cmd /c exit >/dev/null 2>&1 || true
fi

measure() {  # label, config
  local out
  out=$( { /usr/bin/time -f "%e %M" $launcher "$bin" "$2" >/dev/null; } 2>&1 | tail -1)
  printf '%-58s %8s s %8s KB peak\n' "$1" ${out}
}

for count in $counts; do
  for dest in '*' S J; do
    rm -rf "$work"/* && mkdir -p "$work/net"
    python3 bench/make_netmail.py "$work/net" "$count"
    cd "$work"
    printf 'NETMAIL *net\nMOVE YES\nPRIORITY TO\nTO Sysop, %sdest\nLOG lw.log\n' "$dest" > move.cfg
    measure "$count *.MSG messages, half moved to a '$dest' destination" move.cfg
    cd - >/dev/null
  done
  for area in S J; do
    # Fill a base with $count messages (the Sysop half of twice as many),
    # then move every one of them out of it.
    rm -rf "$work"/* && mkdir -p "$work/net"
    python3 bench/make_netmail.py "$work/net" "$((count * 2))"
    cd "$work"
    printf 'NETMAIL *net\nMOVE YES\nPRIORITY TO\nTO Sysop, %sarea\n' "$area" > fill.cfg
    $launcher "$bin" fill.cfg >/dev/null
    printf 'NETMAIL %sarea\nMOVE YES\nPRIORITY TO\nTO Sysop, Sdest\nLOG lw.log\n' "$area" > out.cfg
    measure "$count messages in a '$area' netmail area, all moved out to a Squish base" out.cfg
    cd - >/dev/null
  done
done
