"""Milliseconds per VecList batch operation beside the same computation in numpy, in one run.

numpy works on an (n, 3) float64 array holding the same vectors. Where quorvane returns a Python
list (dot, distances, magnitudes, unit tests, to_array), numpy's result is turned into one with
.tolist() too, so both sides hand the caller the same kind of object; the buffer (_array) and
element-by-element rows return memoryviews or lists, and numpy keeps its arrays there. Each cell is the fastest
of several repeats; ratio = quorvane / numpy, so below 1 means quorvane is faster.

    python bench/batch.py [--repeat N] [--sizes N [N ...]] [--json FILE] [--only TEXT [TEXT ...]]
                          [--no-handoff]

At the end it prints what small steps cost (bench/handoff.py): the hand-off to the pool and back.

The pool's worker count comes from RAYON_NUM_THREADS (or RAYON_RS_NUM_CPUS), else the CPUs
available to the process; the figure printed is that setting, or os.cpu_count() when none is set.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import random
import sys
import timeit
from collections.abc import Callable
from dataclasses import dataclass

import handoff
import numpy as np

from quorvane import Quat, Vec3d, VecList, geometry

Plane = geometry.Plane

EPSILON = 2.0**-52


@dataclass
class Operands:
    """One size's data, the same on both sides."""

    vectors: VecList
    array: np.ndarray
    elements: list[Vec3d]
    rows: list[tuple[float, float, float]]
    w: Vec3d
    w_array: np.ndarray
    quat: Quat
    matrix: np.ndarray  # applied to row vectors: a @ matrix rotates as quat.rotate does
    others: VecList  # a second list of the same length, for the element-by-element rows
    other_array: np.ndarray
    array32: np.ndarray  # the vectors as float32, for from_array
    indices: np.ndarray  # n random int64 indices, for take
    faces: np.ndarray  # (n, 3) random int64 indices, for take_triangles
    mask: np.ndarray  # n random bools, about half true, for select
    factors: np.ndarray  # n float64 factors, for scaled_elementwise
    plane: Plane
    plane_normal: np.ndarray


@dataclass(frozen=True)
class Row:
    name: str
    quorvane: Callable[[Operands], object]
    numpy: Callable[[Operands], object]


def numpy_normalize(o: Operands) -> np.ndarray:
    return o.array / np.linalg.norm(o.array, axis=1)[:, None]


def numpy_collapse(o: Operands) -> np.ndarray:
    collapsed = o.array.copy()
    collapsed[:, 1] = 0.0
    return collapsed


def numpy_nearest(o: Operands) -> tuple[int, float]:
    squared = ((o.array - o.w_array) ** 2).sum(axis=1)
    index = int(squared.argmin())
    return index, float(np.sqrt(squared[index]))


ROWS = [
    Row("VecList(list)", lambda o: VecList(o.elements), lambda o: np.array(o.rows)),
    Row("v + w", lambda o: o.vectors + o.w, lambda o: o.array + o.w_array),
    Row("v - w", lambda o: o.vectors - o.w, lambda o: o.array - o.w_array),
    Row("v * s", lambda o: o.vectors * 1.75, lambda o: o.array * 1.75),
    Row("v / s", lambda o: o.vectors / 1.75, lambda o: o.array / 1.75),
    Row("dot", lambda o: o.vectors.dot(o.w), lambda o: (o.array @ o.w_array).tolist()),
    Row("cross", lambda o: o.vectors.cross(o.w), lambda o: np.cross(o.array, o.w_array)),
    Row("distance_to", lambda o: o.vectors.distance_to(o.w),
        lambda o: np.linalg.norm(o.array - o.w_array, axis=1).tolist()),
    Row("distance_squared", lambda o: o.vectors.distance_squared(o.w),
        lambda o: np.einsum("ij,ij->i", d := o.array - o.w_array, d).tolist()),
    Row("magnitude", lambda o: o.vectors.magnitude(), lambda o: np.linalg.norm(o.array, axis=1).tolist()),
    Row("normalize", lambda o: o.vectors.normalize(), numpy_normalize),
    Row("is_unit", lambda o: o.vectors.is_unit(),
        lambda o: (np.abs(np.linalg.norm(o.array, axis=1) - 1.0) < EPSILON).tolist()),
    Row("collapse(1)", lambda o: o.vectors.collapse(1), numpy_collapse),
    Row("rotate", lambda o: o.vectors.rotate(o.quat), lambda o: o.array @ o.matrix),
    Row("rotated", lambda o: o.vectors.rotated(o.quat), lambda o: o.array @ o.matrix),
    Row("minimum_distance_to(p, 1)", lambda o: o.vectors.minimum_distance_to(o.w, 1), numpy_nearest),
    Row("to_array", lambda o: o.vectors.to_array(), lambda o: o.array.tolist()),
    # Results as buffers and two lists combined element by element, beside numpy on arrays
    # (these return memoryviews or VecLists, so numpy's side keeps its arrays too):
    Row("dot_array", lambda o: o.vectors.dot_array(o.w), lambda o: o.array @ o.w_array),
    Row("distance_to_array", lambda o: o.vectors.distance_to_array(o.w),
        lambda o: np.linalg.norm(o.array - o.w_array, axis=1)),
    Row("distance_squared_array", lambda o: o.vectors.distance_squared_array(o.w),
        lambda o: np.einsum("ij,ij->i", d := o.array - o.w_array, d)),
    Row("magnitude_array", lambda o: o.vectors.magnitude_array(),
        lambda o: np.sqrt(np.einsum("ij,ij->i", o.array, o.array))),
    Row("is_unit_array", lambda o: o.vectors.is_unit_array(),
        lambda o: np.abs(np.sqrt(np.einsum("ij,ij->i", o.array, o.array)) - 1.0) < EPSILON),
    Row("add_elementwise", lambda o: o.vectors.add_elementwise(o.others), lambda o: o.array + o.other_array),
    Row("sub_elementwise", lambda o: o.vectors.sub_elementwise(o.others), lambda o: o.array - o.other_array),
    Row("cross_elementwise", lambda o: o.vectors.cross_elementwise(o.others),
        lambda o: np.cross(o.array, o.other_array)),
    Row("dot_elementwise", lambda o: o.vectors.dot_elementwise(o.others),
        lambda o: np.einsum("ij,ij->i", o.array, o.other_array)),
    Row("distance_to_elementwise", lambda o: o.vectors.distance_to_elementwise(o.others),
        lambda o: np.linalg.norm(o.array - o.other_array, axis=1)),
    Row("distance_squared_elementwise", lambda o: o.vectors.distance_squared_elementwise(o.others),
        lambda o: np.einsum("ij,ij->i", d := o.array - o.other_array, d)),
    # Reductions, selection and per-point operations, beside their numpy idioms:
    Row("sum", lambda o: o.vectors.sum(), lambda o: o.array.sum(0)),
    Row("mean", lambda o: o.vectors.mean(), lambda o: o.array.mean(0)),
    Row("bounds", lambda o: o.vectors.bounds(), lambda o: (o.array.min(0), o.array.max(0))),
    Row("take", lambda o: o.vectors.take(o.indices), lambda o: o.array[o.indices]),
    Row("take_triangles", lambda o: o.vectors.take_triangles(o.faces),
        lambda o: (o.array[o.faces[:, 0]], o.array[o.faces[:, 1]], o.array[o.faces[:, 2]])),
    Row("select", lambda o: o.vectors.select(o.mask), lambda o: o.array[o.mask]),
    Row("scaled_elementwise", lambda o: o.vectors.scaled_elementwise(o.factors), lambda o: o.array * o.factors[:, None]),
    Row("distance_to_plane_array", lambda o: o.vectors.distance_to_plane_array(o.plane),
        lambda o: np.abs(o.array @ o.plane_normal + o.plane.distance)),
    Row("signed_distance_to_plane_array", lambda o: o.vectors.signed_distance_to_plane_array(o.plane),
        lambda o: o.array @ o.plane_normal + o.plane.distance),
    Row("from_array(float32)", lambda o: VecList.from_array(o.array32), lambda o: o.array32.astype(np.float64)),
    # The numpy doorways, against the element-by-element paths they replace (in the numpy column):
    Row("from_array [vs VecList(list)]", lambda o: VecList.from_array(o.array), lambda o: VecList(o.elements)),
    Row("np.asarray(v) [vs to_array()]", lambda o: np.asarray(o.vectors), lambda o: o.vectors.to_array()),
]


def operands(n: int) -> Operands:
    rng = random.Random(n)
    rows = [(rng.uniform(-10, 10), rng.uniform(-10, 10), rng.uniform(-10, 10)) for _ in range(n)]
    elements = [Vec3d(*row) for row in rows]
    # A unit quaternion, so repeated in-place rotations keep the values in range.
    quat = Quat(0.5, 0.5, -0.5, 0.5)
    matrix = np.array(quat.to_rotation_matrix())
    probe = Vec3d(0.25, -2.0, 3.5)
    rotated = np.array([[probe.x, probe.y, probe.z]]) @ matrix
    assert np.allclose(rotated[0], quat.rotate(probe).to_array()), "the matrix does not rotate as quorvane does"
    w = Vec3d(0.5, -1.25, 2.0)
    array = np.array(rows)
    other_array = np.ascontiguousarray(array[::-1] * 0.5)
    picks = np.random.default_rng(n)
    plane = Plane(Vec3d(0.3, -0.4, 0.5), 1.5)
    return Operands(VecList(elements), array, elements, rows, w, np.array([w.x, w.y, w.z]), quat, matrix,
                    VecList.from_array(other_array), other_array, array.astype(np.float32),
                    picks.integers(0, n, n), picks.integers(0, n, (n, 3)), picks.random(n) < 0.5,
                    picks.uniform(-2, 2, n), plane, np.array(plane.normal.to_array()))


def milliseconds(work: Callable[[Operands], object], data: Operands, repeat: int, target_seconds: float) -> float:
    """The fastest of `repeat` timings, each about target_seconds long, per call."""
    timer = timeit.Timer(lambda: work(data))
    number = 1
    while timer.timeit(number) < target_seconds and number < 1 << 20:
        number *= 4
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e3


def worker_count() -> str:
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        if os.environ.get(variable):
            return f"{os.environ[variable]} ({variable})"
    return f"{os.cpu_count()} (os.cpu_count())"


def main() -> None:
    parser = argparse.ArgumentParser(description="ms per VecList batch operation beside numpy")
    parser.add_argument("--repeat", type=int, default=5, help="repeats per cell (the minimum is kept)")
    parser.add_argument("--sizes", type=int, nargs="+", default=[10**3, 10**5, 10**6], help="list lengths")
    parser.add_argument("--json", metavar="FILE", help="also write the results as JSON")
    parser.add_argument("--only", nargs="+", metavar="TEXT", help="only the rows whose name contains one of these")
    parser.add_argument("--no-handoff", action="store_true",
                        help="skip the figures of small steps (bench/handoff.py) at the end")
    args = parser.parse_args()

    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    load, cpus = os.getloadavg()[0], os.cpu_count() or 1
    print(f"Python {platform.python_version()}, GIL {gil}, numpy {np.__version__}")
    print(f"pool workers: {worker_count()}; load average {load:.2f} on {cpus} CPUs"
          + (" (busy: the figures include the neighbours' work)" if load > cpus / 2 else ""))
    print(f"ms per call, fastest of {args.repeat} repeats; ratio = quorvane / numpy (below 1: quorvane faster)")

    results = []
    for n in args.sizes:
        data = operands(n)
        header = f"\nn = {n:,}\n{'operation':30s} {'quorvane':>10s} {'numpy':>10s} {'ratio':>8s}"
        print(header)
        print("-" * (len(header.splitlines()[-1])))
        for row in ROWS:
            if args.only and not any(text in row.name for text in args.only):
                continue
            ours = milliseconds(row.quorvane, data, args.repeat, 0.05)
            theirs = milliseconds(row.numpy, data, args.repeat, 0.05)
            print(f"{row.name:30s} {ours:10.4f} {theirs:10.4f} {ours / theirs:8.2f}")
            results.append({"n": n, "operation": row.name, "quorvane_ms": ours, "numpy_ms": theirs})

    small_steps = {} if args.no_handoff else handoff.report(args.repeat, [None, "1", "8"])

    if args.json:
        with open(args.json, "w") as out:
            json.dump({"python": platform.python_version(), "gil": gil, "numpy": np.__version__,
                       "workers": worker_count(), "load_average": load, "ms": results,
                       "small_steps": small_steps}, out, indent=2)


if __name__ == "__main__":
    main()
