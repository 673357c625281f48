#!/usr/bin/env bash
# Builds the Debian package of Lathmark and checks it with lintian:
#   bash tools/build-deb.sh OUTDIR
# leaves OUTDIR/lathmark_<version>_amd64.deb (and the debug symbols beside it,
# lathmark-dbgsym_<version>_amd64.deb). What the build needs and is missing is installed first
# (as root). The package is built from a copy of the work tree in a temporary folder, so the
# work tree is left as it was: no build files in debian/ or anywhere else.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The tools of the package build and the check; the build's own needs are debian/control's.
tools=(dpkg-dev debhelper lintian)
missing=()
for package in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The copy holds what the work tree holds, less git's data and the build folders.
version=$(sed -n '1s/^lathmark (\([^)]*\)).*/\1/p' "$root/debian/changelog")
if [ -z "$version" ]; then
  echo "$0: $root/debian/changelog: no version on its first line" >&2
  exit 1
fi
source=$work/lathmark-$version
mkdir "$source"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./compile_commands.json \
  --exclude=./obj-\* -cf - . | tar -C "$source" -xf -

if [ ${#missing[@]} -gt 0 ] || ! (cd "$source" && dpkg-checkbuilddeps) 2>/dev/null; then
  echo "Installing what the package build needs: ${missing[*]} and the build dependencies"
  apt-get update -qq
  export DEBIAN_FRONTEND=noninteractive
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  apt-get build-dep -y -qq --no-install-recommends "$source"
fi

# The package builds the programs only (the test suite runs in the project's own build), with
# as many jobs as there are cores.
echo "Building the package in $source"
log=$work/build.log
if ! (cd "$source" &&
      DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -us -uc -b) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "$0: dpkg-buildpackage failed; the lines above are the end of its output" >&2
  exit 1
fi

arch=$(dpkg --print-architecture)
deb=lathmark_${version}_${arch}.deb
mkdir -p "$out"
cp "$work/$deb" "$out/"
if [ -f "$work/lathmark-dbgsym_${version}_${arch}.deb" ]; then
  cp "$work/lathmark-dbgsym_${version}_${arch}.deb" "$out/"
fi

# Any error fails the build; warnings and notes are shown (the README lists those kept).
echo "Checking $out/$deb with lintian"
status=0
lintian --fail-on error --display-info "$out/$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
if [ "$status" -ne 0 ]; then
  echo "$0: lintian found errors in $out/$deb" >&2
  exit 1
fi
echo "Built $out/$deb"
