#!/usr/bin/env bash
# Builds the project as a packager would, in plain Release (no developer presets), against an
# installed libE57Format, and runs its tests. The real library is not a Debian package, so our
# own E57 library stands in for it: installed into a temporary prefix with only its public
# headers and the same CMake package and target names as the real one. What this catches is
# calling code, tests or benchmarks that reach past the public API.
# Needs the default preset built first (scripts/test.sh does that).
set -euo pipefail
cd "$(dirname "$0")/.."

lib=build/default/src/e57/libbrindlewick_e57.a
[ -f "$lib" ] || { echo "ERROR: [system-e57] $lib not found; build the default preset first" >&2; exit 1; }

prefix=build/system-e57-prefix
rm -rf "$prefix"
mkdir -p "$prefix/include/E57Format" "$prefix/lib/cmake/e57format"
cp src/e57/E57*.h "$prefix/include/E57Format/"
cp "$lib" "$prefix/lib/libE57Format.a"
cat > "$prefix/lib/cmake/e57format/e57format-config.cmake" <<'CFG'
find_package(pugixml REQUIRED)
add_library(E57Format STATIC IMPORTED)
get_filename_component(_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set_target_properties(E57Format PROPERTIES
  IMPORTED_LOCATION "${_root}/lib/libE57Format.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_root}/include/E57Format"
  INTERFACE_LINK_LIBRARIES pugixml::pugixml)
CFG

build=build/release-system-e57
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEWICK_USE_SYSTEM_E57FORMAT=ON \
  -DCMAKE_PREFIX_PATH="$PWD/$prefix" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure
