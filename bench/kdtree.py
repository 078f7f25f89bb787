"""quorvane.spatial.KdTree beside scipy's cKDTree and pykdtree, measured in one run.

Two clouds: points uniform in a cube, and a surface scan (a raster of rolling ground with a
little noise, as examples/demo.py makes it). For each it times the build, nearest-neighbour
queries for as many query points as the cloud has (half near the cloud, half spread over its
box), the 8 nearest, and counting the points within a radius; each figure is the fastest of
several repeats, and ratio = quorvane / peer, so below 1 means quorvane is faster. The peers
run on every core too (workers=-1; pykdtree uses OpenMP). A few brute-force
VecList.minimum_distance_to(p, 1) calls give the scan it replaces, per query.

    python bench/kdtree.py [--points N] [--repeat R] [--seed S]

Run it where scipy is installed (the GIL environment: see bench/README.md); pykdtree is
optional. Unset OPENBLAS_* first; the machine's load changes the figures, so note `uptime`.
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import time
from collections.abc import Callable

import numpy as np

from quorvane import Vec3d, VecList
from quorvane.spatial import KdTree

try:
    from scipy.spatial import cKDTree
except ImportError:  # pragma: no cover - the bench says so
    cKDTree = None
try:
    from pykdtree.kdtree import KDTree as PyKDTree
except ImportError:
    PyKDTree = None


def fastest(action: Callable[[], object], repeat: int) -> float:
    best = math.inf
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def uniform_cloud(n: int, rng: np.random.Generator) -> np.ndarray:
    return rng.uniform(-50.0, 50.0, size=(n, 3))


def scan_cloud(n: int, rng: np.random.Generator) -> np.ndarray:
    columns = math.isqrt(n - 1) + 1
    index = np.arange(n)
    x = (index % columns) * 0.1
    y = (index // columns) * 0.1
    z = 1.5 * np.sin(x / 9.0) * np.cos(y / 13.0) + 0.4 * np.sin((x + y) / 4.3) + rng.normal(0.0, 0.02, n)
    return np.column_stack([x, y, z])


def queries_for(points: np.ndarray, rng: np.random.Generator) -> np.ndarray:
    n = len(points)
    near = points[rng.integers(0, n, n // 2)] + rng.normal(0.0, 0.05, (n // 2, 3))
    low, high = points.min(axis=0), points.max(axis=0)
    spread = rng.uniform(low, high, size=(n - n // 2, 3))
    return np.concatenate([near, spread])


def to_veclist(array: np.ndarray) -> VecList:
    return VecList.from_array(np.ascontiguousarray(array))


def measure(name: str, points: np.ndarray, queries: np.ndarray, radius: float, repeat: int) -> None:
    ours_points, ours_queries = to_veclist(points), to_veclist(queries)
    rows: list[tuple[str, float, dict[str, float]]] = []
    tree = KdTree(ours_points)
    peers_build: dict[str, float] = {}
    peers_nearest: dict[str, float] = {}
    peers_k: dict[str, float] = {}
    peers_count: dict[str, float] = {}
    if cKDTree is not None:
        peer = cKDTree(points)
        peers_build["cKDTree"] = fastest(lambda: cKDTree(points), repeat)
        peers_nearest["cKDTree"] = fastest(lambda: peer.query(queries, workers=-1), repeat)
        peers_k["cKDTree"] = fastest(lambda: peer.query(queries, k=8, workers=-1), repeat)
        peers_count["cKDTree"] = fastest(
            lambda: peer.query_ball_point(queries, radius, return_length=True, workers=-1), repeat)
        # The same answers, as a check that both sides did the same work.
        distances, _ = peer.query(queries[:1000], workers=-1)
        assert np.array_equal(distances, np.asarray(tree.nearest_array(to_veclist(queries[:1000]))[1]))
    if PyKDTree is not None:
        other = PyKDTree(points)
        peers_build["pykdtree"] = fastest(lambda: PyKDTree(points), repeat)
        peers_nearest["pykdtree"] = fastest(lambda: other.query(queries), repeat)
        peers_k["pykdtree"] = fastest(lambda: other.query(queries, k=8), repeat)
    rows.append(("build", fastest(lambda: KdTree(ours_points), repeat), peers_build))
    rows.append(("nearest", fastest(lambda: tree.nearest_array(ours_queries), repeat), peers_nearest))
    rows.append(("k=8", fastest(lambda: tree.k_nearest_array(ours_queries, 8), repeat), peers_k))
    rows.append(("count_within", fastest(lambda: tree.count_within_array(ours_queries, radius), repeat),
                 peers_count))
    few = [Vec3d(*row) for row in queries[:5].tolist()]
    scan = fastest(lambda: [ours_points.minimum_distance_to(p, 1) for p in few], 1) / len(few)
    per_query = rows[1][1] / len(queries)

    print(f"\n{name}: {len(points):,} points, {len(queries):,} queries, radius {radius}")
    print(f"  {'step':<14}{'quorvane s':>12}" + "".join(f"{peer + ' s':>14}{'ratio':>8}" for peer in peers_build))
    for step, ours, peers in rows:
        cells = "".join(
            f"{peers[peer]:>14.4f}{ours / peers[peer]:>8.2f}" if peer in peers else f"{'-':>14}{'-':>8}"
            for peer in peers_build)
        print(f"  {step:<14}{ours:>12.4f}{cells}")
    print(f"  brute-force minimum_distance_to: {scan * 1e3:.2f} ms per query; the tree's nearest_array: "
          f"{per_query * 1e6:.3f} us per query ({scan / per_query:,.0f}x)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--points", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()
    rng = np.random.default_rng(arguments.seed)
    load = os.getloadavg()
    print(f"Python {sys.version.split()[0]}, GIL {'enabled' if getattr(sys, '_is_gil_enabled', lambda: True)() else 'disabled'}, "
          f"{os.cpu_count()} CPUs, load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    print(f"peers: cKDTree {'yes' if cKDTree else 'missing'}, pykdtree {'yes' if PyKDTree else 'missing'}")
    for name, make, radius in (("uniform cube", uniform_cloud, 2.0), ("surface scan", scan_cloud, 0.3)):
        points = make(arguments.points, rng)
        measure(name, points, queries_for(points, rng), radius, arguments.repeat)
    load = os.getloadavg()
    print(f"\nload average at the end {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


if __name__ == "__main__":
    main()
