#!/usr/bin/env bash
# "lumafex edit" on a real X display: a private Xvfb server (1366x768, on a
# display number the server picks itself), a scene with one frame, the
# dialog opened, Escape pressed in it; the command must exit 0 and leave the
# scene file byte for byte as it was. Usage: edit_on_display.sh BUILD_DIR
set -euo pipefail
build=$1
command -v Xvfb >/dev/null || { echo "Xvfb is not installed; skipped"; exit 77; }

work=$(mktemp -d)
xvfb_pid=
edit_pid=
cleanup() {
  [[ -n $edit_pid ]] && kill "$edit_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd: the server takes the first free display number and writes it.
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
echo "Xvfb on $DISPLAY"

# One 64x32 frame with alpha, and a scene whose text the dialog must not touch.
{
  printf 'P7\nWIDTH 64\nHEIGHT 32\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n'
  head -c $((64 * 32 * 4)) /dev/urandom
} >"$work/frame.pam"
cat >"$work/scene.json" <<'JSON'
{ "frames": [ {"frame": 1, "color": "frame.pam", "output": "out.pam"} ],
    "settings" : ["Version 1", "Passes 1", "RedPercent 80"] }
JSON
cp "$work/scene.json" "$work/scene.orig"

"$build/lumafex" edit "$work/scene.json" --frame 1 >"$work/edit.log" 2>&1 &
edit_pid=$!
"$build/tests/qt_dialog/escape_dialog" Lumafex
status=0
for _ in $(seq 200); do
  kill -0 "$edit_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$edit_pid" 2>/dev/null; then
  echo "lumafex edit did not close on Escape"; cat "$work/edit.log"; exit 1
fi
wait "$edit_pid" || status=$?
edit_pid=
cat "$work/edit.log"
[[ $status -eq 0 ]] || { echo "lumafex edit exited with $status"; exit 1; }
cmp "$work/scene.json" "$work/scene.orig" || { echo "the scene file changed"; exit 1; }
echo "lumafex edit opened on $DISPLAY, Escape cancelled it, the scene is unchanged"
