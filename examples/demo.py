"""A terrain scan of a million points, measured with quorvane and, beside it, with numpy.

The cloud is synthetic but shaped like a real survey: a 100 m patch of rolling ground sampled on
a raster 10 cm apart, line after line as a scanner sweeps it, with 2 cm of noise on every height.
The scanner reports in its own frame, turned 30 degrees about an axis tipped off the vertical;
the demo brings the cloud into the site frame with a quaternion, finds the point nearest to a
drone hovering over the patch, measures ranges and surface normals in batch, meshes the patch
into triangles and takes their face normals, locates the drone
from its ranges to two beacons (circle_circle) and drops a plumb line from it onto the patch's
mean plane (plane_line). Every step is timed on this machine, beside the same step in numpy:
both sides warmed up, then the fastest of several runs, the two sides taking turns.

Run it with ./scripts/demo.sh, or with any interpreter that has quorvane installed:
    python examples/demo.py [--points N] [--stride S] [--seed S]
"""

from __future__ import annotations

import argparse
import array
import math
import os
import random
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, TypeVar

from quorvane import AngleDegrees, Quat, Vec3d, VecList, geometry

# Type checkers see numpy as present; at run time it may be missing, and the demo still runs.
if TYPE_CHECKING:
    import numpy as np

    HAVE_NUMPY: bool
else:
    try:
        import numpy as np

        HAVE_NUMPY = True
    except ImportError:  # the numpy column says so, and the cloud is built from Vec3d objects
        HAVE_NUMPY = False

T = TypeVar("T")

TITLE = "A terrain scan of a million points, measured with quorvane and, beside it, with numpy."
SPACING_M = 0.1
NOISE_M = 0.02
EPSILON = 2.0**-52  # is_unit's tolerance: |length - 1| < EPSILON
NO_NUMPY = "numpy not installed"
SHORT_STEP_CALLS = 10_000  # circle_circle and plane_line take well under a microsecond each
TIMED_RUNS = 5  # per side and step, after one untimed warm-up run
# A pause before every run: idle worker threads (quorvane's pool, numpy's OpenBLAS) spin a little
# before they sleep, and would otherwise take cores from the other side's run that follows.
SETTLE_S = 0.02

# The scanner's frame, seen from the site: 30 degrees about an axis a few degrees off vertical.
SCANNER_AXIS = Vec3d(0.05, 0.03, 1.0).normalize()
SCANNER_TURN = AngleDegrees(30.0)
MAST = Vec3d(0.0, 0.0, 2.5)  # where the scanner stands, in the site frame
BEACONS = (Vec3d(-20.0, 10.0, 0.0), Vec3d(30.0, 120.0, 0.0))  # on the ground; raised to the drone's height


def height(x: Any, y: Any, sin: Callable[[Any], Any], cos: Callable[[Any], Any]) -> Any:
    """The ground under the noise, written once for floats (math) and for arrays (numpy)."""
    return 1.5 * sin(x / 9.0) * cos(y / 13.0) + 0.4 * sin((x + y) / 4.3)


def slope(x: Any, y: Any, sin: Callable[[Any], Any], cos: Callable[[Any], Any]) -> tuple[Any, Any]:
    """The partial derivatives of height(): the surface normal is (-dh/dx, -dh/dy, 1)."""
    ridge = 0.4 / 4.3 * cos((x + y) / 4.3)
    return (1.5 / 9.0 * cos(x / 9.0) * cos(y / 13.0) + ridge,
            -1.5 / 13.0 * sin(x / 9.0) * sin(y / 13.0) + ridge)


def raster(points: int) -> tuple[int, int]:
    """Points per scan line and scan lines of the squarest raster holding `points` samples."""
    columns = math.isqrt(points - 1) + 1
    return columns, -(-points // columns)


def terrain_without_numpy(count: int, seed: int) -> tuple[list[Vec3d], VecList]:
    """The patch in the site frame, in scan order, and its unnormalised surface normals."""
    columns, _ = raster(count)
    rng = random.Random(seed)
    points, normals = [], []
    for i in range(count):
        x, y = (i % columns) * SPACING_M, (i // columns) * SPACING_M
        points.append(Vec3d(x, y, height(x, y, math.sin, math.cos) + rng.gauss(0.0, NOISE_M)))
        dx, dy = slope(x, y, math.sin, math.cos)
        normals.append(Vec3d(-dx, -dy, 1.0))
    return points, VecList(normals)


def raster_faces(columns: int, lines: int) -> Any:
    """Two triangles for every cell of the complete scan lines, each turning counter-clockwise
    seen from above, as an (m, 3) buffer of point indices: a numpy array, or without numpy a
    memoryview of an array.array."""
    if HAVE_NUMPY:
        corners = (np.arange(lines - 1)[:, None] * columns + np.arange(columns - 1)[None, :]).ravel()
        lower = np.column_stack((corners, corners + 1, corners + columns))
        upper = np.column_stack((corners + 1, corners + columns + 1, corners + columns))
        return np.concatenate((lower, upper))
    flat = array.array("q")
    for half in ((0, 1, columns), (1, columns + 1, columns)):
        for line in range(lines - 1):
            for column in range(columns - 1):
                corner = line * columns + column
                flat.extend(corner + k for k in half)
    return memoryview(flat).cast("B").cast("q", [len(flat) // 3, 3])


def face_normals(cloud: VecList, faces: Any) -> VecList:
    """(b - a) x (c - a) for every triangle (a, b, c), its length twice the triangle's area."""
    a, b, c = cloud.take_triangles(faces)
    return b.sub_elementwise(a).cross_elementwise(c.sub_elementwise(a))


def as_array(v: Vec3d) -> Any:
    return np.array(v.to_array())


class NumpySide:
    """The same patch as (n, 3) float64 arrays, and numpy's version of every step."""

    def __init__(self, count: int, seed: int) -> None:
        columns, _ = raster(count)
        index = np.arange(count)
        x, y = (index % columns) * SPACING_M, (index // columns) * SPACING_M
        noise = np.random.default_rng(seed).normal(0.0, NOISE_M, count)
        self.site = np.column_stack((x, y, height(x, y, np.sin, np.cos) + noise))
        dx, dy = slope(x, y, np.sin, np.cos)
        self.raw_normals = np.column_stack((-dx, -dy, np.ones(count)))
        self.normals = self.normalize()
        self.delivered = self.site  # what the scanner reports, set once the cloud has been turned
        self.matrix = np.identity(3)
        self.cloud = self.site  # a view of the VecList, set once it holds the site frame
        self.faces = raster_faces(columns, count // columns)

    def rotate(self) -> Any:
        # Row vectors times the matrix: quorvane's rotate applies that matrix's transpose.
        return self.delivered @ self.matrix

    def nearest(self, probe: Vec3d, stride: int) -> tuple[int, float]:
        """minimum_distance_to's two passes: every stride-th point, then the window around the best."""
        p = as_array(probe)
        coarse = int(((self.cloud[::stride] - p) ** 2).sum(axis=1).argmin()) * stride
        start, end = max(coarse - stride, 0), min(coarse + stride, len(self.cloud))
        squared = ((self.cloud[start:end] - p) ** 2).sum(axis=1)
        best = int(squared.argmin())
        return start + best, float(np.sqrt(squared[best]))

    def distances(self, to: Vec3d) -> Any:
        return np.linalg.norm(self.cloud - as_array(to), axis=1)

    def face_normals(self) -> Any:
        a, b, c = (self.cloud[self.faces[:, k]] for k in range(3))
        return np.cross(b - a, c - a)

    def normalize(self) -> Any:
        return self.raw_normals / np.linalg.norm(self.raw_normals, axis=1)[:, None]

    def is_unit(self) -> Any:
        return np.abs(np.linalg.norm(self.normals, axis=1) - 1.0) < EPSILON

    @staticmethod
    def circle_circle(first: geometry.Circle, second: geometry.Circle) -> tuple[Any, Any]:
        """circle_circle's formula for two circles that cross."""
        c1, c2, r1, r2 = as_array(first.center), as_array(second.center), first.radius, second.radius
        d = c2 - c1
        w = float(np.linalg.norm(d))
        u = (r1 * r1 - r2 * r2) / (w * w + w * w) + 0.5
        foot = c1 + d * u
        across = np.cross(d, as_array(second.normal))
        across /= np.linalg.norm(across)
        half_chord = math.sqrt(r1 * r1 - (w * w) * (u * u))
        return foot + across * half_chord, foot - across * half_chord

    @staticmethod
    def plane_line(plane: geometry.Plane, a: Vec3d, b: Vec3d) -> Any:
        n, pa, pb = as_array(plane.normal), as_array(a), as_array(b)
        t = -(plane.distance + n @ pa) / (n @ (pb - pa))
        return pa + (pb - pa) * t


def time_calls(work: Callable[[], T], calls: int) -> tuple[T, float]:
    """work()'s result (of its last call) and the seconds per call of `calls` calls in a row,
    timed after a pause that lets the threads of the previous run go to sleep."""
    time.sleep(SETTLE_S)
    start = time.perf_counter()
    result = work()
    for _ in range(calls - 1):
        result = work()
    return result, (time.perf_counter() - start) / calls


@dataclass
class Timing:
    step: str
    quorvane_s: float
    numpy_s: float | None  # None: numpy is not installed
    calls: int  # above 1, the figures are per call


class Stopwatch:
    """Times each step of the demo, quorvane's way and numpy's, and prints the table."""

    def __init__(self, peer: NumpySide | None) -> None:
        self.peer = peer
        self.timings: list[Timing] = []

    def step(self, name: str, ours: Callable[[], T], theirs: Callable[[NumpySide], object] | None,
             calls: int = 1) -> T:
        """Times ours() and theirs(numpy side) by turns, so that both meet the same state of the
        machine: one untimed warm-up run each (first touches of memory, sleeping worker threads),
        then the fastest of TIMED_RUNS runs each. Returns ours()' result. With calls above 1 each
        run makes that many calls and the figures are per call."""
        peer = self.peer
        numpy_work = None if peer is None or theirs is None else (lambda: theirs(peer))

        def both_sides() -> tuple[T, float, float]:
            result, ours_run = time_calls(ours, calls)
            theirs_run = math.inf if numpy_work is None else time_calls(numpy_work, calls)[1]
            return result, ours_run, theirs_run

        result = both_sides()[0]  # the warm-up, not counted
        ours_s = theirs_s = math.inf
        for _ in range(TIMED_RUNS):
            result, ours_run, theirs_run = both_sides()
            ours_s, theirs_s = min(ours_s, ours_run), min(theirs_s, theirs_run)
        self.timings.append(Timing(name, ours_s, None if numpy_work is None else theirs_s, calls))
        return result

    def print_table(self) -> None:
        print(f"\n{'timings on this machine':56s} {'quorvane':>11s}  {'numpy':>13s}")
        for t in self.timings:
            label = t.step + (" (per call)" if t.calls > 1 else "")
            print(f"  {label:54s} {duration(t.quorvane_s):>11s}  {duration(t.numpy_s):>13s}")
        print(f"each figure: the fastest of {TIMED_RUNS} runs after a warm-up run, the two sides taking turns.")
        if self.peer:
            print("Both sides hand back arrays: quorvane's _array methods return buffers that numpy reads without")
            print("a copy, and rotated() a new list, as numpy's matrix product gives a new array.")


def duration(seconds: float | None) -> str:
    if seconds is None:
        return NO_NUMPY
    if seconds < 1e-3:
        return f"{seconds * 1e6:8.2f} us"
    return f"{seconds * 1e3:8.2f} ms"


def pool_size() -> str:
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        if os.environ.get(variable):
            return f"{variable}={os.environ[variable]}"
    return f"sized by the {os.process_cpu_count()} CPUs available"


def main() -> None:
    parser = argparse.ArgumentParser(description=TITLE)
    parser.add_argument("--points", type=int, default=10**6, help="points in the cloud (default 1,000,000)")
    parser.add_argument("--stride", type=int, default=16, help="coarse stride of the fast nearest-point search")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    if args.points < 4 or args.stride < 1:
        parser.error("--points must be at least 4 and --stride at least 1")
    n, stride = args.points, args.stride

    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    print(f"quorvane demo: a terrain scan of {n:,} points (seed {args.seed})")
    print(f"Python {sys.version.split()[0]}, GIL {gil}, {f'numpy {np.__version__}' if HAVE_NUMPY else NO_NUMPY}; "
          f"batch steps on the worker pool ({pool_size()})")
    VecList.empty().magnitude()  # the pool starts at the first batch step: not inside a timing

    # The patch in the site frame: from a numpy array when numpy is there, else from Vec3d objects.
    peer = NumpySide(n, args.seed) if HAVE_NUMPY else None
    watch = Stopwatch(peer)
    if peer:
        site = peer.site
        cloud = watch.step("load the cloud (VecList.from_array)", lambda: VecList.from_array(site),
                           lambda p: p.site.copy())
        raw_normals = VecList.from_array(peer.raw_normals)
    else:
        objects, raw_normals = terrain_without_numpy(n, args.seed)
        cloud = watch.step("load the cloud (VecList from Vec3d objects)", lambda: VecList(objects), None)
    columns, lines = raster(n)
    heights = cloud.dot_array(Vec3d.k())
    print(f"\nthe cloud        {n:,} points: {lines} scan lines of {columns}, {SPACING_M:g} m apart; "
          f"heights {min(heights):.2f} m .. {max(heights):.2f} m")

    # What the scanner delivered is that cloud seen from its turned frame; turn it back.
    to_site = Quat.from_axis_angle(SCANNER_AXIS, SCANNER_TURN.to_radians())
    original = cloud.list if not peer else []
    delivered = cloud.rotated(to_site.conjugate())  # a unit quaternion's conjugate turns the other way
    if peer:
        peer.delivered, peer.matrix = np.array(delivered), np.array(to_site.to_rotation_matrix())
    cloud = watch.step("rotate into the site frame (rotated)", lambda: delivered.rotated(to_site), NumpySide.rotate)
    print(f"rotation         {SCANNER_TURN!r} about {SCANNER_AXIS!r}:\n                 {to_site!r}")
    if peer:
        peer.cloud = np.asarray(cloud)  # zero-copy and read-only; it holds a read borrow while it lives
        drift = float(np.abs(peer.cloud - peer.site).max())
        apart = float(np.abs(peer.cloud - peer.rotate()).max())
        print(f"                 there and back moves no point by more than {drift:.1e} m; "
              f"numpy's matrix product differs by at most {apart:.1e} m")
    else:
        drift = max(abs(a - b) for p, q in zip(cloud, original) for a, b in zip(p.to_array(), q.to_array()))
        print(f"                 there and back moves no point by more than {drift:.1e} m")

    # The point nearest to a drone two metres over the ground: exact, then the strided search.
    x, y = round(0.61 * (columns - 1) * SPACING_M, 2), round(0.387 * (lines - 1) * SPACING_M, 2)
    drone = Vec3d(x, y, height(x, y, math.sin, math.cos) + 2.0)
    exact = watch.step("nearest point, stride 1 (minimum_distance_to)", lambda: cloud.minimum_distance_to(drone, 1),
                       lambda p: p.nearest(drone, 1))
    fast = watch.step(f"nearest point, stride {stride}", lambda: cloud.minimum_distance_to(drone, stride),
                      lambda p: p.nearest(drone, stride))
    looked_at = -(-n // stride) + min(2 * stride, n)
    outcome = "the same point" if fast[0] == exact[0] else f"{fast[1] - exact[1]:.4f} m farther than the nearest"
    print(f"nearest point    to the drone at {drone!r}:")
    print(f"                 stride 1: point {exact[0]:,} at {exact[1]:.4f} m, exact")
    print(f"                 stride {stride}: point {fast[0]:,} at {fast[1]:.4f} m, {outcome}, "
          f"from {looked_at:,} distances instead of {n:,}")
    print(f"                 the stride trades certainty for speed: it measures every {stride}th point, then the "
          f"{stride} on\n                 either side of the best of those, so it is exact when the nearest point "
          f"is that close\n                 in scan order, and may miss it when it lies on the next scan line")
    if peer:
        agrees = peer.nearest(drone, 1) == exact and peer.nearest(drone, stride) == fast
        print(f"                 numpy's two-pass search finds the same points at the same distances: {agrees}")

    # Ranges from the mast and unit normals of the ground, in batch.
    ranges = watch.step("ranges from the mast (distance_to_array)", lambda: cloud.distance_to_array(MAST),
                        lambda p: p.distances(MAST))
    near = sum(1 for r in cloud.distance_to_array(drone) if r < 10.0)
    print(f"ranges           from the mast at {MAST!r}: {min(ranges):.2f} m .. {max(ranges):.2f} m; "
          f"{near:,} points within 10 m of the drone")
    normals = watch.step("surface normals (normalize)", raw_normals.normalize, NumpySide.normalize)
    units = watch.step("unit normals (is_unit_array)", normals.is_unit_array, NumpySide.is_unit)
    steepest = math.degrees(math.acos(min(normals.dot_array(Vec3d.k()))))
    print(f"normals          {len(normals):,} surface normals, the ground at most {steepest:.1f} degrees steep; "
          f"is_unit holds for {sum(units):,}:\n                 the others' computed length is a few rounding steps "
          f"from 1, outside the strict |length - 1| < 2**-52")
    # A mesh over the complete scan lines, and the normals of its faces, gathered by index.
    faces = peer.faces if peer else raster_faces(columns, n // columns)
    mesh = watch.step("face normals (take_triangles, cross_elementwise)", lambda: face_normals(cloud, faces),
                      NumpySide.face_normals)
    tilted = math.degrees(math.acos(min(mesh.normalize().dot_array(Vec3d.k()))))
    centre, (least, greatest) = cloud.mean(), cloud.bounds()
    span = greatest - least
    print(f"mesh             {len(mesh):,} triangles over the complete scan lines, the steepest face "
          f"{tilted:.1f} degrees;\n                 the patch is centred (mean) at ({centre.x:.2f}, {centre.y:.2f}, "
          f"{centre.z:.2f}) m and spans {span.x:.2f} x {span.y:.2f} x {span.z:.2f} m (bounds)")
    if peer:
        peer.cloud = peer.site  # drops the view, and with it the read borrow on the cloud

    # Where is the drone? Its ranges to two beacons raised to its height are two circles in that
    # horizontal plane; they cross at two points, and the drone is at one of them.
    beacons = [b + Vec3d(0.0, 0.0, drone.z) for b in BEACONS]
    first, second = (geometry.Circle(b, b.distance_to(drone), Vec3d.k()) for b in beacons)
    crossing = watch.step("two range circles (circle_circle)", lambda: geometry.circle_circle(first, second),
                          lambda p: p.circle_circle(first, second), calls=SHORT_STEP_CALLS)
    miss = min(p.distance_to(drone) for p in crossing)
    print(f"trilateration    ranges {first.radius:.2f} m and {second.radius:.2f} m to two beacons cross at\n"
          f"                 {crossing[0]!r} and\n                 {crossing[1]!r};\n"
          f"                 the drone is {miss:.1e} m from one of them")

    # A plumb line from the drone onto the plane through three corners of the patch.
    ground = geometry.Plane.from_points(cloud[0], cloud[columns - 1], cloud[n - 1])
    below = drone - Vec3d.k()
    foot = watch.step("plumb line to the mean plane (plane_line)", lambda: geometry.plane_line(ground, drone, below),
                      lambda p: p.plane_line(ground, drone, below), calls=SHORT_STEP_CALLS)
    print(f"plumb line       meets the plane through three corners of the patch at {foot!r},\n"
          f"                 {drone.distance_to(foot):.2f} m below the drone")

    watch.print_table()


if __name__ == "__main__":
    main()
