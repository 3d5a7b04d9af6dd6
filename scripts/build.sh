#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/.
#   build.sh        the program, its tests and benchmarks (installs the test packages too)
#   build.sh app    the program alone
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = app ]; then
  bash scripts/deps.sh
  options=(-DLUMIVORE_BUILD_TESTS=OFF -DLUMIVORE_BUILD_BENCH=OFF)
  targets=(--target lumivore)
else
  bash scripts/deps.sh test
  options=(-DLUMIVORE_BUILD_TESTS=ON -DLUMIVORE_BUILD_BENCH=ON)
  targets=()
fi
if command -v ccache >/dev/null; then
  # Several checkouts side by side share one cache: paths are hashed relative to their parent.
  export CCACHE_BASEDIR="$(cd .. && pwd)" CCACHE_NOHASHDIR=1
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build build "${targets[@]}"
