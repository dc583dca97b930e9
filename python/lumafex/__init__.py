"""Lumafex from Python: the Lumafex3 filter module over numpy arrays and scenes.

The package drives the same module file through the same host code as the
``lumafex`` command line, so a frame filtered here has the bytes a render
writes.

    import numpy as np
    import lumafex

    rgba = np.zeros((270, 480, 4), np.uint8)            # 8-bit RGBA, or float
    out = lumafex.process(rgba, {"ContrastPercent": 120})

    scene = lumafex.Scene("shot.json")
    scene.settings["GammaPercent"] = 90                 # as lumafex set writes it
    summary = scene.render("1-24x2", progress=print)    # as lumafex render
    frame = scene.render_frame(12)                      # uint8 (H, W, 4)

    with lumafex.Module() as module:                    # state across frames
        for t, image in enumerate(frames):
            image[:] = module.process(image, settings, time=t / 24)

Errors in what is handed over raise ValueError (shapes, ranges, names:
SettingNameError is also a KeyError) or TypeError (types) with the message
the command line prints; errors while filtering or rendering raise
RuntimeError. The GIL is released while the module works. One host is
active at a time: while a Module is open, process, Scene.render and
Scene.render_frame raise RuntimeError; calls from several threads take
turns.
"""

from __future__ import annotations

import os
from pathlib import Path

from . import _lumafex
from ._lumafex import Frame, SettingNameError, Settings

__all__ = ["Frame", "Module", "Scene", "SettingNameError", "Settings", "find_module", "process", "__version__"]

__version__ = _lumafex.version().split()[-1]

_MODULE_FILE = "lumafex3.p"


def find_module(path: str | os.PathLike[str] | None = None) -> str:
    """The module file: path when given, else as the command line finds it.

    Without a path: lumafex3.p in the package's folder (pip installs it
    there), else in lib/lumafex under the prefix the package is installed
    in (PREFIX/lib/python3/dist-packages/lumafex: PREFIX/lib/lumafex, where
    the lumafex package puts it), else the file $LUMAFEX_MODULE names.
    """
    if path is not None:
        return os.fspath(path)
    here = Path(__file__).resolve().parent
    for candidate in (here / _MODULE_FILE, here.parents[2] / "lumafex" / _MODULE_FILE):
        if candidate.is_file():
            return str(candidate)
    configured = os.environ.get("LUMAFEX_MODULE")
    if configured:
        return configured
    raise FileNotFoundError(
        f"{_MODULE_FILE}: the module file is not beside the package ({here}) nor installed "
        f"({here.parents[2] / 'lumafex'}); install the lumafex package, set LUMAFEX_MODULE "
        "or pass its path")


def process(rgba, settings=None, depth=None, shadow=None, time=0.0, objects=None, *,
            colour_space="linear", premultiplied=True, working_space="sRGB", as_bytes=False, module=None):
    """Filters one frame through the module and returns a new array.

    rgba: uint8 of shape (H, W, 4), or (H, W, 3) with alpha 255: the
    module's bytes in the working space, handed over as they are. Float
    arrays (float16, float32, float64) go through the colour path of float
    files: from colour_space (default linear) into working_space (sRGB),
    unpremultiplied first when premultiplied (the EXR convention, default);
    the result is float32 in colour_space, and a pixel the module left
    unchanged keeps its values exactly (above 1.0 and under alpha 0
    included). The result has rgba's shape; with as_bytes, a float
    array's result is the module's bytes instead (uint8, in the working
    space, alpha unassociated), as an 8-bit output of a float file holds
    them.

    settings: a dict by the names ``lumafex show`` lists, or a Settings
    (default: the module's defaults). depth: float (H, W), the renderer's
    depth buffer. shadow: uint8 (H, W). time: the frame's time in seconds,
    at which null objects are read. objects: the scene's null objects,
    {name: (x, y, z)} or {name: [(time, x, y, z), ...]}. module: the
    module file (default: find_module()).

    The module is loaded for this call alone; Module keeps it loaded, with
    its state, across calls.
    """
    return _lumafex._process(find_module(module), rgba, settings, depth, shadow, float(time), objects,
                             colour_space, premultiplied, working_space, as_bytes)


class Module(_lumafex.Module):
    """The module kept loaded, with its settings record and state between
    calls, as a renderer keeps it: ``Module(path=None)`` (default:
    find_module()). ``process`` takes the arguments of lumafex.process;
    settings=None keeps the record as it is. ``settings`` is the record
    now. Close it (``close()``, or a with block) to free the host for
    other calls."""

    def __init__(self, path: str | os.PathLike[str] | None = None) -> None:
        super().__init__(find_module(path))

    def __enter__(self) -> "Module":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"lumafex.Module({self.path!r}{', closed' if self.closed else ''})"


class Scene(_lumafex.Scene):
    """A scene file (docs/scene-format.md): ``Scene(path, module=None)``.

    ``frames``: its frames (number, time, colour, shadow, depth, output).
    ``settings``: its filter settings by name; assigning a value writes the
    scene as ``lumafex set`` does, rewriting only the values that change.
    ``render(frames=None, *, output_dir="", save_scene="",
    missing_frames="error", unreadable_frames="fail", no_clobber=False,
    progress=None)`` renders as ``lumafex render`` does and returns its
    summary (the record ``--log-format json`` prints: frames, written,
    skipped, refused, missing, failed, seconds, averages, sources) with
    ``status`` (the command line's exit status), ``errors``, ``warnings``
    and ``messages``; progress is called with each frame's record (it
    may not call lumafex itself; an exception it raises is raised once the
    render ends).
    ``render_frame(n)`` is frame n as an 8-bit output of the render holds
    it, uint8 (H, W, 4), nothing written.
    """

    def __init__(self, path: str | os.PathLike[str], module: str | os.PathLike[str] | None = None) -> None:
        super().__init__(os.fspath(path), find_module(module))

    @property
    def settings(self) -> Settings:
        return _lumafex.Scene.settings.fget(self)

    @settings.setter
    def settings(self, values) -> None:
        _lumafex.Scene.settings.fget(self).update(values)

    def __repr__(self) -> str:
        return f"lumafex.Scene({self.path!r})"
