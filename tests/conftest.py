"""Helpers shared by the Python tests: exact float comparison, thread races, and the amount of
work that the long tests do."""

from __future__ import annotations

import faulthandler
import math
import os
import signal
import struct
import sys
import threading
from collections.abc import Callable, Iterable, Sequence
from typing import Any

import pytest

free_threaded = not getattr(sys, "_is_gil_enabled", lambda: True)()
# ThreadSanitizer ends a forked child of a multi-threaded process as soon as it starts a thread,
# which a child that uses the worker pool must do.
skip_under_thread_sanitizer = pytest.mark.skipif("TSAN_OPTIONS" in os.environ,
                                                 reason="ThreadSanitizer cannot follow a forked child's new threads")
requires_free_threading = pytest.mark.skipif(not free_threaded, reason="needs the free-threaded interpreter")

# Under a sanitizer every call is many times slower. Those runs set QUORVANE_TEST_WORK to a
# factor between 0 and 1 that shrinks the large inputs and the long loops (which are long only to
# make a race likely), and stretches the time limits by the same factor.
WORK_FACTOR = float(os.environ.get("QUORVANE_TEST_WORK", "1"))
if not 0 < WORK_FACTOR <= 1:
    raise ValueError(f"QUORVANE_TEST_WORK must lie in (0, 1], not {WORK_FACTOR}")


# ---- the watchdog ----

# Every test runs under a watchdog, so that one that hangs on a thread or a forked child fails
# with a message instead of stalling the run. After its time (300 s, or the seconds given with
# @pytest.mark.watchdog(seconds), stretched for slow runs) the main thread gets a failure raised
# wherever it waits; should it be stuck where Python cannot reach it, faulthandler prints every
# thread's stack a minute later and ends the run.
WATCHDOG_SECONDS = 300.0


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "watchdog(seconds): the time after which a hanging test fails")


@pytest.fixture(autouse=True)
def watchdog(request: pytest.FixtureRequest):
    marker = request.node.get_closest_marker("watchdog")
    limit = marker.args[0] if marker else WATCHDOG_SECONDS
    seconds = limit / WORK_FACTOR
    armed = hasattr(signal, "setitimer") and threading.current_thread() is threading.main_thread()
    if armed:
        def expire(signum: int, frame: Any) -> None:
            pytest.fail(f"watchdog: the test ran longer than {limit:g} s (a thread or a forked child is stuck)",
                        pytrace=False)

        previous = signal.signal(signal.SIGALRM, expire)
        signal.setitimer(signal.ITIMER_REAL, seconds)
    faulthandler.dump_traceback_later(seconds + 60, exit=True)
    try:
        yield
    finally:
        faulthandler.cancel_dump_traceback_later()
        if armed:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)


def scaled(count: int, least: int = 1) -> int:
    """`count` in a normal run; the share of it that a slow run asks for, but at least `least`."""
    return max(least, round(count * WORK_FACTOR))


def bits(value: float) -> int:
    """The IEEE-754 bit pattern of a double: tells -0.0 from 0.0 and one NaN from another."""
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def same_float(actual: float, expected: float) -> bool:
    """Exact equality of doubles by bits, but any NaN matches any NaN (the sign and payload of
    a NaN made by arithmetic are the hardware's choice)."""
    if math.isnan(actual) or math.isnan(expected):
        return math.isnan(actual) and math.isnan(expected)
    return bits(actual) == bits(expected)


def assert_floats(actual: Iterable[float], expected: Iterable[float]) -> None:
    actual, expected = list(actual), list(expected)
    assert len(actual) == len(expected), (actual, expected)
    for a, e in zip(actual, expected):
        assert same_float(a, e), f"{actual!r} != {expected!r} ({a.hex()} vs {e.hex()})"


def assert_bits(actual: Sequence[float], expected: Sequence[float]) -> None:
    """Exact equality including NaN payloads."""
    assert [bits(a) for a in actual] == [bits(e) for e in expected], (actual, expected)


def race(workers: Sequence[Callable[[], Any]], timeout: float = 120.0) -> list[Any]:
    """Starts one thread per callable, released together at a barrier; returns their results
    and re-raises the first exception any of them raised. A thread still running after
    `timeout` seconds fails the test."""
    barrier = threading.Barrier(len(workers))
    results: list[Any] = [None] * len(workers)
    errors: list[BaseException] = []

    def run(index: int, work: Callable[[], Any]) -> None:
        try:
            barrier.wait()
            results[index] = work()
        except BaseException as error:  # noqa: BLE001 - handed to the test thread
            errors.append(error)

    threads = [threading.Thread(target=run, args=(i, w), daemon=True) for i, w in enumerate(workers)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout / WORK_FACTOR)
        assert not thread.is_alive(), "a racing thread did not finish"
    if errors:
        raise errors[0]
    return results


def toggle_racing_readers(toggle: Callable[[int], None], read: Callable[[], None], readers: int = 3,
                          rounds: int = 300_000) -> list[str]:
    """One writer calls toggle(n) for n = 0, 1, 2, ... while `readers` threads call read(), each
    for at most `rounds` rounds and at least 500, stopping once 20 borrow conflicts were seen.
    The only failures allowed are the two borrow errors (the writer's "Already borrowed", a
    reader's "Already mutably borrowed"); returns who met one, in order."""
    finished: list[None] = []
    conflicts: list[str] = []  # appended to by every thread; list.append is thread-safe

    def writer() -> None:
        n = 0
        while len(finished) < readers:
            try:
                toggle(n)
                n += 1
            except RuntimeError as error:
                assert str(error) == "Already borrowed"
                conflicts.append("writer")

    def reader() -> None:
        try:
            for round_number in range(scaled(rounds, 2000)):
                try:
                    read()
                except RuntimeError as error:
                    assert str(error) == "Already mutably borrowed"
                    conflicts.append("reader")
                if round_number >= 500 and len(conflicts) >= 20:
                    break
        finally:
            finished.append(None)

    race([writer] + [reader] * readers)
    return conflicts
