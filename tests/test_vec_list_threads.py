"""One VecList shared between threads: readers run batch steps together, a writer fails fast,
and every result is the one a single thread would get."""

from __future__ import annotations

import threading
import time
from collections.abc import Callable

import pytest
from conftest import race, requires_free_threading, scaled, skip_under_thread_sanitizer, toggle_racing_readers

from quorvane import Quat, Vec3d, VecList

pytestmark = requires_free_threading

IDENTITY = Quat(1, 0, 0, 0)


def spread(n: int, offset: float = 0.0) -> VecList:
    # Finite, non-zero components: rotating by the identity gives them back bit for bit.
    return VecList([Vec3d(offset + i + 0.25, -(i % 97) - 0.5, 1.0 / (i + 1)) for i in range(n)])


def failures_of(attempt: Callable[[], object], texts: set[str]) -> bool:
    """Runs `attempt`; True when it succeeded, False when it failed with one of `texts`."""
    try:
        attempt()
    except RuntimeError as error:
        texts.add(str(error))
        return False
    return True


def test_readers_see_a_consistent_list_while_a_writer_keeps_trying() -> None:
    n = 5000
    vectors = spread(n)
    unchanged = VecList(vectors)
    unchanged.rotate(IDENTITY)
    assert unchanged.to_array() == vectors.to_array()
    point, stride = Vec3d(3.25, -3.5, 0.25), 7
    # Whatever the writer manages to append lies far away, so the nearest element never changes.
    appended = spread(500, offset=1e9)
    final = VecList(vectors)
    final.extend(appended)
    expected_dot = final.dot(point)
    expected_normalized = final.normalize().to_array()
    expected_nearest = vectors.minimum_distance_to(point, stride)
    expected_lines = repr(final)[1:-1].split("\n")
    readers, wanted, attempts, rounds = 3, scaled(20, least=3), scaled(2000, least=400), scaled(500, least=100)
    # A buffer export is a reader that is certainly there when the writer starts: its first round
    # meets it, then it lets go.
    held = memoryview(vectors)

    def read() -> tuple[set[str], int]:
        seen: set[str] = set()
        completed = 0
        # A reader stops after `wanted` reads or `attempts` tries, whichever comes first, but not
        # before one read has gone through: certain as soon as the writer's rounds are over.
        tried = 0
        while (completed < wanted and tried < attempts) or not completed:
            tried += 1
            try:
                dots = vectors.dot(point)
                assert n <= len(dots) and dots == expected_dot[: len(dots)]
                normalized = vectors.normalize().to_array()
                assert normalized == expected_normalized[: len(normalized)]
                assert vectors.minimum_distance_to(point, stride) == expected_nearest
                lines = repr(vectors)[1:-1].split("\n")
                assert lines == expected_lines[: len(lines)]
                completed += 1
            except RuntimeError as error:
                seen.add(str(error))
                time.sleep(0)  # the writer's step is in progress: let it finish
        return seen, completed

    def write() -> tuple[set[str], int]:
        seen: set[str] = set()
        added = 0

        def append() -> None:
            nonlocal added
            if failures_of(lambda: vectors.append(appended[added]), seen):
                added += 1

        for number in range(rounds):
            failures_of(lambda: vectors.rotate(IDENTITY), seen)
            failures_of(lambda: vectors.extend(VecList.empty()), seen)
            if added < len(appended):
                append()
            if number == 0:
                held.release()
            time.sleep(0)  # the readers get their turn between rounds
        # Until one append has gone through: certain once the readers have used their attempts.
        while not added:
            append()
            time.sleep(0)
        return seen, added

    *reader_results, (writer_errors, added) = race([read] * readers + [write])
    for errors, completed in reader_results:
        assert errors <= {"Already mutably borrowed"}
        assert completed >= 1
    assert writer_errors <= {"Already borrowed"}
    assert writer_errors, "the writer never met a reader"
    assert 1 <= added <= len(appended)
    assert vectors.to_array() == final.to_array()[: n + added]


def test_appending_while_others_read_members() -> None:
    vectors = spread(100)
    rounds = 3000
    stop = threading.Event()

    def append() -> tuple[set[str], int]:
        seen: set[str] = set()
        added = 0
        try:
            for i in range(rounds):
                if failures_of(lambda: vectors.append(Vec3d(i, 0, 0)), seen):
                    added += 1
        finally:
            stop.set()
        return seen, added

    def read() -> set[str]:
        seen: set[str] = set()
        while not stop.is_set():
            for member in (lambda: vectors.list, lambda: vectors[99], lambda: len(vectors), lambda: list(vectors),
                           lambda: vectors.to_array()):
                try:
                    member()
                except RuntimeError as error:
                    seen.add(str(error))
        return seen

    (append_errors, added), *read_errors = race([append, read, read])
    assert append_errors <= {"Already borrowed"}
    for errors in read_errors:
        assert errors <= {"Already mutably borrowed"}
    assert len(vectors) == 100 + added
    xs = [v.x for v in vectors.list[100:]]
    assert xs == sorted(xs) and len(set(xs)) == added


def test_threads_sharing_one_iterator_get_each_element_once() -> None:
    n = 30_000
    iterator = iter(VecList([Vec3d(i, 0, 0) for i in range(n)]))

    def advance() -> tuple[list[int], set[str]]:
        taken: list[int] = []
        seen: set[str] = set()
        while True:
            try:
                taken.append(int(next(iterator).x))
            except StopIteration:
                return taken, seen
            except RuntimeError as error:
                seen.add(str(error))

    results = race([advance] * 4)
    everything = sorted(i for taken, _ in results for i in taken)
    assert everything == list(range(n))
    for taken, seen in results:
        assert taken == sorted(taken)  # the cursor only moves forward
        assert seen <= {"Already borrowed"}


def test_a_batch_step_holds_its_borrows_until_it_returns() -> None:
    vectors = spread(1000)
    while len(vectors) < 2_000_000:
        vectors.extend(VecList(vectors))
    operand = Vec3d(1, 2, 3)
    stop = threading.Event()

    def compute() -> set[str]:
        seen: set[str] = set()  # an append that got in between two steps
        try:
            completed = 0
            while completed < 500 and not stop.is_set():
                completed += failures_of(lambda: vectors.dot(operand), seen)
        finally:
            stop.set()
        return seen

    def interfere() -> tuple[set[str], set[str]]:
        operand_errors: set[str] = set()
        list_errors: set[str] = set()
        while not stop.is_set():
            failures_of(lambda: setattr(operand, "x", 1.0), operand_errors)
            failures_of(lambda: vectors.append(Vec3d(0, 0, 0)), list_errors)
            if operand_errors and list_errors:
                stop.set()
        return operand_errors, list_errors

    compute_errors, (operand_errors, list_errors) = race([compute, interfere])
    assert compute_errors <= {"Already mutably borrowed"}
    assert operand_errors == {"Already borrowed"}
    assert list_errors == {"Already borrowed"}


def test_shared_uses_fail_while_a_rotation_holds_the_list() -> None:
    vectors = spread(1000)
    while len(vectors) < 1_000_000:
        vectors.extend(VecList(vectors))
    stop = threading.Event()

    def rotate() -> set[str]:
        seen: set[str] = set()  # a use that got in first
        try:
            completed = 0
            while completed < 30:
                completed += failures_of(lambda: vectors.rotate(IDENTITY), seen)
        finally:
            stop.set()
        return seen

    def use() -> tuple[set[str], set[str]]:
        method_errors: set[str] = set()
        operator_errors: set[str] = set()
        while not stop.is_set():
            failures_of(lambda: vectors.magnitude(), method_errors)
            try:
                vectors * 1.0
            except TypeError as error:
                operator_errors.add(str(error))
        return method_errors, operator_errors

    rotate_errors, (method_errors, operator_errors) = race([rotate, use])
    assert rotate_errors <= {"Already borrowed"}
    assert method_errors <= {"Already mutably borrowed"}
    # An operator slot answers NotImplemented while the list is held; the interpreter then raises.
    assert operator_errors <= {"unsupported operand type(s) for *: 'builtins.VecList' and 'float'"}
    assert method_errors | operator_errors, "no use overlapped a rotation"


# ---- small steps: the hand-off to the pool and back ----


def small_lists() -> list[tuple[VecList, Vec3d, list[list[float]], list[float]]]:
    """Lists of 2 to 65 elements, with an operand and the sums and magnitudes one thread gets."""
    cases = []
    for n in range(2, 66):
        vectors, w = spread(n), Vec3d(0.5, -1.25, float(n))
        cases.append((vectors, w, (vectors + w).to_array(), vectors.magnitude()))
    return cases


def small_calls_all_right(rounds: int, start: int) -> bool:
    cases = small_lists()
    right = True
    for k in range(rounds):
        vectors, w, sums, magnitudes = cases[(start + k) % len(cases)]
        right = right and (vectors + w).to_array() == sums and vectors.magnitude() == magnitudes
    return right


def test_many_threads_making_small_batch_calls_at_once() -> None:
    rounds = scaled(400, least=40)
    assert race([lambda t=t: small_calls_all_right(rounds, 7 * t) for t in range(8)]) == [True] * 8


@skip_under_thread_sanitizer
def test_a_fork_right_after_a_burst_gets_a_working_pool() -> None:
    import os
    import warnings

    large = spread(100_000)
    large_sums = (large + Vec3d(1, 2, 3)).to_array()
    assert race([lambda t=t: small_calls_all_right(scaled(300, least=30), t) for t in range(3)]) == [True] * 3
    # The workers are still looking for more work at this moment.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process that has threads
        child = os.fork()
    if child == 0:
        status = 3
        try:
            ok = small_calls_all_right(200, 0) and (large + Vec3d(1, 2, 3)).to_array() == large_sums
            status = 0 if ok else 1
        finally:
            os._exit(status)
    _, status = os.waitpid(child, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    assert small_calls_all_right(100, 0)


@pytest.mark.parametrize(("read", "expected"), [
    (lambda v: v.sum(), Vec3d(4, 8, -4)),
    (lambda v: v.bounds(), (Vec3d(1, 2, -1), Vec3d(1, 2, -1))),
    (lambda v: v.take([0, 3]), VecList([Vec3d(1, 2, -1)] * 2)),
    (lambda v: v.select([True, False, True, False]), VecList([Vec3d(1, 2, -1)] * 2)),
    (lambda v: v.take_triangles([[0, 0, 1]])[2], VecList([Vec3d(1, 2, -1)])),
    (lambda v: v.scaled_elementwise([2.0] * 4), VecList([Vec3d(2, 4, -2)] * 4)),
], ids=["sum", "bounds", "take", "select", "take_triangles", "scaled_elementwise"])
def test_point_members_beside_a_writer_see_the_list_whole_or_a_borrow_error(read, expected) -> None:
    """The writer rotates by the identity, which keeps every bit, so every result is the same."""
    items = VecList([Vec3d(1, 2, -1)] * 4)
    seen: list[object] = []
    toggle_racing_readers(lambda n: items.rotate(Quat(1, 0, 0, 0)), lambda: seen.append(read(items)), rounds=3000)
    # A reader may meet the writer on every attempt, so how many got through is the scheduler's
    # business; what any of them got, and the list afterwards, is not.
    seen.append(read(items))
    as_data = (lambda r: r.to_array() if isinstance(r, VecList) else
               [p.to_array() for p in r] if isinstance(r, tuple) else r.to_array())
    assert all(as_data(result) == as_data(expected) for result in seen)
