"""Blender as a client: examples/blender_render_filter.py renders a frame
headless and filters it through lumafex inside Blender; the result must be
what lumafex render makes of the EXR Blender wrote."""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "blender_render_filter.py"


@pytest.mark.skipif(shutil.which("blender") is None, reason="blender is not installed")
def test_blender_frame_is_the_command_lines_render(program, tmp_path):
    settings = {"ContrastPercent": 130, "DOFBlurFlag": 1, "DOFBlurPercent": 5, "DOFBlurFocalPoint": 8,
                "SharpenFlag": 1}
    exr, ours = tmp_path / "render.exr", tmp_path / "filtered.pam"
    subprocess.run(["blender", "-b", "--factory-startup", "--python-use-system-env", "--python", str(EXAMPLE),
                    "--", "--exr", str(exr), "--output", str(ours), "--settings", json.dumps(settings),
                    "--samples", "2", "--size", "160x120"],
                   check=True, stdout=subprocess.DEVNULL, timeout=240, env=dict(os.environ, BLENDER_USER_CONFIG=str(tmp_path)))
    scene = {"filters": settings,
             "frames": [{"frame": 1, "time": 0, "color": "render.exr", "colorLayer": "ViewLayer.Combined",
                         "depth": "render.exr", "depthChannel": "ViewLayer.Depth.Z", "output": "theirs.png"}]}
    (tmp_path / "scene.json").write_text(json.dumps(scene))
    subprocess.run([program, "-q", "render", str(tmp_path / "scene.json")], check=True)
    subprocess.run([program, "-q", "compare", str(tmp_path / "theirs.png"), str(ours)], check=True)
