#!/usr/bin/env bash
# Builds and runs the imaging benchmarks (Release) and prints, per case, our
# time against libvips and ImageMagick and as a multiple of a memcpy of the
# picture into fresh memory; the colour filters and reductions also run as
# whole edits of the main window (offscreen), against the filter alone.
# Extra arguments go to the benchmark (for example --benchmark_filter=Png,
# or --benchmark_filter='memcpy|sepia|negative|mosaic|reduce|edit_').
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVORE_BUILD_TESTS=OFF \
  -DLUMIVORE_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target imaging_bench
exec build-bench/bench/imaging_bench "$@"
