#!/usr/bin/env bash
# Builds and runs the imaging benchmarks (Release) and prints, per case, our
# time against libvips and ImageMagick. Extra arguments go to the benchmark
# (for example --benchmark_filter=Png).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVORE_BUILD_TESTS=OFF \
  -DLUMIVORE_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target imaging_bench
exec build-bench/bench/imaging_bench "$@"
