#!/usr/bin/env bash
# Builds the Debian package of a build directory and checks that it holds
# what a user needs where the tools look for it.
#
#   package_contents.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/zeverive_*.deb)
contents=$(dpkg-deb --contents "$package" | awk '{ print $6 }')
status=0
for path in ./usr/bin/zeverive ./usr/lib/frei0r-1/zeverive.so ./usr/lib/libzeverive.so \
  ./usr/share/man/man1/zeverive.1 ./usr/share/doc/zeverive/README.md; do
  if grep -qx "$path" <<<"$contents"; then
    echo "$path"
  else
    echo "missing: $path"
    status=1
  fi
done
dpkg-deb --field "$package" Package Depends
exit $status
