#!/usr/bin/env bash
# The module needs no windowing toolkit: lumafex3.p names no Qt library,
# and with every Qt library hidden (bind-mounted over by an empty file in a
# private mount namespace, which needs root) it still loads and renders,
# while the settings dialog says why it cannot open.
# Usage: module_without_qt.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2

if readelf -d "$build/lumafex3.p" | grep NEEDED | grep -i qt; then
  echo "lumafex3.p links Qt" >&2
  exit 1
fi

if [[ $(id -u) -ne 0 ]] || ! unshare -m true 2>/dev/null; then
  echo "skipped: hiding the Qt libraries needs root and mount namespaces"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work"
printf 'P6\n8 2\n255\n' >"$work/in.ppm"
head -c 48 /dev/urandom >>"$work/in.ppm"
cat >"$work/scene.json" <<'JSON'
{"settings": ["Version 1", "Passes 1", "RedPercent 50"],
 "frames": [{"frame": 1, "color": "in.ppm", "output": "out.pam"}]}
JSON
: >"$work/empty"

# Every Qt library the dialog library would load, by its resolved path.
mapfile -t qt_libraries < <(ldd "$build/lumafex3-qt.so" | awk '/libQt6/ {print $3}')
if ((${#qt_libraries[@]} == 0)); then
  echo "no Qt library found behind lumafex3-qt.so" >&2
  exit 1
fi

unshare -m bash -euo pipefail -c '
  build=$1; work=$2; shift 2
  for library in "$@"; do mount --bind "$work/empty" "$library"; done
  "$build/lumafex" -q render "$work/scene.json"
  test -s "$work/out.pam"
  status=0
  "$build/lumafex" edit "$work/scene.json" 2>"$work/edit.err" || status=$?
  cat "$work/edit.err"
  test "$status" -ne 0
  grep -q "settings dialog is not available" "$work/edit.err"
' bash "$build" "$work" "${qt_libraries[@]}"
echo "rendered with no Qt library present; the dialog refused with its reason"
