"""What small batch steps cost: the hand-off from a Python thread to the worker pool and back.

A step over two or more items always goes through the pool, so a small list pays for handing its
step to a worker, the worker's wake-up and the completion signal. This prints, in one run:

- the extra cost of one step over 2 elements against the same call over 1 element (which runs on
  the calling thread): the medians of single calls, in each of five runs;
- many small clouds (4,000 calls on lists of 100 points) in one thread, with the default pool
  and with one worker, each in a fresh process;
- two Python threads making batch calls on 64-element lists, as throughput against one thread,
  beside the same ratio for plain Vec3d arithmetic (what the interpreter itself allows);
- the CPU time the process uses over one second of sleep right after a burst of steps (idle
  workers must not keep spinning).

    python bench/handoff.py [--repeat N] [--workers N [N ...]] [--busy N]

With --busy N it keeps N cores busy with other processes (`while True: pass`) meanwhile.

It is also run at the end of bench/batch.py.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time
from collections.abc import Callable

from scalar import quorvane_workload, wall_time
from single_calls import busy_cores, compare, load_note

from quorvane import Quat, Vec3d, VecList

HERE = os.path.dirname(os.path.abspath(__file__))


def points(n: int, seed: int = 1) -> VecList:
    return VecList([Vec3d((i * 7 + seed) % 13 - 6.5, (i * 3 + seed) % 11 - 5.0, i % 5 + 0.25) for i in range(n)])


def step_over_two_minus_one(calls: int = 3000) -> tuple[float, float, float]:
    """Medians of single calls of magnitude() over 2 and over 1 element, the two taking turns."""
    one, two = points(1), points(2)
    two_us, one_us = compare(two.magnitude, one.magnitude, calls)
    return two_us.median - one_us.median, two_us.median, one_us.median


def small_clouds_ms(calls: int = 4000) -> float:
    """4,000 calls on clouds of 100 points, the way a per-frame loop makes them."""
    clouds = [points(100, seed) for seed in range(40)]
    w = Vec3d(0.5, -1.25, 2.0)
    quat = Quat(0.5, 0.5, -0.5, 0.5)
    start = time.perf_counter_ns()
    for call in range(calls // 4):
        cloud = clouds[call % len(clouds)]
        cloud - w
        cloud.rotate(quat)
        cloud.distance_squared(w)
        cloud * 1.5
    return (time.perf_counter_ns() - start) / 1e6


def threads_throughput_ratio(work: Callable[[int], None], count: int) -> float:
    """Throughput of two threads each doing `count` rounds against one thread doing them."""
    one, two = [], []
    for _ in range(5):
        one.append(wall_time(work, 1, count))
        two.append(wall_time(work, 2, count))
    return 2 * statistics.median(one) / statistics.median(two)


def small_batch_calls(count: int) -> None:
    vectors = points(64)
    w = Vec3d(0.5, -1.25, 2.0)
    for _ in range(count):
        vectors + w
        vectors.magnitude()


def idle_cpu_ms_after_burst() -> float:
    """CPU milliseconds of the whole process over one second of sleep after a burst of steps."""
    vectors = points(64)
    for _ in range(20_000):
        vectors.magnitude()
    before = resource.getrusage(resource.RUSAGE_SELF)
    time.sleep(1.0)
    after = resource.getrusage(resource.RUSAGE_SELF)
    return ((after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)) * 1e3


# ---- fresh processes, one per pool size ----

CHILD_FIGURES = {
    "small_clouds_ms": small_clouds_ms,
    "idle_cpu_ms": idle_cpu_ms_after_burst,
}


def in_child(figure: str, workers: str | None) -> float:
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    if workers is not None:
        env["RAYON_NUM_THREADS"] = workers
    env["PYTHONPATH"] = os.pathsep.join([HERE, *filter(None, [env.get("PYTHONPATH")])])
    code = f"import handoff, json; handoff.small_clouds_ms(); print(json.dumps(handoff.CHILD_FIGURES[{figure!r}]()))"
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return float(json.loads(done.stdout))


def report(repeat: int, worker_settings: list[str | None]) -> dict[str, float]:
    figures: dict[str, float] = {}

    def show(name: str, value: float, unit: str, target: str) -> None:
        figures[name] = value
        print(f"{name:58s} {value:9.2f} {unit:3s} ({target})")

    label = os.environ.get("RAYON_NUM_THREADS", "default")
    print(f"\nhand-off to the pool (this process: RAYON_NUM_THREADS={label}; medians of {repeat} where repeated)")
    for run in range(1, 6):
        extra, two, one = step_over_two_minus_one()
        show(f"run {run}: step over 2 elements minus over 1 ({two:.2f} - {one:.2f})", extra, "us",
             "target <= 1.0 in every run")
    show("two threads, 64-element batch calls, throughput vs one",
         threads_throughput_ratio(small_batch_calls, 20_000), "x", "target >= 1.0")
    show("two threads, Vec3d arithmetic, throughput vs one",
         threads_throughput_ratio(quorvane_workload, 50_000), "x", "what the interpreter allows")
    for workers in worker_settings:
        name = "default pool" if workers is None else f"RAYON_NUM_THREADS={workers}"
        clouds = statistics.median(in_child("small_clouds_ms", workers) for _ in range(repeat))
        show(f"4,000 calls on clouds of 100 points, {name}", clouds, "ms", "default no slower than 1")
    for workers in worker_settings:
        name = "default pool" if workers is None else f"RAYON_NUM_THREADS={workers}"
        idle = statistics.median(in_child("idle_cpu_ms", workers) for _ in range(repeat))
        show(f"CPU over 1 s of sleep after a burst, {name}", idle, "ms", "target <= 10")
    return figures


def main() -> None:
    parser = argparse.ArgumentParser(description="the cost of handing small batch steps to the pool")
    parser.add_argument("--repeat", type=int, default=5, help="fresh processes per figure (the median is kept)")
    parser.add_argument("--workers", nargs="+", default=["default", "1", "8"],
                        help="pool sizes for the per-process figures ('default': RAYON_NUM_THREADS unset)")
    parser.add_argument("--busy", type=int, default=0, metavar="N",
                        help="keep N cores busy with other processes while measuring")
    args = parser.parse_args()
    print(f"{load_note()}; other processes keeping a core busy: {args.busy}")
    with busy_cores(args.busy):
        report(args.repeat, [None if w == "default" else w for w in args.workers])


if __name__ == "__main__":
    main()
