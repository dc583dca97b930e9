#!/usr/bin/env bash
# Builds the scene-line fuzz target with clang++ and libFuzzer
# (-fsanitize=fuzzer,address,undefined) in its own build directory,
# build/fuzz, and runs it for FUZZ_SECONDS seconds (60 unless set).
# A crash, a sanitizer report or a failed check ends the run with a
# non-zero status; the input that caused it is left in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
cxx="${FUZZ_CXX:-clang++}"

cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build/fuzz -j2

# New inputs go to the working corpus in the build directory; the seeds in
# fuzz/corpus are only read.
mkdir -p build/fuzz/corpus build/fuzz/artifacts
./build/fuzz/scene_lines_fuzzer \
  -max_total_time="$seconds" \
  -print_final_stats=1 \
  -artifact_prefix=build/fuzz/artifacts/ \
  build/fuzz/corpus fuzz/corpus
