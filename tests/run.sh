#!/usr/bin/env bash
# Builds Larkway and runs every test, with warnings as errors, through the
# presets of CMakePresets.json:
#   bash tests/run.sh              preset release: g++, Release, in build/
#   bash tests/run.sh --sanitize   preset sanitize: g++ with AddressSanitizer
#                                  and UndefinedBehaviorSanitizer, in build-asan/
#   bash tests/run.sh --clang      preset clang: clang++, Release, in build-clang/
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  --sanitize)
    bash scripts/ensure-deps.sh
    preset=sanitize
    ;;
  --clang)
    bash scripts/ensure-deps.sh --clang
    preset=clang
    ;;
  "")
    bash scripts/ensure-deps.sh
    preset=release
    ;;
  *)
    echo "usage: bash tests/run.sh [--sanitize | --clang]" >&2
    exit 2
    ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
if [ -z "${1:-}" ]; then
  # The fault loops' figures go into tests/fault/RESULTS.md; it must say
  # what the tests found.
  results=build/fault-results.txt
  rm -f "$results"
  LARKWAY_FAULT_RESULTS="$(realpath -m "$results")" ctest --preset "$preset" -j"$(nproc)"
  bash scripts/fault-results.sh "$results"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git diff --exit-code -- tests/fault/RESULTS.md || {
      echo "tests/fault/RESULTS.md differs from what the fault loops found (regenerated above): commit it" >&2
      exit 1
    }
  fi
else
  ctest --preset "$preset" -j"$(nproc)"
fi
