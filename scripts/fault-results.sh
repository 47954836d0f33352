#!/usr/bin/env bash
# Writes tests/fault/RESULTS.md from the summary lines the fault loops left
# in the file named by LARKWAY_FAULT_RESULTS during a ctest run (one line a
# loop: loop, area format, then the counts; see loop_summary.cpp).
#   bash scripts/fault-results.sh <lines file>
# tests/run.sh runs it after the tests and CI fails when the file in the
# tree differs from what the tests found.
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:?usage: bash scripts/fault-results.sh <lines file>}
order() {
  case "$1" in
    Counted) echo 10 ;; Persistent) echo 20 ;; Crash) echo 30 ;; Kill) echo 40 ;;
    CrashTorn) echo 31 ;; CrashLastWrite) echo 32 ;; CrashEntriesFirst) echo 33 ;;
    Interrupted) echo 50 ;; ShortRead) echo 60 ;; ShortWrite) echo 70 ;;
    FormatCounted) echo 80 ;; FormatCrash) echo 90 ;; *) echo 99 ;;
  esac
}
# A loop named "<kind> <variant>" (a scenario variant) follows its kind.
rows=$(sort -u "$lines" | while IFS=$'\t' read -r loop fmt rest; do
  f=$(case "$fmt" in M) echo 1 ;; S) echo 2 ;; J) echo 3 ;; *) echo 9 ;; esac)
  variant=0
  [ "$loop" != "${loop%% *}" ] && variant=1
  printf '%s%s%s\t%s\t%s\t%s\n' "$(order "${loop%% *}")" "$variant" "$f" "$loop" "$fmt" "$rest"
done | sort | cut -f2-)
{
  sed -n '1,/^<!-- table -->$/p' tests/fault/RESULTS.md
  echo
  echo "| loop | area format | fault points | losing messages | damaging a base | reruns not finishing | hung | crashed | message where it does not belong | most copies of a message |"
  echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
  printf '%s\n' "$rows" | while IFS=$'\t' read -r loop fmt points lost damaged unfinished hung crashed misplaced copies; do
    echo "| $loop | $fmt | $points | $lost | $damaged | $unfinished | $hung | $crashed | $misplaced | $copies |"
  done
  echo
  sed -n '/^<!-- end of table -->$/,$p' tests/fault/RESULTS.md
} > tests/fault/RESULTS.md.new
mv tests/fault/RESULTS.md.new tests/fault/RESULTS.md
