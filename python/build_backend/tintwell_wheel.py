"""A small PEP 517 build backend: the sdist is the source tree; the wheel is
the package `tintwell` with the tintwell program and the library that CMake
builds, in the layout the program finds its library in
(tintwell/_data/bin/tintwell, tintwell/_data/lib/libKorvaneTintwell.so.1).
The wheel holds native code but no Python extension: py3-none-PLATFORM.

TINTWELL_WHEEL_BUILD_DIR names a CMake build directory to use (configured
already, or configured here); by default build/wheel in the source tree."""

from __future__ import annotations

import base64
import hashlib
import io
import json
import os
import stat
import subprocess
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional

ROOT = Path(__file__).resolve().parents[2]
NAME = "tintwell"
SUMMARY = "Edits 24-bit BMP pictures through KorvaneTintwell, from Python"
LIBRARY = "libKorvaneTintwell.so.1"
# Left out of the sdist: what builds and runs make, and version control.
NOT_SOURCES = {".git", "build", "dist", "tintwell-demo", "__pycache__"}


def _version() -> str:
    return json.loads((ROOT / "resources/module_info.json").read_text())["version"]


def _metadata() -> str:
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {_version()}\nSummary: {SUMMARY}\n"
            "Requires-Python: >=3.11\nProvides-Extra: arrays\nRequires-Dist: numpy; extra == \"arrays\"\n"
            "Provides-Extra: distributed\nRequires-Dist: distributed; extra == \"distributed\"\n")


def _tag() -> str:
    return "py3-none-" + sysconfig.get_platform().replace("-", "_").replace(".", "_")


def _cmake(*arguments: str) -> None:
    subprocess.run(["cmake", *arguments], check=True)


def _build() -> Path:
    """Builds the program and the library; the build directory, which holds
    them as bin/tintwell and lib/libKorvaneTintwell.so.1."""
    build = Path(os.environ.get("TINTWELL_WHEEL_BUILD_DIR") or ROOT / "build" / "wheel")
    if not (build / "CMakeCache.txt").exists():
        _cmake("-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
               "-DTINTWELL_BUILD_TESTS=OFF")
    _cmake("--build", str(build), "--parallel", "2", "--target", "tintwell")
    return build


def _record_line(path: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _stripped(path: Path, directory: Path) -> Path:
    """A copy of the program or library without its symbols."""
    copy = directory / path.name
    subprocess.run(["strip", "--strip-unneeded", "-o", str(copy), str(path)], check=True)
    return copy


def _wheel_files(build: Path, directory: Path) -> Dict[str, Path]:
    """Name in the wheel -> file: the package's sources, then what CMake built."""
    files = {f"{NAME}/{source.name}": source for source in sorted((ROOT / "python" / NAME).iterdir())
             if source.suffix == ".py" or source.name == "py.typed"}
    files[f"{NAME}/_data/bin/tintwell"] = _stripped(build / "bin" / "tintwell", directory)
    files[f"{NAME}/_data/lib/{LIBRARY}"] = _stripped((build / "lib" / LIBRARY).resolve(), directory)
    return files


def _add(archive: zipfile.ZipFile, name: str, data: bytes, executable: bool = False) -> None:
    info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
    # A regular file's whole mode: installers keep the executable bits only then.
    info.external_attr = (stat.S_IFREG | (0o755 if executable else 0o644)) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def build_wheel(wheel_directory: str, config_settings: Optional[dict] = None,
                metadata_directory: Optional[str] = None) -> str:
    dist_info = f"{NAME}-{_version()}.dist-info"
    wheel_name = f"{NAME}-{_version()}-{_tag()}.whl"
    with tempfile.TemporaryDirectory() as temporary:
        files = _wheel_files(_build(), Path(temporary))
        record: List[str] = []
        with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w") as archive:
            for name, path in files.items():
                data = path.read_bytes()
                _add(archive, name, data, executable="/_data/bin/" in name)
                record.append(_record_line(name, data))
            wheel = f"Wheel-Version: 1.0\nGenerator: tintwell_wheel\nRoot-Is-Purelib: false\nTag: {_tag()}\n"
            for name, text in (("METADATA", _metadata()), ("WHEEL", wheel)):
                _add(archive, f"{dist_info}/{name}", text.encode())
                record.append(_record_line(f"{dist_info}/{name}", text.encode()))
            record.append(f"{dist_info}/RECORD,,")
            _add(archive, f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode())
    return wheel_name


def _sources() -> List[Path]:
    found = []
    for directory, subdirectories, files in os.walk(ROOT):
        subdirectories[:] = sorted(name for name in subdirectories if name not in NOT_SOURCES)
        found += [Path(directory) / name for name in sorted(files) if not name.endswith(".pyc")]
    return found


def build_sdist(sdist_directory: str, config_settings: Optional[dict] = None) -> str:
    base = f"{NAME}-{_version()}"
    with tarfile.open(Path(sdist_directory) / f"{base}.tar.gz", "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for path in _sources():
            archive.add(path, arcname=f"{base}/{path.relative_to(ROOT)}", recursive=False)
        pkg_info = _metadata().encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(pkg_info)
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(pkg_info))
    return f"{base}.tar.gz"


def get_requires_for_build_wheel(config_settings: Optional[dict] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[dict] = None) -> List[str]:
    return []
