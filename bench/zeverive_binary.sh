# Sourced by the benchmark scripts: sets $zeverive to the program named by
# $ZEVERIVE, or to a Release build of it in build/compare, built if needed.
# Expects $root to be the repository.
zeverive=${ZEVERIVE:-}
if [ -z "$zeverive" ]; then
  build="$root/build/compare"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEVERIVE_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target zeverive_cli >/dev/null
  zeverive="$build/cli/zeverive"
fi
