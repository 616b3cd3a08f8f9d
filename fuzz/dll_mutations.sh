#!/usr/bin/env bash
# Damaged copies of zeverive.auf loaded by the i386 zeverive under qemu
# (`zeverive --plugin MUTANT --list`), each classified:
#
#   ok         loaded, and the record listed
#   refused    exit 1 with one line naming the problem
#   start-up   the DLL's own start-up code crashed (its constructor lists,
#              its data): the loader says so, and the process dies of it
#   dll-code   the same in the DLL's GetFilterTable
#   crash      anything else that died of a signal: the loader's own code
#   hang       still running after the time limit
#   other      any other exit
#
# Fails when any mutant ends as crash, hang or other. Fixed seed: the same
# DLL gives the same mutants.
#
#   fuzz/dll_mutations.sh I386_ZEVERIVE ZEVERIVE_AUF [COUNT] [SEED]
#
# COUNT defaults to 300. Work files go to $ZEVERIVE_FUZZ_DIR (default
# build/dll-mutations): the mutants, mutations.txt saying what each one
# changed, and results.txt with each one's class and message.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zeverive=$1 dll=$2 count=${3:-300} seed=${4:-19}
work=${ZEVERIVE_FUZZ_DIR:-$repo/build/dll-mutations}
seconds=20

rm -rf "$work"
mkdir -p "$work"
python3 "$repo/fuzz/dll_mutate.py" "$dll" "$work" "$count" "$seed"

# The unmutated DLL must load, or every mutant's result means nothing.
qemu-i386-static -cpu pentium3 "$zeverive" --plugin "$dll" --list >"$work/listing" \
  || { echo "the unmutated $dll does not load"; exit 1; }

declare -A counts=([ok]=0 [refused]=0 [start-up]=0 [dll-code]=0 [crash]=0 [hang]=0 [other]=0)
: >"$work/results.txt"
same=0  # loads that listed the record as the unmutated DLL does
for ((i = 0; i < count; i++)); do
  mutant=$work/$(printf %03d "$i").auf
  # In a subshell of its own, whose notice of a death by signal goes nowhere.
  status=$({
    timeout -k 5 "$seconds" qemu-i386-static -cpu pentium3 "$zeverive" --plugin "$mutant" --list \
      >"$work/out" 2>"$work/err"
    echo $?
  } 2>/dev/null)
  lines=$(wc -l <"$work/err")
  if [ "$status" -eq 0 ]; then
    class=ok
    # The first line names the file listed.
    cmp -s <(tail -n +2 "$work/out") <(tail -n +2 "$work/listing") && same=$((same + 1))
  elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    class=hang
  elif [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] && grep -q '^zeverive: ' "$work/err"; then
    class=refused
  elif [ "$status" -gt 128 ] && grep -q '^pe_loader: .*: crashed in its start-up code' "$work/err"; then
    class=start-up
  elif [ "$status" -gt 128 ] && grep -q '^pe_loader: .*: crashed in its ' "$work/err"; then
    class=dll-code
  elif [ "$status" -gt 128 ]; then
    class=crash
  else
    class=other
  fi
  counts[$class]=$((counts[$class] + 1))
  printf '%03d %-8s %s | %s\n' "$i" "$class" "$(sed -n "$((i + 1))s/^[0-9]* //p" "$work/mutations.txt")" \
    "$(head -c 300 "$work/err" | tr '\n' ' ')" >>"$work/results.txt"
done

grep -E '^[0-9]+ (crash|hang|other) ' "$work/results.txt" || true
echo "$count mutations of $(basename "$dll") (seed $seed): ${counts[ok]} ok ($same listing the record unchanged), ${counts[refused]} refused," \
  "${counts[start-up]} crashed in the DLL's start-up code, ${counts[dll-code]} in its GetFilterTable," \
  "${counts[crash]} crashed in the loader, ${counts[hang]} hung, ${counts[other]} other"
[ $((counts[crash] + counts[hang] + counts[other])) -eq 0 ]
