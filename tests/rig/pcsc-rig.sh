#!/usr/bin/env bash
# Runs a command beside a private pcscd with vpcd virtual readers, inside
# its own pid, mount and network namespaces, so runs in parallel never see
# each other and nothing listens outside. An ordinary user gets a user
# namespace as well, in which they are root.
#
#   pcsc-rig.sh [--readers "NAME|NAME..."] [--] command [args...]
#
# KIT_RIG_VPCD names the vpcd driver file (the build takes it out of the
# Debian package, see fetch-vpcd.sh); the system's pcscd and its reader
# configuration are never touched. Readers: KIT_RIG_READERS (or --readers),
# names separated by "|"; empty or unset means no readers. Reader i listens
# on KIT_RIG_BASE_PORT + 2*i (slot "NAME 00 00") and + 2*i + 1 (slot
# "NAME 00 01"). The command sees KIT_RIG_READERS, KIT_RIG_BASE_PORT and
# KIT_RIG_DIR (a scratch folder removed afterwards), PCSCLITE_CSOCK_NAME
# naming the rig's pcscd whatever the caller's names, and no_proxy "*": no
# proxy is reachable from the rig's network. /proc is the namespace's own.
set -euo pipefail

if [ "${KIT_RIG_INSIDE:-}" != 1 ]; then
  if [ ! -f "${KIT_RIG_VPCD:-}" ]; then
    echo "pcsc-rig: no vpcd driver at '${KIT_RIG_VPCD:-}' (KIT_RIG_VPCD); build the target kit-vpcd-driver" >&2
    exit 1
  fi
  export KIT_RIG_INSIDE=1
  user=()
  [ "$(id -u)" -ne 0 ] && user=(--user --map-root-user)
  exec unshare "${user[@]}" --pid --fork --kill-child --mount --net --propagation private --mount-proc "$0" "$@"
fi

if [ "${1:-}" = "--readers" ]; then
  KIT_RIG_READERS=$2
  shift 2
fi
[ "${1:-}" = "--" ] && shift
export KIT_RIG_READERS=${KIT_RIG_READERS:-}
export KIT_RIG_BASE_PORT=${KIT_RIG_BASE_PORT:-35963}
export PCSCLITE_CSOCK_NAME=/run/pcscd/pcscd.comm
export no_proxy='*'

ip link set lo up
# pcscd's folder is fixed. Where the system has none, /run gets a private
# tmpfs to hold it: the system's /run stays as it was.
if [ ! -d /run/pcscd ]; then
  mount -t tmpfs -o mode=0755 tmpfs /run
  mkdir /run/pcscd
fi
mount -t tmpfs -o mode=0755 tmpfs /run/pcscd
KIT_RIG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kit-rig.XXXXXX")
export KIT_RIG_DIR
trap 'rm -rf "$KIT_RIG_DIR"' EXIT
mkdir "$KIT_RIG_DIR/conf"

# Each reader entry needs a driver file of its own.
index=0
if [ -n "$KIT_RIG_READERS" ]; then
  IFS='|' read -r -a names <<<"$KIT_RIG_READERS"
  for name in "${names[@]}"; do
    port=$((KIT_RIG_BASE_PORT + 2 * index))
    cp "$KIT_RIG_VPCD" "$KIT_RIG_DIR/vpcd$index.so"
    printf 'FRIENDLYNAME "%s"\nDEVICENAME /dev/null:%d\nLIBPATH %s\n' \
      "$name" "$port" "$KIT_RIG_DIR/vpcd$index.so" >"$KIT_RIG_DIR/conf/reader$index"
    index=$((index + 1))
  done
fi

# pcscd lives in /usr/sbin, which an ordinary user's PATH lacks.
pcscd=$(PATH=$PATH:/usr/sbin:/sbin && command -v pcscd) || { echo "pcsc-rig: no pcscd (Debian package pcscd)" >&2; exit 1; }
"$pcscd" -f -c "$KIT_RIG_DIR/conf" >"$KIT_RIG_DIR/pcscd.log" 2>&1 &
pcscd_pid=$!
for _ in $(seq 100); do
  [ -S /run/pcscd/pcscd.comm ] && break
  sleep 0.05
done
if [ ! -S /run/pcscd/pcscd.comm ]; then
  echo "pcsc-rig: pcscd did not start" >&2
  cat "$KIT_RIG_DIR/pcscd.log" >&2
  exit 1
fi

set +e
"$@"
status=$?
set -e
kill "$pcscd_pid" 2>/dev/null || true
wait "$pcscd_pid" 2>/dev/null || true
exit $status
