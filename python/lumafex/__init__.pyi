# Type stubs of the lumafex package (the native part's classes included).
import os
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Any, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, os.PathLike[str]]
_SettingsLike = Union[Mapping[str, int], "Settings", None]
_Objects = Union[Mapping[str, Union[Sequence[float], Sequence[Sequence[float]]]], None]

class SettingNameError(KeyError, ValueError): ...

class Settings:
    scene_path: str | None
    def __init__(self, values: Mapping[str, int] | Settings | None = ...) -> None: ...
    def __getitem__(self, name: str) -> int: ...
    def __setitem__(self, name: str, value: int) -> None: ...
    def __contains__(self, name: object) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def keys(self) -> list[str]: ...
    def items(self) -> Any: ...
    def to_dict(self) -> dict[str, int]: ...
    def update(self, values: Mapping[str, int] | Settings) -> list[tuple[str, int, int]]: ...
    def table(self) -> str: ...

class Frame:
    number: int
    time: float
    colour: str
    shadow: str
    depth: str
    output: str

def find_module(path: _Path | None = ...) -> str: ...
def process(
    rgba: npt.NDArray[Any],
    settings: _SettingsLike = ...,
    depth: npt.NDArray[np.floating[Any]] | None = ...,
    shadow: npt.NDArray[np.uint8] | None = ...,
    time: float = ...,
    objects: _Objects = ...,
    *,
    colour_space: str = ...,
    premultiplied: bool = ...,
    working_space: str = ...,
    as_bytes: bool = ...,
    module: _Path | None = ...,
) -> npt.NDArray[Any]: ...

class Module:
    path: str
    closed: bool
    settings: Settings
    def __init__(self, path: _Path | None = ...) -> None: ...
    def process(
        self,
        rgba: npt.NDArray[Any],
        settings: _SettingsLike = ...,
        depth: npt.NDArray[np.floating[Any]] | None = ...,
        shadow: npt.NDArray[np.uint8] | None = ...,
        time: float = ...,
        objects: _Objects = ...,
        *,
        colour_space: str = ...,
        premultiplied: bool = ...,
        working_space: str = ...,
        as_bytes: bool = ...,
    ) -> npt.NDArray[Any]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Module: ...
    def __exit__(self, *exc_info: object) -> None: ...

class Scene:
    path: str
    module: str
    frames: list[Frame]
    settings: Settings
    def __init__(self, path: _Path, module: _Path | None = ...) -> None: ...
    def render(
        self,
        frames: str | Sequence[int] | None = ...,
        *,
        output_dir: str = ...,
        save_scene: str = ...,
        missing_frames: str = ...,
        unreadable_frames: str = ...,
        no_clobber: bool = ...,
        progress: Callable[[dict[str, Any]], object] | None = ...,
    ) -> dict[str, Any]: ...
    def render_frame(self, number: int) -> npt.NDArray[np.uint8]: ...
