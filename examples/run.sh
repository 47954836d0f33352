#!/usr/bin/env bash
# Builds Larkway and runs it on the bundled sample netmail area, laid out
# fresh in example-run/ each time.  Then runs the lastread example twice.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target larkway >/dev/null
rm -rf example-run
mkdir -p example-run
cp -r examples/sample/netmail example-run/netmail
cp examples/larkway.cfg examples/lastread.cfg example-run/
cd example-run
echo "=== larkway larkway.cfg"
../build/larkway larkway.cfg
echo "=== exit code $?; the log (larkway.log):"
cat larkway.log | tr -d '\r'
echo "=== files now:"
find . -type f | sort
echo
echo "=== lastread example: a fresh copy of the area, scanned twice"
rm -rf netmail && cp -r ../examples/sample/netmail netmail
../build/larkway lastread.cfg
../build/larkway lastread.cfg
echo "=== the second run found nothing new; msgid file: $(cat netmail/msgid)"
