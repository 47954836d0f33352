#!/usr/bin/env bash
# Renders each manual page in man/ and fails on any warning groff gives.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for page in man/*.[0-9]; do
  warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || { echo "$page: man failed"; status=1; }
  if [ -n "$warnings" ]; then
    echo "$page:"
    echo "$warnings"
    status=1
  fi
done
[ $status -eq 0 ] && echo "manual pages render without warnings"
exit $status
