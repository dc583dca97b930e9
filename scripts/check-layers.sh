#!/usr/bin/env bash
# Checks that every include of our own files points down the layers and
# prints each one that does not, with its file and line.
#
#   scripts/check-layers.sh [ROOT]     ROOT: the tree to check (this one)
#
# The layers of src/ (see the README's layout table), lowest first:
#
#   abi, platform                  leaves
#   settings                       platform
#   pipeline/frame                 settings, platform
#   pipeline/passes, /final        pipeline/frame and below, never each other
#   pipeline (its root)            passes, final and below
#   ui                             pipeline and below
#   ui/none, ui/win32, ui/qt       their own folder, ui and below
#   host                           all of the above but the bindings, and abi
#
# the host program's folders under tools/lumafex/, lowest first, each of
# which may also include any layer of src/:
#
#   process                        leaves
#   image_files                    process
#   scenes                         image_files, process
#   rendering                      scenes and below
#   farm, pictures                 rendering and below, never each other
#   command_line                   all of the above
#
# and the trees around them:
#
#   python/                        python/, tools/ and src/ (the Python
#                                  package over the host program's code)
#   tests/                         tests/, tools/ and src/
#   bench/, fuzz/                  their own folder, tools/, src/ and the
#                                  tests' shared helpers (tests/support/)
#
# so src/ never includes tools/, and nothing but tests, benchmarks and fuzz
# targets includes tests/. A file of tools/ outside these folders is in no
# layer. Every source and header file is read (.h .hpp
# .inl .cpp .cc .rc and the like). An include is looked up as the compiler
# would: "x" beside the including file first, then, for "x" and <x>, under
# src/, each tools/ folder and tests/; ".." is resolved. A quoted include
# found nowhere there is matched against our files by the end of their path.
# Includes of files outside the tree (system and library headers) are not
# checked.
set -euo pipefail
if (($# > 1)); then
  echo "usage: $0 [ROOT]" >&2
  exit 2
fi
cd "${1:-$(dirname "$0")/..}"

# Each function below leaves its answer in REPLY (no subshell per include).
layer_of() {
  case "$1" in
    src/abi/*) REPLY=abi ;;
    src/platform/*) REPLY=platform ;;
    src/settings/*) REPLY=settings ;;
    src/pipeline/frame/*) REPLY=frame ;;
    src/pipeline/passes/*) REPLY=passes ;;
    src/pipeline/final/*) REPLY=final ;;
    src/pipeline/*) REPLY=pipeline ;;
    src/ui/none/*) REPLY=binding-none ;;
    src/ui/win32/*) REPLY=binding-win32 ;;
    src/ui/qt/*) REPLY=binding-qt ;;
    src/ui/*) REPLY=ui ;;
    src/host/*) REPLY=host ;;
    src/*) REPLY=unknown ;;
    tools/lumafex/command_line/*) REPLY=command_line ;;
    tools/lumafex/farm/*) REPLY=farm ;;
    tools/lumafex/pictures/*) REPLY=pictures ;;
    tools/lumafex/rendering/*) REPLY=rendering ;;
    tools/lumafex/scenes/*) REPLY=scenes ;;
    tools/lumafex/image_files/*) REPLY=image_files ;;
    tools/lumafex/process/*) REPLY=process ;;
    python/*) REPLY=python ;;
    tests/support/*) REPLY=test-support ;;
    tests/*) REPLY=tests ;;
    bench/*) REPLY=bench ;;
    fuzz/*) REPLY=fuzz ;;
    *) REPLY=unknown ;;
  esac
}

src_layers="abi platform settings frame passes final pipeline ui binding-none binding-win32 binding-qt host"
tools_layers="command_line farm pictures rendering scenes image_files process"
below() {
  case "$1" in
    abi) REPLY="abi" ;;
    platform) REPLY="platform" ;;
    settings) REPLY="settings platform" ;;
    frame) REPLY="frame settings platform" ;;
    passes) REPLY="passes frame settings platform" ;;
    final) REPLY="final frame settings platform" ;;
    pipeline) REPLY="pipeline passes final frame settings platform" ;;
    ui) REPLY="ui pipeline passes final frame settings platform" ;;
    binding-*) REPLY="$1 ui pipeline passes final frame settings platform" ;;
    host) REPLY="host abi ui pipeline passes final frame settings platform" ;;
    process) REPLY="process $src_layers" ;;
    image_files) REPLY="image_files process $src_layers" ;;
    scenes) REPLY="scenes image_files process $src_layers" ;;
    rendering) REPLY="rendering scenes image_files process $src_layers" ;;
    farm | pictures) REPLY="$1 rendering scenes image_files process $src_layers" ;;
    command_line) REPLY="$tools_layers $src_layers" ;;
    python) REPLY="python $tools_layers $src_layers" ;;
    tests | test-support) REPLY="tests test-support $tools_layers $src_layers" ;;
    bench | fuzz) REPLY="$1 test-support $tools_layers $src_layers" ;;
    *) REPLY="" ;;
  esac
}

# A path with "." and ".." taken out, without touching the file system;
# empty when it leaves the tree.
normalise() {
  local -a parts=() out=()
  local part
  IFS=/ read -ra parts <<<"$1"
  for part in "${parts[@]}"; do
    case "$part" in
      "" | .) ;;
      ..)
        if ((${#out[@]} == 0)); then
          REPLY=
          return
        fi
        unset 'out[-1]'
        ;;
      *) out+=("$part") ;;
    esac
  done
  local IFS=/
  REPLY="${out[*]}"
}

code_files() {
  local dirs=() dir
  for dir in src tools python tests bench fuzz; do
    [[ -d "$dir" ]] && dirs+=("$dir")
  done
  find "${dirs[@]}" -path fuzz/corpus -prune -o -type f -regextype posix-extended \
    -iregex '.*\.(h|hh|hpp|hxx|h\+\+|inl|ipp|tpp|tcc|ixx|c|cc|cpp|cxx|c\+\+|cppm|m|mm|rc)' \
    -print 2>/dev/null | sort
}
mapfile -t files < <(code_files)
if ((${#files[@]} == 0)); then
  echo "check-layers: no source files under $(pwd)" >&2
  exit 2
fi

roots=(src)
for dir in tools/*/; do
  [[ -d "$dir" ]] && roots+=("${dir%/}")
done
roots+=(tests)

# The file an include names, relative to the tree; empty when not ours.
resolve() {
  local file=$1 kind=$2 name=$3 root tail candidate
  if [[ "$kind" == '"' ]]; then
    normalise "${file%/*}/$name"
    [[ -n "$REPLY" && -f "$REPLY" ]] && return
  fi
  for root in "${roots[@]}"; do
    normalise "$root/$name"
    [[ -n "$REPLY" && -f "$REPLY" ]] && return
  done
  REPLY=
  [[ "$kind" == '"' ]] || return 0
  normalise "$name"
  tail=$REPLY
  REPLY=
  [[ -n "$tail" ]] || return 0
  for candidate in "${files[@]}"; do
    if [[ "$candidate" == */"$tail" ]]; then
      REPLY=$candidate
      return
    fi
  done
}

bad=0
include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  [[ "$text" =~ $include_line ]] || continue
  kind=${BASH_REMATCH[1]}
  name=${BASH_REMATCH[2]}
  layer_of "$file"
  from=$REPLY
  if [[ "$from" == unknown ]]; then
    echo "$file:$line: the file is in no layer of the README's layout table"
    bad=1
    continue
  fi
  resolve "$file" "$kind" "$name"
  target=$REPLY
  [[ -n "$target" ]] || continue
  layer_of "$target"
  to=$REPLY
  below "$from"
  allowed=" $REPLY "
  if [[ "$allowed" != *" $to "* ]]; then
    [[ "$kind" == '"' ]] && shown="\"$name\"" || shown="<$name>"
    echo "$file:$line: $shown is $target ($to), which $from may not include"
    bad=1
  fi
done < <(grep -HnE '^[[:space:]]*#[[:space:]]*include' "${files[@]}" || true)

if [[ $bad -ne 0 ]]; then
  echo "check-layers: the includes above point up the layers" >&2
  exit 1
fi
echo "check-layers: every include in src/, tools/, python/, tests/, bench/ and fuzz/ points down the layers"
