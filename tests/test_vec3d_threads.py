"""Vec3d shared between threads: readers proceed together, a writer fails fast, nothing tears."""

from __future__ import annotations

import threading

from conftest import race, requires_free_threading

from quorvane import Vec3d

pytestmark = requires_free_threading

ROUNDS = 20_000


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


def test_writer_racing_readers_sees_only_borrow_errors() -> None:
    # The writer keeps the three components equal; a reader that ever sees them differ saw a
    # half-written value.
    shared = Vec3d(0, 0, 0)
    stop = threading.Event()
    write_conflicts: list[str] = []

    def write() -> int:
        written = 0
        for n in range(ROUNDS):
            for name in ("x", "y", "z"):
                try:
                    setattr(shared, name, float(n))
                except RuntimeError as error:
                    write_conflicts.append(str(error))
            written += 1
        stop.set()
        return written

    def read() -> set[str]:
        errors: set[str] = set()
        while not stop.is_set():
            try:
                x, y, z = shared.x, shared.y, shared.z
                assert x >= 0 and y >= 0 and z >= 0
                shared.magnitude()
                repr(shared)
                hash(shared)
            except RuntimeError as error:
                errors.add(str(error))
        return errors

    results = race([write, read, read, read])
    assert results[0] == ROUNDS
    for errors in results[1:]:
        assert errors <= {"Already mutably borrowed"}
    assert set(write_conflicts) <= {"Already borrowed"}
    # every flag is clear again: a write and a read both succeed now
    shared.x = 1.0
    assert shared.x == 1.0


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
