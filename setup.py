"""Builds the Python module quellpack, compiling the library's own sources
(the list CMakeLists.txt gives) with C++20: `pip install .`"""
import re
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

ROOT = Path(__file__).resolve().parent
GENERATED = Path("build-python") / "include"


def cmake_text():
    return (ROOT / "CMakeLists.txt").read_text()


def project_version():
    return re.search(r"project\(quellpack VERSION ([0-9]+)\.([0-9]+)\.([0-9]+)", cmake_text()).groups()


def library_sources():
    """The .cpp files of the library's object target in CMakeLists.txt."""
    block = re.search(r"add_library\(quellpack_objects OBJECT(.*?)\)", cmake_text(), re.S).group(1)
    return [name for name in block.split() if name.endswith(".cpp")]


def write_version_header():
    """version.hpp as CMake would configure it."""
    major, minor, patch = project_version()
    text = (ROOT / "include/quellpack/version.hpp.in").read_text()
    for key, value in {"PROJECT_VERSION": f"{major}.{minor}.{patch}", "PROJECT_VERSION_MAJOR": major,
                       "PROJECT_VERSION_MINOR": minor, "PROJECT_VERSION_PATCH": patch}.items():
        text = text.replace(f"@{key}@", value)
    target = GENERATED / "quellpack" / "version.hpp"
    target.parent.mkdir(parents=True, exist_ok=True)
    if not target.exists() or target.read_text() != text:
        target.write_text(text)


write_version_header()
setup(
    version=".".join(project_version()),
    ext_modules=[
        Pybind11Extension(
            "quellpack",
            ["python/quellpack_module.cpp", *library_sources()],
            include_dirs=["include", str(GENERATED), "src"],
            define_macros=[("QUELLPACK_STATIC", None)],
            cxx_std=20,
            # Rebuilt when any header changes, not only a listed source.
            depends=[str(p.relative_to(ROOT)) for p in sorted([*ROOT.glob("include/**/*.h*"), *ROOT.glob("src/**/*.hpp")])],
        )
    ],
    cmdclass={"build_ext": build_ext},
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
)
