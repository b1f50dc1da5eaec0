#!/usr/bin/env bash
# Builds Tachoro natively (once) and runs it with the given arguments, e.g.
#   scripts/run.sh clip.avs -log -csv
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" native
cmake -S "$root" -B "$root/build/native" -DTACHORO_WERROR=ON >/dev/null
cmake --build "$root/build/native" -j2 --target tachoro >/dev/null
exec "$root/build/native/tachoro" "$@"
