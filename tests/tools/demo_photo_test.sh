#!/usr/bin/env bash
# Inside the rig with a virtual eID card in "Kit Plain": kit-demo writes the
# photo to a plain name, and refuses a link or a FIFO planted at it (the
# link and its target stay, the FIFO is not waited on), saying so.
#
#   demo_photo_test.sh BUILD_DIR
set -uo pipefail
# Without APPDATA the demo notes its reader (sisreader.txt) in a folder of
# its own, not in the caller's APPDATA folder.
unset APPDATA
bin=$1/bin
work=$KIT_RIG_DIR/work
mkdir -p "$work" && cd "$work" || exit 1
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# demo PHOTO: the demo's line about the photo (30 s at most).
demo() { timeout 30 "$bin/kit-demo" --photo "$1" --wait 2 | grep "eID photo:"; }

line=$(demo photo.jpg)
[[ $line == *"bytes written to photo.jpg" ]] || fail "plain name: $line"
cmp -s photo.jpg "$KIT_RIG_DIR/pki/photo.jpg" || fail "the photo written is not the card's"

echo keep >target.txt
ln -s target.txt link.jpg
line=$(demo link.jpg)
[[ $line == *"(could not write link.jpg)" ]] || fail "link: $line"
[ -L link.jpg ] && [ "$(cat target.txt)" = keep ] || fail "the link or its target changed"

mkfifo fifo.jpg
line=$(demo fifo.jpg)
[[ $line == *"(could not write fifo.jpg)" ]] || fail "FIFO: $line"
[ -p fifo.jpg ] || fail "the FIFO is gone"
exit $((failures > 0))
