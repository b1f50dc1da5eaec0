#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# its seed corpus in fuzz/corpus. A crash, a sanitizer report, a leak, a
# hang or running out of memory fails the run, and the input that caused it
# is printed (base64) together with the command that replays it.
# Usage: scripts/fuzz.sh [SECONDS_PER_HARNESS [HARNESS...]]   (default 30, all)
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh native || exit 1

seconds=${1:-30}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(settings arguments image gpu_block baseline script)
build=build/fuzz
log=build-fuzz.log

mkdir -p build
if ! CC=clang CXX=clang++ cmake -S . -B "$build" -DTACHORO_FUZZ=ON -DBUILD_TESTING=OFF -DTACHORO_WERROR=ON \
    >"$log" 2>&1; then
  cat "$log"; echo "fuzz: configure failed"; exit 1
fi
if ! cmake --build "$build" -j2 --target tachoro_fuzzers >>"$log" 2>&1; then
  tail -n 80 "$log"; echo "fuzz: build failed"; exit 1
fi

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for name in "${harnesses[@]}"; do
  runner="$build/fuzz/fuzz_$name"
  work="$build/runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  # New inputs go to the scratch corpus (the first folder); the seeds are
  # only read. -timeout counts one input as hung; -rss_limit_mb caps memory.
  "$runner" "$work/corpus" "fuzz/corpus/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$work/findings/" >"$work/log" 2>&1
  rc=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  findings=("$work"/findings/*)
  if [ $rc -ne 0 ] || [ -e "${findings[0]}" ]; then
    status=1
    echo "fuzz $name: FINDING (exit $rc)"
    # The report without libFuzzer's progress lines, then its closing lines.
    grep -v -e '^#[0-9]' -e '^INFO:' -e 'NEW_FUNC' "$work/log" | sed '/^Shadow bytes/,$d' | head -n 40
    grep -e '^SUMMARY' -e '^MS:' -e 'Test unit written' "$work/log"
    for finding in "${findings[@]}"; do
      [ -e "$finding" ] || continue
      echo "--- reproducer $finding ($(stat -c %s "$finding") bytes), base64:"
      base64 -w 76 "$finding"
      echo "--- replay: base64 -d > input <<'EOF' ... EOF; $runner input"
    done
  else
    echo "fuzz $name: ${executions:-?} executions in ${seconds} s, nothing found"
  fi
done
exit $status
