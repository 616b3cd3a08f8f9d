#!/usr/bin/env bash
# Builds the Debian package of a build directory, checks that it holds what
# a user needs where the tools look for it, and that lintian finds nothing
# to say about it.
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
for path in ./usr/bin/zeverive ./usr/bin/zeverive-batch ./usr/lib/frei0r-1/zeverive.so \
  ./usr/lib/zeverive/libzeverive.so ./usr/share/kdenlive/effects/frei0r_zeverive.xml \
  ./usr/share/bash-completion/completions/zeverive ./usr/share/bash-completion/completions/zeverive-batch \
  ./usr/share/man/man1/zeverive.1.gz ./usr/share/man/man1/zeverive-batch.1.gz \
  ./usr/share/doc/zeverive/README.md ./usr/share/doc/zeverive/copyright ./usr/share/doc/zeverive/changelog.gz; do
  if grep -qx "$path" <<<"$contents"; then
    echo "$path"
  else
    echo "missing: $path"
    status=1
  fi
done
dpkg-deb --field "$package" Package Version Depends Recommends
# lintian's tags go to standard output; as root it also warns on standard
# error that it runs as root.
tags=$(lintian "$package" 2>"$work/lintian.log") || true
if [ -n "$tags" ]; then
  echo "lintian:"
  echo "$tags"
  status=1
else
  echo "lintian: nothing to report"
fi
exit $status
