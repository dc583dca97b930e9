#!/usr/bin/env bash
# lumafex farm submit against a real Slurm: a private one-node cluster runs
# the demo's 24 frames in chunks of 6; every frame must equal a local render
# of the same chunk, byte for byte. Then a chunk whose input is missing must
# make --wait fail and name that chunk.
# Usage: farm_test.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")

if [[ $(id -u) -ne 0 ]] || ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
  echo "skipped: the private Slurm cluster needs root, slurmctld, slurmd and munge"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work"
trap 'bash "$here/slurm-cluster.sh" stop "$work/cluster"' EXIT
SLURM_CONF=$(bash "$here/slurm-cluster.sh" start "$work/cluster")
export SLURM_CONF

lumafex=("$build/lumafex" --module "$build/lumafex3.p")
"${lumafex[@]}" -q demo "$work/demo" >/dev/null
scene=$work/demo/demo-scene.json

job=$("${lumafex[@]}" -q farm submit "$scene" --chunk 6 --output-dir "$work/farm" --wait)
echo "job $job finished"
for chunk in 1-6 7-12 13-18 19-24; do
  "${lumafex[@]}" -q render "$scene" --frames "$chunk" --output-dir "$work/local"
done
count=0
for local in "$work"/local/*; do
  cmp "$local" "$work/farm/$(basename "$local")"
  count=$((count + 1))
done
[[ $count -eq 24 ]] || { echo "expected 24 frames, compared $count" >&2; exit 1; }
echo "24 frames from 4 array tasks equal the local chunked renders"

# A missing input fails its chunk, and only that one is named.
frame14=$(find "$work/demo/input" -name '*beauty*0014*' | head -1)
[[ -n $frame14 ]] || frame14=$(find "$work/demo/input" -name '*0014*' | head -1)
rm "$frame14"
status=0
"${lumafex[@]}" -q farm submit "$scene" --chunk 6 --output-dir "$work/farm2" --wait \
  2>"$work/failed.err" >/dev/null || status=$?
cat "$work/failed.err"
[[ $status -ne 0 ]]
grep -q "chunk 2 (frames 13-18) failed" "$work/failed.err"
! grep -q "chunk [013] " "$work/failed.err"
echo "a failed chunk is named and the submit exits $status"
