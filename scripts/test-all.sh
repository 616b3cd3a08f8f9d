#!/usr/bin/env bash
# Installs what is missing, builds the three targets and runs every check:
# native tests, the same under AddressSanitizer and UndefinedBehaviorSanitizer,
# the i386 build under emulated processors of each kind, the byte-for-byte
# comparison of the native and i386 builds, and the checks of the DLL.
# Ends with "N passed, N failed" and exits non-zero on any failure.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEVERIVE_BUILD_DIR:-$root/build}
jobs=$(nproc)

passed=0
failed=0
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

configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" 2>&1 | grep -E 'error|warning|Error' || true
  test "${PIPESTATUS[0]}" -eq 0
}

bash "$root/scripts/install-deps.sh" || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$build"

# --- native x86-64 ---------------------------------------------------------
check "native build" configure_and_build "$build/native"
check "native tests" ctest --test-dir "$build/native" --output-on-failure -j "$jobs"

check "fuzzing: y4m reader, host frames through the plug-in (60 s)" env ZEVERIVE_FUZZ_DIR="$build/fuzz" bash "$root/fuzz/run.sh" 60

check "sanitizer build" configure_and_build "$build/sanitize" -DZEVERIVE_SANITIZE=ON
check "sanitizer tests" ctest --test-dir "$build/sanitize" --output-on-failure -j "$jobs"

# The AVX2 forms exist on x86-64 only and run where the processor has AVX2;
# there every output must equal the SSE form's bit for bit (the ctest run
# above checks them too, without saying whether they ran).
avx2_forms() {
  local checker="$build/native/tests/kernel_check/kernel_check"
  if grep -qw avx2 /proc/cpuinfo; then
    "$checker" --seed 11 --require x87,3dnow,sse,avx2 | tail -n 7
  else
    "$checker" --seed 11 --require x87,3dnow,sse | grep -E '^avx2|^kernel_check:'
  fi
}
check "native AVX2 forms = SSE forms" avx2_forms

# --- i386 under qemu --------------------------------------------------------
# The i386 ctest runs the kernel checker under each processor model, the
# instruction-set leak check and the byte comparison of kernel outputs with
# the native build. The unit tests run here under each model, told which
# variant the detection must choose there.
i386="$build/i386"
check "i386 build" configure_and_build "$i386" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-linux.cmake" \
  -DZEVERIVE_NATIVE_KERNEL_CHECK="$build/native/tests/kernel_check/kernel_check"
check "i386 kernel checks" ctest --test-dir "$i386" --output-on-failure -j "$jobs" -E '^unit$'
declare -A expect=(
  [pentium2]=0
  [pentium3]=2
  [athlon,-sse,-sse2]=1
  [phenom]=2
)
for model in pentium2 pentium3 athlon,-sse,-sse2 phenom; do
  check "i386 unit tests on $model" env ZEVERIVE_EXPECT_VARIANT="${expect[$model]}" \
    qemu-i386-static -cpu "$model" "$i386/tests/zeverive_tests" --gtest_brief=1
done

# --- the same frames from both builds ----------------------------------------
same_frames() {
  local out="$build/compare"
  mkdir -p "$out"
  "$build/native/tests/frame_dump" "$out/frames.native.bin" \
    && qemu-i386-static -cpu phenom "$i386/tests/frame_dump" "$out/frames.i386.bin" \
    && cmp "$out/frames.native.bin" "$out/frames.i386.bin"
}
check "denoised frames native = i386" same_frames

# --- Windows DLL --------------------------------------------------------------
check "windows build" configure_and_build "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DZEVERIVE_TESTS=OFF -DZEVERIVE_CLI=OFF
check "windows dll exports" bash "$root/scripts/check-dll.sh" "$build/windows/src/zeverive.auf"
check "isa leaks in windows objects" env OBJDUMP=i686-w64-mingw32-objdump \
  bash "$root/scripts/check-isa-leaks.sh" "$build/windows/src/CMakeFiles/zeverive_core.dir"

# --- zeverive.auf itself, under qemu through the PE loader ---------------------
# The record, frames, messages, floating-point state and instruction guard
# against the i386 Linux build, on each processor model; then the i386
# zeverive running the DLL on the sample clip and on raw frames.
dll="$build/windows/src/zeverive.auf"
for model in pentium2 pentium3 athlon,-sse,-sse2 phenom; do
  check "zeverive.auf through the PE loader on $model" env ZEVERIVE_DLL="$dll" \
    qemu-i386-static -cpu "$model" "$i386/tests/pe_loader/pe_loader_tests" --gtest_brief=1
done
check "zeverive.auf in the i386 zeverive" bash "$root/tests/pe_loader/zeverive_with_dll.sh" \
  "$build/native/cli/zeverive" "$i386/cli/zeverive" "$dll" "$build/dll-run"

echo
if [ "$failed" -gt 0 ]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
