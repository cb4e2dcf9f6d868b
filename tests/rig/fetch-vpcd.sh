#!/usr/bin/env bash
# Puts the vpcd reader driver at DEST, taken out of Debian's vsmartcard-vpcd
# package without installing it: installed, the package adds a reader that
# listens on every address to the system's own pcscd.
#
#   fetch-vpcd.sh [--update-lists] DEST [KEPT...]
#
# A kept copy serves first: DEST itself, then each KEPT driver file (another
# build folder's), then the package in apt's archive (/var/cache/apt/
# archives). Only then is the package downloaded (apt-get download: apt's
# package lists and the network, no root); with --update-lists (root), a
# download that failed for want of apt's lists is tried once more after
# apt-get update. When the driver
# cannot be had, one line on standard error says what is missing and how
# to get it, and the exit status is 1.
set -euo pipefail
update_lists=0
if [ "${1:-}" = --update-lists ]; then
  update_lists=1
  shift
fi
dest=$1
shift
[ -f "$dest" ] && exit 0
for kept in "$@"; do
  if [ -f "$kept" ]; then
    mkdir -p "$(dirname "$dest")"
    cp "$kept" "$dest.part" && mv "$dest.part" "$dest"
    exit 0
  fi
done

mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$(dirname "$dest")/vpcd.XXXXXX")
trap 'rm -rf "$work"' EXIT

# extract DEB: the driver out of DEB into DEST; fails on a package that is
# not vsmartcard-vpcd or holds no driver.
extract() {
  [ "$(dpkg-deb -f "$1" Package 2>/dev/null)" = vsmartcard-vpcd ] || return 1
  rm -rf "$work/package"
  dpkg-deb -x "$1" "$work/package" 2>/dev/null || return 1
  cp -L "$work/package/usr/lib/pcsc/drivers/serial/libifdvpcd.so" "$dest.part" 2>/dev/null || return 1
  mv "$dest.part" "$dest"
}

archives=/var/cache/apt/archives/
eval "$(apt-config shell archives Dir::Cache::archives/d 2>/dev/null)" || true
# The newest kept package first.
while IFS= read -r deb; do
  extract "$deb" && exit 0
done < <(find "$archives" -maxdepth 1 -name 'vsmartcard-vpcd_*.deb' 2>/dev/null | sort -rV)

# As root apt would hand the download to its sandbox user, who cannot write here.
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
download() {
  rm -f "$work"/*.deb
  (cd "$work" && apt-get download -qq "${sandbox[@]}" vsmartcard-vpcd) >"$work/apt.log" 2>&1 &&
    extract "$work"/vsmartcard-vpcd_*.deb
}
known() { apt-cache show vsmartcard-vpcd >/dev/null 2>&1; }
download && exit 0
# Lists that never knew the package, or name a version the mirror has
# dropped; a machine without the network gains nothing from an update.
if [ "$update_lists" = 1 ] && { ! known || grep -q ' 404 ' "$work/apt.log"; }; then
  apt-get update -qq >"$work/update.log" 2>&1 || true
  download && exit 0
fi

what="the rig's reader driver (vpcd) is missing: Debian's package vsmartcard-vpcd is not in apt's archive ($archives)"
if ! known; then
  echo "$what and apt's package lists do not know it; as root, run: apt-get update (with the network), then try again" >&2
else
  why=$(grep -E '^(E|W|Err):' "$work/apt.log" | head -n 1 | tr -s ' \t' ' ' || true)
  echo "$what and could not be downloaded${why:+ ($why)}; connect to the network and try again, or copy a vsmartcard-vpcd_*.deb into $archives" >&2
fi
exit 1
