#!/usr/bin/env bash
# Builds the Windows module, host program and tests with mingw-w64 and runs
# the tests under Wine through CTest: the test suite, the same scenes
# rendered by lumafex.exe and by the Linux lumafex (built in
# build/win-native), which must give the same bytes, and the settings dialog
# driven on an Xvfb display, whose picture is kept as
# docs/images/dialog-win32.png.
#
# There are two Windows builds: the 32-bit one (build/mingw), whose
# LUMAFEX3.P is the renderer's plug-in, and the 64-bit one (build/mingw64)
# for 64-bit hosts. Both are always built, and their module files checked
# without running them (word size, the one export, system DLL imports only).
# The 64-bit build's tests run under 64-bit Wine. The 32-bit build's tests
# need 32-bit Wine, which runs only where the machine can execute 32-bit x86
# code; scripts/can-run-x86-32.sh finds that out (LUMAFEX_X86_32_PROBE
# overrides what it runs). The last line says which builds ran their tests.
#
#   run-windows-tests.sh [--plan]
#
# --plan prints which builds' tests would run, and stops.
#
# Wine runs in throwaway prefixes inside the build folders, made once with
# wineboot; no display is used except by the dialog test, and Wine is told
# not to offer its .NET and HTML engine installers.
set -euo pipefail
cd "$(dirname "$0")/.."

# 32-bit Wine is installed by install-deps.sh where the i386 packages can be
# had; LUMAFEX_WINE32_LOADER overrides where its loader is looked for.
wine32_loader="${LUMAFEX_WINE32_LOADER:-/usr/lib/wine/wine}"
plan_builds() {
  if ! x86_32_problem=$(bash scripts/can-run-x86-32.sh 2>&1); then
    x86_32_problem="${x86_32_problem#32-bit x86 programs cannot run here: }"
  elif [[ ! -x "$wine32_loader" ]]; then
    x86_32_problem="32-bit Wine is not installed ($wine32_loader is missing)"
  else
    run_32=1
    plan="the 32-bit build (LUMAFEX3.P, 32-bit Wine) and the 64-bit build (64-bit Wine)"
    return
  fi
  run_32=0
  plan="the 64-bit build only (64-bit Wine); the 32-bit LUMAFEX3.P is built and checked but not run, as $x86_32_problem"
}
if [[ "${1:-}" == --plan ]]; then
  plan_builds
  echo "Windows tests run for $plan"
  exit 0
elif (($#)); then
  echo "usage: $0 [--plan]" >&2
  exit 2
fi

bash scripts/install-deps.sh windows
plan_builds
if ((run_32)); then
  echo "Windows tests will run for $plan"
else
  cat >&2 <<EOF
################################################################################
WARNING: Windows tests will run for $plan.
################################################################################
EOF
fi

# The Linux programs the Windows renders are compared with: the module and
# lumafex on its dependency-free image path, as the Windows builds have it.
native=build/win-native
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMAFEX_BUILD_TESTS=OFF \
  -DLUMAFEX_BUILD_BENCHMARKS=OFF -DLUMAFEX_WITH_OIIO=OFF >/dev/null
cmake --build "$native" -j2 --target lumafex lumafex_module

builds=(mingw64)
((run_32)) && builds=(mingw mingw64)
for preset in mingw mingw64; do
  cmake --preset "$preset" -DLUMAFEX_NATIVE_BUILD_DIR="$PWD/$native" >/dev/null
  cmake --build --preset "$preset"
done

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# No display is used, even where there is one.
unset DISPLAY WAYLAND_DISPLAY

# The Wine loader a build's programs run under, as its toolchain found it.
wine_of() { sed -n 's/^LUMAFEX_WINE:FILEPATH=//p' "build/$1/CMakeCache.txt"; }
arch_of() { [[ "$1" == mingw64 ]] && echo win64 || echo win32; }

prefixes=()
xvfb_pid=
cleanup() {
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX="$prefix" wineserver --kill >/dev/null 2>&1 || true
  done
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# make_prefix PRESET PREFIX null|x11: a Wine prefix of the build's word size,
# made once. Windows need a graphics driver even when nobody sees them: the
# tests open message boxes and press their buttons. The null driver needs no
# display. The dialog's prefix uses the X11 driver; with no window manager
# Wine draws the window frames itself (Decorated=N), so the picture of the
# dialog shows its caption. The server restarts so every process sees it.
make_prefix() {
  local prefix="$2" driver="$3"
  prefixes+=("$prefix")
  [[ -f "$prefix/.lumafex-ready" ]] || new_prefix "$@"
  # Wine draws the caption buttons of the window frame (close, as in the
  # dialog's picture) with Marlett; it finds that font (from fonts-wine)
  # only in the prefix's own font folder.
  if [[ "$driver" == x11 ]]; then
    cp -f /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  fi
}
new_prefix() {
  local preset="$1" prefix="$2" driver="$3" wine
  wine="$(wine_of "$preset")"
  echo "Creating the Wine prefix in $prefix"
  (
    export WINEPREFIX="$prefix" WINEARCH
    WINEARCH="$(arch_of "$preset")"
    "$wine" wineboot --init
    if [[ "$driver" == null ]]; then
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    else
      "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
    fi
    wineserver --kill
  )
  touch "$prefix/.lumafex-ready"
}

# The 32-bit module file is checked even where its tests cannot run.
if ((!run_32)); then
  ctest --preset mingw -R '^windows_module_file$'
fi
for preset in "${builds[@]}"; do
  echo "Running the tests of the $preset build under $(wine_of "$preset")"
  make_prefix "$preset" "$PWD/build/$preset/wineprefix" null
  ctest --preset "$preset" -LE display
done

# The settings dialog test needs a display: a private Xvfb server on a fixed
# display number, for this test only, and a Wine prefix of its own for each
# build, which uses the X11 driver.
display_number=97
if [[ -e /tmp/.X11-unix/X$display_number ]]; then
  echo "Display :$display_number is in use; the dialog test needs it" >&2
  exit 1
fi
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  [[ -e /tmp/.X11-unix/X$display_number ]] && break
  sleep 0.1
done
export DISPLAY=":$display_number"
for preset in "${builds[@]}"; do
  make_prefix "$preset" "$PWD/build/$preset/wineprefix-display" x11
  ctest --preset "$preset" -L display
done
# The picture in the documentation is the 32-bit plug-in's dialog.
if ((run_32)); then
  mkdir -p docs/images
  python3 scripts/compress-png.py build/mingw/dialog-win32.png docs/images/dialog-win32.png
fi

if ((run_32)); then
  echo "Windows tests passed for both builds: 32-bit (LUMAFEX3.P under 32-bit Wine) and 64-bit (under 64-bit Wine)"
else
  echo "Windows tests passed for the 64-bit build only (64-bit Wine); the 32-bit LUMAFEX3.P was built and its exports and imports checked, not run: $x86_32_problem"
fi
