"""Vec3d shared between threads: readers proceed together, a writer fails fast, nothing tears."""

from __future__ import annotations

import pickle
import threading
import time
from collections import Counter
from collections.abc import Callable
from functools import partial
from typing import TypeVar

from conftest import race, requires_free_threading, scaled

from quorvane import Vec3d

pytestmark = requires_free_threading

ROUNDS = 20_000
T = TypeVar("T")


def test_many_readers_always_succeed() -> None:
    shared = Vec3d(1, 2, 3)
    other = Vec3d(4, 5, 6)

    def read() -> int:
        for _ in range(ROUNDS):
            assert shared.dot(other) == 32.0
            assert shared == Vec3d(1, 2, 3)
            assert repr(shared) == "Vec3d(1, 2, 3)"
            assert (shared + other).x == 5.0
        return ROUNDS

    assert race([read] * 8) == [ROUNDS] * 8


# Two values that differ in every component, so that any mix of them matches neither.
BEFORE, AFTER = Vec3d(1.0, 2.0, 3.0), Vec3d(-4.5, 5.25, -6.125)


class ComponentReader:
    """A divisor whose conversion to float reads the dividend's components one property at a
    time, offering the processor to other threads between them. The division holds the dividend
    for reading while it converts the divisor, so those three reads and the quotient all see one
    value however long the conversion takes."""

    def __init__(self, vector: Vec3d) -> None:
        self.vector = vector
        self.components: list[float] = []

    def __float__(self) -> float:
        self.components = []
        for name in ("x", "y", "z"):
            self.components.append(getattr(self.vector, name))
            time.sleep(0)
        return 1.0


def read_while_holding(v: Vec3d) -> list[float]:
    divisor = ComponentReader(v)
    quotient = v / divisor  # type: ignore[operator]
    return divisor.components + quotient.to_array()


# Readers that take all three components under one borrow. The first four take them at once; a
# Vec3d fits in one cache line, so a missing flag rarely shows there. The last holds its borrow
# while it lets other threads run, so a write that ignored the flag would land inside it.
READINGS: dict[str, Callable[[Vec3d], object]] = {
    "repr": repr,
    "hash": hash,
    "to_array": Vec3d.to_array,
    "pickle": partial(pickle.dumps, protocol=5),
    "held": read_while_holding,
}
BUSY_TEXTS = {"Already mutably borrowed",
              "unsupported operand type(s) for /: 'builtins.Vec3d' and 'ComponentReader'"}


def test_a_reader_sees_one_whole_value_or_the_other_while_a_writer_swaps_them() -> None:
    shared = Vec3d(*BEFORE.to_array())
    states = [BEFORE.__reduce_ex__(2)[2], AFTER.__reduce_ex__(2)[2]]
    expected = {name: (read(BEFORE), read(AFTER)) for name, read in READINGS.items()}
    assert all(before != after for before, after in expected.values())
    readers, attempts, rounds = 3, scaled(20_000, least=2000), scaled(20_000, least=2000)
    # Three steps, all bounded: each reader reads once before the writer starts, then readers and
    # writer race for a fixed number of attempts each, then the writer leaves AFTER in place
    # unopposed and each reader reads once more. So every reader sees both values for certain.
    step = threading.Barrier(readers + 1)

    def in_steps(work: Callable[[], T]) -> Callable[[], T]:
        def run() -> T:
            try:
                return work()
            except BaseException:
                step.abort()  # the others then fail at their next step instead of waiting forever
                raise
        return run

    def read() -> tuple[Counter[tuple[str, int]], list[tuple[str, object]], set[str]]:
        seen: Counter[tuple[str, int]] = Counter()  # (reading, which value) -> how often
        mixed: list[tuple[str, object]] = []
        conflicts: set[str] = set()

        def attempt(name: str) -> None:
            try:
                result = READINGS[name](shared)
            except (RuntimeError, TypeError) as error:  # TypeError: the division met a writer
                conflicts.add(str(error))
                return
            if result in expected[name]:
                seen[name, expected[name].index(result)] += 1
            else:
                mixed.append((name, result))

        names = list(READINGS)
        for name in names:
            attempt(name)
        step.wait()
        for n in range(attempts):
            attempt(names[n % len(names)])
        step.wait()
        step.wait()
        for name in names:
            attempt(name)
        return seen, mixed, conflicts

    def write() -> set[str]:
        written = 0
        conflicts: set[str] = set()
        step.wait()
        for _ in range(rounds):
            try:
                shared.__setstate__(states[(written + 1) % 2])
                written += 1
            except RuntimeError as error:
                conflicts.add(str(error))
            time.sleep(0)  # lets the readers in, so that their holds do not shut the writer out
        step.wait()
        shared.__setstate__(states[1])  # the readers are waiting at the step: nobody holds it
        step.wait()
        return conflicts

    *reader_results, write_conflicts = race([in_steps(read)] * readers + [in_steps(write)])
    for seen, mixed, conflicts in reader_results:
        assert mixed == [], f"a reader saw {len(mixed)} torn values, such as {mixed[:3]}"
        assert conflicts <= BUSY_TEXTS
        for name in READINGS:
            assert seen[name, 0] >= 1 and seen[name, 1] >= 1, (name, seen)
    assert write_conflicts <= {"Already borrowed"}
    # every flag is clear again: a write and a read both succeed now
    shared.x = 1.0
    assert shared.to_array() == [1.0, 5.25, -6.125]


def test_operators_answer_not_implemented_while_an_operand_is_written() -> None:
    shared = Vec3d(1, 1, 1)
    stop = threading.Event()

    def write() -> None:
        for _ in range(ROUNDS):
            try:
                shared.x = 1.0
            except RuntimeError:
                pass
        stop.set()

    def add() -> set[str]:
        texts: set[str] = set()
        while not stop.is_set():
            try:
                assert (shared + shared).x == 2.0
                assert (2 * shared).y == 2.0
            except TypeError as error:
                texts.add(str(error).split(":")[0])
        return texts

    results = race([write, add, add])
    for texts in results[1:]:
        assert texts <= {"unsupported operand type(s) for +", "unsupported operand type(s) for *"}


def test_comparison_with_a_busy_right_operand_is_an_internal_failure() -> None:
    shared = Vec3d(1, 2, 3)
    stop = threading.Event()

    def write() -> None:
        while not stop.is_set():
            try:
                shared.x = 1.0
            except RuntimeError:
                pass

    def compare() -> set[tuple[str, str]]:
        seen: set[tuple[str, str]] = set()
        for _ in range(ROUNDS * 5):
            try:
                assert (Vec3d(1, 2, 3) == shared) is True
            except BaseException as error:  # noqa: BLE001 - PanicException is a BaseException
                seen.add((type(error).__name__, str(error)))
        stop.set()
        return seen

    results = race([write, compare])
    assert results[1] <= {("PanicException", "Already mutably borrowed: PyBorrowError")}
