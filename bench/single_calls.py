"""Timing single calls: the distribution a user's calls see, not the best case.

Each call is timed alone (perf_counter_ns around it), many in a row, and summarised as the
median with the 10th and 90th percentiles. Two callables compared in one run take turns in
blocks, so that a change of load during the run falls on both alike.
"""

from __future__ import annotations

import contextlib
import os
import subprocess
import sys
import time
from collections.abc import Callable, Iterator
from dataclasses import dataclass


@dataclass(frozen=True)
class Spread:
    """Microseconds per call: the median and the 10th and 90th percentiles."""

    median: float
    p10: float
    p90: float

    def cells(self) -> str:
        return f"{self.median:10.2f} {self.p10:8.2f} {self.p90:8.2f}"


def spread(samples_ns: list[int]) -> Spread:
    ordered = sorted(samples_ns)
    last = len(ordered) - 1

    def at(fraction: float) -> float:
        return ordered[round(fraction * last)] / 1e3

    return Spread(at(0.5), at(0.1), at(0.9))


def time_calls(call: Callable[[], object], calls: int, into: list[int]) -> None:
    clock = time.perf_counter_ns
    for _ in range(calls):
        start = clock()
        call()
        into.append(clock() - start)


def compare(first: Callable[[], object], second: Callable[[], object], calls: int,
            blocks: int = 10) -> tuple[Spread, Spread]:
    """`calls` single calls of each, alternating in `blocks` blocks, after a short warm-up."""
    for call in (first, second):
        time_calls(call, max(1, calls // 20), [])
    first_ns: list[int] = []
    second_ns: list[int] = []
    per_block = max(1, calls // blocks)
    while len(first_ns) < calls:
        count = min(per_block, calls - len(first_ns))
        time_calls(first, count, first_ns)
        time_calls(second, count, second_ns)
    return spread(first_ns), spread(second_ns)


@contextlib.contextmanager
def busy_cores(count: int) -> Iterator[None]:
    """`count` other processes that keep a core busy each for the duration, then are killed."""
    spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]
    try:
        time.sleep(0.2)  # let them start spinning before anything is measured
        yield
    finally:
        for spinner in spinners:
            spinner.kill()
        for spinner in spinners:
            spinner.wait()


def load_note() -> str:
    one, five, _ = os.getloadavg()
    return f"load average {one:.2f} (1 min), {five:.2f} (5 min) on {os.cpu_count()} CPUs"
