#!/usr/bin/env bash
# Runs clang-tidy (14, with the checks in .clang-tidy) over every source file
# of src/ in the Linux build, warnings as errors.  Prints each finding once
# (a header's finding is reported by every file that includes it), then the
# number of findings per check; exits 0 only when there are none.
#   bash scripts/tidy.sh                 every file of src/
#   bash scripts/tidy.sh src/app/rules/rules.cpp ...   only these files
# The compile commands come from the configure-only preset `tidy`, a clang
# build in build-tidy/ (clang, so that clang-tidy understands every flag).
# The full output is kept in build-tidy/tidy.log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh --tidy
dir=build-tidy
cmake --preset tidy >/dev/null

if [ $# -gt 0 ]; then
  files=()
  for f in "$@"; do files+=("$(realpath "$f")"); done
else
  # Every translation unit of src/ the Linux build compiles.
  mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$dir/compile_commands.json" \
    | grep "^$PWD/src/" | sort -u)
fi
[ ${#files[@]} -gt 0 ] || { echo "tidy: no source files found"; exit 1; }

log="$dir/tidy.log"
jobs="${TIDY_JOBS:-2}"
printf '%s\n' "${files[@]}" \
  | xargs -P "$jobs" -n 1 clang-tidy-14 -p "$dir" --quiet >"$log" 2>&1 || true

# One line per distinct finding: path:line:col: error: text [check].
findings="$dir/tidy-findings.txt"
grep -E '^/.*:[0-9]+:[0-9]+: (warning|error): .*\[[A-Za-z0-9.,-]+\]$' "$log" \
  | sed "s|^$PWD/||" | sort -u >"$findings" || true
count=$(wc -l <"$findings")
if [ "$count" -eq 0 ]; then
  if grep -qE 'error:|Error while processing' "$log"; then
    echo "tidy: clang-tidy failed without a finding:"
    tail -n 40 "$log"
    exit 1
  fi
  echo "tidy: ${#files[@]} files, no findings"
  exit 0
fi
cat "$findings"
echo
echo "Findings per check:"
sed -E 's/.*\[([A-Za-z0-9.,-]+)\]$/\1/' "$findings" | tr ',' '\n' | grep -v '^-warnings-as-errors$' \
  | sort | uniq -c | sort -rn
echo "tidy: ${#files[@]} files, $count findings"
exit 1
