#!/usr/bin/env bash
# Inside the pcscd rig (pcsc-rig.sh): puts a virtual eID card made from a
# fresh test PKI in the first reader and, when there is a second reader, a
# virtual SIS card in it; waits until they are usable, then runs the
# command. Card logs (eid.log, sis.log) and the PKI (pki/) are in
# $KIT_RIG_DIR, which the rig removes afterwards.
#
#   virtual-cards.sh BUILD_DIR [--] command [args...]
set -euo pipefail
build=$1
shift
[ "${1:-}" = "--" ] && shift
IFS='|' read -r -a readers <<<"$KIT_RIG_READERS"
if [ ${#readers[@]} -eq 0 ]; then
  echo "virtual-cards: the rig has no readers (KIT_RIG_READERS)" >&2
  exit 1
fi
pki=$KIT_RIG_DIR/pki
mkdir -p "$pki"
"$build/bin/testpki" "$pki" --bits 1024 >/dev/null
"$build/bin/kit-vcard" --port "$KIT_RIG_BASE_PORT" --profile eid --pki "$pki" --log "$KIT_RIG_DIR/eid.log" &
slots=("${readers[0]} 00 00")
if [ ${#readers[@]} -gt 1 ]; then
  "$build/bin/kit-vcard" --port $((KIT_RIG_BASE_PORT + 2)) --profile sle4418 --memory "@$pki/sis_valid.bin" \
    --log "$KIT_RIG_DIR/sis.log" &
  slots+=("${readers[1]} 00 00")
fi
"$build/bin/kit-rig-wait" 20 "${slots[@]}"
"$@"
