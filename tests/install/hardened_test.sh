#!/usr/bin/env bash
# The libraries and the demo are built hardened: functions with buffers on
# the stack check a canary (__stack_chk_fail), calls whose sizes are known
# go through glibc's checked forms (__*_chk) where the build optimises, and
# every symbol is bound at load into relocations made read-only after it
# (BIND_NOW, GNU_RELRO).
#
#   hardened_test.sh [--fortified] BINARY...
set -euo pipefail
fortified=0
if [ "${1:-}" = --fortified ]; then
  fortified=1
  shift
fi
status=0
for binary in "$@"; do
  name=${binary##*/}
  imports=$(readelf --dyn-syms -W "$binary" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
  missing=()
  grep -qx __stack_chk_fail <<<"$imports" || missing+=("stack protector (no __stack_chk_fail)")
  if [ "$fortified" = 1 ] && ! grep -qx '__.*_chk' <<<"$imports"; then
    missing+=("fortified calls (no __*_chk)")
  fi
  readelf -d -W "$binary" | grep -Eq '\(FLAGS\) .*BIND_NOW|\(FLAGS_1\) .*NOW' || missing+=("BIND_NOW")
  readelf -l -W "$binary" | grep -Eq '^ *GNU_RELRO ' || missing+=("GNU_RELRO")
  if [ ${#missing[@]} -gt 0 ]; then
    printf -v list '%s, ' "${missing[@]}"
    echo "$name is not hardened: ${list%, }" >&2
    status=1
  fi
done
exit $status
