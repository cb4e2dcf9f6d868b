#!/usr/bin/env bash
# What an install lays down and what its uninstall takes away, without a card:
#  - into a prefix that holds shell syntax, whose uninstall runs none of it,
#    and leaves the files of a folder that a link made after the install
#    leads to;
#  - from a copy of the source built in another folder, as a packager does
#    (prefix /usr, a multiarch libdir, DESTDIR staging): the same library
#    bytes, plain .pc paths, and an install that stops before writing
#    anything while something it carries is not built.
#
#   install_layout_test.sh BUILD_DIR SOURCE_DIR CMAKE_ARGS...
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
shift 2
work=$(mktemp -d "$build/tests/install/layout.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "$*" >&2; exit 1; }

# --- A prefix holding ", `, $(...) and $VAR.
prefix="$work/kit \"\$(touch ran)\" \`touch ran\` \$HOME"
mkdir "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ "$(cd "$prefix/bin" && echo *)" = kit-demo ] || fail "the install's bin folder holds: $(ls "$prefix/bin")"
# P/include made a link to another folder after the install.
mv "$prefix/include" elsewhere
ln -s "$work/elsewhere" "$prefix/include"
if "$prefix/share/tessaro-kit/uninstall" >uninstall.out 2>&1; then
  fail "the uninstall did not say that it left the headers behind the link"
fi
[ ! -e ran ] || fail "the uninstall ran a command of its prefix"
[ "$(cd elsewhere && echo *)" = "orvel.h selvane.h tarvik.h" ] ||
  fail "the uninstall removed files through a link; left: $(ls elsewhere)"
left=$(find "$prefix" | sort)
[ "$left" = "$prefix"$'\n'"$prefix/include" ] || fail "the uninstall left: $left"

# --- The same commit built in another folder, staged for /usr.
mkdir kit
tar -C "$source" --exclude=./.git --exclude='./build*' -cf - . | tar -C kit -xf -
cmake -S kit -B kit/build "$@" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu >/dev/null
libraries=(orvel tarvik selvane scardsyn)
cmake --build kit/build -j4 --target "${libraries[@]}" >/dev/null
for name in "${libraries[@]}"; do
  cmp "$build/lib/lib$name.so" "kit/build/lib/lib$name.so"
done
# The demo and the jars are not built yet.
if DESTDIR=$work/stage cmake --install kit/build >install.out 2>&1; then
  fail "the install went on without the demo and the jars"
fi
[ ! -e stage ] || fail "the failed install wrote: $(find stage)"
cmake --build kit/build -j4 --target kit-demo tessaro_client vindra >/dev/null
DESTDIR=$work/stage cmake --install kit/build >/dev/null
libdir=stage/usr/lib/x86_64-linux-gnu
[ "$(cd "$libdir" && echo *)" = "liborvel.so libscardsyn.so libselvane.so libtarvik.so pkgconfig" ] ||
  fail "the staged libdir holds: $(ls "$libdir")"
# /usr's folders are the system's: pkg-config adds no -I or -L for them.
read -ra flags < <(PKG_CONFIG_PATH=$work/$libdir/pkgconfig pkg-config --cflags --libs selvane)
[ "${flags[*]}" = "-lselvane" ] || fail "pkg-config for /usr: ${flags[*]}"
# Only the kit's own folder is the install's to remove from a staged /usr.
[ "$(cat stage/usr/share/tessaro-kit/folders)" = /usr/share/tessaro-kit ] ||
  fail "the staged uninstall removes the folders: $(cat stage/usr/share/tessaro-kit/folders)"
