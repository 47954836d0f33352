#!/usr/bin/env bash
# Builds Larkway and runs every test, with warnings as errors.
#   bash tests/run.sh              g++, Release, in build/
#   bash tests/run.sh --sanitize   g++ with AddressSanitizer and
#                                  UndefinedBehaviorSanitizer, in build-asan/
#   bash tests/run.sh --clang      clang++, Release, in build-clang/
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  --sanitize)
    bash scripts/ensure-deps.sh
    dir=build-asan
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKWAY_SANITIZE=ON -DLARKWAY_WERROR=ON >/dev/null
    ;;
  --clang)
    bash scripts/ensure-deps.sh --clang
    dir=build-clang
    CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLARKWAY_WERROR=ON >/dev/null
    ;;
  "")
    bash scripts/ensure-deps.sh
    dir=build
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLARKWAY_WERROR=ON >/dev/null
    ;;
  *)
    echo "usage: bash tests/run.sh [--sanitize | --clang]" >&2
    exit 2
    ;;
esac
cmake --build "$dir" -j"$(nproc)"
if [ -z "${1:-}" ]; then
  # The fault loops' figures go into tests/fault/RESULTS.md; it must say
  # what the tests found.
  results="$dir/fault-results.txt"
  rm -f "$results"
  LARKWAY_FAULT_RESULTS="$(realpath -m "$results")" ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
  bash scripts/fault-results.sh "$results"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git diff --exit-code -- tests/fault/RESULTS.md || {
      echo "tests/fault/RESULTS.md differs from what the fault loops found (regenerated above): commit it" >&2
      exit 1
    }
  fi
else
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
fi
