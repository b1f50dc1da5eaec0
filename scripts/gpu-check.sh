#!/usr/bin/env bash
# The check of -gpu on a real NVIDIA GPU: puts a known load on the GPU (a
# small CUDA program, built with nvcc, or PyTorch), runs
# "tachoro -gpu -log -json" on a script meanwhile and compares Tachoro's
# GPU load and memory with what nvidia-smi samples at the same time
# ("nvidia-smi --query-gpu=utilization.gpu,memory.used --format=csv -lms 250").
# Prints a verdict; exits 1 when they disagree beyond the tolerances, 2 when
# the check itself could not be made.
#
#   scripts/gpu-check.sh [--tachoro PATH] [--frameserver PATH] [--seconds N]
#                        [--load cuda|torch|none] [--duty PERCENT] [--memory MIB]
#                        [--load-tolerance POINTS] [--memory-tolerance MIB]
#
# Needs the NVIDIA driver (nvidia-smi and its NVML), CMake and a compiler;
# no package registry. Bring the frame server built beforehand
# (scripts/build-frameserver.sh linux, or a libavisynth.so of your own);
# Tachoro is built here with CMake when no --tachoro is given (a minute on a
# few cores). It takes about a minute in all.
#
# The load runs kernels for --duty percent of every 100 ms (default 60) and
# holds --memory MiB (default 2048). Tolerances: the average loads within 10
# points, the memory within 256 MiB. Tachoro reads every 300 ms and
# nvidia-smi every 250 ms over the same steady load, and both read the same
# counters of the driver. Tachoro's own share of the GPU, where the driver
# reports it, must stay within the load tolerance of 0: the load is another
# process's.
# --load none leaves the load to you (and the load figures unchecked
# against --duty).
set -euo pipefail

repository=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tachoro=""
frameserver="${TACHORO_REAL_FRAMESERVER:-}"
seconds=20
load=auto
duty=60
memory=2048
load_tolerance=10
memory_tolerance=256

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    exit 2
}

while [[ $# -gt 0 ]]; do
    case "$1" in
    --tachoro) tachoro=$2; shift 2 ;;
    --frameserver) frameserver=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --load) load=$2; shift 2 ;;
    --duty) duty=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --load-tolerance) load_tolerance=$2; shift 2 ;;
    --memory-tolerance) memory_tolerance=$2; shift 2 ;;
    -h | --help) usage ;;
    *) echo "gpu-check: unknown argument $1" >&2; usage ;;
    esac
done

fail_setup() {
    echo "gpu-check: $*" >&2
    echo "VERDICT: no check made" >&2
    exit 2
}

for number in "$seconds" "$duty" "$memory" "$load_tolerance" "$memory_tolerance"; do
    [[ $number =~ ^[0-9]+$ ]] || fail_setup "not a whole number: $number"
done
((seconds >= 5 && seconds <= 120)) || fail_setup "--seconds must be 5 to 120"
((duty >= 10 && duty <= 100)) || fail_setup "--duty must be 10 to 100"

command -v nvidia-smi >/dev/null || fail_setup "nvidia-smi is not on the PATH: no NVIDIA driver"
nvidia-smi --query-gpu=name,driver_version --format=csv,noheader -i 0 >/dev/null ||
    fail_setup "nvidia-smi does not see GPU 0"

# The frame server, brought beforehand.
if [[ -z $frameserver ]]; then
    for candidate in "$repository/build/frameserver/lib/libavisynth.so" \
        "$HOME"/.cache/tachoro/frameserver/*/linux/lib/libavisynth.so; do
        if [[ -f $candidate ]]; then
            frameserver=$candidate
            break
        fi
    done
fi
[[ -n $frameserver && -f $frameserver ]] ||
    fail_setup "no frame server: give --frameserver PATH (libavisynth.so built beforehand)"

# Tachoro: the one given, else built here without the tests.
if [[ -z $tachoro ]]; then
    build="$repository/build/gpu-check"
    echo "gpu-check: building Tachoro in $build"
    mkdir -p "$build"
    { cmake -S "$repository" -B "$build" -DBUILD_TESTING=OFF -DTACHORO_OTHER_INTERFACE_E2E=OFF &&
        cmake --build "$build" -j"$(nproc)" --target tachoro tachoro_gpu_bench; } >"$repository/build/gpu-check.log" 2>&1 ||
        fail_setup "the build of Tachoro failed: see build/gpu-check.log"
    tachoro="$build/tachoro"
fi
[[ -x $tachoro ]] || fail_setup "no Tachoro at $tachoro"
# The run starts in a folder of its own.
tachoro=$(realpath "$tachoro")
frameserver=$(realpath "$frameserver")
version=$("$tachoro" --version | awk '{print $2}')

work=$(mktemp -d /tmp/tachoro-gpu-check.XXXXXX)
pids=()
# shellcheck disable=SC2317  # called by the trap
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# ----------------------------------------------------------------- the load

# Kernels that spin on the GPU's own clock for duty % of every 100 ms, and a
# block of memory held meanwhile.
write_cuda_load() {
    cat >"$work/load.cu" <<'EOF'
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <cuda_runtime.h>

__global__ void Spin(unsigned long long nanoseconds) {
    unsigned long long start, now;
    asm volatile("mov.u64 %0, %%globaltimer;" : "=l"(start));
    do {
        asm volatile("mov.u64 %0, %%globaltimer;" : "=l"(now));
    } while (now - start < nanoseconds);
}

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const double seconds = std::atof(argv[1]);
    const int duty = std::atoi(argv[2]);
    const size_t bytes = static_cast<size_t>(std::atol(argv[3])) << 20;
    void* block = nullptr;
    if (cudaMalloc(&block, bytes) != cudaSuccess || cudaMemset(block, 1, bytes) != cudaSuccess) {
        std::fprintf(stderr, "load: cannot hold the memory: %s\n", cudaGetErrorString(cudaGetLastError()));
        return 1;
    }
    std::printf("load: running\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        Spin<<<1, 1>>>(static_cast<unsigned long long>(duty) * 1000000ull);
        if (cudaDeviceSynchronize() != cudaSuccess) {
            std::fprintf(stderr, "load: %s\n", cudaGetErrorString(cudaGetLastError()));
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100 - duty));
    }
    cudaFree(block);
    return 0;
}
EOF
}

write_torch_load() {
    cat >"$work/load.py" <<'EOF'
import sys, time
import torch
seconds, duty, mib = float(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
block = torch.ones(mib << 18, dtype=torch.float32, device="cuda")
a = torch.randn(2048, 2048, device="cuda")
print("load: running", flush=True)
end = time.monotonic() + seconds
while time.monotonic() < end:
    busy_until = time.monotonic() + duty / 1000.0
    while time.monotonic() < busy_until:
        b = a @ a
        torch.cuda.synchronize()
    time.sleep((100 - duty) / 1000.0)
EOF
}

load_seconds=$((seconds + 30))  # the calibration and the start come first
load_command=()
if [[ $load == auto ]]; then
    if command -v nvcc >/dev/null || [[ -x /usr/local/cuda/bin/nvcc ]]; then
        load=cuda
    elif python3 -c "import torch; assert torch.cuda.is_available()" 2>/dev/null; then
        load=torch
    else
        fail_setup "neither nvcc nor PyTorch with CUDA to load the GPU (or give --load none and load it yourself)"
    fi
fi
case "$load" in
cuda)
    nvcc=$(command -v nvcc || echo /usr/local/cuda/bin/nvcc)
    write_cuda_load
    "$nvcc" -O2 -o "$work/load" "$work/load.cu" || fail_setup "nvcc could not build the load"
    load_command=("$work/load" "$load_seconds" "$duty" "$memory")
    ;;
torch)
    write_torch_load
    load_command=(python3 "$work/load.py" "$load_seconds" "$duty" "$memory")
    ;;
none) ;;
*) fail_setup "--load must be cuda, torch or none" ;;
esac

if ((${#load_command[@]} > 0)); then
    "${load_command[@]}" >"$work/load.out" 2>&1 &
    pids+=($!)
    # PyTorch takes its time to start.
    for _ in $(seq 600); do
        grep -q "load: running" "$work/load.out" 2>/dev/null && break
        kill -0 "${pids[0]}" 2>/dev/null || fail_setup "the load ended: $(cat "$work/load.out")"
        sleep 0.1
    done
    grep -q "load: running" "$work/load.out" || fail_setup "the load did not start"
    sleep 3  # the driver's sample periods fill with the load
fi

# ------------------------------------------------- Tachoro beside nvidia-smi

mkdir -p "$work/config/tachoro"
printf '[Main]\r\nVersion=%s\r\nAVSDLL=%s\r\nAllowOnlyOneInstance=0\r\n' "$version" "$frameserver" \
    >"$work/config/tachoro/Tachoro.ini"
# More frames than the time allows: the time limit ends the run.
printf 'BlankClip(length=2000000000, width=640, height=360, pixel_type="YV12")\n' >"$work/check.avs"

nvidia-smi --query-gpu=utilization.gpu,memory.used --format=csv -lms 250 -i 0 >"$work/smi.csv" &
pids+=($!)
smi=${pids[-1]}
status=0
(cd "$work" && XDG_CONFIG_HOME="$work/config" "$tachoro" check.avs -gpu -log -json "-timelimit=$seconds" \
    </dev/null >"$work/tachoro.out" 2>&1) || status=$?
kill "$smi" 2>/dev/null || true
if ((status != 0)); then
    cat "$work/tachoro.out" >&2
    fail_setup "tachoro ended with $status"
fi

json="$work/check.json"
log="$work/check.log"
grep -q '"source": "NVML"' "$json" ||
    fail_setup "Tachoro did not read NVML: $(grep -A1 '"graphicsCard"' "$json" | tail -1)"

# Tachoro: the summary's average load (JSON), the last memory reading and
# its own share (log).
tachoro_load=$(sed -n 's/.*"gpuAverage": \([0-9]*\).*/\1/p' "$json" | head -1)
tachoro_memory=$(sed -n 's/^GPU memory usage: *\([0-9]*\) MB.*/\1/p' "$log" | tail -1)
tachoro_own=$(sed -n 's/^GPU usage of Tachoro (average): *\([0-9]*\)%.*/\1/p' "$log" | tail -1)
# nvidia-smi: "60 %, 2345 MiB" per line under a header; the mean load and
# the last memory figure.
read -r smi_load smi_memory smi_samples < <(awk -F', ' '
    NR > 1 && $1 ~ /^[0-9]+ %$/ { load += $1 + 0; memory = $2 + 0; n++ }
    END { if (n) printf "%d %d %d\n", load / n + 0.5, memory, n; else print "- - 0" }' "$work/smi.csv")

echo "GPU:         $(nvidia-smi --query-gpu=name,driver_version --format=csv,noheader -i 0)"
if [[ $load == none ]]; then
    echo "load:        your own"
else
    echo "load:        $load, busy $duty % of every 100 ms, $memory MiB held"
fi
printf '%-12s %10s %12s   %s\n' "" "Tachoro" "nvidia-smi" "tolerance (nvidia-smi: $smi_samples samples)"
printf '%-12s %10s %12s   %s\n' "load %" "${tachoro_load:--}" "$smi_load" "$load_tolerance points (averages)"
printf '%-12s %10s %12s   %s\n' "memory MiB" "${tachoro_memory:--}" "$smi_memory" "$memory_tolerance MiB (last)"
printf '%-12s %10s %12s   %s\n' "own share %" "${tachoro_own:-n/a}" "" "at most $load_tolerance (the load is another process)"
if [[ -x ${build:-/nonexistent}/bench/tachoro_gpu_bench ]]; then
    echo "one reading: $("$build/bench/tachoro_gpu_bench" libnvidia-ml.so.1 --readings=1000 | sed -n 2p)"
fi

[[ -n $tachoro_load && -n $tachoro_memory && $smi_samples -gt 0 ]] || fail_setup "figures missing (see $log)"

difference() { echo $(($1 > $2 ? $1 - $2 : $2 - $1)); }
if [[ $load != none ]] && (($(difference "$smi_load" "$duty") > 2 * load_tolerance)); then
    fail_setup "nvidia-smi saw $smi_load % where the load was $duty %: another program uses the GPU?"
fi
verdict=0
if (($(difference "$tachoro_load" "$smi_load") > load_tolerance)); then
    echo "DISAGREE: load $tachoro_load % against nvidia-smi's $smi_load %"
    verdict=1
fi
if (($(difference "$tachoro_memory" "$smi_memory") > memory_tolerance)); then
    echo "DISAGREE: memory $tachoro_memory MiB against nvidia-smi's $smi_memory MiB"
    verdict=1
fi
if [[ -n $tachoro_own ]] && ((tachoro_own > load_tolerance)); then
    echo "DISAGREE: Tachoro's own share is $tachoro_own %, but the load is another process's"
    verdict=1
fi
if ((verdict == 0)); then
    echo "VERDICT: Tachoro agrees with nvidia-smi"
else
    echo "VERDICT: Tachoro disagrees with nvidia-smi"
fi
exit "$verdict"
