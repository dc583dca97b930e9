#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ (-fsanitize=fuzzer,address,undefined)
# in their own build directory, build/fuzz, and runs each in turn for
# FUZZ_SECONDS seconds (45 unless set: at least 30 so that every target gets
# a real run, and the six targets with the build within six minutes).
# FUZZ_TARGETS picks targets by name (all of them unless set).
#
# A crash, a sanitizer report, a failed check, a leak, a timeout or running
# out of memory ends that target's run with a non-zero status; the other
# targets still run, and the script then fails. The input that caused it is
# left in build/fuzz/artifacts/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-45}"
cxx="${FUZZ_CXX:-clang++}"
targets="${FUZZ_TARGETS:-scene_lines preset scene netpbm sequence farm_script}"

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || (( seconds < 1 )); then
  echo "run-fuzz.sh: FUZZ_SECONDS must be a whole number of seconds, not '$seconds'" >&2
  exit 2
fi

cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build/fuzz -j2

failed=()
for target in $targets; do
  if [[ ! -d "fuzz/corpus/$target" ]]; then
    echo "run-fuzz.sh: no target '$target' (no fuzz/corpus/$target)" >&2
    exit 2
  fi
  # New inputs go to the working corpus in the build directory; the seeds in
  # fuzz/corpus are only read.
  work="build/fuzz/corpus/$target"
  artifacts="build/fuzz/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  # The target's tokens (keys, magic numbers), when it has a dictionary.
  dict=()
  [[ -f "fuzz/dict/$target.dict" ]] && dict=(-dict="fuzz/dict/$target.dict")
  echo "== fuzzing $target for $seconds s"
  if ! "./build/fuzz/${target}_fuzzer" \
      -max_total_time="$seconds" \
      -timeout=10 \
      -rss_limit_mb=2048 \
      -print_final_stats=1 \
      "${dict[@]}" \
      -artifact_prefix="$artifacts/" \
      "$work" "fuzz/corpus/$target"; then
    echo "run-fuzz.sh: $target FAILED; the input is in $artifacts/" >&2
    failed+=("$target")
  fi
done

if (( ${#failed[@]} > 0 )); then
  echo "run-fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzz.sh: every target ran $seconds s without a finding"
