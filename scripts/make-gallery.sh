#!/usr/bin/env bash
# Renews the pictures in the README: the demo's focus pull, a frame as
# rendered beside frames 6 and 18 after the module, focused on the near and
# on the far sphere by the demo's null objects
# (docs/images/demo-before-after.png), and a gallery with one tile per
# filter family on frame 12 (docs/images/gallery.png). Each tile is a
# one-frame scene whose settings are given by name, rendered through the
# built module. LUMAFEX_BUILD_DIR names the build folder (default
# build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${LUMAFEX_BUILD_DIR:-build/release}
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target lumafex lumafex_module
lumafex=./$build/lumafex
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$lumafex" -q demo "$work/demo"
frame=0012
input="$work/demo/input/beauty.$frame.pam"
"$lumafex" montage -o docs/images/demo-before-after.png --columns 3 --width 320 \
  "$work/demo/input/beauty.0006.pam=AS RENDERED" \
  "$work/demo/output/graded.0006.png=FRAME 6 FOCUS NEAR AT 55" \
  "$work/demo/output/graded.0018.png=FRAME 18 FOCUS FAR AT 175"

# label|filters by name
families=(
  "COLOUR GAINS|\"RedPercent\": 130, \"BluePercent\": 75"
  "GAMMA AND CONTRAST|\"GammaPercent\": 140, \"ContrastPercent\": 130"
  "BLUR|\"BlurFlag\": 1, \"BlurPercent\": 60"
  "SOFTER BLUR|\"BlurFlag\": 1, \"SofterBlurFlag\": 1, \"BlurPercent\": 60"
  "DEPTH OF FIELD|\"DOFBlurFlag\": 1, \"DOFBlurPercent\": 4, \"DOFBlurFocalPoint\": 60"
  "ENHANCE|\"SharpenFlag\": 1, \"SharpenPercent\": 300"
  "ANTIALIAS|\"SmoothFlag\": 1, \"AntialiasVariance\": 150"
  "NOISE|\"NoiseFlag\": 1, \"NoisePercent\": 60"
  "POSTERIZE|\"CartoonFlag\": 1"
  "NTSC LIMIT|\"NegativeFlag\": 1, \"RedPercent\": 160"
  "BLACK AND WHITE|\"GreyFlag\": 1"
  "NEGATIVE|\"NegativeImageFlag\": 1"
  "OBJECTS ONLY|\"FilterInclude\": 0, \"GreyFlag\": 1"
  "KEY PREP|\"KeyPrepFlag\": 1"
  "FLIP|\"FlipFrameFlag\": 1"
)
tiles=("$input=ORIGINAL")
n=0
for family in "${families[@]}"; do
  n=$((n + 1))
  label=${family%%|*}
  filters=${family#*|}
  cat >"$work/tile$n.json" <<SCENE
{"filters": {$filters},
 "frames": [{"frame": 12, "color": "$input", "shadow": "$work/demo/input/shadow.$frame.pgm",
             "depth": "$work/demo/input/depth.$frame.pfm", "output": "$work/tile$n.png"}]}
SCENE
  "$lumafex" -q render "$work/tile$n.json"
  tiles+=("$work/tile$n.png=$label")
done
"$lumafex" montage -o docs/images/gallery.png --columns 4 --width 214 "${tiles[@]}"
for picture in docs/images/demo-before-after.png docs/images/gallery.png; do
  python3 scripts/compress-png.py "$picture" "$picture"
done
ls -l docs/images/demo-before-after.png docs/images/gallery.png
