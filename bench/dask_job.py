"""A point-cloud job on a Dask cluster of worker processes against the same job in one process.

The job: rotate every point by a quaternion, measure every rotated point's distance from a probe,
and find the rotated point nearest to it. The cloud is made by the workers themselves (a seeded
Dask random array, so nothing is shipped to them), and they send back only the nearest point and
a digest of each chunk's rotated points and distances. In this process the same cloud goes
through one VecList: from_array, rotated, distance_to_array, minimum_distance_to. The figures
are wall times of the best of --repeat runs (the cluster's with the cloud already made and kept
on the workers), and the ratio one process / Dask (above 1: Dask is faster); the same job also
runs on Dask's threaded scheduler in this process. All results are checked to be the same bits.

Needs dask.distributed (pip install ".[dask]"):
    python bench/dask_job.py [--points N] [--chunks C] [--workers W] [--repeat R]
"""

import argparse
import hashlib
import logging
import os
import sys
import time
from typing import Any

import dask
import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster, wait

import quorvane_dask
from quorvane import AngleDegrees, Quat, Vec3d, VecList

PROBE = Vec3d(0.25, -0.5, 0.125)
RADIUS = 5.0
TURN = Quat.from_axis_angle(Vec3d(0.0, 0.6, 0.8), AngleDegrees(40.0).to_radians())


def digest(block: np.ndarray) -> np.ndarray:
    """A chunk's bits, summarised where the chunk lives: one row of 32 bytes."""
    return np.frombuffer(hashlib.sha256(np.ascontiguousarray(block).tobytes()).digest(), dtype=np.uint8)[None, :]


def digests(array: Any) -> Any:
    return array.map_blocks(digest, chunks=(1, 32), dtype=np.uint8, drop_axis=list(range(1, array.ndim)),
                            new_axis=1)


def cloud(points: int, chunks: int) -> Any:
    rows = -(-points // chunks)
    return da.random.default_rng(7).normal(0.0, 10.0, size=(points, 3), chunks=(rows, 3))


def job(points: Any, check: bool = False, **scheduler: Any) -> tuple[Any, ...]:
    """The nearest rotated point and how many lie within RADIUS of the probe; with check, also
    digests of the rotated points and their distances (not timed: hashing costs more than the job)."""
    turned = quorvane_dask.rotated(points, TURN)
    distances = quorvane_dask.distance_to(turned, PROBE)
    wanted = [quorvane_dask.nearest(turned, PROBE), (distances < RADIUS).sum()]
    return dask.compute(*wanted, *([digests(turned), digests(distances)] if check else []), **scheduler)


def in_one_process(array: np.ndarray) -> tuple[Any, ...]:
    turned = VecList.from_array(array).rotated(TURN)
    distances = np.asarray(turned.distance_to_array(PROBE))
    return turned.minimum_distance_to(PROBE, 1), (distances < RADIUS).sum(), np.asarray(turned), distances


def best_of(repeat: int, run: Any) -> tuple[float, Any]:
    times, result = [], None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - start)
    return min(times), result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=10_000_000)
    parser.add_argument("--chunks", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print(f"{args.points:,} points in {args.chunks} chunks; {args.workers} worker processes of one thread; "
          f"Python {sys.version.split()[0]}, {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}")

    points = cloud(args.points, args.chunks)
    array = points.compute(scheduler="sync")
    alone_s, (alone_nearest, alone_within, alone_turned, alone_distances) = best_of(
        args.repeat, lambda: in_one_process(array))
    in_memory = da.from_array(array, chunks=points.chunks)
    threads_s, threaded = best_of(args.repeat, lambda: job(in_memory, scheduler="threads"))

    start = time.perf_counter()
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=":0",
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        quorvane_dask.connect(client)
        started_s = time.perf_counter() - start
        kept = client.persist(points)  # the cloud is made where it is kept, before the clock starts
        wait(kept, timeout=600)
        cluster_s, timed = best_of(args.repeat, lambda: job(kept))
        nearest, within, turned_digests, distance_digests = job(kept, check=True)

    offsets = np.cumsum((0,) + points.chunks[0])
    same = (timed == threaded == (nearest, within) == (alone_nearest, alone_within)
            and all(digest(alone_turned[a:b]).tobytes() == turned_digests[i].tobytes()
                    and digest(alone_distances[a:b]).tobytes() == distance_digests[i].tobytes()
                    for i, (a, b) in enumerate(zip(offsets, offsets[1:]))))
    print(f"one process, one VecList     {alone_s * 1e3:8.0f} ms")
    print(f"dask, threaded scheduler     {threads_s * 1e3:8.0f} ms   one process / this: {alone_s / threads_s:.2f}")
    print(f"dask, cluster of processes   {cluster_s * 1e3:8.0f} ms   one process / this: {alone_s / cluster_s:.2f} "
          f"(the cluster took {started_s:.1f} s to start)")
    print(f"nearest point {nearest[0]:,} at {nearest[1]!r}, {within:,} points within {RADIUS} of the probe; "
          f"the cluster's bits "
          f"{'equal' if same else 'DIFFER from'} one process's")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
