#!/usr/bin/env bash
# Fails when an i386 object of the plug-in uses an instruction outside the
# processor variant of the function that holds it:
#   - SSE (xmm registers, MXCSR, streaming stores, SSE prefetches and fences)
#     only in the SSE kernels (*_sse) and in the SSE trial of the detection;
#   - nothing beyond SSE1 (no SSE2), even there;
#   - 3DNow!/MMX (mm registers, pf*, femms, emms) only in the 3DNow! kernels
#     (*_3dnow), and no x87 instruction there: the two share one register
#     file, and the 3DNow! kernels hand it back empty with FEMMS.
# Everything else must run on a processor without SSE or 3DNow!.
#
# usage: scripts/check-isa-leaks.sh OBJECT... | BUILD_DIR
#   BUILD_DIR: an i386 or Windows build tree; its plug-in objects are used.
# OBJDUMP may name the disassembler (default objdump).
set -euo pipefail

objdump=${OBJDUMP:-objdump}
objects=()
for arg in "$@"; do
  if [ -d "$arg" ]; then
    while IFS= read -r -d '' o; do objects+=("$o"); done \
      < <(find "$arg" -path '*zeverive_core.dir*' \( -name '*.o' -o -name '*.obj' \) -print0)
  else
    objects+=("$arg")
  fi
done
if [ "${#objects[@]}" -eq 0 ]; then
  echo "check-isa-leaks: no objects given or found" >&2
  exit 2
fi

status=0
checked=0
for object in "${objects[@]}"; do
  if ! "$objdump" -f "$object" | grep -q 'i386'; then
    echo "check-isa-leaks: $object is not a 32-bit x86 object" >&2
    exit 2
  fi
  checked=$((checked + 1))
  "$objdump" -d --no-show-raw-insn -C "$object" | awk -v object="$object" '
    /^[0-9a-f]+ <.*>:$/ {
      fn = $0
      sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn)
      sse_ok = (fn ~ /_sse\(/ || fn ~ /xorps_trial/)
      amd_ok = (fn ~ /_3dnow\(/)
      next
    }
    /^ +[0-9a-f]+:\t/ {
      line = $0
      sub(/^ +[0-9a-f]+:\t/, "", line)
      split(line, parts, /[ \t]+/)
      op = parts[1]
      if (op ~ /^(rep|repz|repnz|lock|data16|addr16)$/) op = parts[2]
      uses_xmm = (line ~ /%xmm[0-7]/)
      uses_mm = (line ~ /%mm[0-7]/)
      sse = uses_xmm || op ~ /^(ldmxcsr|stmxcsr|sfence|movntps|movntq|maskmovq|prefetchnta|prefetcht[012])$/
      sse2 = (uses_xmm && (op ~ /^p/ || op ~ /(pd|sd)$/ || op ~ /^(movdq|movq|movd|cvt.*(pd|sd|dq))/)) || op ~ /^(lfence|mfence|clflush|movnti|movntdq|movntpd)$/
      amd = uses_mm || op ~ /^(femms|emms)$/ || op ~ /^pf/ || op ~ /^(pi2f|pf2i)/ || op ~ /^(prefetch|prefetchw)$/
      x87 = (op ~ /^f/ && op != "femms")
      why = ""
      if (sse && !sse_ok) why = "SSE outside an SSE kernel"
      else if (sse2) why = "SSE2, beyond the SSE kernels\x27 instruction set"
      else if (amd && !amd_ok) why = "3DNow!/MMX outside a 3DNow! kernel"
      else if (x87 && amd_ok) why = "x87 inside a 3DNow! kernel"
      if (why != "") {
        printf "%s: %s: %s: %s\n", object, fn, why, line
        bad = 1
      }
    }
    END { exit bad }
  ' || status=1
done

if [ "$status" -eq 0 ]; then
  echo "check-isa-leaks: $checked objects clean"
else
  echo "check-isa-leaks: FAILED" >&2
fi
exit "$status"
