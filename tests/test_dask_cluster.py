"""quorvane with a real Dask cluster of worker processes: script code that names the classes,
results that are quorvane values, a panic in a task, tokens, and the array operations, each
against the same work done in this process, bit for bit. Every wait has a time limit."""

from __future__ import annotations

import logging
import math
import pickle
import struct
import time
from collections.abc import Callable, Iterator
from typing import Any

import pytest
from dask_user_code import run_python, same_bits, user_code

distributed = pytest.importorskip("distributed", reason="dask.distributed is not installed for this interpreter")
np = pytest.importorskip("numpy")
da = pytest.importorskip("dask.array")
import dask  # noqa: E402
from dask.base import tokenize  # noqa: E402

import quorvane  # noqa: E402
import quorvane_dask  # noqa: E402
from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList  # noqa: E402
from quorvane_dask import _install, _names  # noqa: E402
from quorvane_dask._install import CLIENT_PRELOAD  # noqa: E402

WAIT = 60  # seconds; a regression fails here instead of hanging
Plane, Circle = quorvane.geometry.Plane, quorvane.geometry.Circle
NAN_WITH_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0]


@pytest.fixture(scope="module")
def client() -> Iterator[Any]:
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=":0",
                                  silence_logs=logging.ERROR) as cluster, \
            distributed.Client(cluster, timeout=WAIT) as connected:
        quorvane_dask.connect(connected)
        yield connected
    _install.uninstall()


def result(future: Any) -> Any:
    return future.result(timeout=WAIT)


def workers(client: Any) -> list[str]:
    return sorted(client.scheduler_info()["workers"])


# ---- script code on the workers ----

CLOUD = VecList([Vec3d(1, 2, 3), Vec3d(-0.0, 4, NAN_WITH_PAYLOAD)])
TASKS: list[tuple[str, Callable[[], tuple[Any, ...]]]] = [
    ("shifted", lambda: (user_code()["shifted"], CLOUD)),              # a class as a global and in annotations
    ("length", lambda: (user_code()["length"], Vec3d(3, 4, 12))),      # a class in annotations only
    ("turned", lambda: (user_code()["turned"], CLOUD)),                # classes reached through a class
    ("floor", lambda: (user_code()["floor"], -0.0)),                   # a geometry class, returned
    ("kinds", lambda: (user_code()["kinds"], [Vec3d(1, 0, 0), CLOUD, 1.0])),
    ("slerp", lambda: (Quat.slerp, Quat(1, 0, 0, 0), Quat(0, 1, 0, 0), 0.5)),  # methods through the class
    ("cross", lambda: (Vec3d.cross, Vec3d(1, 0, 0), Vec3d(0, 1, 0))),
    ("from_array", lambda: (VecList.from_array, np.array([[1.5, -0.0, 2.0]]))),
    ("circle none", lambda: (Circle.none,)),
]


@pytest.mark.parametrize("task", [t for _, t in TASKS], ids=[name for name, _ in TASKS])
def test_script_code_runs_on_every_worker_and_returns_the_same_bits(client: Any, task: Callable[[], tuple[Any, ...]]) -> None:
    fn, *args = task()
    expected = fn(*args)
    for worker in workers(client):
        assert same_bits(result(client.submit(fn, *args, workers=[worker], pure=False)), expected)


def test_a_panic_in_a_guarded_task_reaches_the_client_as_runtime_error(client: Any) -> None:
    future = client.submit(quorvane_dask.guard(user_code()["panics"]), pure=False)
    with pytest.raises(RuntimeError, match=r"^called `Option::unwrap\(\)` on a `None` value$") as raised:
        result(future)
    cause = raised.value.__cause__
    assert type(cause).__name__ == "PanicException" and str(cause) == str(raised.value)
    assert not isinstance(cause, Exception)


def test_a_worker_that_starts_later_is_installed_too(client: Any) -> None:
    before = workers(client)
    client.cluster.scale(len(before) + 1)
    client.wait_for_workers(len(before) + 1, timeout=WAIT)
    (newcomer,) = set(workers(client)) - set(before)
    try:
        expected = user_code()["shifted"](CLOUD)
        assert same_bits(result(client.submit(user_code()["shifted"], CLOUD, workers=[newcomer], pure=False)), expected)
    finally:
        client.cluster.scale(len(before))
        deadline = time.monotonic() + WAIT  # the other tests send work to each worker there is
        while len(workers(client)) > len(before):
            assert time.monotonic() < deadline, "the cluster did not scale back down"
            time.sleep(0.05)


def one_worker_cluster() -> Any:
    return distributed.LocalCluster(n_workers=1, processes=True, threads_per_worker=1, dashboard_address=":0",
                                    silence_logs=logging.ERROR)


@pytest.mark.usefixtures("client")  # install() has run in this process
def test_a_client_made_after_install_connects_itself() -> None:
    with one_worker_cluster() as cluster, distributed.Client(cluster, timeout=WAIT) as plain:
        expected = user_code()["shifted"](CLOUD)
        assert same_bits(result(plain.submit(user_code()["shifted"], CLOUD, pure=False)), expected)
        quorvane_dask.connect(plain)  # connected already: no second plugin, and no warning saying so


@pytest.mark.usefixtures("client")
def test_install_connects_the_client_made_before_it() -> None:
    _install.uninstall()
    try:
        with one_worker_cluster() as cluster, distributed.Client(cluster, timeout=WAIT) as earlier:
            quorvane_dask.install()
            expected = user_code()["shifted"](CLOUD)
            assert same_bits(result(earlier.submit(user_code()["shifted"], CLOUD, pure=False)), expected)
    finally:
        quorvane_dask.install()


@pytest.mark.usefixtures("client")
def test_a_guarded_task_on_a_worker_without_install_fails_saying_what_to_call() -> None:
    # A client that does not connect itself: its worker never runs install().
    with dask.config.set({CLIENT_PRELOAD: []}), one_worker_cluster() as cluster, \
            distributed.Client(cluster, timeout=WAIT) as unconnected:
        future = unconnected.submit(quorvane_dask.guard(user_code()["kinds"]), [Vec3d(1, 0, 0)], pure=False)
        with pytest.raises(RuntimeError, match=r"call quorvane_dask\.install\(\) in this process first"):
            result(future)


# ---- tokens ----

VALUES = [Vec3d(1, 2, 3), AngleRadians(0.5), AngleDegrees(-0.0), Quat(1, 0, 0, 0),
          Plane(Vec3d(0, 0, 1), 2.0), Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1)), Circle.none(), CLOUD, VecList.empty()]
# Each value beside one that differs only in its bits: -0.0 for 0.0, another NaN, one ulp.
DIFFERENT_BITS = [
    (Vec3d(0.0, 1, 2), Vec3d(-0.0, 1, 2)),
    (AngleRadians(math.nan), AngleRadians(NAN_WITH_PAYLOAD)),
    (Quat(1, 0, 0, 0), Quat(1, 0, 0, -0.0)),
    (Plane(Vec3d(0, 0, 1), 1.0), Plane(Vec3d(0, 0, 1), math.nextafter(1.0, 2.0))),
    (VecList([Vec3d(1, 2, 3)]), VecList([Vec3d(1, 2, 3), Vec3d(0, 0, 0)])),
    (VecList([Vec3d(0.0, 0, 0)]), VecList([Vec3d(-0.0, 0, 0)])),
    (AngleRadians(1.0), AngleDegrees(1.0)),
]


def test_tokens_are_the_same_in_every_process(client: Any) -> None:
    here = [tokenize(value) for value in VALUES]
    for worker in workers(client):
        assert result(client.submit(lambda values: [tokenize(v) for v in values], VALUES,
                                    workers=[worker], pure=False)) == here


@pytest.mark.parametrize(("one", "other"), DIFFERENT_BITS, ids=lambda v: type(v).__name__)
def test_different_bits_give_different_tokens(client: Any, one: Any, other: Any) -> None:
    assert tokenize(one) != tokenize(other)
    assert tokenize(one) == tokenize(pickle.loads(pickle.dumps(one)))


# Without install() the function's classes are copied by value, and the token differs by process.
TOKEN_ELSEWHERE = """
import quorvane_dask
from dask.base import tokenize
from dask_user_code import user_code
quorvane_dask.install()
print(tokenize(user_code()["shifted"]))
"""


@pytest.mark.usefixtures("client")
def test_a_script_function_that_names_classes_has_one_token_in_every_process() -> None:
    done = run_python(TOKEN_ELSEWHERE)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().strip() == tokenize(user_code()["shifted"])


# ---- the array operations ----

def cloud_array() -> np.ndarray:
    rng = np.random.default_rng(23)
    points = rng.normal(0.0, 10.0, size=(10_000, 3))
    points[3] = points[9_000] = [0.5, 0.5, 0.5]      # a tie for the nearest point, far apart
    points[4, 1], points[20, 0] = math.nan, -0.0
    points[7_000, 2] = NAN_WITH_PAYLOAD
    return points


PROBE = Vec3d(0.5, 0.5, 0.5)
TURN = Quat.from_axis_angle(Vec3d(0.0, 0.6, 0.8), AngleDegrees(40.0).to_radians())
CHUNKINGS = [((10_000,),), ((4096, 4096, 1808),), ((2500,) * 4,), ((1, 0, 4095, 5000, 904),), ((3, 9_997),)]
# Each operation beside the same work done by one VecList over all points.
OPERATIONS: list[tuple[str, Callable[[Any], Any], Callable[[VecList], Any]]] = [
    ("rotated", lambda x: quorvane_dask.rotated(x, TURN), lambda v: np.asarray(v.rotated(TURN))),
    ("normalize", quorvane_dask.normalize, lambda v: np.asarray(v.normalize())),
    ("distance_to", lambda x: quorvane_dask.distance_to(x, PROBE), lambda v: np.asarray(v.distance_to_array(PROBE))),
    ("dot", lambda x: quorvane_dask.dot(x, PROBE), lambda v: np.asarray(v.dot_array(PROBE))),
    ("nearest", lambda x: quorvane_dask.nearest(x, PROBE), lambda v: v.minimum_distance_to(PROBE, 1)),
    ("sum", quorvane_dask.sum, lambda v: v.sum()),
    ("mean", quorvane_dask.mean, lambda v: v.mean()),
    ("bounds", quorvane_dask.bounds, lambda v: v.bounds()),
]
REDUCTIONS_OF_THE_LIST = {"sum", "mean", "bounds"}


def as_bits(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return value.shape, value.tobytes()
    if isinstance(value, tuple):
        return tuple(as_bits(v) for v in value)
    return pickle.dumps(value, protocol=4)


@pytest.mark.parametrize("chunks", CHUNKINGS, ids=lambda c: "-".join(map(str, c[0])))
@pytest.mark.parametrize(("name", "operation", "alone"), OPERATIONS, ids=[o[0] for o in OPERATIONS])
def test_operation_on_the_cluster_equals_one_list(client: Any, name: str, operation: Callable[[Any], Any],
                                                  alone: Callable[[VecList], Any], chunks: tuple[Any, ...]) -> None:
    if name in REDUCTIONS_OF_THE_LIST and not hasattr(VecList, name):
        pytest.skip(f"this quorvane's VecList has no {name}()")
    points = cloud_array()
    computed = result(client.compute(operation(da.from_array(points, chunks=(chunks[0], 3)))))
    assert as_bits(computed) == as_bits(alone(VecList.from_array(points)))


def test_nearest_ties_go_to_the_lowest_index_across_chunks(client: Any) -> None:
    points = np.array([[5.0, 0, 0], [1.0, 0, 0], [math.nan, 0, 0], [-1.0, 0, 0], [1.0, 0, 0]])
    for sizes in [(1, 1, 1, 1, 1), (2, 3), (4, 1)]:
        x = da.from_array(points, chunks=(sizes, 3))
        assert result(client.compute(quorvane_dask.nearest(x, Vec3d(0, 0, 0)))) == (1, 1.0)
    nans = da.from_array(np.full((4, 3), math.nan), chunks=((1, 3), 3))
    index, distance = result(client.compute(quorvane_dask.nearest(nans, Vec3d(0, 0, 0))))
    assert (index, math.isnan(distance)) == (0, True) == (VecList.from_array(nans.compute()).minimum_distance_to(
        Vec3d(0, 0, 0), 1)[0], True)


EMPTY = np.zeros((0, 3))
# Calls that would panic or go wrong inside the list, and the ordinary error each raises instead.
REFUSED = [
    (lambda: quorvane_dask.nearest(da.from_array(EMPTY), PROBE), ValueError,
     r"^nearest\(\) needs at least one point, and the array is empty$"),
    (lambda: quorvane_dask.mean(da.from_array(EMPTY)), ValueError, r"^mean\(\) needs at least one point"),
    (lambda: quorvane_dask.bounds(da.from_array(EMPTY)), ValueError, r"^bounds\(\) needs at least one point"),
    (lambda: quorvane_dask.rotated(np.zeros((2, 3)), TURN), TypeError,
     r"^rotated\(\) needs a dask array of points, not ndarray$"),
    (lambda: quorvane_dask.dot(da.zeros((2, 4)), PROBE), ValueError, r"^dot\(\) needs points of shape \(n, 3\), not \(2, 4\)$"),
    (lambda: quorvane_dask.normalize(da.zeros((2, 3), dtype="f4")), TypeError,
     r"^normalize\(\) needs points of dtype float64, not float32$"),
    (lambda: quorvane_dask.distance_to(da.zeros((2, 3)), (0, 0, 0)), TypeError,
     r"^distance_to\(\) needs a Vec3d as p, not tuple$"),
    (lambda: quorvane_dask.rotated(da.zeros((2, 3)), Vec3d(0, 0, 1)), TypeError,
     r"^rotated\(\) needs a Quat as quat, not Vec3d$"),
    (lambda: quorvane_dask.nearest(da.zeros((4, 3))[da.zeros(4) > -1], PROBE), ValueError,
     r"^nearest\(\) needs known chunk sizes"),
]


@pytest.mark.parametrize(("make", "error", "text"), REFUSED, ids=range(len(REFUSED)))
def test_bad_input_raises_an_ordinary_error_before_any_task(make: Callable[[], Any], error: type, text: str) -> None:
    if "mean" in text and not hasattr(VecList, "mean") or "bounds" in text and not hasattr(VecList, "bounds"):
        pytest.skip("this quorvane's VecList has no such reduction")
    with pytest.raises(error, match=text):
        make()


def test_the_sum_of_no_points_is_zero(client: Any) -> None:
    if not hasattr(VecList, "sum"):
        pytest.skip("this quorvane's VecList has no sum()")
    assert as_bits(result(client.compute(quorvane_dask.sum(da.from_array(EMPTY))))) == as_bits(Vec3d.zero())

