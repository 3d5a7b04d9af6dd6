#!/usr/bin/env bash
# Builds and runs the imaging benchmarks (Release) on the synthetic picture and
# the screenshot corpus (bench/corpus, made by make-corpus.sh), and prints, per
# case, our time against libvips and ImageMagick and as a multiple of a memcpy
# of the picture into fresh memory, and for PNG against Pillow (measured first
# by pillow_png.py with Debian's python3-pil); the colour filters and
# reductions also run as whole edits of the main window (offscreen), against
# the filter alone, and on the 4K desktop screenshot of the corpus
# ("<case>.desktop4k"); view24 is the 24- to 32-bit conversion of the
# on-screen view. Extra arguments go to the benchmark (for example
# --benchmark_filter=png, or
# --benchmark_filter='memcpy|view24|sepia|negative|mosaic|reduce|edit_'; and
# --instruction-set=AVX2 runs the row kernels as a processor without AVX-512
# would).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVORE_BUILD_TESTS=OFF \
  -DLUMIVORE_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target imaging_bench
# Debian's interpreter, which has python3-pil, whatever python3 comes first in PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
pillow=build-bench/pillow-png.tsv
if "$python" -c 'import PIL' 2>/dev/null; then
  "$python" bench/pillow_png.py bench/corpus/*.png >"$pillow"
else
  echo "Pillow not found (python3-pil): the tables leave it out" >&2
  : >"$pillow"
fi
exec build-bench/bench/imaging_bench --pillow="$pillow" "$@"
