#!/usr/bin/env bash
# Sets Lathmark up on a fresh Debian 12 machine (run as root), builds it, and then either
#   run   opens the window on the sample photographs (samples/ as the working directory), or
#   test  runs every test, then every test again in a build with AddressSanitizer and
#         UndefinedBehaviorSanitizer (build-asan/ beside build/), then the fuzz targets.
# Packages already installed are not installed again.
set -euo pipefail

mode=${1:-}
case "$mode" in
  run|test) ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LATHMARK_BUILD_DIR:-$root/build}

packages=(
  build-essential cmake pkg-config
  libfreeimage-dev libjpeg62-turbo-dev libxxhash-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth xdotool imagemagick libxml2-utils
  chromium
  debhelper lintian desktop-file-utils appstream
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

if [ "$mode" = run ]; then
  cd "$root/samples"
  if [ -x "$build/bin/lathmark" ]; then
    exec "$build/bin/lathmark"
  fi
  exec "$build/bin/lathmark-count" .
fi

cd "$build"
ctest --output-on-failure -j"$(nproc)"

# The same tests where any memory error, leak or undefined behaviour fails them; at -O1, the
# level the sanitizers are usually run at, which compiles in half the time of -O2.
asan_build=$build-asan
cmake -S "$root" -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" \
  -DLATHMARK_SANITIZE=ON -DLATHMARK_BUILD_BENCH=OFF
cmake --build "$asan_build" -j"$(nproc)"
cd "$asan_build"
ctest --output-on-failure -j"$(nproc)"

if [ -x "$root/fuzz/run.sh" ]; then "$root/fuzz/run.sh" 60; fi
