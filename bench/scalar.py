"""Nanoseconds per scalar operation: quorvane beside its peers, all measured in this one run.

Peers: numpy's 3-element float64 arrays, and PyGLM's dvec3 where PyGLM imports (it has no
free-threaded wheels, so bench/scalar.sh runs this script once more on a regular interpreter that
has it). Each cell is the fastest of several timeit repeats; each ratio is peer time over
quorvane time, so above 1 means quorvane is faster.

Then threading: the throughput of two threads doing arithmetic on their own objects over one
thread doing the same, on this interpreter (close to 2 when the GIL is off and nothing blocks),
beside the same ratio for two processes, which is what the machine's cores give at the moment.

To add a class, add its set-up line to SETUP and its rows to ROWS (and, for threading, a workload
to WORKLOADS); nothing else changes.

    python bench/scalar.py [--repeat N] [--quick] [--no-threads] [--json FILE]
"""

from __future__ import annotations

import argparse
import json
import multiprocessing
import os
import platform
import sys
import threading
import time
import timeit
from collections.abc import Callable
from dataclasses import dataclass, field
from multiprocessing.queues import Queue
from multiprocessing.synchronize import Barrier

LIBRARIES = ("quorvane", "numpy", "pyglm", "scipy")

# What each library's statements may use: vectors a and b, a scalar s, components x, y, z.
SETUP = {
    "quorvane": """
from quorvane import AngleRadians, Quat, Vec3d
a = Vec3d(1.0, 2.5, -3.0)
b = Vec3d(-0.5, 4.0, 2.0)
axis = Vec3d(0.0, 0.6, 0.8)
angle = AngleRadians(0.7)
q = Quat.from_axis_angle(axis, angle)
q2 = Quat.from_axis_angle(Vec3d(0.8, 0.0, 0.6), AngleRadians(0.3))
m = q.to_rotation_matrix()
ea, eb, ec = AngleRadians(0.1), AngleRadians(0.2), AngleRadians(0.3)
""",
    "numpy": """
import numpy as np
a = np.array([1.0, 2.5, -3.0])
b = np.array([-0.5, 4.0, 2.0])
""",
    "pyglm": """
import glm
a = glm.dvec3(1.0, 2.5, -3.0)
b = glm.dvec3(-0.5, 4.0, 2.0)
axis = glm.dvec3(0.0, 0.6, 0.8)
q = glm.angleAxis(0.7, axis)
q2 = glm.angleAxis(0.3, glm.dvec3(0.8, 0.0, 0.6))
m = glm.mat3_cast(q)
""",
    "scipy": """
import numpy as np
from scipy.spatial.transform import Rotation
a = np.array([1.0, 2.5, -3.0])
rotvec = np.array([0.0, 0.6, 0.8]) * 0.7
r = Rotation.from_rotvec(rotvec)
r2 = Rotation.from_rotvec(np.array([0.8, 0.0, 0.6]) * 0.3)
m = r.as_matrix()
from scipy.spatial.transform import Slerp
between = Slerp([0.0, 1.0], Rotation.concatenate([r, r2]))
""",
}
COMMON_SETUP = "s = 1.75\nx, y, z = 1.0, 2.5, -3.0\n"


@dataclass(frozen=True)
class Row:
    """One operation: quorvane's statement and each peer's closest counterpart (if it has one)."""

    name: str
    quorvane: str
    peers: dict[str, str] = field(default_factory=dict)


ROWS = [
    Row("Vec3d(x, y, z)", "Vec3d(x, y, z)", {"numpy": "np.array([x, y, z])", "pyglm": "glm.dvec3(x, y, z)"}),
    Row("a + b", "a + b", {"numpy": "np.add(a, b)", "pyglm": "a + b"}),
    Row("a * s", "a * s", {"numpy": "np.multiply(a, s)", "pyglm": "a * s"}),
    Row("a.dot(b)", "a.dot(b)", {"numpy": "np.dot(a, b)", "pyglm": "glm.dot(a, b)"}),
    Row("a.cross(b)", "a.cross(b)", {"numpy": "np.cross(a, b)", "pyglm": "glm.cross(a, b)"}),
    Row("a.normalize()", "a.normalize()", {"numpy": "a / np.linalg.norm(a)", "pyglm": "glm.normalize(a)"}),
    Row("a.magnitude()", "a.magnitude()", {"numpy": "np.linalg.norm(a)", "pyglm": "glm.length(a)"}),
    # numpy arrays are unhashable: hashing their 24 bytes is the nearest thing.
    Row("hash(a)", "hash(a)", {"numpy": "hash(a.tobytes())", "pyglm": "hash(a)"}),
    Row("repr(a)", "repr(a)", {"numpy": "repr(a)", "pyglm": "repr(a)"}),
    Row("Quat.from_axis_angle", "Quat.from_axis_angle(axis, angle)",
        {"pyglm": "glm.angleAxis(0.7, axis)", "scipy": "Rotation.from_rotvec(rotvec)"}),
    Row("q.rotate(v)", "q.rotate(a)", {"pyglm": "q * a", "scipy": "r.apply(a)"}),
    Row("q.to_rotation_matrix()", "q.to_rotation_matrix()", {"pyglm": "glm.mat3_cast(q)", "scipy": "r.as_matrix()"}),
    # The rotation algebra. PyGLM's Euler angles are (pitch, yaw, roll) in a dvec3 it builds the
    # quaternion from; scipy's Slerp is built once in the set-up and only evaluated here. PyGLM's
    # and scipy's matrices are their own arrays, made in the set-up; quorvane reads its list of
    # three lists of floats on every call.
    Row("q.then(q2)", "q.then(q2)", {"pyglm": "q * q2", "scipy": "r2 * r"}),
    Row("q.inverse()", "q.inverse()", {"pyglm": "glm.inverse(q)", "scipy": "r.inv()"}),
    Row("q.slerp(q2, t)", "q.slerp(q2, 0.25)", {"pyglm": "glm.slerp(q, q2, 0.25)", "scipy": "between(0.25)"}),
    Row("Quat.from_euler", "Quat.from_euler('xyz', ea, eb, ec)",
        {"pyglm": "glm.dquat(glm.dvec3(0.1, 0.2, 0.3))", "scipy": "Rotation.from_euler('xyz', [0.1, 0.2, 0.3])"}),
    Row("from_rotation_matrix", "Quat.from_rotation_matrix(m)",
        {"pyglm": "glm.quat_cast(m)", "scipy": "Rotation.from_matrix(m)"}),
    Row("AngleRadians(x).sin()", "AngleRadians(x).sin()", {"numpy": "np.sin(x)", "pyglm": "glm.sin(x)"}),
]


def available(library: str) -> str | None:
    """None when the library's set-up runs here, else why not."""
    try:
        exec(SETUP[library], {})
    except Exception as error:  # an import error, or a library that fails to load
        return f"{type(error).__name__}: {error}"
    return None


def nanoseconds(stmt: str, library: str, repeat: int, target_seconds: float) -> float:
    """The fastest of `repeat` timings of stmt, each about target_seconds long, per execution."""
    timer = timeit.Timer(stmt, setup=SETUP[library] + COMMON_SETUP)
    number = 1
    while timer.timeit(number) < target_seconds:
        number *= 4
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


# Threading: each workload builds its own objects, so threads share nothing but the code.
def quorvane_workload(iterations: int) -> None:
    from quorvane import Vec3d

    a, b, total = Vec3d(1.0, 2.5, -3.0), Vec3d(-0.5, 4.0, 2.0), Vec3d.zero()
    for _ in range(iterations):
        total = total + a.cross(b) * 0.5 - b / 3.0
        a.dot(total)


def numpy_workload(iterations: int) -> None:
    import numpy as np

    a, b, total = np.array([1.0, 2.5, -3.0]), np.array([-0.5, 4.0, 2.0]), np.zeros(3)
    for _ in range(iterations):
        total = total + np.cross(a, b) * 0.5 - b / 3.0
        np.dot(a, total)


def python_float_workload(iterations: int) -> None:
    ax, ay, az, bx, by, bz = 1.0, 2.5, -3.0, -0.5, 4.0, 2.0
    tx = ty = tz = 0.0
    for _ in range(iterations):
        tx, ty, tz = (tx + (ay * bz - az * by) * 0.5 - bx / 3.0, ty + (az * bx - ax * bz) * 0.5 - by / 3.0,
                      tz + (ax * by - ay * bx) * 0.5 - bz / 3.0)
        (ax * tx + ay * ty) + az * tz


WORKLOADS: list[tuple[str, str, Callable[[int], None]]] = [
    ("quorvane Vec3d", "quorvane", quorvane_workload),
    ("numpy arrays", "numpy", numpy_workload),
    ("python floats", "", python_float_workload),
]


def wall_time(workload: Callable[[int], None], threads: int, iterations: int) -> float:
    """Seconds from a common start until every thread has done `iterations` of the workload."""
    start = threading.Barrier(threads + 1)

    def run() -> None:
        start.wait()
        workload(iterations)

    workers = [threading.Thread(target=run) for _ in range(threads)]
    for worker in workers:
        worker.start()
    start.wait()
    began = time.perf_counter()
    for worker in workers:
        worker.join()
    return time.perf_counter() - began


def calibrated_iterations(workload: Callable[[int], None], seconds: float) -> int:
    """About as many iterations as one thread does in `seconds`."""
    iterations = 100
    while (elapsed := wall_time(workload, 1, iterations)) < seconds / 8:
        iterations *= 4
    return max(1, int(iterations * seconds / elapsed))


def _run_in_process(workload: Callable[[int], None], iterations: int, start: Barrier,
                    spans: Queue[tuple[float, float]]) -> None:
    start.wait()
    began = time.perf_counter()
    workload(iterations)
    spans.put((began, time.perf_counter()))


def process_wall_time(workload: Callable[[int], None], processes: int, iterations: int) -> float:
    """As wall_time, with processes instead of threads: what the machine's cores give right now."""
    context = multiprocessing.get_context("spawn")
    start = context.Barrier(processes)
    spans: Queue[tuple[float, float]] = context.Queue()
    workers = [context.Process(target=_run_in_process, args=(workload, iterations, start, spans))
               for _ in range(processes)]
    for worker in workers:
        worker.start()
    times = [spans.get() for _ in workers]
    for worker in workers:
        worker.join()
    return max(end for _, end in times) - min(began for began, _ in times)


def scaling(workload: Callable[[int], None], iterations: int, repeat: int,
            wall: Callable[[Callable[[int], None], int, int], float] = wall_time) -> float:
    """Throughput of two threads (or processes) over that of one, each timing the best of `repeat`."""
    one = min(wall(workload, 1, iterations) for _ in range(repeat))
    two = min(wall(workload, 2, iterations) for _ in range(repeat))
    return (2 * iterations / two) / (iterations / one)


def format_ns(value: float | None) -> str:
    return f"{value:9.1f}" if value is not None else f"{'-':>9}"


def format_ratio(peer: float | None, ours: float) -> str:
    return f"{peer / ours:8.2f}x" if peer is not None else f"{'-':>9}"


def main() -> None:
    parser = argparse.ArgumentParser(description="ns per Vec3d operation beside numpy and PyGLM")
    parser.add_argument("--repeat", type=int, default=9, help="timeit repeats per cell (the minimum is kept)")
    parser.add_argument("--quick", action="store_true", help="few, short repeats: a smoke run, not a measurement")
    parser.add_argument("--no-threads", action="store_true", help="skip the threading measurement")
    parser.add_argument("--json", metavar="FILE", help="also write the results as JSON")
    args = parser.parse_args()
    repeat, target = (3, 0.005) if args.quick else (args.repeat, 0.05)

    missing = {library: available(library) for library in LIBRARIES}
    if missing["quorvane"]:
        sys.exit(f"quorvane does not import here: {missing['quorvane']}")
    peers = [library for library in LIBRARIES[1:] if not missing[library]]
    versions = {"python": platform.python_version()}
    for library, module in (("numpy", "numpy"), ("pyglm", "glm")):
        if library in peers:
            versions[library] = getattr(__import__(module), "__version__", "?")
    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    print(f"Python {platform.python_version()} ({platform.python_implementation()}), GIL {gil}, "
          + ", ".join(f"{name} {version}" for name, version in versions.items() if name != "python"))
    for library in LIBRARIES[1:]:
        if missing[library]:
            print(f"{library}: not measured ({missing[library]})")
    load, cpus = os.getloadavg()[0], os.cpu_count() or 1
    print(f"load average {load:.2f} on {cpus} CPUs"
          + (": the machine is busy, the figures (threading above all) measure its neighbours too"
             if load > cpus / 2 else ""))
    print(f"ns per operation, fastest of {repeat} repeats; ratio = peer / quorvane (above 1: quorvane faster)")
    print(f"timeit's own loop costs {nanoseconds('pass', 'quorvane', repeat, target):.1f} ns of each figure\n")

    header = f"{'operation':18s} {'quorvane':>9s}" + "".join(f" {p:>9s}" for p in peers)
    header += "".join(f" {p + '/q':>9s}" for p in peers)
    print(header)
    print("-" * len(header))
    results = []
    for row in ROWS:
        ours = nanoseconds(row.quorvane, "quorvane", repeat, target)
        theirs = {p: nanoseconds(row.peers[p], p, repeat, target) if p in row.peers else None for p in peers}
        print(f"{row.name:18s} {format_ns(ours)}" + "".join(f" {format_ns(theirs[p])}" for p in peers)
              + "".join(f" {format_ratio(theirs[p], ours)}" for p in peers))
        results.append({"operation": row.name, "quorvane_ns": ours, **{f"{p}_ns": theirs[p] for p in peers}})

    scaling_results = {}
    if not args.no_threads:
        seconds, runs = (0.02, 1) if args.quick else (0.25, min(repeat, 5))
        print(f"\nthreading: throughput of 2 threads / 1 thread, each thread working about {seconds:g} s, "
              f"best of {runs}" + ("" if gil == "disabled" else " (the GIL runs one thread at a time: expect 1)"))
        for name, library, workload in WORKLOADS:
            if library and missing[library]:
                continue
            ratio = scaling(workload, calibrated_iterations(workload, seconds), runs)
            scaling_results[name] = ratio
            print(f"  {name:26s} {ratio:5.2f}x")
        # The same with two processes, which share nothing: what two busy cores give at the
        # moment. A thread ratio as high as this one loses nothing to the interpreter or module.
        iterations = calibrated_iterations(python_float_workload, seconds)
        ratio = scaling(python_float_workload, iterations, runs, wall=process_wall_time)
        scaling_results["python floats, 2 processes"] = ratio
        print(f"  {'python floats, 2 processes':26s} {ratio:5.2f}x  (the machine's own limit right now)")

    if args.json:
        with open(args.json, "w") as out:
            json.dump({"versions": versions, "gil": gil, "load_average": load, "ns": results, "two_thread_scaling": scaling_results},
                      out, indent=2)


if __name__ == "__main__":
    main()
