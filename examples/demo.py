"""A pick-and-place robot's tool path, measured with quorvane.Vec3d.

The path is synthetic but shaped like a real recording: a tool tip sampled at 250 Hz while an arm
picks parts from one station and places them at another, dwelling at each (the controller then
reports the commanded position, so those samples repeat exactly) and travelling between them on
lifted, bowed arcs with a few hundredths of a millimetre of sensor noise. Positions are in metres, with
the arm's base column along the z axis.

Run it with ./scripts/demo.sh, or with any interpreter that has quorvane installed:
    python examples/demo.py [--cycles N] [--seed S]
"""

from __future__ import annotations

import argparse
import math
import random
import sys
import time
from collections.abc import Callable, Iterator
from concurrent.futures import ThreadPoolExecutor
from contextlib import contextmanager
from typing import TypeVar

from quorvane import Vec3d

T = TypeVar("T")

SAMPLE_RATE_HZ = 250
PICK = Vec3d(0.55, -0.30, 0.12)
PLACE = Vec3d(0.35, 0.40, 0.20)
COLUMN = (Vec3d.zero(), Vec3d.k())  # two points on the base column's axis
CONVEYOR = (Vec3d(0.20, -0.60, 0.0), Vec3d(0.80, 0.60, 0.0))  # the belt's centre line
TABLE_POINT = Vec3d(0.0, 0.0, 0.05)
TABLE_TILT_DEG = 2.5  # the table is tilted about the x axis
REACH_M = 0.70  # farthest the tool gets from the column's axis
NOISE_M = 0.00002  # 0.02 mm
MOVING_STEP_M = 0.001  # shorter steps are mostly noise: their directions mean nothing


def arc(start: Vec3d, end: Vec3d, samples: int, lift: float, bow: float, rng: random.Random) -> Iterator[Vec3d]:
    """A travel move from start to end: lifted along z, bowed sideways, with sensor noise."""
    side = (end - start).cross(Vec3d.k()).normalize()
    for n in range(1, samples + 1):
        s = n / (samples + 1)
        ease = 0.5 - 0.5 * math.cos(math.pi * s)  # slow at both ends, as a real move
        on_chord = start * (1.0 - ease) + end * ease
        offset = Vec3d.k() * (4.0 * lift * s * (1.0 - s)) + side * (bow * math.sin(math.pi * s))
        noise = Vec3d(rng.gauss(0.0, NOISE_M), rng.gauss(0.0, NOISE_M), rng.gauss(0.0, NOISE_M))
        yield on_chord + offset + noise


def recorded_path(cycles: int, seed: int) -> list[Vec3d]:
    """Each cycle: dwell at the pick station, travel, dwell at the place station, travel back."""
    rng = random.Random(seed)
    points: list[Vec3d] = []
    for _ in range(cycles):
        points += [Vec3d(*PICK.to_array()) for _ in range(120)]
        points += arc(PICK, PLACE, 380, lift=0.25, bow=0.06, rng=rng)
        points += [Vec3d(*PLACE.to_array()) for _ in range(120)]
        points += arc(PLACE, PICK, 380, lift=0.18, bow=-0.04, rng=rng)
    return points


timings: list[tuple[str, int, float]] = []


@contextmanager
def timed(stage: str, calls: int) -> Iterator[None]:
    start = time.perf_counter()
    yield
    timings.append((stage, calls, time.perf_counter() - start))


def mm(metres: float) -> str:
    return f"{metres * 1000.0:8.2f} mm"


def in_two_threads(work: Callable[[list[Vec3d]], T], points: list[Vec3d]) -> list[T]:
    """work() on each half of points, the halves in two threads at once."""
    half = len(points) // 2
    with ThreadPoolExecutor(max_workers=2) as pool:
        return list(pool.map(work, [points[:half], points[half:]]))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cycles", type=int, default=4, help="pick-and-place cycles (1000 samples each)")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()

    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    print(f"quorvane demo on Python {sys.version.split()[0]}, GIL {gil}")

    with timed("build the path", 0):
        points = recorded_path(args.cycles, args.seed)
    n = len(points)
    print(f"\n{n} waypoints, {n / SAMPLE_RATE_HZ:.1f} s at {SAMPLE_RATE_HZ} Hz, "
          f"{args.cycles} pick-and-place cycles (seed {args.seed})")

    # Where the tool spends its time.
    with timed("centroid (+, /)", n):
        centroid = sum(points, Vec3d.zero()) / n
    with timed("bounding box (x, y, z)", n):
        low = Vec3d(min(p.x for p in points), min(p.y for p in points), min(p.z for p in points))
        high = Vec3d(max(p.x for p in points), max(p.y for p in points), max(p.z for p in points))
    print(f"centroid            {centroid!r}")
    print(f"bounding box        {low!r}\n                 .. {high!r}")
    print(f"extent              {mm((high - low).magnitude())} corner to corner")

    # How far it travels, and in how many distinct positions (dwell samples repeat exactly).
    with timed("path length (distance_to)", n - 1):
        length = sum(a.distance_to(b) for a, b in zip(points, points[1:]))
    with timed("distinct positions (hash, ==)", n):
        distinct = len(set(points))
    print(f"path length         {length:8.3f} m, mean speed {length / (n / SAMPLE_RATE_HZ):.3f} m/s")
    print(f"distinct positions  {distinct} of {n} (the rest are dwell samples)")

    # Clearance to the arm's own base column, and to the conveyor belt's centre line.
    with timed("clearance to the column (distance_to_line)", n):
        clearances = [p.distance_to_line(*COLUMN) for p in points]
    closest = min(range(n), key=clearances.__getitem__)
    print(f"column clearance    {mm(clearances[closest])} at its closest (waypoint {closest}), "
          f"{mm(max(clearances))} at its farthest")
    with timed("feet on the conveyor line (project_onto_line)", n):
        feet = [p.project_onto_line(*CONVEYOR) for p in points]
    disagreement = max(abs(p.distance_to(f) - p.distance_to_line(*CONVEYOR)) for p, f in zip(points, feet))
    along = [Vec3d.new_from_to(CONVEYOR[0], f).dot((CONVEYOR[1] - CONVEYOR[0]).normalize()) for f in feet]
    print(f"over the conveyor   {min(along):.3f} m .. {max(along):.3f} m along the belt; "
          f"foot distance and line distance agree within {disagreement:.1e} m")

    # Heights above the tilted table, and the footprint on it.
    tilt = math.radians(TABLE_TILT_DEG)
    normal = Vec3d(0.0, math.sin(tilt), math.cos(tilt))
    with timed("footprint on the table (project_onto_plane)", n):
        heights = [(p - TABLE_POINT).dot(normal) for p in points]
        footprint = [(p - TABLE_POINT).project_onto_plane(normal) + TABLE_POINT for p in points]
    spread = max(f.distance_to(footprint[0]) for f in footprint)  # from the pick station's spot
    print(f"table normal        {normal!r}, unit: {normal.is_unit()}")
    print(f"height over table   {mm(min(heights))} .. {mm(max(heights))}; footprint reaches {mm(spread).strip()} from the pick spot")

    # Directions of travel: a unit vector per moving step, and how sharply it turns between steps.
    with timed("directions (new_from_to, normalize)", n - 1):
        steps = [Vec3d.new_from_to(a, b) for a, b in zip(points, points[1:])]
        directions = [s.normalize() for s in steps if s.magnitude() > MOVING_STEP_M]
    turns = list(zip(directions, directions[1:]))
    with timed("turning angles (dot)", len(turns)):
        angles = sorted(math.degrees(math.acos(max(-1.0, min(1.0, u.dot(v))))) for u, v in turns)
    unit = sum(1 for u in directions if u.is_unit())
    print(f"steps over 1 mm     {len(directions)}; is_unit() (|length - 1| < 2**-52) holds for {unit} "
          f"of their directions")
    print(f"turning per step    median {angles[len(angles) // 2]:.1f} deg, sharpest {angles[-1]:.1f} deg "
          f"(setting down and lifting off)")

    # Which way the loop winds seen from above: half the summed (a - c) x (b - c) . k is the signed
    # area swept around the centroid, positive when counterclockwise.
    with timed("winding (scalar_triple_product)", n - 1):
        swept = 0.5 * sum((a - centroid).scalar_triple_product(b - centroid, Vec3d.k())
                          for a, b in zip(points, points[1:]))
    way = "counterclockwise" if swept > 0.0 else "clockwise"
    print(f"winding             {way} seen from above, {abs(swept) / args.cycles * 1e4:.0f} cm^2 "
          f"swept per cycle")

    # Where else could the column stand? For each site of a grid around the base, the nearest and
    # farthest the path comes to a column there; the best site keeps the path within the arm's
    # reach and farthest from the column. Computed in one thread, then in two that each take half
    # of the path: with the GIL disabled they run side by side. Each thread first copies its half
    # into objects of its own: reference counts of objects that another thread made are updated
    # atomically, and on the free-threaded 3.13 that alone can cost the second thread its gain.
    grid = [-0.20 + 0.05 * i for i in range(9)]
    sites = [(x, y) for x in grid for y in grid]

    def clearance_per_site(chunk: list[Vec3d]) -> list[tuple[float, float]]:
        own = [Vec3d(p.x, p.y, p.z) for p in chunk]
        axes = [(Vec3d(x, y, 0.0), Vec3d(x, y, 1.0)) for x, y in sites]
        ranges = []
        for bottom, top in axes:
            distances = [p.distance_to_line(bottom, top) for p in own]
            ranges.append((min(distances), max(distances)))
        return ranges

    calls = len(sites) * n
    with timed("column sites, one thread", calls):
        one = clearance_per_site(points)
    with timed("column sites, two threads", calls):
        halves = in_two_threads(clearance_per_site, points)
        two = [(min(a[0], b[0]), max(a[1], b[1])) for a, b in zip(*halves)]
    speedup = timings[-2][2] / timings[-1][2]
    reachable = [i for i, (_, farthest) in enumerate(one) if farthest <= REACH_M]
    best = max(reachable, key=lambda i: one[i][0])
    print(f"column siting       {len(reachable)} of {len(sites)} sites keep the path within {REACH_M:.2f} m; "
          f"best ({sites[best][0]:+.2f}, {sites[best][1]:+.2f}) m, clearance {mm(one[best][0]).strip()}")
    print(f"threads             {calls} distances in two threads agree with one: {one == two}, "
          f"{speedup:.2f}x as fast")

    print("\ntimings")
    for stage, calls, seconds in timings:
        rate = f"{seconds / calls * 1e9:7.0f} ns each" if calls else ""
        print(f"  {stage:48s} {seconds * 1e3:8.2f} ms  {rate}")


if __name__ == "__main__":
    main()
