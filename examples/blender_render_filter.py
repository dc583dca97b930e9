"""Renders a frame in Blender and filters it through Lumafex in the same process.

Blender renders the default scene (Cycles on the CPU, the background
transparent) into a multilayer EXR with its combined pass and depth; the
script reads both passes back from that file, hands them to lumafex.process
(premultiplied linear colour through the float files' colour path, the depth
as the renderer's depth buffer) and writes the module's bytes, what an 8-bit
output of `lumafex render` over the same EXR holds, as a PAM image:

    blender -b --factory-startup --python-use-system-env \\
        --python examples/blender_render_filter.py -- \\
        --exr render.exr --output filtered.pam \\
        --settings '{"ContrastPercent": 120, "DOFBlurFlag": 1}' [--samples 4] [--size 320x240]

--python-use-system-env lets Blender's Python see PYTHONPATH (where the
lumafex package is, when it is not installed) and LUMAFEX_MODULE.
"""

import argparse
import json
import struct
import sys
from pathlib import Path

import bpy
import numpy as np

import lumafex


def arguments():
    argv = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    parser = argparse.ArgumentParser(prog="blender_render_filter.py")
    parser.add_argument("--exr", required=True, help="the multilayer EXR Blender writes")
    parser.add_argument("--output", required=True, help="the filtered frame (PAM)")
    parser.add_argument("--settings", default="{}", help="filter settings as JSON, by lumafex show's names")
    parser.add_argument("--samples", type=int, default=4)
    parser.add_argument("--size", default="320x240", help="WIDTHxHEIGHT")
    return parser.parse_args(argv)


def render(exr, samples, width, height):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = samples
    scene.cycles.use_denoising = False
    scene.cycles.seed = 0
    scene.render.resolution_x, scene.render.resolution_y = width, height
    scene.render.resolution_percentage = 100
    scene.render.film_transparent = True
    bpy.context.view_layer.use_pass_z = True
    settings = scene.render.image_settings
    settings.file_format = "OPEN_EXR_MULTILAYER"
    settings.color_depth = "32"
    settings.exr_codec = "NONE"  # so that read_exr below can read it
    scene.render.filepath = str(exr)
    bpy.ops.render.render(write_still=True)


def read_exr(path):
    """The channels of an uncompressed scanline EXR: {name: float32 (H, W)}."""
    data = Path(path).read_bytes()
    if data[:4] != b"\x76\x2f\x31\x01":
        raise ValueError(f"{path}: not an EXR file")
    pos, header = 8, {}
    while data[pos] != 0:
        name_end = data.index(b"\0", pos)
        type_end = data.index(b"\0", name_end + 1)
        (size,) = struct.unpack_from("<i", data, type_end + 1)
        header[data[pos:name_end].decode()] = data[type_end + 5:type_end + 5 + size]
        pos = type_end + 5 + size
    pos += 1
    if header["compression"] != b"\0":
        raise ValueError(f"{path}: compressed EXR (write it with codec NONE)")
    channels, raw = [], header["channels"]
    at = 0
    while raw[at] != 0:
        end = raw.index(b"\0", at)
        (kind,) = struct.unpack_from("<i", raw, end + 1)
        channels.append((raw[at:end].decode(), {1: "<f2", 2: "<f4"}[kind]))
        at = end + 17
    x0, y0, x1, y1 = struct.unpack("<4i", header["dataWindow"])
    width, height = x1 - x0 + 1, y1 - y0 + 1
    offsets = struct.unpack_from(f"<{height}Q", data, pos)
    planes = {name: np.empty((height, width), np.float32) for name, _ in channels}
    for offset in offsets:
        (y,) = struct.unpack_from("<i", data, offset)
        at = offset + 8
        for name, kind in channels:
            row = np.frombuffer(data, kind, width, at)
            planes[name][y - y0] = row
            at += row.nbytes
    return planes


def write_pam(path, rgba):
    h, w, _ = rgba.shape
    header = f"P7\nWIDTH {w}\nHEIGHT {h}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    Path(path).write_bytes(header.encode() + np.ascontiguousarray(rgba).tobytes())


def main():
    args = arguments()
    width, height = (int(v) for v in args.size.split("x"))
    render(Path(args.exr).resolve(), args.samples, width, height)
    planes = read_exr(args.exr)
    layer = "ViewLayer."
    rgba = np.dstack([planes[layer + "Combined." + c] for c in "RGBA"])
    depth = planes[layer + "Depth.Z"]
    filtered = lumafex.process(rgba, json.loads(args.settings), depth=depth, as_bytes=True)
    write_pam(args.output, filtered)
    print(f"blender_render_filter: wrote {args.output} ({width}x{height})")


main()
