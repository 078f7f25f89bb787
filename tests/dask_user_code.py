"""Code as a user writes it in a script or notebook, and what running it takes.

The functions are made in a namespace named "__main__", as a script's are, so that cloudpickle
(and Dask, which uses it for them) sends them by value with the globals they name.
"""

from __future__ import annotations

import os
import pickle
import subprocess
import sys
from pathlib import Path
from typing import Any

import quorvane_dask

SCRIPT = '''
from quorvane import AngleRadians, Quat, Vec3d, VecList, geometry

Plane = geometry.Plane
TURN = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())


def shifted(points: VecList) -> VecList:
    return points + Vec3d(1, 2, 3)


def length(v: Vec3d) -> float:
    return v.magnitude()


def turned(points: VecList) -> VecList:
    return points.rotated(Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians(0.25)))


def floor(height: float) -> Plane:
    return Plane(Vec3d(0, 0, 1), height)


def kinds(values: list) -> list:
    return [isinstance(v, (Vec3d, VecList)) for v in values]


def panics() -> None:
    VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), 1)
'''


def user_code() -> dict[str, Any]:
    namespace: dict[str, Any] = {"__name__": "__main__"}
    # dont_inherit: annotations stay objects, as in a script without `from __future__ import annotations`.
    exec(compile(SCRIPT, "<user script>", "exec", dont_inherit=True), namespace)  # noqa: S102 - our own text
    return namespace


def same_bits(actual: object, expected: object) -> bool:
    """Equal stored bits: a quorvane value's pickle holds its doubles as they are."""
    return pickle.dumps(actual, protocol=4) == pickle.dumps(expected, protocol=4)


def run_python(source: str, *arguments: str, stdin: bytes = b"") -> subprocess.CompletedProcess[bytes]:
    """Runs source in a fresh interpreter that finds quorvane and quorvane_dask as this one does."""
    package_root = str(Path(quorvane_dask.__file__).resolve().parents[1])
    path = os.pathsep.join([package_root, *sys.path])
    return subprocess.run([sys.executable, "-c", source, *arguments], input=stdin, capture_output=True,
                          timeout=120, cwd=Path(__file__).anchor, env=dict(os.environ, PYTHONPATH=path))

