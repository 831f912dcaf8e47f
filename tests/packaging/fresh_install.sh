#!/usr/bin/env bash
# Installs the Linux package on a fresh Debian 12 (a minimal bookworm made with debootstrap
# in a temporary folder), as a user would with `apt install ./tonalis_*.deb`, and runs the
# installed program's --version and --help there; checks that the desktop entry, the icons,
# the udev rule and the manual page are where the desktop looks for them. Not part of
# scripts/test: it downloads a base system and GTK (a few hundred MB, some minutes).
# Needs root (or sudo) for the chroot.
# Usage: [DEBIAN_MIRROR=URL] tests/packaging/fresh_install.sh [build/native/tonalis_*.deb]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=${1:-}
if [ -z "$deb" ]; then
  "$root/scripts/build" native
  (cd "$root/build/native" && cpack -G DEB >/dev/null)
  deb=$(ls "$root"/build/native/tonalis_*.deb | tail -1)
fi
deb=$(readlink -f "$deb")

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
command -v debootstrap >/dev/null || "${sudo_cmd[@]}" apt-get install -y -qq debootstrap >/dev/null

mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
target=$(mktemp -d /tmp/tonalis-fresh.XXXXXX)
cleanup() {
  for m in proc sys dev; do "${sudo_cmd[@]}" umount -l "$target/$m" 2>/dev/null || true; done
  "${sudo_cmd[@]}" rm -rf "$target"
}
trap cleanup EXIT

echo "== a fresh Debian 12 in $target (from $mirror)"
"${sudo_cmd[@]}" debootstrap --variant=minbase bookworm "$target" "$mirror" >/dev/null
for m in proc sys dev; do "${sudo_cmd[@]}" mount --bind "/$m" "$target/$m"; done
"${sudo_cmd[@]}" cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
"${sudo_cmd[@]}" cp "$deb" "$target/tmp/"
in_root() { "${sudo_cmd[@]}" chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

echo "== apt install ./$(basename "$deb")"
in_root apt-get update -qq
in_root apt-get install -y -qq "./tmp/$(basename "$deb")" >/dev/null

echo "== the installed program"
in_root tonalis --version
in_root tonalis --help | head -3
failed=0
for f in /usr/share/applications/tonalis.desktop /usr/share/icons/hicolor/48x48/apps/tonalis.png \
         /usr/lib/udev/rules.d/70-tonalis-board.rules /usr/share/man/man1/tonalis.1.gz \
         /usr/share/doc/tonalis/copyright; do
  if [ -e "$target$f" ]; then echo "ok $f"; else echo "MISSING $f"; failed=1; fi
done
in_root dpkg -s tonalis | grep -E '^(Status|Version):'
[ $failed -eq 0 ] && echo "fresh install: passed" || { echo "fresh install: failed"; exit 1; }
