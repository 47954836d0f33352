#!/usr/bin/env bash
# The bulk move against its floor: larkway and bench/floor.c side by side on
# the same generated netmail areas, with a Markdown table on stdout.
#   bash bench/bulk_move.sh                 N = 2000 and 8000
#   BULK_COUNTS="500 2000" bash bench/bulk_move.sh
#   LARKWAY_BIN=/path/to/larkway bash bench/bulk_move.sh   (another build)
# Parts of the matrix, e.g. to run them side by side:
#   BULK_STORAGE="tmpfs|disk"  BULK_SOURCES="msg-lower msg-upper squish jam"
#   BULK_STRACE=0   no strace runs (system call and sync columns show "-")
#   BULK_REPEAT=n   timed runs per case (default 5); times are their median
#   BULK_PROGRAMS=floor   only the floor (or only larkway); the other's columns show "-"
#
# The job: a netmail area of N messages (bench/make_netmail.py --mix), with
# MOVE YES rules sending half of them to a Squish base, a fifth to a JAM
# base, a tenth to a *.MSG folder, killing a tenth and keeping a tenth (no
# rule picks them), and a log.  Each case runs on tmpfs (/dev/shm) and on
# the disk (/var/tmp), with a *.MSG netmail area named n.msg or N.MSG, and
# with a Squish and a JAM netmail area (written by a larkway copy run of the
# generated area).  The floor (bench/floor.c) does only the system calls
# the job cannot avoid on a *.MSG area; Squish and JAM sources are compared
# with the floor on the lower-case *.MSG area they were written from.
#
# Per case, as the median of BULK_REPEAT runs on fresh copies: wall time
# (page cache warm, `sync` before each run), CPU time
# (user + system: on a machine shared with other work it moves less than
# the wall time), the ratio
# to the floor, the growth t(largest N)/t(smallest N) (4.0 is linear for
# 2000 -> 8000), syncs per message (fsync + fdatasync + syncfs) and system
# calls per message from `strace -c -f` (a second run on a fresh copy), and
# peak memory (maximum resident set from GNU time).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

missing=()
command -v python3 >/dev/null 2>&1 || missing+=(python3)
command -v strace >/dev/null 2>&1 || missing+=(strace)
[ -x /usr/bin/time ] || missing+=(time)
command -v cc >/dev/null 2>&1 || missing+=(gcc)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
fi

if [ -z "${LARKWAY_BIN:-}" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j2 --target larkway >/dev/null
fi
bin=${LARKWAY_BIN:-$repo/build/larkway}
counts=(${BULK_COUNTS:-2000 8000})
first=${counts[0]}
last=${counts[${#counts[@]} - 1]}
sources=(${BULK_SOURCES:-msg-lower msg-upper squish jam})
storages=(${BULK_STORAGE:-tmpfs disk})
trace=${BULK_STRACE:-1}
repeat=${BULK_REPEAT:-5}
programs=${BULK_PROGRAMS:-larkway floor}

roots=()
cleanup() { for r in "${roots[@]}"; do rm -rf "$r"; done; }
trap cleanup EXIT
mkroot() {  # storage -> a fresh scratch folder there
  if [ "$1" = tmpfs ]; then mktemp -d /dev/shm/lwbulk.XXXXXX; else mktemp -d /var/tmp/lwbulk.XXXXXX; fi
}
floor=$(mktemp -d /tmp/lwfloor.XXXXXX)
roots+=("$floor")
cc -O2 -Wall -Wextra -o "$floor/floor" bench/floor.c

# The routing of the job, for larkway (a configuration) and for the floor.
write_config() {  # configuration file, run folder, netmail area identifier
  cat >"$1" <<EOF
LOG $2/lw.log
NETMAIL $3
MOVE YES
PRIORITY TO
TO Sysop, S$2/sysop
TO Jam User, J$2/jam
TO Msg User, *$2/msgdest
TO Spammer, KILL
EOF
}
floor_args() {  # run folder
  printf '%s\n' "Sysop=$1/sysop" "Jam User=$1/jam" "Msg User=$1/msgdest" "Spammer=KILL"
}

# template folder, floor template folder, source, N: lays the netmail area
# out as template/net*, and the *.MSG area the floor moves as floor/net.
make_template() {
  local tpl=$1 floor_tpl=$2 source=$3 count=$4
  mkdir -p "$tpl/net" "$floor_tpl"
  case "$source" in
    msg-lower) python3 bench/make_netmail.py "$tpl/net" "$count" --mix && cp -a "$tpl/net" "$floor_tpl/" ;;
    msg-upper) python3 bench/make_netmail.py "$tpl/net" "$count" --mix --upper && cp -a "$tpl/net" "$floor_tpl/" ;;
    squish | jam)
      local letter=S
      [ "$source" = jam ] && letter=J
      python3 bench/make_netmail.py "$tpl/net" "$count" --mix
      printf 'NETMAIL *%s/net\nPRIORITY TO\nTO *, %s%s/base\n' "$tpl" "$letter" "$tpl" >"$tpl/fill.cfg"
      cp -a "$tpl/net" "$floor_tpl/"
      "$bin" "$tpl/fill.cfg" >/dev/null
      rm -rf "$tpl/net" "$tpl/fill.cfg"
      ;;
  esac
}
netmail_id() {  # run folder, source
  case "$2" in
    squish) echo "S$1/base" ;;
    jam) echo "J$1/base" ;;
    *) echo "*$1/net" ;;
  esac
}

declare -A wall cpu rss syncs calls
# key, template, run folder, command...: fills wall, cpu, rss, syncs, calls.
measure() {
  local key=$1 tpl=$2 run=$3
  shift 3
  local start end round
  local -a walls=() cpus=()
  for ((round = 0; round < repeat; round++)); do
    rm -rf "$run" && cp -a "$tpl" "$run" && sync
    start=$(date +%s%N)
    /usr/bin/time -f '%M %U %S' -o "$run.time" "$@" >"$run.out" 2>&1 || {
      echo "bulk_move: $key failed:" >&2
      cat "$run.out" >&2
      exit 1
    }
    end=$(date +%s%N)
    walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')")
    cpus+=("$(awk '{ printf "%.2f", $2 + $3 }' "$run.time")")
    rss[$key]=$(awk '{ printf "%.1f", $1 / 1024 }' "$run.time")
    check_result "$key" "$run"
    rm -rf "$run"
  done
  wall[$key]=$(median "${walls[@]}")
  cpu[$key]=$(median "${cpus[@]}")
  if [ "$trace" = 0 ]; then
    syncs[$key]=-
    calls[$key]=-
    return
  fi
  cp -a "$tpl" "$run" && sync
  strace -c -f -o "$run.strace" "$@" >"$run.out" 2>&1 || {
    echo "bulk_move: $key failed under strace:" >&2
    cat "$run.out" >&2
    exit 1
  }
  syncs[$key]=$(awk '$NF ~ /^(fsync|fdatasync|syncfs)$/ { n += $4 } END { print n + 0 }' "$run.strace")
  calls[$key]=$(awk '$NF == "total" { print $4 }' "$run.strace")
  rm -rf "$run" "$run.time" "$run.out" "$run.strace"
}
# The middle one of its numbers (the lower middle of an even count).
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# A *.MSG source must keep exactly its tenth of unpicked messages.
check_result() {
  local key=$1 run=$2
  case "$key" in *squish*larkway* | *jam*larkway*) return ;; esac
  local n=${key##*|}
  local left
  left=$(find "$run/net" -maxdepth 1 -iname '*.msg' | wc -l)
  if [ "$left" -ne $((n / 10)) ]; then
    echo "bulk_move: $key left $left messages, not $((n / 10))" >&2
    exit 1
  fi
}

per_msg() { awk -v a="$1" -v n="$2" 'BEGIN { if (a == "-") print "-"; else printf "%.2f", a / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "-" && b > 0) printf "%.1f", a / b; else print "-" }'; }
# storage, source, N: one row of the table, for the case just measured.
print_row() {
  local storage=$1 source=$2 count=$3
  local k="$storage|$source|larkway|$count" f="$storage|$source|floor|$count" growth="-" key
  for key in "$k" "$f"; do
    [ -n "${wall[$key]:-}" ] || { wall[$key]=-; cpu[$key]=-; rss[$key]=-; syncs[$key]=-; calls[$key]=-; }
  done
  if [ "$count" = "$last" ] && [ "$first" != "$last" ] && [ "${wall[$storage|$source|larkway|$first]:--}" != - ]; then
    growth=$(ratio "${wall[$k]}" "${wall[$storage|$source|larkway|$first]}")
  fi
  printf '| %s | %s | %s | %s | %s | %s | %s | %s, %s | %s, %s | %s, %s | %s, %s |\n' \
    "$storage" "$source" "$count" "${wall[$f]}" "${wall[$k]}" "$(ratio "${wall[$k]}" "${wall[$f]}")" "$growth" \
    "${cpu[$f]}" "${cpu[$k]}" "$(per_msg "${syncs[$f]}" "$count")" "$(per_msg "${syncs[$k]}" "$count")" \
    "$(per_msg "${calls[$f]}" "$count")" "$(per_msg "${calls[$k]}" "$count")" "${rss[$f]}" "${rss[$k]}"
}

echo "| storage | netmail area | N | floor s | larkway s | larkway / floor | t($last) / t($first) | CPU s floor, larkway | syncs/msg floor, larkway | calls/msg floor, larkway | peak RSS MB floor, larkway |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for storage in "${storages[@]}"; do
  root=$(mkroot "$storage")
  roots+=("$root")
  for source in "${sources[@]}"; do
    for count in "${counts[@]}"; do
      echo "== $storage, $source, $count messages" >&2
      tpl=$root/tpl
      floor_tpl=$root/floor-tpl
      run=$root/run
      rm -rf "$tpl" "$floor_tpl" && make_template "$tpl" "$floor_tpl" "$source" "$count"
      write_config "$tpl/move.cfg" "$run" "$(netmail_id "$run" "$source")"
      case " $programs " in *" larkway "*)
        measure "$storage|$source|larkway|$count" "$tpl" "$run" "$bin" "$run/move.cfg" ;;
      esac
      mapfile -t args < <(floor_args "$run")
      case " $programs " in *" floor "*)
        measure "$storage|$source|floor|$count" "$floor_tpl" "$run" "$floor/floor" "$run/net" "${args[@]}" ;;
      esac
      rm -rf "$tpl" "$floor_tpl"
      print_row "$storage" "$source" "$count"
    done
  done
done
