"""Builds the msgstore Python package for pip (PEP 517), with nothing but the
standard library, CMake and a C++ compiler: `pip install .` needs no package
from an index. CMake builds the extension module (MSGSTORE_BUILD_PYTHON) for
the interpreter that runs pip; the wheel holds it beside the package's Python
files.

MSGSTORE_BUILD_DIR names the CMake build directory (default: build/pip-<tag>
in the source tree, kept so that a second install rebuilds only what
changed); CMAKE_BUILD_PARALLEL_LEVEL the build's jobs.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import zipfile
from pathlib import Path

_TOP = Path(__file__).resolve().parents[2]
_NAME = "msgstore"


def _version() -> str:
    text = (_TOP / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(msgstore VERSION ([0-9.]+)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def _tag() -> str:
    impl = sys.implementation.name
    abbrev = {"cpython": "cp", "pypy": "pp"}.get(impl, impl)
    version = f"{sys.version_info[0]}{sys.version_info[1]}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{abbrev}{version}-{abbrev}{version}-{platform}"


def _metadata() -> str:
    return (f"Metadata-Version: 2.1\nName: {_NAME}\nVersion: {_version()}\n"
            "Summary: A handset's message store (SMS/EMS, MMS, e-mail) on a device root\n"
            "Requires-Python: >=3.8\n")


def _run(command: list, **kwargs) -> None:
    print("+", " ".join(str(c) for c in command), file=sys.stderr, flush=True)
    subprocess.run(command, check=True, stdout=sys.stderr, **kwargs)


def _build_module() -> Path:
    build = Path(os.environ.get("MSGSTORE_BUILD_DIR") or _TOP / "build" / f"pip-{_tag()}")
    options = ["-DCMAKE_BUILD_TYPE=Release", "-DMSGSTORE_BUILD_PYTHON=ON",
               "-DMSGSTORE_BUILD_TESTS=OFF", "-DMSGSTORE_BUILD_TOOL=OFF",
               "-DMSGSTORE_BUILD_BENCH=OFF", f"-DPython_EXECUTABLE={sys.executable}"]
    if shutil.which("ccache"):
        options.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    _run(["cmake", "-S", str(_TOP), "-B", str(build)] + options)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _run(["cmake", "--build", str(build), "--target", "_msgstore", "-j", jobs])
    return build / "python" / _NAME


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}\n"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    package = _build_module()
    source = _TOP / "python" / _NAME
    files = {}
    for path in sorted(source.iterdir()):
        if path.suffix in (".py", ".pyi", ".typed"):
            files[f"{_NAME}/{path.name}"] = path.read_bytes()
    modules = sorted(package.glob("_msgstore*.so"))
    if not modules:
        raise RuntimeError(f"the build left no extension module in {package}")
    files[f"{_NAME}/{modules[0].name}"] = modules[0].read_bytes()
    info = f"{_NAME}-{_version()}.dist-info"
    files[f"{info}/METADATA"] = _metadata().encode()
    files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: msgstore_build\n"
                              f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
    wheel = f"{_NAME}-{_version()}-{_tag()}.whl"
    record = "".join(_record_line(name, data) for name, data in files.items())
    record += f"{info}/RECORD,,\n"
    with zipfile.ZipFile(Path(wheel_directory) / wheel, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():
            z.writestr(name, data)
        z.writestr(f"{info}/RECORD", record)
    return wheel


def build_sdist(sdist_directory, config_settings=None):
    base = f"{_NAME}-{_version()}"
    parts = ["CMakeLists.txt", "README.md", "pyproject.toml", "cmake", "include", "src", "python"]
    name = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / name, "w:gz") as tar:
        for part in parts:
            tar.add(_TOP / part, arcname=f"{base}/{part}",
                    filter=lambda t: None if "__pycache__" in t.name else t)
        data = _metadata().encode()
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size = len(data)
        tar.addfile(entry, io.BytesIO(data))
    return name
