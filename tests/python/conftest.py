"""Fixtures of the Python package's tests: the built lumafex program and
module (LUMAFEX_PROGRAM, LUMAFEX_MODULE, set by CTest), netpbm files, and
the demo scene rendered once by the command line."""

import json
import os
import subprocess
import zlib
from pathlib import Path

import numpy as np
import pytest


@pytest.fixture(scope="session")
def program():
    path = os.environ.get("LUMAFEX_PROGRAM")
    if not path:
        pytest.skip("LUMAFEX_PROGRAM names no lumafex program (run the tests through CTest)")
    return path


def write_pam(path, rgba):
    h, w, _ = rgba.shape
    header = f"P7\nWIDTH {w}\nHEIGHT {h}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    Path(path).write_bytes(header.encode() + np.ascontiguousarray(rgba, np.uint8).tobytes())


def read_pam(path):
    data = Path(path).read_bytes()
    end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
    fields = dict(line.split(" ", 1) for line in data[:end].decode().splitlines()[1:-1])
    h, w, d = int(fields["HEIGHT"]), int(fields["WIDTH"]), int(fields["DEPTH"])
    return np.frombuffer(data[end:], np.uint8).reshape(h, w, d)


def write_pgm(path, grey):
    h, w = grey.shape
    Path(path).write_bytes(f"P5\n{w} {h}\n255\n".encode() + np.ascontiguousarray(grey, np.uint8).tobytes())


def write_pfm(path, depth):
    h, w = depth.shape
    rows = np.ascontiguousarray(depth[::-1], "<f4")  # the bottom row first
    Path(path).write_bytes(f"Pf\n{w} {h}\n-1.0\n".encode() + rows.tobytes())


def render_one(program, folder, rgba, shadow, depth, time, filters, objects=()):
    """The command line's render of one frame given by arrays: its output bytes."""
    folder = Path(folder)
    write_pam(folder / "in.pam", rgba)
    write_pgm(folder / "shadow.pgm", shadow)
    write_pfm(folder / "depth.pfm", depth)
    scene = {
        "objects": [{"name": name, "keys": [{"time": t, "position": list(p)} for t, *p in keys]}
                    for name, keys in objects],
        "filters": filters,
        "frames": [{"frame": 1, "time": time, "color": "in.pam", "shadow": "shadow.pgm",
                    "depth": "depth.pfm", "output": "out.pam"}],
    }
    (folder / "scene.json").write_text(json.dumps(scene))
    subprocess.run([program, "-q", "render", str(folder / "scene.json")], check=True)
    return read_pam(folder / "out.pam")


@pytest.fixture(scope="session")
def demo(program, tmp_path_factory):
    """The demo's folder, its frames rendered by lumafex demo."""
    folder = tmp_path_factory.mktemp("demo") / "demo"
    subprocess.run([program, "-q", "demo", str(folder)], check=True, stdout=subprocess.DEVNULL)
    return folder


@pytest.fixture
def rng(request):
    return np.random.default_rng(zlib.crc32(request.node.name.encode()))
