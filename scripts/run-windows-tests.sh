#!/usr/bin/env bash
# Builds the 32-bit Windows module, host program and tests with mingw-w64
# (build/mingw) and runs the tests under Wine through CTest: the test suite,
# the same scenes rendered by lumafex.exe and by the Linux lumafex (built in
# build/win-native), which must give the same bytes, and the settings dialog
# driven on an Xvfb display, whose picture is kept as
# docs/images/dialog-win32.png.
#
# Wine runs in a throwaway 32-bit prefix inside the build folder, made once
# with wineboot; no display is needed, and Wine is told not to offer its
# .NET and HTML engine installers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# The Linux programs the Windows render is compared with: the module and
# lumafex on its dependency-free image path, as the Windows build has it.
native=build/win-native
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMAFEX_BUILD_TESTS=OFF \
  -DLUMAFEX_BUILD_BENCHMARKS=OFF -DLUMAFEX_WITH_OIIO=OFF >/dev/null
cmake --build "$native" -j2 --target lumafex lumafex_module

cmake --preset mingw -DLUMAFEX_NATIVE_BUILD_DIR="$PWD/$native" >/dev/null
cmake --build --preset mingw

export WINEPREFIX="$PWD/build/mingw/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# No display is used, even where there is one.
unset DISPLAY WAYLAND_DISPLAY

if [[ ! -f "$WINEPREFIX/.lumafex-ready" ]]; then
  echo "Creating the Wine prefix in $WINEPREFIX"
  wineboot --init
  # Windows need a graphics driver even when nobody sees them: the tests
  # open message boxes and press their buttons. The null driver needs no
  # display; the server restarts so that every process uses it.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  wineserver --kill
  touch "$WINEPREFIX/.lumafex-ready"
fi
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT

ctest --preset mingw -LE display

# The settings dialog test needs a display: a private Xvfb server on a fixed
# display number, for this test only, and a Wine prefix of its own that uses
# the X11 driver. With no window manager Wine draws the window frames itself
# (Decorated=N), so the picture of the dialog shows its caption.
display_number=97
display_prefix="$PWD/build/mingw/wineprefix-display"
if [[ -e /tmp/.X11-unix/X$display_number ]]; then
  echo "Display :$display_number is in use; the dialog test needs it" >&2
  exit 1
fi
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'wineserver --kill >/dev/null 2>&1 || true
      WINEPREFIX="$display_prefix" wineserver --kill >/dev/null 2>&1 || true
      kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [[ -e /tmp/.X11-unix/X$display_number ]] && break
  sleep 0.1
done
export DISPLAY=":$display_number"
if [[ ! -f "$display_prefix/.lumafex-ready" ]]; then
  echo "Creating the Wine prefix in $display_prefix"
  WINEPREFIX="$display_prefix" wineboot --init
  WINEPREFIX="$display_prefix" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
    >/dev/null
  WINEPREFIX="$display_prefix" wineserver --wait
  touch "$display_prefix/.lumafex-ready"
fi
ctest --preset mingw -L display
mkdir -p docs/images
python3 scripts/compress-png.py build/mingw/dialog-win32.png docs/images/dialog-win32.png
