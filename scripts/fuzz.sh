#!/usr/bin/env bash
# Builds the image-loader fuzz target with clang (libFuzzer + ASan + UBSan)
# into build-fuzz/, replays the seed corpus, then fuzzes for a short while.
# Exits non-zero on any crash, leak, sanitizer report or broken promise.
# LUMIVORE_FUZZ_SECONDS sets the fuzzing time (default 50). First, the
# imaging tests run once under ASan/UBSan (scripts/asan-imaging.sh) unless
# LUMIVORE_ASAN_SWEEP=0.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${LUMIVORE_ASAN_SWEEP:-1}" != 0 ]; then
  echo "fuzz: imaging tests under ASan/UBSan" >&2
  bash scripts/asan-imaging.sh >&2
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMIVORE_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target load_fuzzer icon_fuzzer

fuzzer=build-fuzz/fuzz/load_fuzzer
artifacts=build-fuzz/artifacts
# Every file in the artefact folder afterwards comes from this run. The JPEG XR
# decoder runs in a child process that may die on hostile input; that failure
# is contained (the load fails) and the child leaves no artefact, so any
# artefact at all is a real fault.
rm -rf "$artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

options=(-rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/")
echo "fuzz: replaying the seed corpus" >&2
"$fuzzer" "${options[@]}" -runs=0 fuzz/corpus 2>"$work/replay.log" && [ -z "$(ls -A "$artifacts")" ] || {
  tail -50 "$work/replay.log" >&2
  echo "fuzz: failure replaying the corpus; reproducers in $artifacts/" >&2
  exit 1
}
echo "fuzz: fuzzing for ${LUMIVORE_FUZZ_SECONDS:-50} s" >&2
# New inputs go to the scratch folder (first), never into the repository.
mkdir -p "$work/corpus"
"$fuzzer" "${options[@]}" -max_total_time="${LUMIVORE_FUZZ_SECONDS:-50}" -print_final_stats=1 \
  "$work/corpus" fuzz/corpus 2>"$work/fuzz.log" || {
  tail -60 "$work/fuzz.log" >&2
  echo "fuzz: failure; reproducer in $artifacts/" >&2
  exit 1
}
grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/fuzz.log" >&2 || true

# --- The icon reader of executables and icon files ---------------------------
icons=build-fuzz/fuzz/icon_fuzzer
echo "fuzz: icon reader: replaying its seed corpus" >&2
"$icons" "${options[@]}" -runs=0 fuzz/icon-corpus 2>"$work/icon-replay.log" || {
  tail -50 "$work/icon-replay.log" >&2
  exit 1
}
echo "fuzz: icon reader: fuzzing for ${LUMIVORE_FUZZ_SECONDS:-50} s" >&2
mkdir -p "$work/icon-corpus"
"$icons" "${options[@]}" -max_total_time="${LUMIVORE_FUZZ_SECONDS:-50}" -print_final_stats=1 \
  "$work/icon-corpus" fuzz/icon-corpus 2>"$work/icon-fuzz.log" || {
  tail -60 "$work/icon-fuzz.log" >&2
  echo "fuzz: icon reader failure; reproducer in $artifacts/" >&2
  exit 1
}
grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/icon-fuzz.log" >&2 || true
if [ -n "$(ls -A "$artifacts")" ]; then
  ls -l "$artifacts" >&2
  echo "fuzz: failure: the run left reproducers in $artifacts/" >&2
  exit 1
fi
