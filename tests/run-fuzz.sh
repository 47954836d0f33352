#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/, replays each seed
# corpus, then fuzzes each target for FUZZ_SECONDS seconds (30 by default)
# on a scratch copy of its corpus, as many targets at once as there are
# cores.  Prints one line per target with its
# executions; exits non-zero on any finding, whose input is kept under
# build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

targets=(fuzz_address fuzz_dates fuzz_config fuzz_filter fuzz_msg fuzz_squish fuzz_jam)
max_len() {
  case "$1" in
    fuzz_address) echo 256 ;;
    fuzz_dates) echo 128 ;;
    fuzz_config | fuzz_filter) echo 4096 ;;
    *) echo 65536 ;;
  esac
}

dir=build-fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

# In memory where there is room for it; the targets keep their files below.
scratch="$(mktemp -d /dev/shm/larkway-run-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export LARKWAY_FUZZ_SCRATCH="$scratch/files"
mkdir -p "$LARKWAY_FUZZ_SCRATCH"
# One target: replays its seeds, then fuzzes a scratch copy of its corpus.
# Prints its lines (at once, so that targets run side by side do not mix
# them) and returns non-zero on a failing seed or a finding.
fuzz_one() {
  local target="$1" exe="$dir/fuzz/$1" seeds="fuzz/corpus/$1" log="$scratch/$1.log" status=0 runs
  if ! "$exe" "$seeds" -runs=0 >"$log" 2>&1; then
    { echo "$target: a seed input fails"; tail -n 40 "$log"; } >"$scratch/$target.out"
    return 1
  fi
  mkdir -p "$scratch/$target/corpus" "$scratch/$target/artifacts"
  cp "$seeds"/* "$scratch/$target/corpus/"
  "$exe" "$scratch/$target/corpus" -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$scratch/$target/artifacts/" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$scratch/$target/artifacts")" ]; then
    mkdir -p "$dir/findings/$target"
    cp "$scratch/$target/artifacts"/* "$dir/findings/$target/" 2>/dev/null || true
    { echo "$target: FINDING after ${runs:-?} executions in ${seconds} s (inputs in $dir/findings/$target/)"
      grep -v '^#' "$log" | tail -n 60; } >"$scratch/$target.out"
    return 1
  fi
  echo "$target: ${runs:-?} executions in ${seconds} s" >"$scratch/$target.out"
}

# Each target runs on one core, so as many run side by side as there are
# cores: the same fuzzing time per target, in less time overall.
jobs="$(nproc)"
declare -A pid_of
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_one "$target" &
  pid_of[$target]=$!
done
passed=0
failed=0
for target in "${targets[@]}"; do
  if wait "${pid_of[$target]}"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  cat "$scratch/$target.out"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
