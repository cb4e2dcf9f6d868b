#!/usr/bin/env bash
# Takes the vpcd reader driver out of Debian's vsmartcard-vpcd package
# without installing it: installed, the package adds a reader that listens
# on every address to the system's own pcscd. Needs no root, only apt's
# package lists.
#
#   fetch-vpcd.sh DEST        (DEST: the driver file to write)
set -euo pipefail
dest=$1
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$(dirname "$dest")/vpcd.XXXXXX")
trap 'rm -rf "$work"' EXIT
# As root apt would hand the download to its sandbox user, who cannot write here.
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
if ! (cd "$work" && apt-get download -qq "${sandbox[@]}" vsmartcard-vpcd) >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  echo "fetch-vpcd: could not download vsmartcard-vpcd; as root, run: apt-get update" >&2
  exit 1
fi
dpkg-deb -x "$work"/vsmartcard-vpcd_*.deb "$work/package"
cp -L "$work/package/usr/lib/pcsc/drivers/serial/libifdvpcd.so" "$dest.part"
mv "$dest.part" "$dest"
