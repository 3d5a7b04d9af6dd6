#!/usr/bin/env bash
# Builds the imaging library and its tests with AddressSanitizer (leak
# checking included) and UndefinedBehaviorSanitizer into build-asan/, and runs
# the whole imaging test binary once: every conformance-suite file, round
# trip and failure case under the sanitizers. Non-zero exit on any report.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVORE_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2 --target imaging_tests
build-asan/tests/imaging/imaging_tests --gtest_brief=1
