#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev clang
  # the window: GLFW, OpenGL (Mesa), Dear ImGui, GTK for the file chooser
  libglfw3-dev libgl1-mesa-dev libgl1-mesa-dri libimgui-dev libgtk-3-dev fonts-dejavu-core
  # running and checking the window without a desktop
  xvfb xauth xdotool imagemagick x11-utils
)
# The build against the real libE57Format and PDAL, prebuilt beside the project.
if [ -d "${BRINDLEWICK_REFERENCE_LIBS:-$(dirname "$0")/../../shared/reference-libs}" ]; then
  packages+=(libxerces-c-dev libgdal-dev libproj-dev libgeotiff-dev libcurl4-openssl-dev libxml2-dev
             libzstd-dev liblzma-dev zlib1g-dev libsqlite3-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "[install-deps] all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "[install-deps] installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
