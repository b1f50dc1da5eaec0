#!/usr/bin/env bash
# Makes the packages from the build trees that scripts/test.sh left
# (build/native, and build/windows when it exists), checks what they hold and
# runs the packaged program. With --install it also installs the .deb (root,
# or sudo) and runs tachoro from the PATH; CI does that.
# Usage: scripts/package.sh [--install]
set -uo pipefail
cd "$(dirname "$0")/.."
install=0
[ "${1:-}" = --install ] && install=1
out=build/packages
status=0
fail() { echo "package: $*"; status=1; }

rm -rf "$out"
mkdir -p "$out"
version=$(build/native/tachoro --version | sed -n 's/^Tachoro \([0-9.]*\)$/\1/p')
[ -n "$version" ] || { echo "package: build/native/tachoro --version gave no version"; exit 1; }
echo "=== packages of Tachoro $version ==="

# The files of an archive listing, folders left out, sorted.
files_only() { grep -v '/$' | sed 's|^\./||' | sort; }

expect_files() {
  local what=$1 actual=$2 expected=$3
  if [ "$actual" != "$expected" ]; then
    fail "$what holds"
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
  fi
}

if ! (cd build/native && cpack -B "../../$out" >/dev/null); then
  fail "cpack failed in build/native"
  exit 1
fi
tarball=$out/tachoro-$version-Linux.tar.gz
deb=$out/tachoro_${version}_amd64.deb
top=tachoro-$version-Linux
expect_files "$tarball" "$(tar -tzf "$tarball" | files_only)" "$(printf '%s\n' \
  "$top/bin/tachoro" "$top/share/doc/tachoro/LICENSE" "$top/share/doc/tachoro/README.md" \
  "$top/share/doc/tachoro/Tachoro.html" "$top/share/doc/tachoro/tachoro-results.schema.json" \
  "$top/share/man/man1/tachoro.1" | sort)"
expect_files "$deb" "$(dpkg-deb -c "$deb" | awk '{print $6}' | files_only)" "$(printf '%s\n' \
  usr/bin/tachoro usr/share/doc/tachoro/LICENSE usr/share/doc/tachoro/README.md \
  usr/share/doc/tachoro/Tachoro.html usr/share/doc/tachoro/tachoro-results.schema.json \
  usr/share/man/man1/tachoro.1 | sort)"
for field in "Package: tachoro" "Version: $version" "Section: video" "Architecture: amd64"; do
  dpkg-deb -f "$deb" "${field%%:*}" | grep -qxF "${field#*: }" || fail "$deb: no '$field'"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6 (>= ' <<<"$depends" && grep -q 'libstdc++6' <<<"$depends" ||
  fail "$deb: Depends not computed from the binary: '$depends'"
echo "Depends: $depends"

# The packaged program itself: stripped, and it runs.
unpacked=$(mktemp -d)
tar -xzf "$tarball" -C "$unpacked"
packaged=$unpacked/$top/bin/tachoro
file -b "$packaged" | grep -q ', stripped' || fail "the packaged tachoro is not a stripped ELF: $(file -b "$packaged")"
mandoc -T lint -W all "$unpacked/$top/share/man/man1/tachoro.1" || fail "the packaged manual page is not clean"

# Runs tachoro ($1) without arguments: the usage text on standard output and
# exit status 255 when a frame server can be loaded, else the frame-server
# message. Its own settings and lock folder, so nothing of the user's is used.
check_runs() {
  local program=$1 scratch output code
  [ "$("$program" --version)" = "Tachoro $version" ] || fail "$program --version"
  scratch=$(mktemp -d)
  if [ -n "$frameserver_lib" ]; then
    output=$(XDG_CONFIG_HOME=$scratch XDG_RUNTIME_DIR=$scratch LD_LIBRARY_PATH=$frameserver_lib "$program" 2>/dev/null </dev/null)
    code=$?
    [ $code -eq 255 ] && [ "$output" = "$("$program" --help)" ] ||
      fail "$program without arguments: status $code, not the usage text"
    local example
    for example in examples/*.avs; do
      XDG_CONFIG_HOME=$scratch XDG_RUNTIME_DIR=$scratch LD_LIBRARY_PATH=$frameserver_lib \
        "$program" "$example" -info >/dev/null 2>&1 </dev/null || fail "$program $example -info failed"
    done
  else
    output=$(XDG_CONFIG_HOME=$scratch XDG_RUNTIME_DIR=$scratch "$program" 2>&1 </dev/null)
    code=$?
    [ $code -eq 255 ] && grep -q "Cannot load avisynth.dll" <<<"$output" ||
      fail "$program without a frame server: status $code, output '$output'"
  fi
  rm -rf "$scratch"
}

# A frame server for the usage text and the examples: the cached build when
# its source is at hand (built once, shared with the other tests).
frameserver_lib=""
if prefix=$(bash scripts/build-frameserver.sh linux 2>/dev/null | tail -n 1) && [ -n "$prefix" ]; then
  frameserver_lib=$prefix/lib
else
  echo "package: no frame server source here; the usage text is not checked"
fi
check_runs "$packaged"
rm -rf "$unpacked"

if [ -f build/windows/CPackConfig.cmake ]; then
  if (cd build/windows && cpack -B "../../$out" >/dev/null); then
    zip=$out/tachoro-$version-win64.zip
    wintop=tachoro-$version-win64
    expect_files "$zip" "$(python3 -c 'import sys, zipfile
print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" | files_only)" "$(printf '%s\n' \
      "$wintop/LICENSE" "$wintop/README.md" "$wintop/Tachoro.exe" "$wintop/Tachoro.html" \
      "$wintop/tachoro-results.schema.json" | sort)"
    exe_type=$(python3 -c 'import sys, zipfile
sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' "$zip" "$wintop/Tachoro.exe" | file -b -)
    grep -q 'PE32+ executable.*x86-64' <<<"$exe_type" || fail "Tachoro.exe is '$exe_type'"
  else
    fail "cpack failed in build/windows"
  fi
fi

if [ $install = 1 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  if $SUDO dpkg -i "$deb" >/dev/null; then
    [ "$(command -v tachoro)" = /usr/bin/tachoro ] || fail "tachoro is not /usr/bin/tachoro on the PATH"
    [ -f /usr/share/man/man1/tachoro.1 ] && [ -f /usr/share/doc/tachoro/Tachoro.html ] ||
      fail "the manual page or Tachoro.html is missing after installing"
    check_runs tachoro
    echo "installed: $(tachoro --version) from $(command -v tachoro)"
  else
    fail "dpkg -i $deb failed"
  fi
fi

ls -l "$out"/*.deb "$out"/*.tar.gz "$out"/*.zip 2>/dev/null | awk '{print $5, $9}'
[ $status -eq 0 ] && echo "Packages passed." || echo "Packages FAILED."
exit $status
