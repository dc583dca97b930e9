#!/usr/bin/env bash
# scripts/check-layers.sh passes the tree as it is, and fails a copy of it in
# which an upward include of each kind is planted, naming every planted file
# and line.
#
#   check_layers_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
check=$source_dir/scripts/check-layers.sh

if ! bash "$check" "$source_dir" >/dev/null; then
  echo "FAIL: the tree itself breaks the layers:" >&2
  bash "$check" "$source_dir" >&2 || true
  exit 1
fi

rm -rf "$work"
mkdir -p "$work"
for dir in src tools python tests bench fuzz; do
  [[ -d "$source_dir/$dir" ]] && cp -r "$source_dir/$dir" "$work"/
done

expected=()
# plant FILE INCLUDE: the include as the file's third line (a new file, or
# added to an existing one).
plant() {
  mkdir -p "$(dirname "$work/$1")"
  [[ -f "$work/$1" ]] || printf '// planted\n\n' >"$work/$1"
  local lines
  lines=$(wc -l <"$work/$1")
  printf '%s\n' "$2" >>"$work/$1"
  expected+=("$1:$((lines + 1)):")
}
plant src/settings/planted_relative.cpp '#include "../pipeline/filter_chain.h"'
plant src/pipeline/frame/planted_angle.cpp '#include <pipeline/passes/blur.h>'
plant src/pipeline/passes/planted_sideways.hpp '#  include "pipeline/final/final_pass.h"'
plant src/platform/planted_up.inl '#include "settings/decimal.h"'
plant src/abi/host_interface.h '#include "platform/memory.h"'
plant src/ui/planted_binding.h '#include "qt/display_check.h"'
plant src/host/planted_tools.cc '#include "scene.h"'
plant src/host/planted_tools_relative.cpp '#include "../../tools/lumafex/scenes/scene.h"'
plant tools/lumafex/rendering/planted_tests.cpp '#include "support/fake_host.h"'
plant tools/lumafex/image_files/planted_up.cpp '#include "scenes/scene.h"'
plant tools/lumafex/farm/planted_sideways.h '#include "../pictures/pictures.h"'
plant tools/lumafex/process/progress.h '#include <rendering/render.h>'
plant tools/lumafex/planted_flat.cpp '#include "process/system.h"'
plant python/planted_tests.cpp '#include <support/test_frame.h>'
plant bench/planted_fuzz.cpp '#include "scene_limits.h"'
plant src/unlisted/planted.h '#include "settings/decimal.h"'

status=0
output=$(bash "$check" "$work" 2>&1) || status=$?
failed=0
if ((status != 1)); then
  echo "FAIL: the check exited with $status, not 1, over the planted includes" >&2
  failed=1
fi
for where in "${expected[@]}"; do
  if ! grep -qF -- "$where" <<<"$output"; then
    echo "FAIL: the check did not name $where" >&2
    failed=1
  fi
done
reported=$(grep -c '^[a-z].*:[0-9]*: ' <<<"$output" || true)
if ((reported != ${#expected[@]})); then
  echo "FAIL: the check reported $reported includes, not the ${#expected[@]} planted" >&2
  failed=1
fi
if ((failed)); then
  printf '%s\n' "$output" >&2
  exit 1
fi
echo "check-layers names each of the ${#expected[@]} planted upward includes"
