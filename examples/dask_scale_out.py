"""One point-cloud job split over worker processes with Dask, checked against one process.

Written as a script is usually written: the quorvane classes are imported at the top and used as
globals and in annotations by the functions the workers run. That needs one call to
quorvane_dask.connect(client), which lets every process of the cluster find the classes by the
names they report, so that Dask sends the functions with them by reference.

A seeded cloud is cut into chunks; each chunk travels to a worker process as a pickled VecList
(with pickle protocol 5, which Dask uses, its block of doubles goes beside the pickle rather
than into it). Every worker finds its chunk's point nearest to a probe, its farthest point and
the sum of its distances, and sends back its chunk rotated by a quaternion. The pieces are then
reduced to the nearest and farthest point of the whole cloud and its mean distance, and the
rotated chunks are joined; the same cloud as a Dask array goes through quorvane_dask's ready-made
nearest(). Everything is compared with the same computation in this process: the nearest and
farthest points and the rotated cloud must agree to the bit, the mean to within the rounding of
summing in another order.

Needs dask.distributed (pip install ".[dask]"):
    python examples/dask_scale_out.py [--points N] [--chunks C] [--workers W] [--seed S]
"""

import argparse
import copy
import importlib
import logging
import math
import random
import struct
import sys
import time
from dataclasses import dataclass
from typing import Any

import quorvane_dask
from quorvane import AngleDegrees, Quat, Vec3d, VecList

TITLE = "One point-cloud job split over worker processes with Dask, checked against one process."
PROBE = Vec3d(12.5, -3.0, 1.75)
TURN = Quat.from_axis_angle(Vec3d(0.0, 0.6, 0.8), AngleDegrees(40.0).to_radians())


@dataclass(frozen=True)
class Summary:
    """What one chunk tells about itself; indices count from the start of the whole cloud."""

    nearest: tuple[int, float]
    farthest: tuple[int, float]
    distance_sum: float
    count: int


def cloud(points: int, seed: int) -> list[Vec3d]:
    """Points of a noisy sphere shell of radius 20 around (10, 0, 0), in a seeded order."""
    rng = random.Random(seed)
    centre = Vec3d(10.0, 0.0, 0.0)
    shell = []
    for _ in range(points):
        direction = Vec3d(rng.gauss(0, 1), rng.gauss(0, 1), rng.gauss(0, 1)).normalize()
        shell.append(centre + direction * (20.0 + rng.gauss(0.0, 0.05)))
    return shell


def summarise(chunk: VecList, offset: int, probe: Vec3d) -> Summary:
    """The per-chunk step; it runs in a worker process, on the chunk unpickled there."""
    index, distance = chunk.minimum_distance_to(probe, 1)
    distances = chunk.distance_to(probe)
    far = max(range(len(distances)), key=distances.__getitem__)  # the first of equal maxima
    return Summary((offset + index, distance), (offset + far, distances[far]), math.fsum(distances), len(distances))


def turned(chunk: VecList, quat: Quat) -> VecList:
    """A rotated copy of the chunk, made in the worker and sent back pickled. The chunk itself
    stays as it is: the worker keeps it for whatever task needs it next."""
    if not isinstance(chunk, VecList):
        raise TypeError(f"expected a VecList, got {type(chunk).__name__}")
    rotated = copy.copy(chunk)
    rotated.rotate(quat)
    return rotated


def reduce(summaries: list[Summary]) -> Summary:
    """Nearest: smallest distance, then lowest index; farthest: largest distance, then lowest index."""
    nearest = min((s.nearest for s in summaries), key=lambda pair: (pair[1], pair[0]))
    farthest = min((s.farthest for s in summaries), key=lambda pair: (-pair[1], pair[0]))
    return Summary(nearest, farthest, math.fsum(s.distance_sum for s in summaries), sum(s.count for s in summaries))


def bits(points: VecList) -> bytes:
    """Every stored bit, to compare two lists exactly (-0.0 and NaN payloads included)."""
    return b"".join(struct.pack("<3d", *p.to_array()) for p in points)


def needed(module: str) -> Any:
    """A module of Dask, used untyped: its Client answers with futures or coroutines depending on
    a flag, which type checkers cannot follow; what it hands back is annotated on arrival."""
    try:
        return importlib.import_module(module)
    except ModuleNotFoundError:
        sys.exit(f'{module} is not installed for this interpreter: pip install "quorvane[dask]"')


def main() -> int:
    parser = argparse.ArgumentParser(description=TITLE)
    parser.add_argument("--points", type=int, default=400_000)
    parser.add_argument("--chunks", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2, help="worker processes")
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()
    if args.points < args.chunks or args.chunks < 1 or args.workers < 1:
        parser.error("need at least one chunk and one worker, and no more chunks than points")

    distributed, dask_array, numpy = needed("dask.distributed"), needed("dask.array"), needed("numpy")
    points = cloud(args.points, args.seed)
    bounds = [args.points * c // args.chunks for c in range(args.chunks + 1)]
    chunks = [VecList(points[start:end]) for start, end in zip(bounds, bounds[1:])]
    print(f"{args.points:,} points in {args.chunks} chunks over {args.workers} worker processes "
          f"(Python {sys.version.split()[0]})")

    start = time.perf_counter()
    with distributed.LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                  dashboard_address=":0", silence_logs=logging.ERROR) as cluster, \
            distributed.Client(cluster) as client:
        quorvane_dask.connect(client)  # here, on the scheduler and on every worker
        ready = time.perf_counter()
        shipped = client.scatter(chunks)  # each chunk pickled once, to the worker that keeps it
        summaries: list[Summary] = client.gather(client.map(summarise, shipped, bounds[:-1], probe=PROBE))
        rotated: list[VecList] = client.gather(client.map(turned, shipped, quat=TURN))
        as_array = dask_array.from_array(numpy.asarray(VecList(points)), chunks=(bounds[1], 3))
        array_nearest: tuple[int, float] = client.compute(quorvane_dask.nearest(as_array, PROBE)).result()
        workers: int = len(client.scheduler_info()["workers"])
        done = time.perf_counter()
    spread = reduce(summaries)

    single_start = time.perf_counter()
    everything = VecList(points)
    alone = summarise(everything, 0, PROBE)  # the same answers from the whole cloud, here
    everything.rotate(TURN)
    single_s = time.perf_counter() - single_start
    joined = VecList.empty()
    for piece in rotated:
        joined.extend(piece)

    mean, alone_mean = spread.distance_sum / spread.count, alone.distance_sum / alone.count
    checks = {  # what must hold, and how it is said when it does
        "nearest point": (spread.nearest == alone.nearest, "the same index and distance as one process"),
        "farthest point": (spread.farthest == alone.farthest, "the same index and distance as one process"),
        "mean distance": (math.isclose(mean, alone_mean, rel_tol=1e-13), "within 1e-13 of one process"),
        "rotated cloud": (bits(joined) == bits(everything), "the same bits as one process"),
        "array nearest": (array_nearest == alone.nearest, "quorvane_dask.nearest agrees with one process"),
    }
    print(f"nearest point    {spread.nearest[0]:,} at {spread.nearest[1]!r} from {PROBE!r}")
    print(f"farthest point   {spread.farthest[0]:,} at {spread.farthest[1]!r}")
    print(f"mean distance    {mean!r} (one process: {alone_mean!r})")
    print(f"rotated cloud    {len(joined):,} points back from {workers} workers, first {joined[0]!r}")
    for name, (passed, agreement) in checks.items():
        print(f"check            {name}: {agreement if passed else 'DIFFERS from one process'}")
    job_s = done - ready
    print(f"took             {(ready - start) * 1e3:.0f} ms to start the cluster, {job_s * 1e3:.0f} ms for the job; "
          f"{single_s * 1e3:.0f} ms in one process"
          + (" (at this size, shipping the chunks costs more than the workers save)" if job_s > single_s else ""))
    return 0 if all(passed for passed, _ in checks.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
