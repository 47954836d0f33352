#!/usr/bin/env bash
# Builds Larkway and runs every test.  With --sanitize the tests are built
# with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKWAY_SANITIZE=ON >/dev/null
else
  dir=build
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
