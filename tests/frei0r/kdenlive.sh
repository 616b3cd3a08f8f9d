#!/usr/bin/env bash
# The Kdenlive effect description of the frei0r filter, read as Kdenlive
# reads it and applied as Kdenlive applies it: through MLT, each parameter
# set by its name to the value shown divided by its factor.
#
#   kdenlive.sh FILTER_DIR ZEVERIVE WORK_DIR
#
# FILTER_DIR holds the built filter and its description, frei0r_zeverive.xml.
# It must name every parameter MLT reports, in order and of the same kind,
# and settings given in the units it shows (with the rest at its defaults)
# must give the very frames that the same settings give when set by
# number from the plug-in's own record (zeverive --list).
set -euo pipefail

export FREI0R_PATH=$1
xml=$1/frei0r_zeverive.xml
zeverive=$2
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
samples=$here/../../samples
rm -rf "$work"
mkdir -p "$work"
cd "$work"

melt -query filter=frei0r.zeverive >query.yml 2>/dev/null
"$zeverive" --list >record.txt

# Writes by-name.txt and by-number.txt, the filter's properties for melt
# either way, after checking the description against MLT's list.
python3 - "$xml" <<'PY'
import re
import sys
import xml.etree.ElementTree as ET

effect = ET.parse(sys.argv[1]).getroot()
assert effect.tag == "effect" and effect.get("tag") == "frei0r.zeverive", effect.attrib
parameters = effect.findall("parameter")
mlt = re.findall(r"^  - identifier: (\d+)\n    title: (\S+)\n(?:    .*\n)*?    type: (\w+)", open("query.yml").read(), re.M)
names = [p.get("name") for p in parameters]
assert names == [title for _, title, _ in mlt], f"description {names}, MLT {mlt}"
for p, (_, title, kind) in zip(parameters, mlt):
    assert (p.get("type") == "bool") == (kind == "boolean"), (title, p.get("type"), kind)
    assert p.findtext("name") and p.findtext("comment"), f"{title}: no name or comment to show"

# Slider ranges from the plug-in's record, in its own units.
record = {m[0]: (int(m[1]), int(m[2])) for m in re.findall(r"^\d+\s+--(\S+)\s+-?\d+\s+(-?\d+)\.\.(-?\d+)", open("record.txt").read(), re.M)}
chosen = {"auto": 0, "mode": 2, "nr2": 100, "nr3": 100, "nr4": 100, "nr5h": 100, "strength": 150, "vertical": 70}
by_name, by_number = [], []
for index, p in enumerate(parameters):
    name = p.get("name")
    if p.get("type") == "list":
        assert p.get("default") in p.get("paramlist").split(";"), f"{name}: the default is not among the names"
        by_name.append(f"{name}={p.get('default')}")
        continue
    factor = float(p.get("factor", "1"))
    shown = chosen.get(name, float(p.get("default")))
    by_name.append(f"{name}={shown / factor:.9g}")
    if name in record and name in chosen:
        low, high = record[name]
        assert float(p.get("min")) == low and float(p.get("max")) == high, f"{name}: range differs from the record"
        by_number.append(f"{index}={(shown - low) / (high - low):.9g}")
    elif name in chosen:
        by_number.append(f"{index}={shown}")
assert len(by_number) == len(chosen), "a chosen setting is missing from the description"
open("by-name.txt", "w").write(" ".join(by_name))
open("by-number.txt", "w").write(" ".join(by_number))
print(f"{len(parameters)} parameters, as MLT lists them")
PY

source "$here/melt_render.sh"
render() {
  local out=$1
  shift
  melt_render "$out" 3 "$samples/coffee-noisy.y4m" -filter frei0r.zeverive "$@"
}
# shellcheck disable=SC2046 # one property a word
render by-name.y4m $(cat by-name.txt)
# shellcheck disable=SC2046
render by-number.y4m $(cat by-number.txt)
render off.y4m 0=0
cmp by-name.y4m by-number.y4m || { echo "FAILED: the description's units or names do not reach the filter"; exit 1; }
! cmp -s by-name.y4m off.y4m || { echo "FAILED: the settings took no effect"; exit 1; }
echo "settings in the description's units give the frames of the same settings by number"
