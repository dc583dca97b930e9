#!/usr/bin/env bash
# lumafex farm submit against a real Slurm: a private one-node cluster runs
# the demo's 24 frames in chunks of 6; every frame must equal a local render
# of the same chunk, byte for byte, as a throttled array whose tasks use
# the CPUs they asked for. Then a chunk whose input is missing must make
# --wait fail and name that chunk, farm status name it, and farm resume
# rerun only it.
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
scene_dir=$work/demo

job=$("${lumafex[@]}" -q farm submit "$scene" --chunk 6 --output-dir "$work/farm" --wait \
  --max-running 2 --cpus-per-task 1 --farm-dir "$work/farmdir")
echo "job $job finished"
grep -qx '#SBATCH --array=0-3%2' "$work/farmdir/demo-scene.sbatch"
grep -q '^lumafex: threads 1$' "$work/farmdir/demo-scene-${job}_0.log"
echo "a throttled array ran; its task rendered with the 1 CPU it asked for"
# Locally, under taskset, a render uses the one CPU it may run on.
for chunk in 1-6 7-12 13-18 19-24; do
  taskset -c 0 "${lumafex[@]}" -v render "$scene" --frames "$chunk" --output-dir "$work/local" 2>"$work/local.log"
  grep -q '^lumafex: threads 1$' "$work/local.log"
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
cp "$frame14" "$work/frame14.keep"
rm "$frame14"
status=0
"${lumafex[@]}" -q farm submit "$scene" --chunk 6 --output-dir "$work/farm2" --wait \
  2>"$work/failed.err" >/dev/null || status=$?
cat "$work/failed.err"
[[ $status -ne 0 ]]
grep -q "chunk 2 (frames 13-18) failed" "$work/failed.err"
! grep -q "chunk [013] " "$work/failed.err"
echo "a failed chunk is named and the submit exits $status"

# status names the failed chunk; resume runs only it, and once the input is
# back every chunk is done.
status=0
"${lumafex[@]}" farm status "$scene_dir/lumafex-farm" >"$work/status.out" || status=$?
cat "$work/status.out"
[[ $status -eq 4 ]]
grep -q "chunk 2 (frames 13-18): failed (status [0-9]*); frames left: 14; log: " "$work/status.out"
[[ $(grep -c ": done$" "$work/status.out") -eq 3 ]]
cp "$work/frame14.keep" "$frame14"
resumed=$("${lumafex[@]}" -q farm resume "$scene_dir/lumafex-farm")
while [[ -n $(squeue -h -j "$resumed") ]]; do sleep 1; done
"${lumafex[@]}" farm status "$scene_dir/lumafex-farm"
! ls "$scene_dir/lumafex-farm/demo-scene-${resumed}_"[013].log 2>/dev/null
for f in "$work"/local/*; do cmp "$f" "$work/farm2/$(basename "$f")"; done
echo "status named the failed chunk; resume reran only it and every frame matches"
