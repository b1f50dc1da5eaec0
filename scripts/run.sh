#!/usr/bin/env bash
# Builds Tachoro natively (once) and runs it. With arguments they are passed
# on, e.g.
#   scripts/run.sh clip.avs -log -csv
# With none, it measures the bundled example examples/heavy.avs.
#
# When no frame server can be loaded (Debian has no package of it), one is
# built from source by scripts/build-frameserver.sh (cached under
# ~/.cache/tachoro, linked as build/frameserver) and found through
# LD_LIBRARY_PATH. The user's settings file is read and written as in any
# run, never edited: an AVSDLL= given there still wins.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
say() { echo "run.sh: $*" >&2; }

bash "$root/scripts/install-deps.sh" native
# A build of its own, with warnings as warnings: a newer compiler's new
# warning must not stop a first run (CI makes them errors, scripts/test.sh).
cmake -S "$root" -B "$root/build/run" -DTACHORO_WERROR=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/run" -j2 --target tachoro >/dev/null
tachoro="$root/build/run/tachoro"

if [ $# -eq 0 ]; then
  say "measuring the example examples/heavy.avs (name a script to measure your own)"
  set -- "$root/examples/heavy.avs"
fi

# Whether the frame server loads as configured: the report mode needs no
# script. Only "cannot load" sends us to the built one; any other failure
# (a wrong AVSDLL=, a second instance) is shown by the real run below.
if probe=$("$tachoro" -avsinfo 2>&1 </dev/null) || ! grep -q "Cannot load avisynth.dll" <<<"$probe"; then
  exec "$tachoro" "$@"
fi

say "no frame server could be loaded; using one built from source"
status=0
prefix=$(bash "$root/scripts/build-frameserver.sh" --allow-clone linux | tail -n 1) || status=$?
if [ $status -ne 0 ]; then
  say "no frame server to run with; install AviSynth+ (libavisynth.so) or set AVSDLL= in the settings file"
  exit $status
fi
mkdir -p "$root/build"
ln -sfn "$prefix" "$root/build/frameserver"
say "frame server: $root/build/frameserver/lib/libavisynth.so"
export LD_LIBRARY_PATH="$root/build/frameserver/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec "$tachoro" "$@"
