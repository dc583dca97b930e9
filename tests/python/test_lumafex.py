"""The Python package against the command line: the same bytes from the same
module, the command line's messages for bad input, and the GIL released
while the module works."""

import shutil
import subprocess
import threading
import time

import numpy as np
import pytest

import lumafex
from conftest import read_pam, render_one, write_pam

# Settings a random case may change, with the values it picks from.
RANDOM_SETTINGS = {
    "RedPercent": (0, 200), "GreenPercent": (0, 200), "BrightPercent": (50, 150),
    "GammaPercent": (50, 200), "ContrastPercent": (50, 200), "FilterInclude": (0, 3),
    "SharpenFlag": (0, 1), "SmoothFlag": (0, 1), "BlurFlag": (0, 1), "SofterBlurFlag": (0, 2),
    "BlurPercent": (50, 300), "DOFBlurFlag": (0, 1), "DOFBlurPercent": (1, 20),
    "DOFBlurFocalPoint": (1, 100), "NoiseFlag": (0, 1), "GreyFlag": (0, 1), "CartoonFlag": (0, 1),
    "PosterizePercent": (0, 200), "NegativeImageFlag": (0, 1), "FlipFrameFlag": (0, 2),
    "KeyPrepFlag": (0, 2), "ReverseAlphaFlag": (0, 1),
}


def random_frame(rng, h, w):
    rgba = rng.integers(0, 256, (h, w, 4), dtype=np.uint8)
    rgba[..., 3] = np.where(rng.random((h, w)) < 0.2, 0, rgba[..., 3])  # some background
    shadow = rng.integers(0, 256, (h, w), dtype=np.uint8)
    depth = (rng.random((h, w)) * 200).astype(np.float32)
    return rgba, shadow, depth


def test_render_frame_is_the_command_lines_output(program, demo, tmp_path):
    scene = lumafex.Scene(demo / "demo-scene.json")
    assert [f.number for f in scene.frames] == list(range(1, 25))
    for number in (1, 6, 12, 18, 24):
        frame = scene.render_frame(number)
        assert frame.dtype == np.uint8 and frame.shape == (360, 640, 4)
        mine = tmp_path / f"frame{number}.pam"
        write_pam(mine, frame)
        # compare exits 0 only when every byte is the same.
        subprocess.run([program, "-q", "compare", str(demo / "output" / f"graded.{number:04d}.png"), str(mine)],
                       check=True, stdout=subprocess.DEVNULL)


def test_process_is_the_command_lines_render(program, tmp_path, rng):
    for case in range(6):
        h, w = int(rng.integers(8, 40)), 8 * int(rng.integers(1, 6))
        rgba, shadow, depth = random_frame(rng, h, w)
        names = rng.choice(sorted(RANDOM_SETTINGS), size=5, replace=False)
        settings = {str(n): int(rng.integers(*RANDOM_SETTINGS[n], endpoint=True)) for n in names}
        frame_time = float(rng.integers(0, 48)) / 24
        objects = [("3FocalPoint", [(0.0, 0.0, 0.0, 10.0), (2.0, 0.0, 0.0, 190.0)])]
        expected = render_one(program, tmp_path, rgba, shadow, depth, frame_time, settings, objects)
        got = lumafex.process(rgba, settings, depth=depth, shadow=shadow, time=frame_time,
                              objects=dict(objects))
        assert np.array_equal(got, expected), f"case {case}: {settings} at {frame_time}"
        # Three channels are the same frame with alpha 255.
        opaque = rgba.copy()
        opaque[..., 3] = 255
        assert np.array_equal(lumafex.process(rgba[..., :3], settings, depth, shadow, frame_time, dict(objects)),
                              lumafex.process(opaque, settings, depth, shadow, frame_time, dict(objects))[..., :3])


def test_module_keeps_its_record_and_state(rng):
    rgba, shadow, depth = random_frame(rng, 16, 32)
    settings = {"ContrastPercent": 140, "NoiseFlag": 1}
    with lumafex.Module() as module:
        first = module.process(rgba, settings, depth, shadow)
        assert module.settings["ContrastPercent"] == 140
        again = module.process(rgba, None, depth, shadow)  # the record as it is
        with pytest.raises(RuntimeError, match="Module is open"):
            lumafex.process(rgba, settings)
    assert module.closed
    assert np.array_equal(first, lumafex.process(rgba, settings, depth, shadow))
    assert again.shape == first.shape


def test_float_colour_keeps_what_the_module_left(rng):
    h, w = 12, 16
    rgba = (rng.random((h, w, 4)) * 4 - 0.5).astype(np.float32)  # above 1.0 and below 0
    rgba[..., 3] = np.clip(rgba[..., 3], 0, 1)
    rgba[0, :, 3] = 0  # emission under alpha 0
    same = lumafex.process(rgba, {})
    assert same.dtype == np.float32 and np.array_equal(same, rgba)
    changed = lumafex.process(rgba, {"NegativeImageFlag": 1})
    assert not np.array_equal(changed, rgba)


def test_errors_carry_the_command_lines_message(demo, tmp_path):
    good = np.zeros((8, 8, 4), np.uint8)
    for bad, error, message in [
        (np.zeros((8, 8), np.uint8), ValueError, r"expected shape \(height, width, 4\)"),
        (np.zeros((8, 8, 5), np.uint8), ValueError, r"not \(8, 8, 5\)"),
        (np.zeros((8, 8, 4), np.int16), TypeError, "int16"),
        ([[0, 0, 0, 0]], TypeError, "numpy array"),
    ]:
        with pytest.raises(error, match=message):
            lumafex.process(bad, {})
    with pytest.raises(ValueError, match=r"depth: 4x8 does not match the colour image rgba \(8x8\)"):
        lumafex.process(good, {}, depth=np.zeros((8, 4), np.float32))
    with pytest.raises(TypeError, match="shadow: expected uint8"):
        lumafex.process(good, {}, shadow=np.zeros((8, 8), np.float32))
    with pytest.raises(lumafex.SettingNameError, match='did you mean "ContrastPercent"'):
        lumafex.process(good, {"Contrast": 120})
    with pytest.raises(ValueError, match=r"RedPercent=-5: the value must be a whole number from 0 to"):
        lumafex.process(good, {"RedPercent": -5})
    with pytest.raises(TypeError, match="whole number, not float"):
        lumafex.Settings({"RedPercent": 1.5})
    with pytest.raises(KeyError):
        lumafex.Settings()["Bright"]
    with pytest.raises(ValueError, match="unknown colour space"):
        lumafex.process(good.astype(np.float32), {}, colour_space="no such space")
    scene = lumafex.Scene(demo / "demo-scene.json")
    with pytest.raises(ValueError, match="frame"):
        scene.render("1-x")
    with pytest.raises(ValueError, match="no frame 99"):
        scene.render_frame(99)
    (tmp_path / "broken.json").write_text("{")
    with pytest.raises(ValueError, match="broken.json"):
        lumafex.Scene(tmp_path / "broken.json")


def test_scene_settings_and_render_are_the_command_lines(program, demo, tmp_path):
    ours, theirs = tmp_path / "ours.json", tmp_path / "theirs.json"
    for copy in (ours, theirs):
        shutil.copy(demo / "demo-scene.json", copy)
    scene = lumafex.Scene(ours)
    scene.settings["ContrastPercent"] = 130
    assert scene.settings.update({"PosterizePercent": 50, "GammaPercent": 100}) == [("PosterizePercent", 100, 50)]
    subprocess.run([program, "-q", "set", str(theirs), "ContrastPercent=130", "PosterizePercent=50"], check=True)
    assert ours.read_bytes() == theirs.read_bytes()

    records = []
    summary = lumafex.Scene(demo / "demo-scene.json").render("3-1", output_dir=str(tmp_path / "out"),
                                                            progress=records.append)
    assert [r["frame"] for r in records] == [3, 2, 1]
    assert (summary["status"], summary["frames"], summary["written"], summary["errors"]) == (0, 3, 3, [])
    for n in (1, 2, 3):
        name = f"graded.{n:04d}.png"
        subprocess.run([program, "-q", "compare", str(tmp_path / "out" / name), str(demo / "output" / name)],
                       check=True, stdout=subprocess.DEVNULL)
    # A callback that calls back in gets an error, not a wait for itself.
    with pytest.raises(RuntimeError, match="progress callback"):
        lumafex.Scene(demo / "demo-scene.json").render(
            "1", output_dir=str(tmp_path / "again"), progress=lambda r: lumafex.process(np.zeros((8, 8, 4), np.uint8)))


def test_the_gil_is_released_while_the_module_works(rng):
    rgba = rng.integers(0, 256, (1080, 1920, 4), dtype=np.uint8)
    settings = {"BlurFlag": 1, "BlurPercent": 400, "SharpenFlag": 1}
    window = []

    def filter_frame():
        start = time.perf_counter()
        lumafex.process(rgba, settings)
        window.extend([start, time.perf_counter()])

    worker = threading.Thread(target=filter_frame)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
        time.sleep(0.001)
    worker.join()
    start, end = window
    inside = [t for t in ticks if start < t < end]
    # This thread ran Python throughout the other's call.
    assert end - start > 0.02 and len(inside) >= 5, (end - start, len(inside))
