#!/usr/bin/env bash
# Installs what is needed, then configures, builds and runs every test in both developer build
# types (RelWithDebInfo, and Debug with the address and undefined-behaviour sanitizers), and as a
# packager builds it: plain Release with our own libraries, and plain Release against the real
# libE57Format and PDAL when they lie prebuilt in ../shared/reference-libs (or where
# BRINDLEWICK_REFERENCE_LIBS says).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${JOBS:-$(nproc)}  # build and test parallelism
for preset in default asan; do
  echo "[test] === $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset "$preset" -j "$jobs"
done

# A plain build, as a packager's: no presets, no -Werror.
release() {
  local build=$1
  shift
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$build" -j "$jobs"
  ctest --test-dir "$build" -j "$jobs" --output-on-failure
}

echo "[test] === release ==="
release build/release

refs=${BRINDLEWICK_REFERENCE_LIBS:-../shared/reference-libs}
if [ ! -d "$refs" ]; then
  echo "[test] === release, system libE57Format and PDAL: skipped, $refs is absent ==="
  exit 0
fi
echo "[test] === release, system libE57Format and PDAL ($refs) ==="
refs=$(realpath "$refs")
build=build/release-system
# PDAL and its plugins at run time, through links of our own: a copy of the folder may hold
# its library links as small files that name their targets.
runtime=$build/pdal-runtime
rm -rf "$runtime"
mkdir -p "$runtime"
for f in "$refs"/pdal-2.8.4/lib/*.so*; do
  target=$f
  while [ -f "$target" ] && [ "$(stat -c %s "$target")" -lt 256 ] &&
        [ -f "$(dirname "$target")/$(cat "$target")" ]; do
    target=$(dirname "$target")/$(cat "$target")
  done
  ln -s "$target" "$runtime/$(basename "$f")"
done
runtime=$(realpath "$runtime")
# The build runs the test programs too (to list their tests).
export LD_LIBRARY_PATH=$runtime${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} PDAL_DRIVER_PATH=$runtime
release "$build" -DBRINDLEWICK_USE_SYSTEM_E57FORMAT=ON -DBRINDLEWICK_USE_SYSTEM_PDAL=ON \
  -DCMAKE_PREFIX_PATH="$refs/e57format-3.4.0;$refs/pdal-2.8.4"
