#!/usr/bin/env bash
# Measures screen grabs and the capture tick on a throwaway X server: Xvfb
# 1920x1080 with openbox and a maximised xterm as the target window. Prints
# each median and its multiple of a 1920x1080x4 memcpy on this machine.
# Usage: bench/run-grab.sh [build directory]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
exe="$build/bench/grab_bench"
[ -x "$exe" ] || { echo "build $exe first" >&2; exit 1; }

source "$root/bench/x-session.sh"
start_x_session 1920x1080x24
start_xterm XTermBench -fullscreen -e sh -c 'ls -l /usr/bin | head -60; sleep 600'

"$exe" --benchmark_repetitions=15 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_format=json --benchmark_out="$work/result.json" \
  --benchmark_out_format=json >/dev/null

python3 - "$work/result.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"].removesuffix("/real_time"): (r["real_time"], r["time_unit"], r.get("label", ""))
          for r in runs if r.get("aggregate_name") == "median"}
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
ms = {name: t * scale[u] for name, (t, u, _) in median.items()}
base = ms["BM_Memcpy1920x1080"]
print(f"{'benchmark':28} {'median ms':>10} {'x memcpy':>9}")
for name, value in ms.items():
    label = median[name][2]
    print(f"{name:28} {value:10.3f} {value / base:9.2f}  {label}")
shm, qt = ms.get("BM_GrabWindowShm"), ms.get("BM_GrabWindowQScreen")
if shm and qt:
    print(f"SHM grab / QScreen grab: {shm / qt:.2f} (goal <= 0.5)")
print(f"idle tick: {ms['BM_IdleTick']:.3f} ms (goal < 1 ms)")
PY
