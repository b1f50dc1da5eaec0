#!/usr/bin/env bash
# Builds Tachoro three ways and runs every test: natively, natively with
# AddressSanitizer + UndefinedBehaviorSanitizer, and cross-built for Windows
# with MinGW-w64, run under Wine; fuzzes each reader of outside bytes for a
# bounded time (scripts/fuzz.sh); then makes and checks the packages
# (scripts/package.sh; with TACHORO_INSTALL_PACKAGE=1 it also installs the
# .deb). Exits non-zero when any of them fails.
#
# The realfs tests run Tachoro against the real frame server, built from its
# source archive by scripts/build-frameserver.sh (cached, so only the first
# run pays for it). Without the archive they are skipped; an installed
# library named by TACHORO_REAL_FRAMESERVER serves the native configurations.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all || exit 1

jobs=2
status=0

# What runs in the background, and the Wine session, end with the script
# however it ends (an interruption included).
windows_frameserver_job=""
xvfb_job=""
wine_prefix=""
end_wine_session() {
  if [ -n "$wine_prefix" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$wine_prefix"
    wine_prefix=""
  fi
  if [ -n "$xvfb_job" ]; then
    kill "$xvfb_job" 2>/dev/null || true
    xvfb_job=""
  fi
}
clean_up() {
  # The frame-server build is a process group of its own (see below).
  if [ -n "$windows_frameserver_job" ]; then
    kill -- "-$windows_frameserver_job" 2>/dev/null || true
    windows_frameserver_job=""
  fi
  end_wine_session
}
trap clean_up EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

run_config() {
  local name=$1; shift
  local started=$SECONDS
  echo "=== $name ==="
  if ! cmake -S . -B "build/$name" -DTACHORO_WERROR=ON "$@" >"build-$name.log" 2>&1; then
    cat "build-$name.log"; echo "$name: configure failed"; status=1; return
  fi
  if ! cmake --build "build/$name" -j"$jobs" >>"build-$name.log" 2>&1; then
    tail -n 80 "build-$name.log"; echo "$name: build failed"; status=1; return
  fi
  # A test that timed out (a loaded machine) runs once more before it
  # counts as failed.
  if ! ctest --test-dir "build/$name" --output-on-failure -j"$jobs" --timeout 300 \
      --repeat after-timeout:2; then
    # Wine also now and then fails to start a test program at all (no output,
    # a hundredth of a second): under Wine the failed tests run once more,
    # one at a time, and are named when they pass then.
    local failed
    failed=$(cat "build/$name/Testing/Temporary/LastTestsFailed.log" 2>/dev/null)
    if [ "$name" = windows ] && ctest --test-dir "build/$name" --output-on-failure \
        --timeout 300 --rerun-failed; then
      echo "$name: passed on a second try under Wine:"
      echo "$failed" | sed 's/^/  /'
    else
      status=1
    fi
  fi
  echo "$name: $((SECONDS - started)) s"
}

# Builds (or finds in the cache) the real frame server for a target, through
# the command given after it if any; prints the install prefix. Exit status
# as the build script's: 2 means no source.
frameserver() {
  local target=$1; shift
  "$@" bash scripts/build-frameserver.sh "$target" 2>"build/frameserver-$target.log" | tail -n 1
  return "${PIPESTATUS[0]}"
}

# Reports a frame-server build that did not give a library.
frameserver_failed() {
  local target=$1 code=$2
  if [ "$code" -eq 2 ]; then
    # Said once: both targets lack the same source.
    if [ "$target" = linux ]; then
      echo "realfs tests skipped: the real frame server's source (AviSynthPlus-3.7.5.tar.gz) is not here"
    elif [ -n "$realfs_native" ]; then
      echo "realfs tests under Wine skipped: the real frame server's source (AviSynthPlus-3.7.5.tar.gz) is not here"
    fi
  else
    tail -n 40 "build/frameserver-$target.log"
    echo "the real frame server's $target build failed"
    status=1
  fi
}

mkdir -p build

# The Windows frame server takes longest to build: it builds in the
# background while the native configurations build and test, at a lower
# priority, so that it takes mostly the time their tests leave idle.
# Job control gives it a process group of its own, so that all of it can
# be ended at once.
set -m
frameserver windows nice -n 10 >build/frameserver-windows.prefix &
windows_frameserver_job=$!
set +m
realfs_native=${TACHORO_REAL_FRAMESERVER:-}
if [ -z "$realfs_native" ]; then
  if prefix=$(frameserver linux); then
    realfs_native=$prefix/lib/libavisynth.so
  else
    frameserver_failed linux $?
  fi
fi

# A locale with a decimal comma, so that the test of the number format in the
# log and CSV files really runs (it is skipped when none can be made).
mkdir -p build/locales
if localedef -i de_DE -f UTF-8 "build/locales/de_DE.UTF-8" >/dev/null 2>&1; then
  export LOCPATH="$PWD/build/locales"
fi
run_config native -DTACHORO_REAL_FRAMESERVER="$realfs_native"
run_config asan -DTACHORO_SANITIZE=ON -DTACHORO_REAL_FRAMESERVER="$realfs_native"
echo "=== fuzz ==="
bash scripts/fuzz.sh 30 || status=1

realfs_windows=""
waited=$SECONDS
if wait "$windows_frameserver_job"; then
  windows_frameserver_job=""
  realfs_windows=$(cat build/frameserver-windows.prefix)/bin/AviSynth.dll
else
  code=$?
  windows_frameserver_job=""
  frameserver_failed windows $code
fi
echo "waited $((SECONDS - waited)) s for the Windows frame server"

unset LOCPATH
# Wine: a throw-away prefix, quiet, without the .NET and HTML installers.
wine_prefix=$(mktemp -d /tmp/tachoro-wine.XXXXXX)
export WINEPREFIX=$wine_prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init >/dev/null 2>&1 || true
# An unhandled crash must end the process, not wait for a click on a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
wineserver -w || true
# One display (the GPU-Z stand-in creates a window) and one Wine session for
# all the Windows tests. Wine's own processes (services, the desktop) start
# here, their output going nowhere: started by a test, they would inherit
# that test's output pipe, and ctest would wait for it to close until the
# test's time limit. The desktop process ends two seconds after the last
# window closes and starts again for the next one: a window of our own
# (Notepad's) keeps it for the whole session.
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_job=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"
wineserver -p
wine notepad </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do pgrep -f 'explorer.exe /desktop' >/dev/null && pgrep -f 'notepad.exe' >/dev/null && break; sleep 0.1; done
run_config windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTACHORO_REAL_FRAMESERVER="$realfs_windows"
end_wine_session

# The packages, made from the trees built above; CI also installs the .deb.
if [ $status -eq 0 ]; then
  bash scripts/package.sh ${TACHORO_INSTALL_PACKAGE:+--install} || status=1
else
  echo "=== packages: not made, a configuration failed ==="
fi

echo "total: $SECONDS s"
if [ $status -eq 0 ]; then echo "All configurations passed."; else echo "Some configurations FAILED."; fi
exit $status
