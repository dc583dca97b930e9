#!/usr/bin/env bash
# Installs the release build as users get it and checks that the installed
# files work on their own: `cmake --install` into a fresh prefix, and the
# Debian packages from `cpack -G DEB` unpacked into a throwaway root. Each
# renders the demo with the installed lumafex and module only, answers
# --version, shows its manual page (which points to the installed
# documents), and serves the host interface header through pkg-config and
# CMake's find_package.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
[[ -x $build/lumafex ]] || { echo "build the release preset first" >&2; exit 1; }
cmake --build "$build" --target lumafex lumafex_module lumafex_man >/dev/null
work=$(mktemp -d /tmp/lumafex-install.XXXXXX)
trap 'rm -rf "$work"' EXIT

check_tree() {
  local prefix=$1 what=$2
  # Nothing of the build folder may serve: a clean environment, another folder.
  (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" "$prefix/bin/lumafex" --version) |
    grep -q '^lumafex '
  env -i PATH=/usr/bin:/bin MANPATH="$prefix/share/man" MANPAGER=cat PAGER=cat \
    man lumafex 2>/dev/null | grep -q "LUMAFEX_MODULE"
  (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" \
    "$prefix/bin/lumafex" -q demo "$work/demo-$what")
  test -s "$work/demo-$what/contact-sheet.png"
  # The Python package, where it was built: Debian's Python imports it from
  # the tree, and it finds the module there.
  local site="$prefix/lib/python3/dist-packages"
  if [[ -f $site/lumafex/__init__.py ]]; then
    (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" PYTHONPATH="$site" /usr/bin/python3 -c \
      'import lumafex, sys; assert lumafex.Scene(sys.argv[1]).render_frame(1).shape[2] == 4' \
      "$work/demo-$what/demo-scene.json")
  fi
  test -f "$prefix/share/bash-completion/completions/lumafex"
  # The documents the manual page points to, and the page's pointer.
  cmp -s docs/scene-format.md "$prefix/share/doc/lumafex/scene-format.md"
  cmp -s docs/farm.md "$prefix/share/doc/lumafex/farm.md"
  env -i PATH=/usr/bin:/bin MANPATH="$prefix/share/man" MANPAGER=cat PAGER=cat MANWIDTH=200 \
    man lumafex 2>/dev/null | grep -q "share/doc/lumafex/scene-format.md"

  printf '#include <lumafex/host_interface.h>\nint main() { return sizeof(ModuleDescriptor) > 0 ? 0 : 1; }\n' \
    >"$work/consumer.cpp"
  local pc_dir
  pc_dir=$(dirname "$(find "$prefix" -name lumafex.pc | head -1)")
  # shellcheck disable=SC2046
  g++ -std=c++20 $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags lumafex) \
    "$work/consumer.cpp" -o "$work/consumer-pc" && "$work/consumer-pc"
  test -f "$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=module lumafex)"

  mkdir -p "$work/cmake-$what"
  cat >"$work/cmake-$what/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
find_package(Lumafex 3 REQUIRED)
add_executable(consumer ../consumer.cpp)
target_link_libraries(consumer PRIVATE Lumafex::host_interface)
if(NOT EXISTS "${Lumafex_MODULE}")
  message(FATAL_ERROR "no module at ${Lumafex_MODULE}")
endif()
CMAKE
  cmake -S "$work/cmake-$what" -B "$work/cmake-$what/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/cmake-$what/build" >/dev/null
  echo "installed $what: --version, man page, documents, demo render, pkg-config and find_package work"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix" prefix

(cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
mkdir -p "$work/root"
for deb in "$work"/packages/*.deb; do
  dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Depends\):/  &/p'
  dpkg-deb -x "$deb" "$work/root"
done
check_tree "$work/root/usr" package
