#!/usr/bin/env bash
# Renders the same scenes through the Windows build (lumafex.exe and
# LUMAFEX3.P under Wine) and through the Linux build (lumafex and
# lumafex3.p), and requires byte-identical output images and identical
# settings saved back into the scenes.
#
#   compare_render.sh WINE WINDOWS_BUILD_DIR LINUX_BUILD_DIR WORK_DIR
#
# The scenes and their input frames come from make_compare_scenes.exe.
set -euo pipefail

wine="$1"
windows="$(cd "$2" && pwd)"
linux="$(cd "$3" 2>/dev/null && pwd)" || {
  echo "no Linux build in $3: scripts/run-windows-tests.sh builds it" >&2
  exit 1
}
work="$4"

for program in "$windows/lumafex.exe" "$windows/LUMAFEX3.P" "$windows/make_compare_scenes.exe" \
               "$linux/lumafex" "$linux/lumafex3.p"; do
  if [[ ! -f "$program" ]]; then
    echo "missing $program" >&2
    exit 1
  fi
done

rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"
cd "$work"
# Relative paths only: Wine maps them to the same files as Linux does.
"$wine" "$windows/make_compare_scenes.exe" .

scenes=(*.json)
if ((${#scenes[@]} == 0)); then
  echo "no scenes were generated" >&2
  exit 1
fi

for scene in "${scenes[@]}"; do
  name="${scene%.json}"
  "$linux/lumafex" --module "$linux/lumafex3.p" -q render "$scene" \
    --output-dir linux --save-scene "linux/$name.saved.json"
  # lumafex.exe finds LUMAFEX3.P beside itself, as it would when installed.
  "$wine" "$windows/lumafex.exe" -q render "$scene" \
    --output-dir windows --save-scene "windows/$name.saved.json"
done

status=0
compared=0
for file in linux/*; do
  other="windows/${file#linux/}"
  if [[ ! -f "$other" ]]; then
    echo "only the Linux build wrote ${file#linux/}"
    status=1
  elif ! cmp -s "$file" "$other"; then
    echo "differs: ${file#linux/} ($(cmp "$file" "$other" | head -n 1))"
    status=1
  fi
  compared=$((compared + 1))
done
for file in windows/*; do
  [[ -f "linux/${file#windows/}" ]] || { echo "only the Windows build wrote ${file#windows/}"; status=1; }
done

echo "$compared files compared for ${#scenes[@]} scenes"
if ((status == 0)); then
  echo "every image and saved scene is the same from both builds"
fi
exit "$status"
