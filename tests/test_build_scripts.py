"""The scripts that build and cache the interpreter: an install cut short is never trusted."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
FIND_INTERPRETER = ROOT / "scripts" / "free-threaded-python.sh"
BUILD_INTERPRETER = ROOT / "scripts" / "build-cpython.sh"

pytestmark = [
    pytest.mark.skipif(shutil.which("bash") is None, reason="needs bash"),
    # The tests also run from a copy of tests/ beside an installed wheel, without the scripts.
    pytest.mark.skipif(not FIND_INTERPRETER.exists(), reason="needs the source tree's scripts"),
    # The running interpreter stands in for a cached one, so it must be free-threaded.
    pytest.mark.skipif(getattr(sys, "_is_gil_enabled", lambda: True)(), reason="needs the free-threaded interpreter"),
]


def without_free_threaded_interpreters_on_path() -> str:
    """A PATH with bash and the core utilities, but no python3.13t or python3.14t."""
    return os.pathsep.join(d for d in ("/usr/local/bin", "/usr/bin", "/bin")
                           if not any(Path(d, name).exists() for name in ("python3.13t", "python3.14t")))


def run_finder(cache: Path, source: Path) -> subprocess.CompletedProcess[str]:
    env = {"PATH": without_free_threaded_interpreters_on_path(), "HOME": str(cache.parent),
           "QUORVANE_CACHE": str(cache), "QUORVANE_CPYTHON_SOURCE": str(source)}
    return subprocess.run(["bash", str(FIND_INTERPRETER)], capture_output=True, text=True, env=env,
                          timeout=60, stdin=subprocess.DEVNULL)


def test_an_interpreter_left_by_an_interrupted_install_is_built_again(tmp_path: Path) -> None:
    # What a build killed during `make install` leaves: a working bin/python3.13t, no stamp.
    prefix = tmp_path / "cache" / "cpython-3.13.5-ft"
    (prefix / "bin").mkdir(parents=True)
    (prefix / "bin" / "python3.13t").symlink_to(sys.executable)
    # An empty source folder: any attempt to build fails at once, at the checksum.
    source = tmp_path / "no-source"
    source.mkdir()
    (source / "SHA256SUMS").write_text("0" * 64 + "  Python-3.13.5.tar.xz\n")
    done = run_finder(tmp_path / "cache", source)
    assert done.returncode != 0, f"the partial install was taken: {done.stdout}"
    assert "checksum" in done.stderr or "Python-3.13.5.tar.xz" in done.stderr, done.stderr


def test_a_stamped_install_is_taken_as_it_is(tmp_path: Path) -> None:
    prefix = tmp_path / "cache" / "cpython-3.13.5-ft"
    (prefix / "bin").mkdir(parents=True)
    (prefix / "bin" / "python3.13t").symlink_to(sys.executable)
    (prefix / ".quorvane-installed").write_text("3.13.5 --disable-gil\n")
    done = run_finder(tmp_path / "cache", tmp_path / "unused")
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == str(prefix / "bin" / "python3.13t")
