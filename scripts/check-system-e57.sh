#!/usr/bin/env bash
# Builds the project as a packager would, in plain Release (no developer presets), against an
# installed libE57Format, and runs its tests. The real library is not a Debian package, so our
# own E57 library stands in for it: built as released (what() is "E57 exception", the writer's
# destructor closes an open file and may throw, ending the process) and installed into a
# temporary prefix with only its public headers and the same CMake package and target names as
# the real one. What this catches is calling code, tests or benchmarks that reach past the
# public API or lean on our library's friendlier behaviour.
# JOBS sets the build and test parallelism (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

variant=build/e57-as-released
cmake -S . -B "$variant" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEWICK_E57_AS_RELEASED=ON \
  -DBRINDLEWICK_BUILD_TESTS=OFF -DBRINDLEWICK_BUILD_BENCH=OFF >/dev/null
cmake --build "$variant" --target brindlewick_e57 -j "$jobs"
lib=$variant/src/e57/libbrindlewick_e57.a

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
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure
