# Sourced by the benchmark scripts: sets $zeverive to the program named by
# $ZEVERIVE, or to the bench preset's build of it (build/bench), built if needed.
# Expects $root to be the repository.
zeverive=${ZEVERIVE:-}
if [ -z "$zeverive" ]; then
  build="$root/build/bench"
  cmake --preset bench -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target zeverive_cli >/dev/null
  zeverive="$build/cli/zeverive"
fi
