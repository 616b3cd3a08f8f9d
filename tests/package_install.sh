#!/usr/bin/env bash
# The Debian package installed, used as a user would and removed again:
# dpkg -i, the programs' versions, the manual page, ffmpeg and melt finding
# the filter by themselves, Kdenlive's description and the completion where
# their programs look, then dpkg -r and dpkg -P leaving nothing behind.
# Needs root and dpkg; skipped (status 77) without them, or where a zeverive
# package is installed already, which this test would replace.
#
#   package_install.sh PACKAGE_DIR SAMPLES_DIR WORK_DIR
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/frei0r/melt_render.sh"
package=$(ls "$1"/zeverive_*.deb)
samples=$2
work=$3

skip() {
  echo "skipped: $*"
  exit 77
}
command -v dpkg >/dev/null || skip "this machine has no dpkg"
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
if dpkg-query -W -f='${Status}' zeverive 2>/dev/null | grep -q installed; then
  skip "a zeverive package is installed already"
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"
installed=0
trap '[ "$installed" -eq 0 ] || dpkg -P zeverive >/dev/null 2>&1 || true' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

version=$(dpkg-deb --field "$package" Version)
files=$(dpkg-deb --contents "$package" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
dpkg -i "$package"
installed=1

[ "$(/usr/bin/zeverive --version | head -n 1)" = "zeverive $version" ] || fail "zeverive --version"
[ "$(/usr/bin/zeverive-batch --version | head -n 1)" = "zeverive-batch $version" ] || fail "zeverive-batch --version"
# The labels as the program prints them, in a UTF-8 terminal.
label=$(/usr/bin/zeverive --help | grep -o '[^ ]*Lv2:' | head -n 1)
LANG=C.UTF-8 MANWIDTH=120 man zeverive 2>/dev/null | grep -qF "$label" || fail "man zeverive does not show '$label'"
echo "zeverive $version installed; man zeverive shows '$label'"

unset FREI0R_PATH
ffmpeg -v error -i "$samples/coffee-noisy.y4m" -frames:v 2 -vf frei0r=zeverive -f null - ||
  fail "ffmpeg does not find the installed filter"
melt_render melt.y4m 2 "$samples/coffee-noisy.y4m" -filter frei0r.zeverive || fail "melt with the installed filter"
# Whole, to a file: grep -q would stop reading at the line it finds.
melt -query filter=frei0r.zeverive >query.yml 2>/dev/null || true
grep -q 'identifier: frei0r.zeverive' query.yml || fail "melt does not list the filter"
echo "ffmpeg and melt find the filter in /usr/lib/frei0r-1"

[ -f /usr/share/kdenlive/effects/frei0r_zeverive.xml ] || fail "no Kdenlive effect description"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  bash -c 'source /usr/share/bash-completion/bash_completion; _completion_loader zeverive-batch
           complete -p zeverive-batch' | grep -q _zeverive || fail "bash-completion does not load the completion"
fi

dpkg -r zeverive
for file in $files; do
  [ ! -e "$file" ] || fail "$file is left after dpkg -r"
done
dpkg -P zeverive
installed=0
dpkg-query -W -f='${Status}' zeverive 2>/dev/null | grep -q installed && fail "still known to dpkg after dpkg -P"
echo "dpkg -r and dpkg -P removed every file"
