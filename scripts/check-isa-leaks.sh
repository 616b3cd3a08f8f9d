#!/usr/bin/env bash
# Fails when an object of the plug-in, or of the front ends' code beside it
# that has AVX2 forms of its own (luma/, frei0r/), uses an instruction
# outside the processor variant of the function that holds it.
#
# i386 (the i386 Linux build and the DLL):
#   - SSE (xmm registers, MXCSR, streaming stores, SSE prefetches and fences)
#     only in the SSE kernels (*_sse) and in the SSE trial of the detection;
#   - nothing beyond SSE1 (no SSE2), even there;
#   - 3DNow!/MMX (mm registers, pf*, femms, emms) only in the 3DNow! kernels
#     (*_3dnow), and no x87 instruction there: the two share one register
#     file, and the 3DNow! kernels hand it back empty with FEMMS.
# Everything else must run on a processor without SSE or 3DNow!.
#
# x86-64 (SSE2 is the baseline there):
#   - AVX in any form (VEX-encoded instructions, ymm and zmm registers) only
#     in the AVX2 forms (*_avx2), which run only where initialise found AVX2;
#   - no 3DNow!/MMX at all: the 3DNow! form runs over a two-lane layer of
#     plain SSE.
#
# usage: scripts/check-isa-leaks.sh OBJECT... | BUILD_DIR
#   BUILD_DIR: a build tree; the objects are those its *.objects files list
#   (one path a line, written by the build for the plug-in, zeverive_core,
#   and each room beside it that has processor-specific code).
# OBJDUMP may name the disassembler (default objdump).
set -euo pipefail

objdump=${OBJDUMP:-objdump}
objects=()
for arg in "$@"; do
  if [ -d "$arg" ]; then
    if [ ! -f "$arg/zeverive_core.objects" ]; then
      echo "check-isa-leaks: $arg has no zeverive_core.objects: not a configured build tree" >&2
      exit 2
    fi
    for list in "$arg"/*.objects; do
      while IFS= read -r o; do [ -z "$o" ] || objects+=("$o"); done < "$list"
    done
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
  if [ ! -f "$object" ]; then
    echo "check-isa-leaks: $object does not exist: build the plug-in first" >&2
    exit 2
  fi
  architecture=$("$objdump" -f "$object" | sed -n 's/^architecture: \([^,]*\).*/\1/p')
  case "$architecture" in
    i386) rules=i386 ;;
    i386:x86-64) rules=x86_64 ;;
    *)
      echo "check-isa-leaks: $object is not an x86 object (architecture: ${architecture:-unknown})" >&2
      exit 2
      ;;
  esac
  checked=$((checked + 1))
  "$objdump" -d --no-show-raw-insn -C "$object" | awk -v object="$object" -v rules="$rules" '
    /^[0-9a-f]+ <.*>:$/ {
      fn = $0
      sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn)
      sse_ok = (fn ~ /_sse\(/ || fn ~ /xorps_trial/)
      amd_ok = (fn ~ /_3dnow\(/)
      avx_ok = (fn ~ /_avx2\(/)
      next
    }
    /^ +[0-9a-f]+:\t/ {
      line = $0
      sub(/^ +[0-9a-f]+:\t/, "", line)
      split(line, parts, /[ \t]+/)
      op = parts[1]
      if (op ~ /^(rep|repz|repnz|lock|data16|addr16)$/) op = parts[2]
      uses_xmm = (line ~ /%xmm[0-9]/)
      uses_mm = (line ~ /%mm[0-7]/)
      amd = uses_mm || op ~ /^(femms|emms)$/ || op ~ /^pf/ || op ~ /^(pi2f|pf2i)/ || op ~ /^(prefetch|prefetchw)$/
      why = ""
      if (rules == "x86_64") {
        avx = (line ~ /%[yz]mm[0-9]/) || (op ~ /^v/ && op !~ /^(verr|verw)$/)
        if (avx && !avx_ok) why = "AVX outside an AVX2 form"
        else if (amd) why = "3DNow!/MMX, which no x86-64 form uses"
      } else {
        sse = uses_xmm || op ~ /^(ldmxcsr|stmxcsr|sfence|movntps|movntq|maskmovq|prefetchnta|prefetcht[012])$/
        sse2 = (uses_xmm && (op ~ /^p/ || op ~ /(pd|sd)$/ || op ~ /^(movdq|movq|movd|cvt.*(pd|sd|dq))/)) || op ~ /^(lfence|mfence|clflush|movnti|movntdq|movntpd)$/
        x87 = (op ~ /^f/ && op != "femms")
        if (sse && !sse_ok) why = "SSE outside an SSE kernel"
        else if (sse2) why = "SSE2, beyond the SSE kernels\x27 instruction set"
        else if (amd && !amd_ok) why = "3DNow!/MMX outside a 3DNow! kernel"
        else if (x87 && amd_ok) why = "x87 inside a 3DNow! kernel"
      }
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
