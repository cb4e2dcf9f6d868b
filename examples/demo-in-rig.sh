#!/usr/bin/env bash
# Runs kit-demo inside the pcscd rig (tests/rig/pcsc-rig.sh) with a virtual
# eID card in "Kit Plain" and a virtual SIS card in "OMNIKEY Kit", both made
# from a fresh test PKI. Usage (from ./run demo):
#   KIT_RIG_READERS="Kit Plain|OMNIKEY Kit" pcsc-rig -- demo-in-rig.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$1
out=$2
pki=$KIT_RIG_DIR/pki
mkdir -p "$pki" "$out"
"$build/bin/testpki" "$pki" --bits 1024 >/dev/null
"$build/bin/kit-vcard" --port "$KIT_RIG_BASE_PORT" --profile eid --pki "$pki" --log "$KIT_RIG_DIR/eid.log" &
"$build/bin/kit-vcard" --port $((KIT_RIG_BASE_PORT + 2)) --profile sle4418 --memory "@$pki/sis_valid.bin" \
  --log "$KIT_RIG_DIR/sis.log" &
# sisreader.txt goes to the output folder, as to a user's application data.
export APPDATA=$out
"$build/bin/kit-demo" --photo "$out/eid-photo.jpg" --wait 2
