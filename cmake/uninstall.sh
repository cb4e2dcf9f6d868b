#!/bin/sh
# Removes the Tessaro card-reading kit: the files listed in "files" beside
# this script, then the folders listed in "folders" (those the install made,
# deepest first), each once it is empty. The install wrote both lists, one
# path a line, with the symbolic links of the time resolved. A path that a
# link leads through now (one made since) is not the one the install wrote
# to: it is left as it is, and named.
unset CDPATH
here=$(dirname -- "$0")
# Opened first: the lists are among the files removed.
exec 3<"$here/files" 4<"$here/folders" || exit 1
status=0
count=0
cache_names_them=0

# as_written PATH: PATH is a folder that no symbolic link leads to.
as_written() { [ "$(cd -P -- "$1" 2>/dev/null && pwd -P)" = "$1" ]; }

while IFS= read -r file <&3; do
  [ -e "$file" ] || [ -L "$file" ] || continue
  if [ -L "$file" ] || [ ! -f "$file" ] || ! as_written "$(dirname -- "$file")"; then
    echo "uninstall: left $file: since the install, a symbolic link leads there or it is no regular file" >&2
    status=1
    continue
  fi
  case $file in
    *.so) ldconfig -p 2>/dev/null | grep -qF " => $file" && cache_names_them=1 ;;
  esac
  if rm -f -- "$file"; then count=$((count + 1)); else status=1; fi
done
while IFS= read -r folder <&4; do
  as_written "$folder" && rmdir -- "$folder" 2>/dev/null
done
# An ldconfig after the install left the loader's cache naming the libraries.
if [ "$cache_names_them" = 1 ]; then
  if [ "$(id -u)" = 0 ]; then ldconfig; else echo "uninstall: as root, run ldconfig" >&2; fi
fi
echo "uninstall: removed $count files of the kit"
exit $status
