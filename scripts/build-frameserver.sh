#!/usr/bin/env bash
# Builds the real frame server (AviSynth+ 3.7.5) for the tests and for
# scripts/run.sh, or reuses an earlier build from the cache. The frame server
# is a test dependency only: it is built outside the repository and nothing of
# it enters the project.
#
# Usage: scripts/build-frameserver.sh [--allow-clone] linux|windows
#
# Prints the install prefix as the last line of standard output (Linux:
# <prefix>/lib/libavisynth.so; Windows: <prefix>/bin/AviSynth.dll); progress
# goes to standard error. Exit status: 0 built or cached, 2 no source could be
# found (or reached), 1 the build failed.
#
# The source archive is looked for in $TACHORO_FRAMESERVER_SOURCE (the archive
# or its folder), in ../shared/frameserver beside this clone, and beside the
# repository this clone was made from. With --allow-clone the public
# repository is cloned at its tag as a last resort. The cache lives in
# ${TACHORO_CACHE_DIR:-${XDG_CACHE_HOME:-~/.cache}/tachoro}/frameserver/<key>,
# keyed by the archive's hash, so a changed archive is built again.
set -euo pipefail

archive_name=AviSynthPlus-3.7.5.tar.gz
tag=v3.7.5
public_repository=https://github.com/AviSynth/AviSynthPlus.git

allow_clone=0
target=""
for argument in "$@"; do
  case "$argument" in
    --allow-clone) allow_clone=1 ;;
    linux|windows) target=$argument ;;
    *) echo "usage: $0 [--allow-clone] linux|windows" >&2; exit 64 ;;
  esac
done
[ -n "$target" ] || { echo "usage: $0 [--allow-clone] linux|windows" >&2; exit 64; }

root=$(cd "$(dirname "$0")/.." && pwd)
say() { echo "build-frameserver: $*" >&2; }

find_archive() {
  local candidates=()
  if [ -n "${TACHORO_FRAMESERVER_SOURCE:-}" ]; then
    candidates+=("$TACHORO_FRAMESERVER_SOURCE" "$TACHORO_FRAMESERVER_SOURCE/$archive_name")
  fi
  candidates+=("$root/../shared/frameserver/$archive_name")
  local origin
  origin=$(git -C "$root" remote get-url origin 2>/dev/null || true)
  if [ -n "$origin" ] && [ -d "$origin" ]; then
    candidates+=("$origin/../shared/frameserver/$archive_name")
  fi
  local candidate
  for candidate in "${candidates[@]}"; do
    if [ -f "$candidate" ]; then
      (cd "$(dirname "$candidate")" && echo "$PWD/$(basename "$candidate")")
      return 0
    fi
  done
  return 1
}

cache_root=${TACHORO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tachoro}/frameserver
source_dir=""
if archive=$(find_archive); then
  key=$(sha256sum "$archive" | cut -c1-16)
elif [ "$allow_clone" = 1 ]; then
  key=git-$tag
else
  say "the frame server's source ($archive_name) was not found (set TACHORO_FRAMESERVER_SOURCE)"
  exit 2
fi

prefix="$cache_root/$key/$target"
mkdir -p "$cache_root/$key"
# Two builds of the same target at once would share one work folder.
exec 9>"$cache_root/$key/$target.lock"
flock 9

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache_root/$key/work-$target"
rm -rf "$work" "$prefix"
mkdir -p "$work"
if [ -n "${archive:-}" ]; then
  say "unpacking $archive"
  tar -xzf "$archive" -C "$work"
  source_dir="$work/${archive_name%.tar.gz}"
else
  say "cloning $public_repository at $tag"
  if ! git clone -q --depth 1 --branch "$tag" "$public_repository" "$work/source" >&2; then
    say "cannot reach $public_repository; put $archive_name in ../shared/frameserver or set TACHORO_FRAMESERVER_SOURCE"
    rm -rf "$work"
    exit 2
  fi
  source_dir="$work/source"
fi

options=(-DCMAKE_BUILD_TYPE=Release -DENABLE_PLUGINS=OFF -DCMAKE_INSTALL_PREFIX="$prefix")
if [ "$target" = windows ]; then
  # The library sets CMAKE_SHARED_LINKER_FLAGS itself on Windows, so the
  # static runtime goes into the release flags; -static because it links
  # pthread and stdc++ by name.
  options+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
            -DCMAKE_SHARED_LINKER_FLAGS_RELEASE="-static-libgcc -static-libstdc++ -static")
fi

say "building for $target (several minutes)"
if ! { cmake -S "$source_dir" -B "$work/build" "${options[@]}" &&
       cmake --build "$work/build" -j"${TACHORO_JOBS:-2}" &&
       cmake --install "$work/build"; } >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  say "the $target build failed; its log is $work/build.log"
  exit 1
fi
if [ "$target" = windows ]; then
  x86_64-w64-mingw32-strip "$prefix/bin/AviSynth.dll"
fi
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
