#!/usr/bin/env bash
# Inside the rig: installs the build into a fresh prefix, builds the README's
# C and Java examples from the installed files only (pkg-config and the
# README's javac line, with LD_LIBRARY_PATH cleared so nothing is found in
# the build tree) and reads the virtual eID card with each. The install
# holds no stand-in that makes up answers, and its uninstall leaves the
# prefix as it was: the one folder made before the install, empty.
#
#   installed_host_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
prefix=$KIT_RIG_DIR/prefix

# Both hosts read the one set of virtual cards (virtual-cards.sh calls back).
if [ "${3:-}" = --read ]; then
  env LD_DEBUG=files LD_DEBUG_OUTPUT="$KIT_RIG_DIR/ld" "$KIT_RIG_DIR/read_card" "$KIT_RIG_DIR/photo.jpg" \
    >"$KIT_RIG_DIR/out.txt"
  cd "$KIT_RIG_DIR/java"
  java -Djava.library.path="$prefix/lib" -cp "$prefix/share/java/vindra.jar:." ReadCard photo.jpg >out.txt
  exit 0
fi

# The build tree's own .pc files name the build tree.
for wanted in libdir/libselvane.so includedir/selvane.h; do
  dir=$(PKG_CONFIG_PATH=$build/pkgconfig pkg-config --variable="${wanted%%/*}" selvane)
  if [ ! -f "$dir/${wanted#*/}" ]; then
    echo "build/pkgconfig/selvane.pc: no ${wanted#*/} in its ${wanted%%/*} $dir" >&2
    exit 1
  fi
done

mkdir -p "$prefix/include"
cmake --install "$build" --prefix "$prefix" >/dev/null
# The kit's three libraries and its own synchronous-card reader, nothing else.
libs=$(cd "$prefix/lib" && echo *)
if [ "$libs" != "liborvel.so libscardsyn.so libselvane.so libtarvik.so pkgconfig" ]; then
  echo "the install's lib folder holds: $libs" >&2
  exit 1
fi
unset LD_LIBRARY_PATH
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# The open notes its reader (sisreader.txt) in the current directory, the
# rig's folder, and not in the caller's APPDATA folder.
unset APPDATA
cd "$KIT_RIG_DIR"

flags=$(pkg-config --cflags --libs selvane)
case "$flags" in
  *"$build"* | *"$source"*) echo "pkg-config names the build or source tree: $flags" >&2; exit 1 ;;
esac
[ "$(pkg-config --modversion selvane)" = "$KIT_VERSION" ]
# Copied out of the source tree, so no header next to it can be picked up.
cp "$source/examples/read_card.c" "$KIT_RIG_DIR/"
# shellcheck disable=SC2086 # the flags are words
cc -std=c11 -Wall -Werror "$KIT_RIG_DIR/read_card.c" $flags -Wl,-rpath,"$prefix/lib" -o "$KIT_RIG_DIR/read_card"
mkdir "$KIT_RIG_DIR/java"
cp "$source/examples/ReadCard.java" "$KIT_RIG_DIR/java/"
(cd "$KIT_RIG_DIR/java" && javac -cp "$prefix/share/java/vindra.jar" -d . ReadCard.java)

"$source/tests/rig/virtual-cards.sh" "$build" -- "$0" "$build" "$source" --read
for out in "$KIT_RIG_DIR/out.txt" "$KIT_RIG_DIR/java/out.txt"; do
  cat "$out"
  grep -qx "NATIONAL_NUMBER=85073012345" "$out"
  grep -qx "MUNICIPALITY=Gent" "$out"
done
grep -q "^photo: .* bytes written to photo.jpg$" "$KIT_RIG_DIR/java/out.txt"
cmp "$KIT_RIG_DIR/photo.jpg" "$KIT_RIG_DIR/pki/photo.jpg"
cmp "$KIT_RIG_DIR/java/photo.jpg" "$KIT_RIG_DIR/pki/photo.jpg"
# The loader's record shows where each library came from.
for lib in libselvane.so libtarvik.so liborvel.so; do
  grep -q "calling init: $prefix/lib/$lib\$" "$KIT_RIG_DIR"/ld.*
done
if grep -F "$build" "$KIT_RIG_DIR"/ld.*; then
  echo "the host loaded files from the build tree" >&2
  exit 1
fi

"$prefix/share/tessaro-kit/uninstall" >/dev/null
left=$(find "$prefix" | sort)
if [ "$left" != "$prefix"$'\n'"$prefix/include" ]; then
  echo "the uninstall left: $left" >&2
  exit 1
fi
