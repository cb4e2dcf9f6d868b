#!/usr/bin/env bash
# Inside the rig (no readers): the kit's programs answer --help on standard
# output, refuse a bad command line with one line and exit 2, never take an
# option for a value; kit-demo tells a missing PC/SC service from an empty
# reader list; kit-vcard gives up when no reader driver answers. ./run names
# what it refuses before building; the rig's driver fetch takes a package
# kept in apt's archive, and says in one line what is missing otherwise.
#
#   command_lines_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
bin=$1/bin
source=$2
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

expect 2 "" "^\./run: unknown command 'foo'" "$source/run" foo
expect 127 "" "^\./run rig: no program '\./nonexist'" "$source/run" rig -- ./nonexist

# apt's archive is a folder of the test's own here, holding a package it
# made; the rig has no network, so nothing is downloaded.
mkdir -p package/DEBIAN package/usr/lib/pcsc/drivers/serial archives
printf 'Package: vsmartcard-vpcd\nVersion: 9.9\nArchitecture: all\nMaintainer: Kit <kit@example.org>\nDescription: test\n' \
  >package/DEBIAN/control
echo "test driver" >package/usr/lib/pcsc/drivers/serial/libifdvpcd.so
dpkg-deb -b package archives/vsmartcard-vpcd_9.9_all.deb >/dev/null
printf 'Dir::Cache::archives "%s/archives/";\nAcquire::Retries "0";\n' "$work" >apt.conf
fetch=(env APT_CONFIG="$work/apt.conf" "$source/tests/rig/fetch-vpcd.sh")
expect 0 "" "" "${fetch[@]}" "$work/rig/libifdvpcd.so"
[ "$(cat rig/libifdvpcd.so 2>&1)" = "test driver" ] || { echo "FAILED: the driver from apt's archive"; failures=$((failures + 1)); }
rm -r archives/* rig
expect 1 "" "^the rig's reader driver \(vpcd\) is missing: Debian's package vsmartcard-vpcd is not in apt's archive" \
  "${fetch[@]}" "$work/rig/libifdvpcd.so"
[ ! -e rig/libifdvpcd.so ] || { echo "FAILED: a driver without a package"; failures=$((failures + 1)); }
rm -rf package archives rig apt.conf out.txt err.txt

"$bin/kit-vcard" --port 1 --driver-timeout 1 >out.txt 2>err.txt
status=$?
if [ $status != 1 ] || ! grep -q "^kit-vcard: waiting for the reader driver" err.txt ||
   ! grep -q "^kit-vcard: no reader driver (vpcd) answered on 127.0.0.1:1 for 1 s" err.txt; then
  echo "FAILED: kit-vcard without a reader driver -> status $status: $(cat err.txt)"
  failures=$((failures + 1))
fi
exit $((failures > 0))
