#!/usr/bin/env bash
# Renews the pictures in the README: the demo's focus pull, a frame as
# rendered beside frames 6 and 18 after the module, focused on the near and
# on the far sphere by the demo's null objects
# (docs/images/demo-before-after.png), and a gallery with one tile per
# filter family on frame 12, each labelled with the settings it changed
# (docs/images/gallery.png), and frame 12 made high dynamic range before
# and after a contrast change, to a half-float EXR and to an 8-bit PNG,
# also shown 3 stops darker (docs/images/hdr-before-after.png). Each tile
# is a one-frame scene whose settings are given by name, rendered through
# the built module; scripts/gallery-tiles.py makes the ramps, the depth map
# and the HDR frame and crops or flattens the outputs for showing, oiiotool
# shows an EXR at an exposure. LUMAFEX_BUILD_DIR names the build folder
# (default build/release).
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

# The gallery: one tile per filter family, each a one-frame scene whose
# settings are given by name, rendered through the built module and
# labelled with what changed. Tiles show the colour opaque (the sky is the
# frame's background, alpha 0, and shows its colour here) except the alpha
# tiles, which show alpha over the checkerboard. Fine-grained effects are
# shown on a crop at the near sphere's edge, three times its size (X3),
# beside the same crop as rendered; the clamps (NTSC limit, key prep) on
# ramps from 0 to 255.
tiles=(python3 scripts/gallery-tiles.py)
"${tiles[@]}" ramps "$work/ramps.pam" 640 360
"${tiles[@]}" depth "$work/demo/input/depth.$frame.pfm" "$input" "$work/depth.pam"
green='"r1": 0, "g1": 100, "b1": 0, "r2": 100, "g2": 255, "b2": 120'
sky='"r1": 90, "g1": 140, "b1": 200, "r2": 180, "g2": 210, "b2": 240'
# The depth-of-field tile lets the blur reach 30 pixels (3MaxDOFBlur% 600)
# rather than 5, so the far sphere's blur shows at a third of the size.
deeper='"objects": [{"name": "3MaxDOFBlur%", "keys": [{"time": 0, "position": [0, 0, 600]}]}],'
# label|input (frame or ramps)|shown as (opaque, alpha or crop)|filters by
# name|more of the scene
families=(
  "AS RENDERED|frame|opaque|"
  "DEPTH RED NEAR BLUE FAR|depth||"
  "RED 130% BRIGHT 120%|frame|opaque|\"RedPercent\": 130, \"BrightPercent\": 120"
  "GAMMA 140% CONTRAST 130%|frame|opaque|\"GammaPercent\": 140, \"ContrastPercent\": 130"
  "BLUR 300%|frame|opaque|\"BlurFlag\": 1, \"BlurPercent\": 300"
  "SOFTER BLUR 300%|frame|opaque|\"BlurFlag\": 1, \"SofterBlurFlag\": 1, \"BlurPercent\": 300"
  "DEPTH OF FIELD FOCUS 60|frame|opaque|\"DOFBlurFlag\": 1, \"DOFBlurPercent\": 4, \"DOFBlurFocalPoint\": 60|$deeper"
  "POSTERIZE|frame|opaque|\"CartoonFlag\": 1"
  "AS RENDERED X3|frame|crop|"
  "ENHANCE 300% X3|frame|crop|\"SharpenFlag\": 1, \"SharpenPercent\": 300"
  "ANTIALIAS T 150 X3|frame|crop|\"SmoothFlag\": 1, \"AntialiasVariance\": 150"
  "NOISE 60% X3|frame|crop|\"NoiseFlag\": 1, \"NoisePercent\": 60"
  "BLACK AND WHITE|frame|opaque|\"GreyFlag\": 1"
  "NEGATIVE|frame|opaque|\"NegativeImageFlag\": 1"
  "FLIP HORIZONTAL|frame|opaque|\"FlipFrameFlag\": 1"
  "100% BLACK BACKGROUND ONLY|frame|opaque|\"FilterInclude\": 1, \"BlackFlag\": 1"
  "OBJECTS ONLY NEGATIVE|frame|opaque|\"FilterInclude\": 0, \"NegativeImageFlag\": 1"
  "BACKGROUND ONLY NEGATIVE|frame|opaque|\"FilterInclude\": 1, \"NegativeImageFlag\": 1"
  "SHADOWS ONLY NEGATIVE|frame|opaque|\"FilterInclude\": 2, \"NegativeImageFlag\": 1"
  "GREEN RANGE ONLY NEGATIVE|frame|opaque|\"FilterInclude\": 4, \"NegativeImageFlag\": 1, $green"
  "RAMPS 0 TO 255|ramps|opaque|"
  "NTSC LIMIT 208 AT MOST|ramps|opaque|\"NegativeFlag\": 1"
  "KEY PREP B 21 AT LEAST|ramps|opaque|\"KeyPrepFlag\": 1"
  "KEY PREP W 234 AT MOST|ramps|opaque|\"KeyPrepFlag\": 2"
  "ALPHA AS RENDERED|frame|alpha|"
  "NEGATIVE ALPHA|frame|alpha|\"ReverseAlphaFlag\": 1"
  "RANGE ALPHA SKY COLOURS|frame|alpha|\"RangeAlphaFlag\": 1, $sky"
  "100% WHITE SHADOWS ONLY|frame|alpha|\"FilterInclude\": 2, \"WhiteFlag\": 1"
)
shown=()
n=0
for family in "${families[@]}"; do
  n=$((n + 1))
  IFS='|' read -r label source view filters more <<<"$family"
  if [[ "$source" == depth ]]; then
    shown+=("$work/depth.pam=$label")
    continue
  fi
  colour=$input
  [[ "$source" == ramps ]] && colour=$work/ramps.pam
  # Every tile goes through the module, the unfiltered ones too, so each
  # shows the module's own bytes.
  cat >"$work/tile$n.json" <<SCENE
{"filters": {$filters}, $more
 "frames": [{"frame": 12, "color": "$colour", "shadow": "$work/demo/input/shadow.$frame.pgm",
             "depth": "$work/demo/input/depth.$frame.pfm", "output": "$work/tile$n.pam"}]}
SCENE
  "$lumafex" -q render "$work/tile$n.json"
  case "$view" in
    opaque) "${tiles[@]}" opaque "$work/tile$n.pam" "$work/shown$n.pam" ;;
    crop) "${tiles[@]}" crop "$work/tile$n.pam" "$work/shown$n.pam" 175 240 71 40 3 ;;
    *) cp "$work/tile$n.pam" "$work/shown$n.pam" ;;
  esac
  shown+=("$work/shown$n.pam=$label")
done
"$lumafex" montage -o docs/images/gallery.png --columns 4 --width 214 "${shown[@]}"

# Values above 1.0: frame 12 in linear light, opaque, its objects' lit sides
# raised to 6 and a barred light strip from 1.5 to 8 across the sky, as a
# half-float EXR, given a contrast change once to an EXR and once to an
# 8-bit PNG. Each is shown as it is and 3 stops darker (an eighth in linear
# light), where the strip's bars, all above 1.0, show: the EXR output keeps
# them as the input had them, the PNG clipped them to white.
"${tiles[@]}" hdr "$input" "$work/hdr.pfm"
oiiotool "$work/hdr.pfm" --ch R,G,B,A=1.0 -d half -o "$work/hdr.exr"
hdr_shown=()
for output in hdr-out.exr hdr-out.png; do
  cat >"$work/${output%.*}.json" <<SCENE
{"filters": {"ContrastPercent": 130},
 "frames": [{"frame": 12, "color": "$work/hdr.exr", "output": "$work/$output"}]}
SCENE
  "$lumafex" -q render "$work/${output%.*}.json"
done
# label|image|gain in linear light
hdr_tiles=(
  "HDR INPUT|hdr.exr|1"
  "CONTRAST 130% TO EXR|hdr-out.exr|1"
  "CONTRAST 130% TO 8 BIT PNG|hdr-out.png|1"
  "INPUT 3 STOPS DARKER|hdr.exr|0.125"
  "EXR 3 STOPS DARKER|hdr-out.exr|0.125"
  "PNG 3 STOPS DARKER|hdr-out.png|0.125"
)
n=0
for tile in "${hdr_tiles[@]}"; do
  n=$((n + 1))
  IFS='|' read -r label image gain <<<"$tile"
  oiiotool "$work/$image" --ch R,G,B --tocolorspace linear --mulc "$gain,$gain,$gain" \
    --tocolorspace sRGB -d uint8 -o "$work/hdr-shown$n.png"
  hdr_shown+=("$work/hdr-shown$n.png=$label")
done
"$lumafex" montage -o docs/images/hdr-before-after.png --columns 3 --width 320 "${hdr_shown[@]}"

for picture in docs/images/demo-before-after.png docs/images/gallery.png docs/images/hdr-before-after.png; do
  python3 scripts/compress-png.py "$picture" "$picture"
done
ls -l docs/images/demo-before-after.png docs/images/gallery.png docs/images/hdr-before-after.png
