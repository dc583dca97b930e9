#!/usr/bin/env bash
# Checks the naming rule (docs/conventions.md) with clang-tidy's naming check
# (.clang-tidy) over every source file of src/ and tools/ the release build
# compiles, two files at a time. Prints each violation and fails when there
# is one. Configures the release build first when it has no compile
# commands.
#
#   check-style.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
tidy=$(command -v clang-tidy || command -v clang-tidy-14 || true)
if [[ -z $tidy ]]; then
  echo "check-style: clang-tidy is not installed (bash scripts/install-deps.sh)" >&2
  exit 2
fi
if [[ ! -f $build/compile_commands.json ]]; then
  cmake --preset release >/dev/null
fi

root=$(pwd)
mapfile -t files < <(python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, sys
root = sys.argv[2]
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = entry["file"]
    if path.startswith((root + "/src/", root + "/tools/")) and path not in seen:
        seen.add(path)
        print(path)
PY
)
if ((${#files[@]} == 0)); then
  echo "check-style: no source files in $build/compile_commands.json" >&2
  exit 2
fi

# -w: the compiler's own warnings are the build's business, not this check's.
# A file with a violation (or one clang cannot parse) makes its clang-tidy
# exit non-zero, and xargs then exits 123.
log=$(mktemp)
# The compile commands without the GCC options clang does not know.
commands=$(mktemp -d)
trap 'rm -rf "$log" "$commands"' EXIT
sed 's/ -fno-gnu-unique//g' "$build/compile_commands.json" >"$commands/compile_commands.json"
status=0
printf '%s\0' "${files[@]}" |
  xargs -0 -P2 -n4 "$tidy" -p "$commands" --quiet --extra-arg=-w >"$log" 2>/dev/null || status=$?
grep -E "(warning|error):" "$log" | sort -u || true
if ((status != 0)); then
  echo "check-style: naming rule violated (see docs/conventions.md)" >&2
  exit 1
fi
echo "check-style: ${#files[@]} files follow the naming rule"
