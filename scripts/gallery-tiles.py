#!/usr/bin/env python3
"""Prepares tiles of the README gallery (scripts/make-gallery.sh) as PAM files.

  gallery-tiles.py ramps OUT.pam WIDTH HEIGHT
      grey, red, green and blue ramps from 0 to 255, left to right, opaque
  gallery-tiles.py opaque IN.pam OUT.pam
      the colour as rendered, alpha set to 255, so a background of alpha 0
      shows its colour instead of the montage's checkerboard
  gallery-tiles.py crop IN.pam OUT.pam X Y WIDTH HEIGHT ZOOM
      the WIDTHxHEIGHT area at X,Y, each pixel repeated ZOOM times each way
      (alpha as it is)
  gallery-tiles.py depth DEPTH.pfm FRAME.pam OUT.pam
      the depth buffer in the colours of src/ui/depth_colours.cpp (near red,
      far blue, by inverse distance over the objects' depths), the
      background (alpha 0 in FRAME) black, as the demo's contact sheet shows it
  gallery-tiles.py hdr FRAME.pam OUT.pfm
      the frame as a high dynamic range picture: its colour in linear light
      (sRGB decoded, the background's colour opaque), the spheres' bright
      sides raised up to 6 and a light strip across the sky running from 1.5
      to 8, every other bar a third darker, so its detail lies wholly above
      1.0; written as a three-channel PFM for oiiotool

Only binary PAM (P7, 8 bits, RGB_ALPHA) and one-channel PFM are read; any
other input stops the script with its name.
"""
import math
import struct
import sys


def read_pam(path):
    data = open(path, "rb").read()
    end = data.find(b"ENDHDR\n")
    if not data.startswith(b"P7\n") or end < 0:
        sys.exit(f"{path}: not a binary PAM file")
    fields = dict(line.split(None, 1) for line in data[3:end].decode().splitlines() if line.strip())
    width, height, depth = int(fields["WIDTH"]), int(fields["HEIGHT"]), int(fields["DEPTH"])
    pixels = data[end + 7:]
    if depth != 4 or int(fields["MAXVAL"]) != 255 or len(pixels) != width * height * 4:
        sys.exit(f"{path}: not an 8-bit RGB_ALPHA PAM of its stated size")
    return width, height, bytearray(pixels)


def write_pam(path, width, height, pixels):
    header = f"P7\nWIDTH {width}\nHEIGHT {height}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    with open(path, "wb") as out:
        out.write(header.encode() + bytes(pixels))


def read_pfm(path):
    data = open(path, "rb").read()
    parts = data.split(maxsplit=3)
    if len(parts) < 4 or parts[0] != b"Pf":
        sys.exit(f"{path}: not a one-channel PFM file")
    width, height, scale = int(parts[1]), int(parts[2]), float(parts[3][: parts[3].find(b"\n")])
    body = data[len(data) - width * height * 4:]
    values = struct.unpack(("<" if scale < 0 else ">") + f"{width * height}f", body)
    # PFM rows run from the bottom up.
    rows = [values[y * width:(y + 1) * width] for y in range(height)]
    return width, height, [v for row in reversed(rows) for v in row]


def ramps(out, width, height):
    pixels = bytearray()
    for y in range(height):
        band = y * 4 // height  # grey, red, green, blue
        for x in range(width):
            v = x * 255 // (width - 1)
            rgb = (v, v, v) if band == 0 else tuple(v if c == band - 1 else 0 for c in range(3))
            pixels += bytes(rgb + (255,))
    write_pam(out, width, height, pixels)


def opaque(source, out):
    width, height, pixels = read_pam(source)
    pixels[3::4] = b"\xff" * (width * height)
    write_pam(out, width, height, pixels)


def crop(source, out, x0, y0, width, height, zoom):
    w, h, pixels = read_pam(source)
    if x0 < 0 or y0 < 0 or width < 1 or height < 1 or x0 + width > w or y0 + height > h or zoom < 1:
        sys.exit(f"{source}: the crop {width}x{height} at {x0},{y0} is not inside {w}x{h}")
    result = bytearray()
    for y in range(y0, y0 + height):
        row = bytearray()
        for x in range(x0, x0 + width):
            row += pixels[(y * w + x) * 4:(y * w + x) * 4 + 4] * zoom
        result += row * zoom
    write_pam(out, width * zoom, height * zoom, result)


def ramp_colour(t):
    stops = ((40, 60, 200), (40, 190, 220), (60, 200, 80), (240, 220, 50), (225, 50, 40))
    s = min(max(t, 0.0), 1.0) * 4.0
    k = min(3, int(s))
    f = s - k
    return tuple(int(stops[k][c] + (stops[k + 1][c] - stops[k][c]) * f) for c in range(3))


def depth(depth_path, frame_path, out):
    width, height, values = read_pfm(depth_path)
    w, h, frame = read_pam(frame_path)
    if (w, h) != (width, height):
        sys.exit(f"{depth_path}: {width}x{height}, but {frame_path} is {w}x{h}")
    alpha = frame[3::4]
    usable = [v for v, a in zip(values, alpha) if a != 0 and math.isfinite(v) and v > 0]
    if not usable:
        sys.exit(f"{depth_path}: no object has a depth")
    near, far = min(usable), max(usable)
    pixels = bytearray()
    for v, a in zip(values, alpha):
        if a == 0 or not (math.isfinite(v) and v > 0):
            rgb = (0, 0, 0)
        elif far <= near:
            rgb = ramp_colour(1.0)
        else:
            rgb = ramp_colour((1.0 / v - 1.0 / far) / (1.0 / near - 1.0 / far))
        pixels += bytes(rgb + (255,))
    write_pam(out, width, height, pixels)


def srgb_to_linear(byte):
    v = byte / 255.0
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


def hdr(frame_path, out):
    width, height, frame = read_pam(frame_path)
    linear = [srgb_to_linear(b) for b in range(256)]
    strip_top, strip_left = height // 12, width // 16
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            r, g, b = (linear[frame[(y * width + x) * 4 + c]] for c in range(3))
            # An object's lit side is raised the more the brighter it is,
            # to 6 at its hottest (the sky, alpha 0, and the darker floor
            # keep their values).
            peak = max(r, g, b)
            if frame[(y * width + x) * 4 + 3] and peak > 0.5:
                gain = 1.0 + 20.0 * (peak - 0.5) ** 2
                r, g, b = r * gain, g * gain, b * gain
            # The strip: 1.5 at its left end to 8 at its right, every other
            # bar at two thirds (1.0 at the least), so it shows as flat
            # white in 8 bits.
            if strip_top <= y < strip_top + height // 10 and strip_left <= x < width - strip_left:
                v = 1.5 + 6.5 * (x - strip_left) / (width - 2 * strip_left - 1)
                if (x - strip_left) * 16 // (width - 2 * strip_left) % 2:
                    v *= 2.0 / 3.0
                r, g, b = v, v * 0.95, v * 0.85
            row += (r, g, b)
        rows.append(row)
    # PFM rows run from the bottom up; little endian (negative scale).
    body = b"".join(struct.pack(f"<{width * 3}f", *row) for row in reversed(rows))
    with open(out, "wb") as f:
        f.write(f"PF\n{width} {height}\n-1.0\n".encode() + body)


def main(args):
    commands = {"ramps": (3, lambda a: ramps(a[0], int(a[1]), int(a[2]))),
                "opaque": (2, lambda a: opaque(a[0], a[1])),
                "crop": (7, lambda a: crop(a[0], a[1], *map(int, a[2:]))),
                "depth": (3, lambda a: depth(*a)),
                "hdr": (2, lambda a: hdr(*a))}
    if not args or args[0] not in commands or len(args) - 1 != commands[args[0]][0]:
        sys.exit(__doc__)
    commands[args[0]][1](args[1:])


if __name__ == "__main__":
    main(sys.argv[1:])
