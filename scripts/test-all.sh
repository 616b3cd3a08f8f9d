#!/usr/bin/env bash
# Installs what is missing, builds the three targets and runs every check:
# native tests, the same under AddressSanitizer and UndefinedBehaviorSanitizer,
# the checks of the Windows DLL, and the i386 build, whose ctest runs it
# under emulated processors of each kind, compares its bytes with the
# native build's and runs the DLL itself, then damaged copies of the DLL
# in the i386 zeverive (fuzz/dll_mutations.sh). Every ctest test counts in the
# summary, which ends "N passed, N failed"; exits non-zero on any failure.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEVERIVE_BUILD_DIR:-$root/build}
jobs=$(nproc)

passed=0
failed=0
skipped=0
failures=()

check() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== FAILED: $name"
  fi
}

# configure_and_build PRESET DIR [-D...] [-- TARGET...]: a configuration of
# CMakePresets.json in DIR, and all of it or the targets named.
configure_and_build() {
  local preset=$1 dir=$2
  shift 2
  local definitions=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do definitions+=("$1"); shift; done
  [ $# -eq 0 ] || { shift; targets=(--target "$@"); }
  cmake --preset "$preset" -S "$root" -B "$dir" "${definitions[@]}" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" "${targets[@]}" 2>&1 | grep -E 'error|warning|Error' || true
  test "${PIPESTATUS[0]}" -eq 0
}

# One build's ctest; each of its tests counts as one check, and a skipped
# test as neither passed nor failed.
run_ctest() {
  local name=$1 dir=$2
  echo "=== $name"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$dir.ctest.log"
  local summary
  summary=$(grep -oE '[0-9]+ tests? failed out of [0-9]+' "$dir.ctest.log" | tail -1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
    failures+=("$name: ctest gave no summary")
    return
  fi
  local total fails not_run
  fails=${summary%% *}
  total=${summary##* }
  not_run=$(sed -n '/^The following tests did not run:/,/^$/p' "$dir.ctest.log" | grep -c ' - ')
  passed=$((passed + total - fails - not_run))
  failed=$((failed + fails))
  skipped=$((skipped + not_run))
  while read -r test; do failures+=("$name: $test"); done \
    < <(sed -n '/^The following tests FAILED:/,/^$/p' "$dir.ctest.log" | grep ' - ' | sed 's/.* - //')
}


bash "$root/scripts/install-deps.sh" --all || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$build"

# --- native x86-64 ---------------------------------------------------------
check "native build" configure_and_build native "$build/native"
run_ctest "native tests" "$build/native"

check "fuzz build" configure_and_build fuzz "$build/fuzz" -- y4m_reader_fuzz host_frames_fuzz
check "fuzzing: y4m reader, host frames through the plug-in (60 s)" env ZEVERIVE_FUZZ_BUILD="$build/fuzz" bash "$root/fuzz/run.sh" 60

check "sanitizer build" configure_and_build sanitize "$build/sanitize"
run_ctest "sanitizer tests" "$build/sanitize"

# --- Windows DLL --------------------------------------------------------------
# Cross-compiled without tests: its own checks run here, and the i386 build
# below runs the DLL itself.
dll="$build/windows/src/zeverive.auf"
check "windows build" configure_and_build windows "$build/windows"
check "windows dll exports" bash "$root/scripts/check-dll.sh" "$dll"
check "isa leaks in windows objects" env OBJDUMP=i686-w64-mingw32-objdump \
  bash "$root/scripts/check-isa-leaks.sh" "$build/windows"

# --- i386 under qemu --------------------------------------------------------
# Its ctest runs the unit tests, the kernel checker and zeverive.auf through
# the PE loader under each processor model of cmake/processor_models.cmake,
# the instruction-set leak check, and the byte-for-byte comparisons with the
# native build: kernel outputs, denoised frames, and zeverive.auf in the
# i386 zeverive.
check "i386 build" configure_and_build i386 "$build/i386" -DZEVERIVE_NATIVE_BUILD="$build/native" -DZEVERIVE_DLL="$dll"
run_ctest "i386 tests" "$build/i386"
check "damaged copies of zeverive.auf in the i386 zeverive (100 mutations)" env ZEVERIVE_FUZZ_DIR="$build/dll-mutations" \
  bash "$root/fuzz/dll_mutations.sh" "$build/i386/cli/zeverive" "$dll" 100

echo
if [ "$failed" -gt 0 ]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
[ "$skipped" -eq 0 ] || echo "$skipped skipped (see the ctest logs)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
