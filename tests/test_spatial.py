"""quorvane.spatial.KdTree against a plain scan of every point.

The scan is VecList.distance_to_array, the module's own distance formula, so every distance the
tree reports must match it bit for bit, and of equal distances the lowest index must win.
"""

from __future__ import annotations

import copy
import pickle
import subprocess
import sys
import threading
from collections.abc import Callable

import pytest

np = pytest.importorskip("numpy")

import quorvane  # noqa: E402
import quorvane.spatial  # noqa: E402
from quorvane import Quat, Vec3d, VecList  # noqa: E402
from quorvane.spatial import KdTree  # noqa: E402

SUBPROCESS_TIMEOUT_S = 120
THREAD_JOIN_TIMEOUT_S = 120


def cloud(rows: np.ndarray) -> VecList:
    return VecList.from_array(np.ascontiguousarray(rows, dtype=np.float64))


def random_rows(n: int, seed: int, scale: float = 1.0) -> np.ndarray:
    return np.random.default_rng(seed).uniform(-scale, scale, size=(n, 3))


def grid(side: int) -> np.ndarray:
    axis = np.arange(side, dtype=np.float64)
    return np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), axis=-1).reshape(-1, 3)


def line(n: int) -> np.ndarray:
    t = (np.arange(n) % 50) * 0.1
    return np.column_stack([t, 2 * t, -t])


def plane(n: int, seed: int) -> np.ndarray:
    rows = random_rows(n, seed)
    rows[:, 2] = 0.5
    return rows


def duplicates(n: int, seed: int) -> np.ndarray:
    return np.random.default_rng(seed).integers(0, 4, size=(n, 3)).astype(np.float64) * [1.0, 1.0, 0.0]


CLOUDS: dict[str, np.ndarray] = {
    "uniform": random_rows(3000, 1),
    "duplicates and ties": duplicates(1500, 2),
    "grid": grid(10),
    "collinear": line(700),
    "coplanar": plane(900, 3),
    "one point": np.array([[1.0, -2.0, 3.0]]),
    "two equal points": np.array([[1.0, 1.0, 1.0], [1.0, 1.0, 1.0]]),
    "two points": np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0]]),
    "huge (1e300)": random_rows(400, 4, 1e300),
    "subnormal": np.random.default_rng(5).integers(-9, 9, size=(400, 3)) * 5e-324,
}


def queries_for(rows: np.ndarray) -> np.ndarray:
    rng = np.random.default_rng(9)
    low, high = rows.min(axis=0), rows.max(axis=0)
    inside = rng.uniform(low, high, size=(40, 3)) if np.all(np.isfinite(high - low)) else rows[:40] * 0.5
    on_points = rows[rng.integers(0, len(rows), 10)]
    far = np.array([[1e6, -1e6, 1e6], [1e300, 1e300, -1e300], [0.0, 0.0, 0.0], [-1e-300, 5e-324, 0.0]])
    return np.concatenate([inside, on_points, far])


def scan(points: VecList, query: Vec3d) -> np.ndarray:
    return np.asarray(points.distance_to_array(query))


def bits(values: object) -> list[int]:
    return np.asarray(values, dtype=np.float64).view(np.int64).tolist()


@pytest.fixture(scope="module", params=list(CLOUDS), ids=list(CLOUDS))
def case(request: pytest.FixtureRequest) -> tuple[VecList, KdTree, VecList]:
    rows = CLOUDS[request.param]
    points = cloud(rows)
    return points, KdTree(points), cloud(queries_for(rows))


class TestAgainstAScan:
    def test_nearest_is_the_first_minimum_of_the_scan(self, case: tuple[VecList, KdTree, VecList]) -> None:
        points, tree, queries = case
        indices, distances = tree.nearest_array(queries)
        for row, query in enumerate(queries):
            distance = scan(points, query)
            expected = int(np.argmin(distance))
            assert tree.nearest(query) == (expected, float(distance[expected]))
            assert (indices[row], bits([distances[row]])) == (expected, bits([distance[expected]]))

    def test_k_nearest_is_the_scan_sorted_by_distance_then_index(
            self, case: tuple[VecList, KdTree, VecList]) -> None:
        points, tree, queries = case
        k = min(len(points), 7)
        table_indices, table_distances = tree.k_nearest_array(queries, k)
        assert (table_indices.shape, table_distances.shape) == ((len(queries), k), (len(queries), k))
        for row, query in enumerate(queries):
            distance = scan(points, query)
            order = np.argsort(distance, kind="stable")[:k]
            indices, distances = tree.k_nearest(query, k)
            assert indices.tolist() == order.tolist() == table_indices.tolist()[row]
            assert bits(distances) == bits(distance[order]) == bits(table_distances.tolist()[row])

    def test_within_takes_every_point_on_the_sphere_too(self, case: tuple[VecList, KdTree, VecList]) -> None:
        points, tree, queries = case
        for query in queries:
            distance = scan(points, query)
            # Radii equal to distances that occur put points exactly on the boundary.
            for radius in {float(distance[0]), float(np.median(distance)), 0.0, float(np.inf)}:
                expected = np.nonzero(distance <= radius)[0].tolist()
                assert tree.within(query, radius).tolist() == expected
                assert tree.count_within_array(VecList([query]), radius).tolist() == [len(expected)]


def test_many_queries_answer_as_one_query_at_a_time() -> None:
    # Large batches are answered in an order of the tree's own; every answer must still land in
    # its query's slot.
    rows = duplicates(2000, 21) + random_rows(2000, 22, 0.3)
    tree = KdTree(cloud(rows))
    queries = cloud(random_rows(6000, 23, 4.0))
    indices, distances = tree.nearest_array(queries)
    k_indices, k_distances = tree.k_nearest_array(queries, 3)
    counts = tree.count_within_array(queries, 0.7)
    for row, query in enumerate(queries):
        assert (indices[row], distances[row]) == tree.nearest(query)
        assert [view.tolist() for view in tree.k_nearest(query, 3)] == [k_indices.tolist()[row],
                                                                        k_distances.tolist()[row]]
        assert counts[row] == len(tree.within(query, 0.7))


def test_results_are_the_same_for_one_worker_and_many() -> None:
    script = (
        "import hashlib, numpy as np\n"
        "from quorvane import VecList\n"
        "from quorvane.spatial import KdTree\n"
        "rng = np.random.default_rng(3)\n"
        "points = VecList.from_array(rng.integers(0, 20, size=(20000, 3)).astype(float) * 0.5)\n"
        "queries = VecList.from_array(rng.uniform(-1, 11, size=(5000, 3)))\n"
        "tree = KdTree(points)\n"
        "digest = hashlib.sha256()\n"
        "for view in (*tree.nearest_array(queries), *tree.k_nearest_array(queries, 5),\n"
        "             tree.count_within_array(queries, 1.0)):\n"
        "    digest.update(bytes(view))\n"
        "print(digest.hexdigest())\n"
    )

    def run(environment: dict[str, str]) -> str:
        import os
        env = {key: value for key, value in os.environ.items() if not key.startswith("RAYON_")} | environment
        done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                              timeout=SUBPROCESS_TIMEOUT_S, check=True)
        return done.stdout

    assert run({"RAYON_NUM_THREADS": "1"}) == run({}) == run({"RAYON_NUM_THREADS": "3"})


class TestErrors:
    TREE = KdTree(VecList([Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(2, 0, 0)]))
    EMPTY = KdTree(VecList([]))
    NAN = Vec3d(float("nan"), 0, 0)

    @pytest.mark.parametrize(("call", "error", "text"), [
        (lambda: KdTree(VecList([Vec3d(0, 0, 0)] * 17 + [Vec3d(0, float("inf"), 0)])), ValueError,
         "point 17 is not finite"),
        (lambda: KdTree([Vec3d(0, 0, 0)]), TypeError, "argument 'points': 'list' object is not an instance of 'VecList'"),
        (lambda: KdTree(), TypeError, "KdTree.__new__() missing 1 required positional argument: 'points'"),
        (lambda: TestErrors.EMPTY.nearest(Vec3d(0, 0, 0)), ValueError, "the tree is empty"),
        (lambda: TestErrors.EMPTY.nearest_array(VecList([])), ValueError, "the tree is empty"),
        (lambda: TestErrors.EMPTY.k_nearest(Vec3d(0, 0, 0), 1), ValueError, "the tree is empty"),
        (lambda: TestErrors.EMPTY.k_nearest_array(VecList([]), 1), ValueError, "the tree is empty"),
        (lambda: TestErrors.TREE.nearest(TestErrors.NAN), ValueError, "p is not finite"),
        (lambda: TestErrors.TREE.k_nearest(TestErrors.NAN, 1), ValueError, "p is not finite"),
        (lambda: TestErrors.TREE.within(TestErrors.NAN, 1.0), ValueError, "p is not finite"),
        (lambda: TestErrors.TREE.nearest_array(VecList([Vec3d(0, 0, 0)] * 3 + [TestErrors.NAN])), ValueError,
         "query 3 is not finite"),
        (lambda: TestErrors.TREE.count_within_array(VecList([TestErrors.NAN]), 1.0), ValueError,
         "query 0 is not finite"),
        (lambda: TestErrors.TREE.k_nearest(Vec3d(0, 0, 0), 0), ValueError, "k must be from 1 to 3, got 0"),
        (lambda: TestErrors.TREE.k_nearest_array(VecList([]), 4), ValueError, "k must be from 1 to 3, got 4"),
        (lambda: TestErrors.TREE.within(Vec3d(0, 0, 0), -1e-300), ValueError, "radius must not be negative or NaN"),
        (lambda: TestErrors.TREE.count_within_array(VecList([]), float("nan")), ValueError,
         "radius must not be negative or NaN"),
        (lambda: TestErrors.TREE.nearest(p=1), TypeError, "argument 'p': 'int' object is not an instance of 'Vec3d'"),
        (lambda: TestErrors.TREE.k_nearest(Vec3d(0, 0, 0), 1, 2), TypeError,
         "KdTree.k_nearest() takes 2 positional arguments but 3 were given"),
    ])
    def test_texts(self, call: Callable[[], object], error: type[Exception], text: str) -> None:
        with pytest.raises(error) as raised:
            call()
        assert str(raised.value) == text

    @pytest.mark.parametrize("error", [KeyboardInterrupt, MemoryError, SystemExit])
    @pytest.mark.parametrize("call", [
        pytest.param(lambda radius: TestErrors.TREE.within(Vec3d(0, 0, 0), radius), id="within"),
        pytest.param(lambda radius: TestErrors.TREE.count_within_array(VecList([Vec3d(0, 0, 0)]), radius),
                     id="count_within_array"),
    ])
    def test_an_interrupt_while_converting_goes_on_up(self, call: Callable[[object], object],
                                                       error: type[BaseException]) -> None:
        class Raises:
            def __float__(self) -> float:
                raise error("from __float__")

        with pytest.raises(error, match="from __float__"):
            call(Raises())

    def test_a_negative_k_is_an_overflow(self) -> None:
        with pytest.raises(OverflowError):
            self.TREE.k_nearest(Vec3d(0, 0, 0), -1)


class TestTheObject:
    def test_module_names_and_imports(self) -> None:
        from quorvane.spatial import KdTree as imported

        assert imported is KdTree is quorvane.spatial.KdTree
        assert sys.modules["quorvane.spatial"] is quorvane.spatial
        assert quorvane.spatial.__all__ == ["KdTree"]
        assert "spatial" not in quorvane.__all__
        assert (KdTree.__module__, KdTree.__qualname__) == ("quorvane.spatial", "KdTree")
        assert pickle.loads(pickle.dumps(KdTree)) is KdTree
        with pytest.raises(TypeError):
            type("Sub", (KdTree,), {})

    def test_length_repr_points_and_an_empty_tree(self) -> None:
        rows = random_rows(50, 8)
        tree = KdTree(cloud(rows))
        assert (len(tree), repr(tree)) == (50, "KdTree(50 points)")
        assert bits(np.asarray(tree.points().to_array())) == bits(rows)
        empty = KdTree(VecList([]))
        assert (len(empty), repr(empty), len(empty.points())) == (0, "KdTree(0 points)", 0)
        assert empty.within(Vec3d(0, 0, 0), 1.0).tolist() == []
        assert empty.count_within_array(VecList([Vec3d(0, 0, 0)]), 1.0).tolist() == [0]

    def test_the_tree_copies_its_points(self) -> None:
        points = VecList([Vec3d(0, 0, 0), Vec3d(5, 0, 0)])
        tree = KdTree(points)
        points.rotate(Quat(0, 0, 0, 1))  # half a turn about z: (5, 0, 0) goes to (-5, 0, 0)
        assert tree.nearest(Vec3d(4, 0, 0)) == (1, 1.0)

    def test_results_own_their_memory(self) -> None:
        tree = KdTree(VecList([Vec3d(0, 0, 0), Vec3d(3, 4, 0)]))
        indices, distances = tree.k_nearest_array(VecList([Vec3d(0, 0, 0)] * 2), 2)
        del tree
        assert (indices.format, distances.format, indices.readonly) == ("q", "d", False)
        assert indices.tolist() == [[0, 1], [0, 1]] and distances.tolist() == [[0.0, 5.0], [0.0, 5.0]]
        assert np.asarray(distances).base is not None

    @pytest.mark.parametrize("duplicate", [
        *(pytest.param(lambda tree, p=p: pickle.loads(pickle.dumps(tree, protocol=p)), id=f"pickle {p}")
          for p in range(2, 6)),
        pytest.param(copy.copy, id="copy"),
        pytest.param(copy.deepcopy, id="deepcopy"),
    ])
    def test_copies_answer_with_the_same_bits(self, duplicate: Callable[[KdTree], KdTree]) -> None:
        points = cloud(duplicates(500, 4) + random_rows(500, 5, 1e-9))
        queries = cloud(random_rows(300, 6, 4.0))
        tree = KdTree(points)
        twin = duplicate(tree)
        assert twin is not tree and type(twin) is KdTree
        for ours, theirs in zip([*tree.k_nearest_array(queries, 4), tree.count_within_array(queries, 1.5)],
                                [*twin.k_nearest_array(queries, 4), twin.count_within_array(queries, 1.5)],
                                strict=True):
            assert bytes(ours) == bytes(theirs)


def test_threads_query_one_tree_while_another_rotates_a_query_list() -> None:
    tree = KdTree(cloud(random_rows(20000, 11, 10.0)))
    own_queries = cloud(random_rows(500, 12, 10.0))
    expected = [bytes(view) for view in tree.nearest_array(own_queries)]
    shared = cloud(random_rows(500, 13, 10.0))
    turn = Quat.from_axis_angle(Vec3d(0, 0, 1), quorvane.AngleRadians(0.1))
    start = threading.Barrier(5, timeout=THREAD_JOIN_TIMEOUT_S)
    failures: list[str] = []

    def query() -> None:
        start.wait()
        for _ in range(30):
            if [bytes(view) for view in tree.nearest_array(own_queries)] != expected:
                failures.append("a result changed")
            try:
                tree.count_within_array(shared, 1.0)
            except RuntimeError as error:  # only the list being rotated may refuse
                if str(error) != "Already mutably borrowed":
                    failures.append(str(error))

    def rotate() -> None:
        start.wait()
        for _ in range(200):
            try:
                shared.rotate(turn)
            except RuntimeError as error:
                if str(error) != "Already borrowed":
                    failures.append(str(error))

    threads = [threading.Thread(target=query) for _ in range(4)] + [threading.Thread(target=rotate)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(THREAD_JOIN_TIMEOUT_S)
    assert not any(thread.is_alive() for thread in threads)
    assert failures == []
