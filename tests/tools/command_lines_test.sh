#!/usr/bin/env bash
# Inside the rig (no readers): the kit's programs answer --help on standard
# output, refuse a bad command line with one line and exit 2, never take an
# option for a value; kit-demo tells a missing PC/SC service from an empty
# reader list; kit-vcard gives up when no reader driver answers.
#
#   command_lines_test.sh BUILD_DIR
set -uo pipefail
bin=$1/bin
work=$KIT_RIG_DIR/work
mkdir -p "$work" && cd "$work" || exit 1
failures=0

# matches FILE PATTERN: an empty pattern wants an empty file.
matches() {
  if [ -z "$2" ]; then [ ! -s "$1" ]; else grep -Eq -- "$2" "$1"; fi
}

# expect STATUS STDOUT-PATTERN STDERR-PATTERN command...
expect() {
  local status=$1 out_pattern=$2 err_pattern=$3
  shift 3
  "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" != "$status" ] || ! matches out.txt "$out_pattern" || ! matches err.txt "$err_pattern" ||
     [ "$(wc -l <err.txt)" -gt 1 ]; then
    echo "FAILED: $* -> status $got (want $status)"
    echo "  stdout: $(head -c 300 out.txt)"
    echo "  stderr: $(head -c 300 err.txt)"
    failures=$((failures + 1))
  fi
}

for program in testpki kit-vcard kit-demo; do
  expect 0 "^usage: $program" "" "$bin/$program" --help
  expect 2 "" "^$program: unknown option --no-such-option" "$bin/$program" --no-such-option
done
expect 2 "" "^testpki: --bits must be" "$bin/testpki" "$work/pki" --bits --help
expect 2 "" "^kit-vcard: --port needs a value" "$bin/kit-vcard" --port --log x.log
expect 2 "" "^kit-demo: --photo needs a value" "$bin/kit-demo" --photo --wait 1
if [ -n "$(ls -A)" ] && ls -A | grep -qv -e '^out.txt$' -e '^err.txt$'; then
  echo "FAILED: a command line left files: $(ls -A)"
  failures=$((failures + 1))
fi

expect 1 "" "^kit-demo: no readers" "$bin/kit-demo"
expect 1 "" "^kit-demo: no PC/SC service running" \
  unshare --mount sh -c 'mount -t tmpfs tmpfs /run/pcscd && exec "$0"' "$bin/kit-demo"

"$bin/kit-vcard" --port 1 --driver-timeout 1 >out.txt 2>err.txt
status=$?
if [ $status != 1 ] || ! grep -q "^kit-vcard: waiting for the reader driver" err.txt ||
   ! grep -q "^kit-vcard: no reader driver (vpcd) answered on 127.0.0.1:1 for 1 s" err.txt; then
  echo "FAILED: kit-vcard without a reader driver -> status $status: $(cat err.txt)"
  failures=$((failures + 1))
fi
exit $((failures > 0))
