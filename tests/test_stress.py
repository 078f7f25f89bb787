"""Hammering shared objects from many threads at once.

Eight threads, released together, read and write one object of each class: every call either
returns the right value or fails at once with one of the borrow texts (or, in operator slots and
comparisons, the interpreter's TypeError after NotImplemented), and afterwards the object is free
again. On two cores overlap is likely but not certain, so no test depends on it happening.
"""

from __future__ import annotations

import gc
import json
import math
import os
import struct
import subprocess
import sys
import textwrap
import threading
from collections import Counter
from collections.abc import Callable
from typing import Any

import pytest
from conftest import race, requires_free_threading

from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry

Circle, Plane = geometry.Circle, geometry.Plane

WRITES = 5000  # per writer thread
SHARED_BUSY = "Already mutably borrowed"
EXCLUSIVE_BUSY = "Already borrowed"
PANIC_TEXT = "Already mutably borrowed: PyBorrowError"


def unsupported(symbol: str, left: str, right: str) -> str:
    return f"unsupported operand type(s) for {symbol}: 'builtins.{left}' and '{right}'"


FAILED = object()  # what Tally.run returns for an allowed failure


class Tally:
    """What went wrong in one thread, by (exception type name, text); anything else propagates."""

    def __init__(self, allowed: set[tuple[str, str]]) -> None:
        self.allowed = allowed
        self.seen: Counter[tuple[str, str]] = Counter()

    def run(self, call: Callable[[], Any]) -> Any:
        try:
            return call()
        except BaseException as error:  # noqa: BLE001 - PanicException derives from BaseException
            key = (type(error).__name__, str(error))
            if key not in self.allowed:
                raise
            self.seen[key] += 1
            return FAILED


# ---- one object of each class: writers replace the whole value, readers check it is whole ----
#
# A writer stores states in which every double is the same whole number n >= 1, through
# __setstate__ (one exclusive borrow for the whole value). Every reader call reads the value
# under one shared borrow, so whatever it returns must show one n throughout: a mix of two
# states would be a torn read.


def one_value(values: list[float]) -> bool:
    return len(set(values)) == 1


def one_whole_number(values: list[float]) -> bool:
    return one_value(values) and float(values[0]).is_integer()


def stored(obj: object, doubles: int) -> list[float]:
    return list(struct.unpack(f"<{doubles}d", obj.__reduce_ex__(2)[2]))


def vec3d_readers(shared: Vec3d) -> list[Callable[[], bool]]:
    return [
        lambda: one_whole_number(shared.to_array()),
        lambda: one_whole_number([float(part) for part in repr(shared)[6:-1].split(", ")]),
        lambda: shared.dot(Vec3d(1, -1, 0)) == 0.0,
        lambda: shared.cross(Vec3d(1, 1, 1)).to_array() == [0.0, 0.0, 0.0],
        lambda: one_whole_number((shared * 2.0).to_array()),
        lambda: one_whole_number((shared + shared).to_array()),
        lambda: (Vec3d(-1, -1, -1) == shared) is False,
        lambda: one_whole_number(stored(shared, 3)),
    ]


def quat_readers(shared: Quat) -> list[Callable[[], bool]]:
    return [
        lambda: one_whole_number(list(shared.to_vec3d())),
        lambda: one_whole_number([float(part) for part in repr(shared)[5:-1].split(", ")]),
        lambda: (shared.magnitude() / 2).is_integer(),  # sqrt(4 n^2) = 2n exactly
        lambda: one_whole_number([-part for part in shared.conjugate().to_vec3d()]),
        lambda: (Quat(-1, -1, -1, -1) == shared) is False,
        lambda: (shared == Quat(-1, -1, -1, -1)) is False,
        lambda: one_whole_number(stored(shared, 4)),
    ]


def angle_readers(shared: AngleRadians) -> list[Callable[[], bool]]:
    return [
        lambda: shared.angle.is_integer(),
        lambda: float(repr(shared).removesuffix(" radians")).is_integer(),
        lambda: (shared + shared).angle % 2 == 0,
        lambda: (shared * 2.0).angle % 2 == 0,
        lambda: (shared / 1.0).angle.is_integer(),
        lambda: (shared < AngleRadians(-1.0)) is False,
        lambda: (shared != AngleRadians(-1.0)) is True,
        lambda: math.isfinite(shared.sin()),
    ]


def plane_readers(shared: Plane) -> list[Callable[[], bool]]:
    return [
        lambda: one_whole_number(shared.normal.to_array()),
        lambda: one_whole_number(stored(shared, 4)),
        # normal (n, n, n) and distance n: the offset of (1, -1, 0) is n
        lambda: shared.distance_to_point(Vec3d(1, -1, 0)).is_integer(),
        lambda: shared.contains_point(Vec3d(1, -1, 0)) is False,
        lambda: isinstance(geometry.plane_line(shared, Vec3d(0, 0, 1), Vec3d(1, 0, 1)), Vec3d),
    ]


def circle_readers(shared: Circle) -> list[Callable[[], bool]]:
    other = Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1))
    return [
        lambda: one_whole_number(shared.center.to_array()),
        lambda: one_whole_number(shared.normal.to_array()),
        lambda: one_whole_number(stored(shared, 7)),
        lambda: one_value(shared.get_plane().normal.to_array()),
        lambda: other.in_same_plane(shared) is False,
        lambda: (shared == other) is False,
        lambda: shared.is_degenerate() is False,
        lambda: shared.area >= math.pi,
    ]


def state_of_all(n: int, doubles: int) -> bytes:
    return struct.pack(f"<{doubles}d", *([float(n)] * doubles))


SNAPSHOT_CASES = [
    pytest.param(
        Vec3d.zero, 3, vec3d_readers,
        {("RuntimeError", SHARED_BUSY), ("PanicException", PANIC_TEXT),
         ("TypeError", unsupported("*", "Vec3d", "float")),
         ("TypeError", unsupported("+", "Vec3d", "builtins.Vec3d"))},
        id="Vec3d",
    ),
    pytest.param(
        Quat.identity, 4, quat_readers,
        {("RuntimeError", SHARED_BUSY), ("PanicException", PANIC_TEXT)},
        id="Quat",
    ),
    pytest.param(
        AngleRadians.zero, 1, angle_readers,
        {("RuntimeError", SHARED_BUSY),
         ("TypeError", unsupported("+", "AngleRadians", "builtins.AngleRadians")),
         ("TypeError", unsupported("*", "AngleRadians", "float")),
         ("TypeError", unsupported("/", "AngleRadians", "float")),
         ("TypeError", "'<' not supported between instances of 'builtins.AngleRadians' and 'builtins.AngleRadians'")},
        id="AngleRadians",
    ),
    pytest.param(Plane.xy, 4, plane_readers, {("RuntimeError", SHARED_BUSY)}, id="Plane"),
    pytest.param(Circle.none, 7, circle_readers, {("RuntimeError", SHARED_BUSY)}, id="Circle"),
]


@requires_free_threading
@pytest.mark.parametrize(("make", "doubles", "readers_of", "reader_may_meet"), SNAPSHOT_CASES)
def test_readers_never_see_a_half_written_value(make, doubles, readers_of, reader_may_meet) -> None:
    shared = make()
    shared.__setstate__(state_of_all(1, doubles))
    readers = readers_of(shared)
    writers_done = threading.Barrier(3)  # the two writers and the thread that sets `stop`
    stop = threading.Event()
    rounds_read = [0] * 5  # each reader counts its own

    def write(first: int) -> Counter[tuple[str, str]]:
        # At least WRITES states each, and on until every reader has run a while alongside (a
        # reader that starts late would otherwise see only the last state), within a cap.
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        try:
            for n in range(first, first + 20 * WRITES):
                if n >= first + WRITES and min(rounds_read) >= 3000:
                    break
                tally.run(lambda: shared.__setstate__(state_of_all(n, doubles)))
        finally:
            writers_done.wait()
        return tally.seen

    def read(index: int) -> Counter[tuple[str, str]]:
        tally = Tally(reader_may_meet)
        while not stop.is_set():
            for reader in readers:
                answer = tally.run(reader)
                assert answer is FAILED or answer is True, reader
            rounds_read[index] += 1
        return tally.seen

    def watch() -> None:
        writers_done.wait()
        stop.set()

    readers_in_race = [lambda i=i: read(i) for i in range(5)]
    results = race([lambda: write(1), lambda: write(1 + 20 * WRITES)] + readers_in_race + [watch])
    for seen in results[:2]:
        assert set(seen) <= {("RuntimeError", EXCLUSIVE_BUSY)}
    for seen in results[2:7]:
        assert set(seen) <= reader_may_meet
    # Every flag is clear again: a write and then a read succeed.
    shared.__setstate__(state_of_all(7, doubles))
    assert stored(shared, doubles) == [7.0] * doubles


NEGATED = [pytest.param(Vec3d.zero, 3, id="Vec3d"), pytest.param(AngleRadians.zero, 1, id="AngleRadians"),
           pytest.param(lambda: AngleDegrees(0), 1, id="AngleDegrees")]


@requires_free_threading
@pytest.mark.parametrize(("make", "doubles"), NEGATED)
def test_negation_while_a_writer_holds_the_object(make, doubles) -> None:
    shared = make()
    met = threading.Event()  # a negation has met the writer: enough has been seen
    stop = threading.Event()

    def write() -> None:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        try:
            for n in range(WRITES * 20):
                if met.is_set():
                    break
                tally.run(lambda: shared.__setstate__(state_of_all(n, doubles)))
        finally:
            stop.set()

    def negate() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", SHARED_BUSY)})
        try:
            while not stop.is_set():
                negated = tally.run(lambda: -shared)
                if negated is FAILED:
                    met.set()
                assert negated is FAILED or type(negated) is type(shared), negated
        finally:
            met.set()  # a failed assertion ends the writer too
        return tally.seen

    race([write] + [negate] * 7)


# ---- property setters against readers ----

SETTER_CASES = [
    pytest.param(lambda: Quat(1, 2, 3, 4), ("w", "i", "j", "k"), id="Quat"),
    pytest.param(lambda: AngleRadians(1), ("angle",), id="AngleRadians"),
    pytest.param(lambda: Plane(Vec3d(0, 0, 1), 1.0), ("distance",), id="Plane.distance"),
    pytest.param(lambda: Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1)), ("radius",), id="Circle.radius"),
]


@requires_free_threading
@pytest.mark.parametrize(("make", "names"), SETTER_CASES)
def test_setters_fail_fast_while_others_read(make, names) -> None:
    shared = make()
    for name in names:
        setattr(shared, name, 0.0)
    stop = threading.Event()

    def write() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        try:
            for n in range(WRITES):
                for name in names:
                    tally.run(lambda: setattr(shared, name, float(n % 50)))
        finally:
            stop.set()
        return tally.seen

    def read() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", SHARED_BUSY)})
        while not stop.is_set():
            for name in names:
                value = tally.run(lambda: getattr(shared, name))
                assert value is FAILED or (value.is_integer() and 0 <= value <= 49)
        return tally.seen

    writer_errors, *reader_errors = race([write] + [read] * 7)
    assert set(writer_errors) <= {("RuntimeError", EXCLUSIVE_BUSY)}
    for seen in reader_errors:
        assert set(seen) <= {("RuntimeError", SHARED_BUSY)}
    for name in names:
        setattr(shared, name, 9.0)
        assert getattr(shared, name) == 9.0


@requires_free_threading
def test_a_busy_argument_fails_the_call_that_borrows_it() -> None:
    point = Vec3d(1, 2, 3)
    plane = Plane(Vec3d(0, 0, 1), 0.0)
    circle = Circle(Vec3d(0, 0, 0), 2.0, Vec3d(0, 0, 1))
    stop = threading.Event()
    calls = [
        lambda: plane.distance_to_point(point) == 3.0,
        lambda: plane.contains_point(point) is False,
        lambda: geometry.circle_point(circle, point, True) is False,
        lambda: Vec3d(0, 0, 0).distance_squared(point) == 14.0,
        lambda: Quat(1, 0, 0, 0).rotate(point).to_array() == [1.0, 2.0, 3.0],
        lambda: Plane.from_point(Vec3d(0, 0, 1), point).distance == -3.0,
        lambda: Circle(point, 1.0, Vec3d(0, 0, 1)).center.to_array() == [1.0, 2.0, 3.0],
    ]

    def write() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        try:
            for _ in range(WRITES * 2):
                tally.run(lambda: point.__setstate__(struct.pack("<3d", 1.0, 2.0, 3.0)))
        finally:
            stop.set()
        return tally.seen

    def call() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", SHARED_BUSY)})
        while not stop.is_set():
            for each in calls:
                answer = tally.run(each)
                assert answer is FAILED or answer is True
        return tally.seen

    writer_errors, *caller_errors = race([write] + [call] * 7)
    assert set(writer_errors) <= {("RuntimeError", EXCLUSIVE_BUSY)}
    for seen in caller_errors:
        assert set(seen) <= {("RuntimeError", SHARED_BUSY)}
    point.x = 1.0
    assert plane.distance_to_point(point) == 3.0


# ---- one VecList: batch steps, writers, buffer exports and the collector together ----

IDENTITY = Quat(1, 0, 0, 0)


def spread(n: int, offset: float = 0.0) -> VecList:
    # Positive, finite components: a rotation by the identity gives them back bit for bit.
    return VecList([Vec3d(offset + i + 0.25, (i % 89) + 0.5, 1.0 / (i + 1)) for i in range(n)])


@requires_free_threading
def test_batch_steps_writers_and_the_collector_on_one_list() -> None:
    n = 3000
    vectors = spread(n)
    appended = spread(400, offset=1e9)  # far away: never the nearest element
    whole = VecList(vectors)
    whole.extend(appended)
    point, stride = Vec3d(10.25, 10.5, 0.0), 16
    expected = {
        "dot": whole.dot(point),
        "normalized": whole.normalize().to_array(),
        "scaled": (whole * 0.5).to_array(),
        "shifted": (whole - point).to_array(),
        "lines": repr(whole)[1:-1].split("\n"),
        "items": whole.to_array(),
    }
    nearest = vectors.minimum_distance_to(point, stride)
    stop = threading.Event()
    remaining_readers = threading.Semaphore(0)
    reader_count = 4

    def nearest_unchanged(found: tuple[int, float]) -> None:
        assert found == nearest

    def prefix(key: str, got: list[Any]) -> None:
        assert n <= len(got) <= n + len(appended), key
        assert got == expected[key][: len(got)], key

    def read() -> tuple[Counter[tuple[str, str]], int]:
        tally = Tally({("RuntimeError", SHARED_BUSY),
                       ("TypeError", unsupported("*", "VecList", "float")),
                       ("TypeError", unsupported("-", "VecList", "builtins.Vec3d"))})
        steps = [
            lambda: prefix("dot", vectors.dot(point)),
            lambda: prefix("normalized", vectors.normalize().to_array()),
            lambda: prefix("scaled", (vectors * 0.5).to_array()),
            lambda: prefix("shifted", (vectors - point).to_array()),
            lambda: prefix("lines", repr(vectors)[1:-1].split("\n")),
            lambda: prefix("items", [v.to_array() for v in vectors]),
            lambda: nearest_unchanged(vectors.minimum_distance_to(point, stride)),
        ]
        # Successes are what take time; a failure returns at once. The cap on attempts keeps a
        # reader that the writers happen to shut out from looping for long.
        succeeded = attempts = 0
        try:
            while succeeded < 80 and attempts < 10_000:
                for step in steps:
                    attempts += 1
                    succeeded += tally.run(step) is not FAILED
        finally:
            remaining_readers.release()
        return tally.seen, succeeded

    def append() -> tuple[Counter[tuple[str, str]], int]:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        added = 0
        while not stop.is_set() and added < len(appended):
            if tally.run(lambda: vectors.append(appended[added])) is not FAILED:
                added += 1
        return tally.seen, added

    def rewrite() -> Counter[tuple[str, str]]:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY), ("RuntimeError", SHARED_BUSY)})
        while not stop.is_set():
            tally.run(lambda: vectors.rotate(IDENTITY))
            tally.run(lambda: vectors.extend(VecList.empty()))

            def look_through_a_buffer() -> None:
                with memoryview(vectors) as view:
                    rows = view.tolist()
                    prefix("items", rows)

            tally.run(look_through_a_buffer)
        return tally.seen

    def collect() -> int:
        # A collection stops the world; with a pause between them the others get on too.
        rounds = 0
        while not stop.is_set():
            gc.collect()
            rounds += 1
            stop.wait(0.005)
        return rounds

    def stop_after_readers() -> None:
        for _ in range(reader_count):
            remaining_readers.acquire()
        stop.set()

    results = race([read] * reader_count + [append, rewrite, collect, stop_after_readers])
    for seen, _ in results[:reader_count]:
        assert set(seen) <= {("RuntimeError", SHARED_BUSY),
                             ("TypeError", unsupported("*", "VecList", "float")),
                             ("TypeError", unsupported("-", "VecList", "builtins.Vec3d"))}
    append_errors, added = results[reader_count]
    assert set(append_errors) <= {("RuntimeError", EXCLUSIVE_BUSY)}
    assert set(results[reader_count + 1]) <= {("RuntimeError", EXCLUSIVE_BUSY), ("RuntimeError", SHARED_BUSY)}
    assert len(vectors) == n + added
    assert vectors.to_array() == expected["items"][: n + added]
    # Free again: an exclusive and a shared use both succeed.
    vectors.append(Vec3d(0, 0, 0))
    assert vectors.dot(Vec3d(0, 0, 1))[-1] == 0.0


@requires_free_threading
def test_threads_sharing_one_iterator_take_every_element_once() -> None:
    n = 100_000
    iterator = iter(VecList([Vec3d(i, 0, 0) for i in range(n)]))

    def advance() -> tuple[list[int], Counter[tuple[str, str]]]:
        tally = Tally({("RuntimeError", EXCLUSIVE_BUSY)})
        taken: list[int] = []
        while True:
            try:
                item = tally.run(lambda: next(iterator))
            except StopIteration:
                return taken, tally.seen
            if item is not FAILED:
                taken.append(int(item.x))

    results = race([advance] * 8)
    assert sorted(i for taken, _ in results for i in taken) == list(range(n))
    for taken, seen in results:
        assert taken == sorted(taken)
        assert set(seen) <= {("RuntimeError", EXCLUSIVE_BUSY)}
    with pytest.raises(StopIteration):
        next(iterator)


# ---- first use of the module in a fresh interpreter ----

FIRST_USE = textwrap.dedent(
    """
    import json, os, sys, threading

    def tasks():
        names = []
        for task in os.listdir("/proc/self/task"):
            try:
                with open(f"/proc/self/task/{task}/comm") as comm:
                    names.append(comm.read().strip())
            except FileNotFoundError:  # a thread that has just ended
                pass
        return names

    # A sanitizer's runtime starts a helper thread of its own when the first thread is created:
    # one thread started and joined before anything is counted lets the baseline include it.
    warm_up = threading.Thread(target=lambda: None)
    warm_up.start()
    warm_up.join()
    baseline = len(tasks())

    barrier = threading.Barrier(8)
    seen = [None] * 8

    def first_use(index):
        barrier.wait()
        import quorvane
        from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry
        v = Vec3d(index, 1, 2)
        objects = [
            v, AngleRadians(1.5), AngleDegrees(90), Quat(1, 0, 0, 0),
            VecList([v, v * 2]), iter(VecList([v])),
            geometry.Plane(Vec3d(0, 0, 1), 1.0), geometry.Circle(v, 1.0, Vec3d(0, 0, 1)),
        ]
        dots = VecList(list=[Vec3d(i, 0, 0) for i in range(1000)]).dot(other=Vec3d(x=1, y=0, z=0))
        assert dots == [float(i) for i in range(1000)]
        try:
            VecList.empty().collapse(axis=3)
        except BaseException as error:
            panic = error
        assert repr(objects[1]) == "1.5 radians" and repr(objects[2]) == "90\u00b0"
        assert geometry.plane_line(objects[6], Vec3d(0, 0, 1), Vec3d(0, 0, -1)).z == 1.0
        seen[index] = {
            "types": [id(type(o)) for o in objects],
            "classes": [id(getattr(quorvane, n)) for n in quorvane.__all__],
            "geometry": id(quorvane.geometry),
            "module": id(quorvane),
            "panic": [id(type(panic)), type(panic).__module__, type(panic).__qualname__, str(panic)],
        }

    threads = [threading.Thread(target=first_use, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    # Finished Python threads may take a moment to leave the task list, and the workers name
    # themselves once they run.
    import time
    workers = int(os.environ["RAYON_NUM_THREADS"])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and (
        len(tasks()) != baseline + workers or sum(name.startswith("quorvane-") for name in tasks()) != workers
    ):
        time.sleep(0.01)
    print(json.dumps({"seen": seen, "tasks": tasks(), "baseline": baseline}))
    """
)

RACING_MODULE_OBJECTS = textwrap.dedent(
    """
    import gc, importlib.util, json, threading
    origin = importlib.util.find_spec("quorvane").origin
    barrier = threading.Barrier(8)
    modules = [None] * 8

    # Building module objects straight from their module spec takes no import lock, so the eight
    # execution steps really do create the classes and the submodule at the same moment.
    def build(index):
        spec = importlib.util.spec_from_file_location("quorvane", origin)
        barrier.wait()
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        modules[index] = module

    threads = [threading.Thread(target=build, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    def collected_and_counted(names):
        # Every class stays listed among its base's subclasses for as long as it lives.
        gc.collect()
        classes = [c for c in object.__subclasses__() if c.__module__ == "builtins"]
        return {n: sum(1 for c in classes if c.__name__ == n) for n in names}

    print(json.dumps({
        "modules": len({id(m) for m in modules}),
        "all": [m.__all__ for m in modules],
        "distinct": {n: len({id(getattr(m, n)) for m in modules}) for n in modules[0].__all__},
        "geometry": {n: len({id(getattr(m.geometry, n)) for m in modules}) for n in modules[0].geometry.__all__},
        "cross_use": modules[3].Vec3d(1, 2, 3) == modules[5].Vec3d(1, 2, 3),
        # Candidates of the threads that lost the race to create a class are freed, not leaked.
        "type_objects": collected_and_counted(modules[0].__all__[:-1]),
    }))
    """
)


def run_fresh(script: str, env_extra: dict[str, str] | None = None) -> dict[str, Any]:
    env = dict(os.environ, **(env_extra or {}))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120, env=env)
    assert done.returncode == 0, done.stderr
    # Only the reports of internal failures that the script provokes itself.
    lines = done.stderr.splitlines()
    assert len(lines) % 2 == 0, done.stderr
    for report, message in zip(lines[::2], lines[1::2]):
        assert report.startswith("thread '") and " panicked at src/" in report, done.stderr
        assert message == "assertion failed: axis <= 2", done.stderr
    return json.loads(done.stdout)


def test_concurrent_first_use_in_a_fresh_interpreter() -> None:
    workers = 3
    report = run_fresh(FIRST_USE, {"RAYON_NUM_THREADS": str(workers)})
    seen = report["seen"]
    assert all(entry is not None for entry in seen)
    for key in ("types", "classes", "geometry", "module", "panic"):
        assert len({json.dumps(entry[key]) for entry in seen}) == 1, key
    assert seen[0]["panic"][1:] == ["pyo3_runtime", "PanicException", "assertion failed: axis <= 2"]
    # One pool: the threads there were before and exactly `workers` threads that the pool started.
    assert len(report["tasks"]) == report["baseline"] + workers, report["tasks"]
    assert sorted(name for name in report["tasks"] if name.startswith("quorvane-")) == [
        f"quorvane-{i}" for i in range(workers)
    ]


def test_racing_execution_steps_share_one_set_of_classes() -> None:
    report = run_fresh(RACING_MODULE_OBJECTS)
    assert report["modules"] == 8
    assert report["all"] == [["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"]] * 8
    assert set(report["distinct"].values()) == {1}
    assert set(report["geometry"].values()) == {1}
    assert report["cross_use"] is True
    assert set(report["type_objects"].values()) == {1}, report["type_objects"]
