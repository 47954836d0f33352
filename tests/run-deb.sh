#!/usr/bin/env bash
# Builds the Debian package from a copy of the tree, checks it with lintian,
# installs it on this machine, runs it, then purges it and checks that
# nothing it installed is left.  Needs root (or sudo) for dpkg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh --deb
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
fail() { echo "run-deb: $*" >&2; exit 1; }

# One version: the program's, the changelog's and the manual pages'.
version=$(sed -n 's/^inline const char\* const kVersion = "\(.*\)";$/\1/p' src/app/config/config.h)
[ -n "$version" ] || fail "no kVersion in src/app/config/config.h"
changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "debian/changelog says $changelog_version, the program $version"
for page in man/larkway.1 man/larkway.cfg.5; do
  grep -q "^\.TH .* \"Larkway $version\"" "$page" || fail "$page does not name Larkway $version"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The build leaves its .deb, .buildinfo and .changes in the parent of the
# folder it builds in: build in a copy so they stay in $work.
mkdir "$work/larkway"
tar -c --exclude='./.git' --exclude='./build*' --exclude='./example-run' . |
  tar -x -C "$work/larkway"
(cd "$work/larkway" && dpkg-buildpackage -us -uc -b -j"$(nproc)" >"$work/build.log" 2>&1) ||
  { tail -n 50 "$work/build.log"; fail "dpkg-buildpackage failed"; }
arch=$(dpkg --print-architecture)
deb="$work/larkway_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb"
lintian --fail-on error,warning "$work"/larkway_"${version}"_"${arch}".changes

$SUDO dpkg -i "$deb"
installed=$(dpkg -L larkway)
larkway -V | grep -q "$version" || fail "larkway -V does not name $version"

# The packaged example over a scratch area: its folders moved under $work.
scratch="$work/scratch"
mkdir -p "$scratch/spool"
cp -r examples/sample/netmail "$scratch/spool/netmail"
sed -e "s#/var/spool/fido#$scratch/spool#g" -e "s#/var/log/fido#$scratch/log#g" \
  /usr/share/doc/larkway/larkway.cfg.example >"$scratch/larkway.cfg"
larkway --check "$scratch/larkway.cfg"
larkway "$scratch/larkway.cfg" >"$scratch/out" ||
  { cat "$scratch/out"; fail "the packaged example failed"; }
grep -q 'message(s) founded' "$scratch/out" || { cat "$scratch/out"; fail "the example picked nothing"; }
[ -f "$scratch/spool/sysop.sqd" ] || fail "the example made no Squish base for Sysop"
grep -q '^>' "$scratch/log/larkway.log" || fail "the example wrote no log"

# The units verify (an unknown key is only a warning to systemd-analyze,
# so any output fails) and the logrotate snippet parses.
units=(/lib/systemd/system/larkway.{service,timer,path})
verify_out=$(systemd-analyze verify "${units[@]}" 2>&1) && [ -z "$verify_out" ] ||
  { echo "$verify_out"; fail "systemd-analyze verify does not pass the units"; }
/usr/sbin/logrotate -d /etc/logrotate.d/larkway 2>"$work/logrotate.out" ||
  { cat "$work/logrotate.out"; fail "logrotate cannot read /etc/logrotate.d/larkway"; }
grep -qi 'error' "$work/logrotate.out" && { cat "$work/logrotate.out"; fail "logrotate reports an error"; }
for unit in larkway.service larkway.timer larkway.path; do
  state=$(systemctl is-enabled "$unit" 2>/dev/null || true)
  [ "$state" != enabled ] || fail "$unit was enabled on install"
done

$SUDO dpkg --purge larkway
left=""
while IFS= read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then left+=" $path"; fi
done <<<"$installed"
for path in /etc/logrotate.d/larkway /usr/share/doc/larkway; do
  [ ! -e "$path" ] || left+=" $path"
done
[ -z "$left" ] || fail "left after purge:$left"
echo "package larkway_${version}_${arch}.deb built, lintian clean, installed, run and purged"
