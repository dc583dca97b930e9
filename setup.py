"""Builds the lumafex package's native part with the project's CMake build:
the extension lumafex._lumafex and the module file lumafex3.p, which goes
into the package beside it (the package finds it there). pyproject.toml
holds the package's description."""

import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
                        "-DLUMAFEX_BUILD_TESTS=OFF", "-DLUMAFEX_BUILD_BENCHMARKS=OFF", "-DLUMAFEX_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "lumafex_python", "lumafex_module"], check=True)
        built = build / "python" / "lumafex" / Path(self.get_ext_filename("_lumafex")).name
        if not built.is_file():
            sys.exit(f"{built}: CMake built no extension (is pybind11 installed? its configure output says)")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)
        shutil.copy2(build / "lumafex3.p", target.parent / "lumafex3.p")


setup(ext_modules=[Extension("lumafex._lumafex", sources=[])], cmdclass={"build_ext": CMakeBuild})
