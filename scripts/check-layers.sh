#!/usr/bin/env bash
# Checks that every include in src/ points down the layers (see the README's
# layout table) and prints each one that does not, with its file and line.
#
#   abi, platform                  leaves
#   settings                       platform
#   pipeline/frame                 settings, platform
#   pipeline/passes, /final        pipeline/frame and below, never each other
#   pipeline (its root)            passes, final and below
#   ui                             pipeline and below
#   ui/none, ui/win32, ui/qt       their own folder, ui and below
#   host                           all of the above but the bindings, and abi
set -euo pipefail
cd "$(dirname "$0")/.."

layer_of() {
  case "$1" in
    abi/*) echo abi ;;
    platform/*) echo platform ;;
    settings/*) echo settings ;;
    pipeline/frame/*) echo frame ;;
    pipeline/passes/*) echo passes ;;
    pipeline/final/*) echo final ;;
    pipeline/*) echo pipeline ;;
    ui/none/*) echo binding-none ;;
    ui/win32/*) echo binding-win32 ;;
    ui/qt/*) echo binding-qt ;;
    ui/*) echo ui ;;
    host/*) echo host ;;
    *) echo unknown ;;
  esac
}

below() {
  case "$1" in
    abi) echo "abi" ;;
    platform) echo "platform" ;;
    settings) echo "settings platform" ;;
    frame) echo "frame settings platform" ;;
    passes) echo "passes frame settings platform" ;;
    final) echo "final frame settings platform" ;;
    pipeline) echo "pipeline passes final frame settings platform" ;;
    ui) echo "ui pipeline passes final frame settings platform" ;;
    binding-*) echo "$1 ui pipeline passes final frame settings platform" ;;
    host) echo "host abi ui pipeline passes final frame settings platform" ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r file; do
  from=$(layer_of "${file#src/}")
  allowed=" $(below "$from") "
  while IFS=: read -r line include; do
    # A path relative to the including file's folder, where one is there.
    resolved=$include
    if [[ -e "$(dirname "$file")/$include" ]]; then
      resolved=$(realpath -m --relative-to=src "$(dirname "$file")/$include")
    fi
    target=$(layer_of "$resolved")
    if [[ "$allowed" != *" $target "* ]]; then
      echo "$file:$line: a $from file includes \"$include\" ($target)"
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/' || true)
done < <(find src -name '*.h' -o -name '*.cpp' -o -name '*.rc' | sort)

if [[ $bad -ne 0 ]]; then
  echo "check-layers: includes above point up the layers" >&2
  exit 1
fi
echo "check-layers: every include in src/ points down the layers"
