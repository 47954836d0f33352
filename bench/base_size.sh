#!/usr/bin/env bash
# What a destination's size costs a run: 10 netmail messages moved into a
# destination that holds no message and into one that holds 50,000, for
# each format, with a Markdown table on stdout.
#   bash bench/base_size.sh
#   BASE_SIZE=200000 bash bench/base_size.sh      another large destination
#   LARKWAY_BIN=/path/to/larkway bash bench/base_size.sh   (another build)
#   BULK_REPEAT=n   timed runs per case (default 5); times are their median
#   BASE_FORMATS="S J M"   the destination formats (Squish, JAM, *.MSG)
#
# The netmail area is a *.MSG folder of 10 messages (bench/make_netmail.py),
# all moved by one rule into the destination.  The large destination is
# filled by a larkway copy run of a generated area; the empty one is a base
# whose one message was killed again (an empty folder for *.MSG), so both
# exist before the timed run.  Everything lives on tmpfs (/dev/shm).  Per
# case: the median wall time of BULK_REPEAT runs on fresh copies (`sync`
# before each), and from one `strace -c -f` run on a fresh copy the system
# calls and the pread64 calls of the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

command -v strace >/dev/null 2>&1 || { echo "base_size: strace is needed" >&2; exit 1; }
if [ -z "${LARKWAY_BIN:-}" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j2 --target larkway >/dev/null
fi
bin=${LARKWAY_BIN:-$repo/build/larkway}
big=${BASE_SIZE:-50000}
moved=10
repeat=${BULK_REPEAT:-5}
formats=(${BASE_FORMATS:-S J M})

root=$(mktemp -d /dev/shm/lwbase.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/new" "$root/fill" "$root/one"
python3 bench/make_netmail.py "$root/new" "$moved"
python3 bench/make_netmail.py "$root/fill" "$big"
python3 bench/make_netmail.py "$root/one" 1

# template folder, format letter, messages: a run folder whose netmail area
# is the 10 new messages and whose destination "dest" holds that many.
make_template() {
  local tpl=$1 letter=$2 count=$3
  mkdir -p "$tpl"
  if [ "$count" = 0 ]; then
    if [ "$letter" = M ]; then
      mkdir -p "$tpl/dest"
    else
      cp -a "$root/one" "$tpl/net"
      printf 'NETMAIL *%s/net\nMOVE YES\nPRIORITY TO\nTO *, %s%s/dest\n' "$tpl" "$letter" "$tpl" >"$tpl/fill.cfg"
      "$bin" "$tpl/fill.cfg" >/dev/null
      printf 'NETMAIL %s%s/dest\nMOVE YES\nPRIORITY TO\nTO *, KILL\n' "$letter" "$tpl" >"$tpl/fill.cfg"
      "$bin" "$tpl/fill.cfg" >/dev/null
    fi
  else
    cp -a "$root/fill" "$tpl/net"
    printf 'NETMAIL *%s/net\nPRIORITY TO\nTO *, %s%s/dest\n' "$tpl" "$letter" "$tpl" >"$tpl/fill.cfg"
    "$bin" "$tpl/fill.cfg" >/dev/null
  fi
  rm -rf "$tpl/net" "$tpl/fill.cfg" "$tpl"/*.lmi
  cp -a "$root/new" "$tpl/net"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A wall calls preads
# key, template: fills wall, calls and preads for a run on copies of it.
measure() {
  local key=$1 tpl=$2 run=$root/run start end round
  local -a walls=()
  for ((round = 0; round < repeat; round++)); do
    rm -rf "$run" && cp -a "$tpl" "$run" && sync
    start=$(date +%s%N)
    "$bin" "$run/move.cfg" >"$root/out" 2>&1 || { cat "$root/out" >&2; exit 1; }
    end=$(date +%s%N)
    walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')")
    if [ -n "$(find "$run/net" -maxdepth 1 -iname '*.msg')" ]; then
      echo "base_size: $key left messages in the netmail area" >&2
      exit 1
    fi
  done
  wall[$key]=$(median "${walls[@]}")
  rm -rf "$run" && cp -a "$tpl" "$run" && sync
  strace -c -f -o "$root/strace" "$bin" "$run/move.cfg" >"$root/out" 2>&1
  calls[$key]=$(awk '$NF == "total" { print $4 }' "$root/strace")
  preads[$key]=$(awk '$NF == "pread64" { n += $4 } END { print n + 0 }' "$root/strace")
  rm -rf "$run"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

echo "| destination | holds | system calls | pread64 | wall s (median of $repeat) | calls / empty | time / empty |"
echo "|---|---|---|---|---|---|---|"
for letter in "${formats[@]}"; do
  case "$letter" in S) name=Squish ;; J) name=JAM ;; *) name='*.MSG' ;; esac
  for count in 0 "$big"; do
    echo "== $name destination of $count messages" >&2
    tpl=$root/tpl-$letter-$count
    make_template "$tpl" "$letter" "$count"
    printf 'NETMAIL *%s/net\nMOVE YES\nPRIORITY TO\nTO *, %s%s/dest\n' "$root/run" "$letter" "$root/run" >"$tpl/move.cfg"
    measure "$letter|$count" "$tpl"
    rm -rf "$tpl"
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$count" "${calls[$letter|$count]}" \
      "${preads[$letter|$count]}" "${wall[$letter|$count]}" \
      "$(ratio "${calls[$letter|$count]}" "${calls[$letter|0]}")" \
      "$(ratio "${wall[$letter|$count]}" "${wall[$letter|0]}")"
  done
done
