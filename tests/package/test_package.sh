#!/usr/bin/env bash
# The Debian package, end to end: builds it with tools/build-deb.sh (from a copy, so the work
# tree stays clean), installs it into this machine with apt-get, checks that the installed
# programs behave as the built ones in BIN_DIR do and that the installed files are in place and
# valid, then removes and purges it again, leaving the machine as it found it.
#   test_package.sh SOURCE_DIR BIN_DIR
# Exits 77 (skipped) with a message when it cannot run here: not root, the package tools or
# build dependencies missing (bash tools/setup.sh test installs them), or Lathmark already
# installed, which the test must not disturb.
# "check && check || fail" is meant: fail when either check fails.
# shellcheck disable=SC2015
set -uo pipefail

source_dir=$1
bin_dir=$2
skip() {
  echo "SKIPPED: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
for tool in apt-get dpkg-buildpackage dpkg-checkbuilddeps dh lintian desktop-file-validate \
  appstreamcli flock; do
  command -v "$tool" >/dev/null || skip "$tool is missing (bash tools/setup.sh test installs it)"
done
if ! unmet=$(cd "$source_dir" && dpkg-checkbuilddeps 2>&1); then
  skip "build dependencies missing: $unmet"
fi

# Lathmark in any state dpkg knows of (also removed with its settings file kept), or files of a
# `cmake --install` into /usr, belong to somebody; the test would overwrite or purge them.
already_there() {
  local state
  state=$(dpkg-query -W -f='${db:Status-Status}' lathmark 2>/dev/null)
  if [ -n "$state" ] && [ "$state" != not-installed ]; then
    echo "the package lathmark is on this machine ($state)"
    return 0
  fi
  local path
  for path in /usr/bin/lathmark /usr/bin/lathmark-count /usr/libexec/lathmark /etc/lathmark; do
    if [ -e "$path" ] || [ -L "$path" ]; then
      echo "$path exists"
      return 0
    fi
  done
  return 1
}
if reason=$(already_there); then skip "$reason; not touching it"; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-package-test.XXXXXX")
installed=no
packages_before=$work/packages-before
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)

# Purges the package and whatever its installation brought in, if this test installed it.
clean_up() {
  if [ "$installed" = yes ]; then
    dpkg-query -W -f='${db:Status-Status} ${Package}\n' | awk '$1 != "not-installed" { print $2 }' |
      sort >"$work/packages-now"
    mapfile -t brought < <(comm -13 "$packages_before" "$work/packages-now")
    if [ ${#brought[@]} -gt 0 ]; then
      "${apt[@]}" purge "${brought[@]}" >>"$work/apt.log" 2>&1 ||
        echo "FAIL: could not purge ${brought[*]}; see $work/apt.log" >&2
    fi
  fi
  rm -rf "$work"
}
trap clean_up EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
deb=lathmark_${version}_$(dpkg --print-architecture).deb
if ! bash "$source_dir/tools/build-deb.sh" "$work/out" >"$work/build-deb.log" 2>&1; then
  cat "$work/build-deb.log" >&2
  fail "tools/build-deb.sh failed"
  exit 1
fi
[ -f "$work/out/$deb" ] || { fail "tools/build-deb.sh left no $deb"; exit 1; }
echo "built $deb"

# Other runs of this test on the machine (other work trees) install the same package: one at a
# time. The lock is on dpkg's folder, which is always there, so no lock file is left behind.
exec 9</var/lib/dpkg
flock -w 1800 9 || { fail "waited too long for another run of this test"; exit 1; }
if reason=$(already_there); then skip "$reason by now; not touching it"; fi

dpkg-query -W -f='${db:Status-Status} ${Package}\n' | awk '$1 != "not-installed" { print $2 }' |
  sort >"$packages_before"
installed=yes
if ! (cd "$work/out" && "${apt[@]}" --no-install-recommends install "./$deb") >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  fail "apt-get install ./$deb failed"
  exit 1
fi

# The programs on the PATH, from the installed place.
[ "$(command -v lathmark-count)" = /usr/bin/lathmark-count ] ||
  fail "lathmark-count on the PATH is $(command -v lathmark-count), not /usr/bin/lathmark-count"
got=$(cd "$work" && lathmark-count --version)
[ "$got" = "lathmark-count $version" ] || fail "lathmark-count --version says \"$got\", not \"lathmark-count $version\""
[ "$("$bin_dir/lathmark-count" --version)" = "$got" ] ||
  fail "the built and the installed lathmark-count differ in --version"

# Counting the samples, with the settings read through the link beside the executable, gives
# what the built program gives with the bundled settings, and the manifest's total.
without_times() { sed -E 's/, [0-9.]+ ms$//'; }
(cd "$work" && lathmark-count --jobs 1 "$source_dir/samples") >"$work/installed.txt" 2>&1 ||
  fail "the installed lathmark-count did not count the samples: $(cat "$work/installed.txt")"
(cd "$work" && "$bin_dir/lathmark-count" --jobs 1 "$source_dir/samples") >"$work/built.txt" 2>&1
diff <(without_times <"$work/built.txt") <(without_times <"$work/installed.txt") >&2 ||
  fail "the installed lathmark-count counts the samples otherwise than the built one"
total=$(awk 'NR > 1 { sum += $2 } END { print sum }' "$source_dir/samples/manifest.tsv")
photographs=$(awk 'NR > 1' "$source_dir/samples/manifest.tsv" | wc -l)
grep -qx "Book: $total boards in $photographs photographs" "$work/installed.txt" ||
  fail "the installed lathmark-count's book is not the manifest's $total boards"

# The installed files.
home=/usr/libexec/lathmark
for program in lathmark lathmark-count; do
  [ -x "$home/$program" ] && [ ! -L "$home/$program" ] || fail "$home/$program is not a program"
  [ "$(readlink "/usr/bin/$program")" = "../libexec/lathmark/$program" ] ||
    fail "/usr/bin/$program is not a link to ../libexec/lathmark/$program"
done
settings=/etc/lathmark/Lathmark.ini
[ "$(readlink "$home/Lathmark.ini")" = "$settings" ] || fail "$home/Lathmark.ini is not a link to $settings"
[ -f "$settings" ] && [ ! -L "$settings" ] || fail "$settings is not a file"
cmp -s "$settings" "$source_dir/samples/Lathmark.ini" || fail "$settings is not samples/Lathmark.ini"
dpkg-query -W -f='${Conffiles}\n' lathmark | grep -q "^ $settings " || fail "$settings is not a conffile"
said=$(dpkg --verify lathmark 2>&1) && [ -z "$said" ] ||
  fail "dpkg --verify lathmark finds installed files changed or missing: $said"
listed=$(dpkg -L lathmark)
for file in /usr/share/man/man1/lathmark.1.gz /usr/share/man/man1/lathmark-count.1.gz \
  /usr/share/applications/lathmark.desktop /usr/share/metainfo/org.lathmark.lathmark.metainfo.xml \
  /usr/share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/lathmark.png; do
  grep -qx "$file" <<<"$listed" || fail "the package has no $file"
done
desktop=/usr/share/applications/lathmark.desktop
metainfo=/usr/share/metainfo/org.lathmark.lathmark.metainfo.xml
said=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate $desktop: $said"
said=$(appstreamcli validate --no-net "$metainfo" 2>&1) ||
  fail "appstreamcli validate --no-net $metainfo: $said"

# The menu entry starts the window: its command is on the PATH and runs until it is stopped
# (offscreen, as there may be no display here). Started as a menu starts it, with a bare
# environment, in a folder of its own.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
read -ra exec_words <<<"${exec_line//%[fFuUick]/}"  # no file to open
[ "$(command -v "${exec_words[0]}")" = /usr/bin/lathmark ] ||
  fail "the menu entry runs \"${exec_words[0]}\", not /usr/bin/lathmark"
mkdir "$work/window" && mkdir -m 700 "$work/window/runtime"
(cd "$work/window" && env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/window" \
  XDG_RUNTIME_DIR="$work/window/runtime" QT_QPA_PLATFORM=offscreen timeout 5 "${exec_words[@]}") \
  >"$work/window.log" 2>&1
status=$?
[ "$status" -eq 124 ] || fail "the window ended by itself with status $status: $(cat "$work/window.log")"

# Removal keeps the operator's settings file; only purging deletes it.
"${apt[@]}" remove lathmark >>"$work/apt.log" 2>&1 || fail "apt-get remove lathmark failed"
[ ! -e /usr/bin/lathmark-count ] || fail "/usr/bin/lathmark-count is still there after removal"
[ -f "$settings" ] || fail "removing the package deleted $settings"
"${apt[@]}" purge lathmark >>"$work/apt.log" 2>&1 || fail "apt-get purge lathmark failed"
[ ! -e /etc/lathmark ] || fail "/etc/lathmark is still there after purging"
if ! reason=$(already_there); then :; else fail "after purging: $reason"; fi

if [ "$failures" -gt 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
echo "the package $deb installs, works and goes again"
