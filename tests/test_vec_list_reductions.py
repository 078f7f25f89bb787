"""VecList reductions (sum, mean, bounds), selection (take, take_triangles, select) and per-point
operations with an array or a plane (scaled_elementwise, the distances to a plane): the bits of a
plain-Python computation of each formula, every index and mask buffer, the exact error texts,
hostile items, worker counts and a racing writer."""

from __future__ import annotations

import array
import ctypes
import functools
import hashlib
import json
import math
import random
import struct

import pytest
from conftest import assert_floats, bits, same_float
from test_vec_list_batch import run_child

from quorvane import Quat, Vec3d, VecList, geometry

# The tables below are written with numpy arrays; the ThreadSanitizer environment has no numpy
# (the racing-writer test of these members is in test_vec_list_threads.py).
np = pytest.importorskip("numpy")

BLOCK = 4096  # the reductions' block length, part of the documented order of the sum
TINY = 5e-324
SPECIALS = [0.0, -0.0, TINY, -TINY, 2.2250738585072014e-308 / 3, 1e308, -1e308, float("inf"), float("-inf"),
            float("nan"), 1e16, -1e16, 0.1, 1.0]


def cloud(n: int, seed: int = 7, specials: bool = False) -> list[Vec3d]:
    """Values of very different sizes, so that a sum in another order has other bits."""
    rng = random.Random(seed)
    values = [rng.choice([1e16, 1.0, 1e-3, 3.0]) * rng.uniform(-1, 1) for _ in range(3 * n)]
    if specials:
        for k in range(0, len(values), 97):
            values[k] = SPECIALS[(k // 97) % len(SPECIALS)]
    return [Vec3d(*values[3 * i:3 * i + 3]) for i in range(n)]


def components(v: Vec3d) -> tuple[float, float, float]:
    return v.x, v.y, v.z


def plain_sum(vectors: list[Vec3d]) -> tuple[float, ...]:
    """Blocks of 4,096 summed from their first element, then the blocks from the first block's sum."""
    totals = []
    for c in range(3):
        blocks = []
        for start in range(0, len(vectors), BLOCK):
            block = [components(v)[c] for v in vectors[start:start + BLOCK]]
            total = block[0]
            for value in block[1:]:
                total += value
            blocks.append(total)
        total = blocks[0] if blocks else 0.0
        for value in blocks[1:]:
            total += value
        totals.append(total)
    return tuple(totals)


def zero_order(x: float) -> tuple[float, float]:
    """The bounds' order: numbers as usual, -0 below +0."""
    return x, math.copysign(1.0, x)


def plain_bounds(vectors: list[Vec3d]) -> tuple[tuple[float, ...], tuple[float, ...]]:
    least, greatest = [], []
    for c in range(3):
        values = [components(v)[c] for v in vectors]
        nans = [x for x in values if math.isnan(x)]
        least.append(nans[0] if nans else min(values, key=zero_order))
        greatest.append(nans[0] if nans else max(values, key=zero_order))
    return tuple(least), tuple(greatest)


def assert_vectors(actual: VecList | list[Vec3d], expected: list[Vec3d] | list[tuple[float, ...]]) -> None:
    assert_floats([c for v in actual for c in components(v)],
                  [c for v in expected for c in (components(v) if isinstance(v, Vec3d) else v)])


SIZES = [1, 2, 5, BLOCK - 1, BLOCK, BLOCK + 1, 3 * BLOCK + 17]


# ---- the formulas, bit for bit ----


class TestReductions:
    @pytest.mark.parametrize("n", SIZES)
    @pytest.mark.parametrize("specials", [False, True])
    def test_sum_and_mean_follow_the_block_order(self, n: int, specials: bool) -> None:
        vectors = cloud(n, specials=specials)
        expected = plain_sum(vectors)
        assert_floats(components(VecList(vectors).sum()), expected)
        assert_floats(components(VecList(vectors).mean()), [c / float(n) for c in expected])

    def test_the_data_tells_the_block_order_from_one_running_sum(self) -> None:
        vectors = cloud(3 * BLOCK + 17)
        running = sum((components(v)[0] for v in vectors[1:]), components(vectors[0])[0])
        assert bits(running) != bits(VecList(vectors).sum().x)

    @pytest.mark.parametrize("zero", [0.0, -0.0])
    def test_a_sum_starts_from_the_first_element_not_from_zero(self, zero: float) -> None:
        assert [bits(c) for c in components(VecList([Vec3d(zero, zero, zero)] * 5).sum())] == [bits(zero)] * 3
        assert [bits(c) for c in components(VecList.empty().sum())] == [bits(0.0)] * 3

    @pytest.mark.parametrize("n", SIZES)
    @pytest.mark.parametrize("specials", [False, True])
    def test_bounds_are_the_least_and_greatest_with_nan_winning(self, n: int, specials: bool) -> None:
        vectors = cloud(n, seed=n, specials=specials)
        least, greatest = VecList(vectors).bounds()
        expected_least, expected_greatest = plain_bounds(vectors)
        assert_floats(components(least), expected_least)
        assert_floats(components(greatest), expected_greatest)

    @pytest.mark.parametrize(("values", "least", "greatest"), [
        ([0.0, -0.0], -0.0, 0.0),
        ([-0.0, 0.0], -0.0, 0.0),
        ([1.0, 0.0, -0.0, 2.0], -0.0, 2.0),
        ([-0.0, -0.0], -0.0, -0.0),
        ([TINY, -TINY], -TINY, TINY),
        ([float("-inf"), 1.0, float("inf")], float("-inf"), float("inf")),
    ])
    def test_bounds_put_negative_zero_below_zero(self, values: list[float], least: float, greatest: float) -> None:
        low, high = VecList([Vec3d(x, 0, 0) for x in values]).bounds()
        assert (bits(low.x), bits(high.x)) == (bits(least), bits(greatest))

    def test_the_first_nan_of_a_component_is_both_bounds(self) -> None:
        quiet = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000001))[0]
        other = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000002))[0]
        vectors = [Vec3d(1, 2, 3)] * (2 * BLOCK) + [Vec3d(quiet, 5, 6), Vec3d(other, 7, 8)]
        low, high = VecList(vectors).bounds()
        assert (bits(low.x), bits(high.x)) == (bits(quiet), bits(quiet))
        assert (low.y, high.y, low.z, high.z) == (2, 7, 3, 8)

    @pytest.mark.parametrize("method", ["mean", "bounds"])
    def test_an_empty_list_has_no_mean_and_no_bounds(self, method: str) -> None:
        with pytest.raises(ValueError, match="^the list is empty$"):
            getattr(VecList.empty(), method)()


class TestSelection:
    @pytest.mark.parametrize("n", [1, 3, BLOCK + 1])
    def test_take_gathers_in_the_order_given(self, n: int) -> None:
        vectors = cloud(n, specials=True)
        indices = [random.Random(n).randrange(n) for _ in range(2 * n + 3)]
        assert_vectors(VecList(vectors).take(indices), [vectors[i] for i in indices])

    @pytest.mark.parametrize("n", [1, 4, BLOCK + 3])
    def test_take_triangles_gives_the_corner_lists(self, n: int) -> None:
        vectors = cloud(n)
        rng = random.Random(n)
        faces = [[rng.randrange(n) for _ in range(3)] for _ in range(n + 2)]
        corners = VecList(vectors).take_triangles(faces)
        assert isinstance(corners, tuple) and len(corners) == 3
        for k, corner in enumerate(corners):
            assert_vectors(corner, [vectors[face[k]] for face in faces])
        via_numpy = VecList(vectors).take_triangles(np.array(faces, dtype=np.int32))
        assert [c.to_array() for c in via_numpy] == [c.to_array() for c in corners]

    @pytest.mark.parametrize("n", [1, 3, BLOCK + 5, 3 * BLOCK])
    def test_select_keeps_the_masked_elements_in_order(self, n: int) -> None:
        vectors = cloud(n)
        mask = [random.Random(n).random() < 0.4 for _ in range(n)]
        expected = [v for v, keep in zip(vectors, mask) if keep]
        assert_vectors(VecList(vectors).select(mask), expected)
        assert_vectors(VecList(vectors).select(np.array(mask)), expected)
        assert_vectors(VecList(vectors).select(np.array(mask, dtype=np.uint8) * 7), expected)

    def test_results_are_new_objects(self) -> None:
        items = VecList([Vec3d(1, 2, 3)])
        low, high = items.bounds()
        assert low is not high and items.take([0]) is not items and items.select([True]) is not items
        first, second, third = items.take_triangles([[0, 0, 0]])
        first.append(Vec3d(0, 0, 0))
        assert (len(first), len(second), len(third), len(items)) == (2, 1, 1, 1)


class TestPerPoint:
    @pytest.mark.parametrize("n", [1, 7, BLOCK + 9])
    def test_scaled_elementwise_is_vec3d_times_float(self, n: int) -> None:
        vectors = cloud(n, specials=True)
        factors = [SPECIALS[i % len(SPECIALS)] if i % 3 else random.Random(i).uniform(-4, 4) for i in range(n)]
        expected = [(f * v.x, f * v.y, f * v.z) for v, f in zip(vectors, factors)]
        assert_vectors(VecList(vectors).scaled_elementwise(factors), expected)
        assert_vectors(VecList(vectors).scaled_elementwise(np.array(factors)), [v * f for v, f in zip(vectors, factors)])

    @pytest.mark.parametrize("normal", [Vec3d(0.3, -0.4, 0.5), Vec3d(0, 0, 1), Vec3d(1e-300, 0, 0)])
    def test_distances_to_a_plane_are_those_of_the_plane(self, normal: Vec3d) -> None:
        plane = geometry.Plane(normal, 1.25)
        vectors = cloud(BLOCK + 11, specials=True)
        n, d = plane.normal, plane.distance
        signed = [d + ((n.x * v.x + n.y * v.y) + n.z * v.z) for v in vectors]
        result = VecList(vectors).signed_distance_to_plane_array(plane)
        assert (result.format, result.shape, result.readonly) == ("d", (len(vectors),), False)
        assert_floats(result.tolist(), signed)
        distances = VecList(vectors).distance_to_plane_array(plane).tolist()
        assert_floats(distances, [abs(s) for s in signed])
        assert all(same_float(a, plane.distance_to_point(v)) for a, v in zip(distances, vectors))


# ---- the argument forms ----

INDICES = [2, 0, 1, 1, 2]
INDEX_FORMS = {
    **{f"numpy {t}": (lambda t=t: np.array(INDICES, dtype=t)) for t in
       ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64", "intp"]},
    **{f"array {code}": (lambda code=code: array.array(code, INDICES)) for code in "bBhHiIlLqQ"},
    "memoryview": lambda: memoryview(bytes(INDICES)),
    "memoryview cast": lambda: memoryview(array.array("q", INDICES)).cast("B").cast("q"),
    "ctypes": lambda: (ctypes.c_int32 * 5)(*INDICES),
    "every other": lambda: np.array([x for i in INDICES for x in (i, 99)], dtype=np.int16)[::2],
    "reversed": lambda: np.array(INDICES[::-1], dtype=np.uint32)[::-1],
    "column": lambda: np.array([[i, 99] for i in INDICES], dtype=np.int64)[:, 0],
    "tuple": lambda: tuple(INDICES),
    "bools and numpy ints": lambda: [np.uint8(2), False, True, np.int64(1), 2],
}


@pytest.mark.parametrize("form", INDEX_FORMS.values(), ids=INDEX_FORMS.keys())
def test_take_reads_every_integer_buffer_and_sequence(form) -> None:
    items = VecList([Vec3d(0, 0, 0), Vec3d(1, 1, 1), Vec3d(2, 2, 2)])
    assert [v.x for v in items.take(form())] == INDICES


def test_take_triangles_reads_strided_and_ctypes_rows() -> None:
    items = VecList([Vec3d(i, 0, 0) for i in range(4)])
    faces = np.array([[0, 1, 2, 9], [3, 2, 1, 9]], dtype=np.uint16)[:, :3]
    rows = ((ctypes.c_int64 * 3) * 2)((0, 1, 2), (3, 2, 1))
    for form in (faces, faces.T.copy().T, rows, [[0, 1, 2], (3, 2, 1)]):
        assert [[v.x for v in corner] for corner in items.take_triangles(form)] == [[0, 3], [1, 2], [2, 1]]


THREE = [Vec3d(1, 2, 3), Vec3d(4, 5, 6), Vec3d(7, 8, 9)]
ERRORS = [
    ("take", ([5],), IndexError, "index 5 is out of range for a list of 3 elements"),
    ("take", ([-1],), IndexError, "index -1 is out of range for a list of 3 elements"),
    ("take", ([0, 9, 7, -2],), IndexError, "index 9 is out of range for a list of 3 elements"),
    ("take", ([2**70],), IndexError, "index 1180591620717411303424 is out of range for a list of 3 elements"),
    ("take", ([0, -2**64, 2**70],), IndexError, "index -18446744073709551616 is out of range for a list of 3 elements"),
    ("take", (np.array([2**64 - 1], dtype=np.uint64),), IndexError,
     "index 18446744073709551615 is out of range for a list of 3 elements"),
    ("take", (np.array([-3], dtype=np.int8),), IndexError, "index -3 is out of range for a list of 3 elements"),
    ("take", ([1.0],), TypeError, "argument 'indices': 'float' object cannot be interpreted as an integer"),
    ("take", ({1},), TypeError,
     "argument 'indices': expected a sequence of int or a one-dimensional buffer of integers, got 'set'"),
    ("take", (np.zeros(2),), TypeError, "argument 'indices': expected a buffer of integers, got format 'd' with 8-byte items"),
    ("take", (np.zeros(2, dtype=bool),), TypeError,
     "argument 'indices': expected a buffer of integers, got format '?' with 1-byte items"),
    ("take", (np.zeros(1, dtype=">i8"),), TypeError,
     "argument 'indices': expected a buffer of integers, got format '>q' with 8-byte items"),
    ("take", (np.zeros((2, 2), dtype=int),), ValueError,
     "argument 'indices': expected a one-dimensional buffer, got shape (2, 2)"),
    ("take", (np.int64(0),), ValueError, "argument 'indices': expected a one-dimensional buffer, got shape ()"),
    ("take", (0,), TypeError,
     "argument 'indices': expected a sequence of int or a one-dimensional buffer of integers, got 'int'"),
    ("take_triangles", ([[0, 1]],), ValueError, "argument 'faces': expected rows of 3 int, got 2 in row 0"),
    ("take_triangles", ([[0, 1, 2], 5],), TypeError, "argument 'faces': expected rows of 3 int, but row 1 is 'int'"),
    ("take_triangles", (np.zeros(3, dtype=int),), ValueError,
     "argument 'faces': expected a buffer of shape (m, 3), got shape (3,)"),
    ("take_triangles", ([[0, 1, 2], [2, 1, 3]],), IndexError, "index 3 is out of range for a list of 3 elements"),
    ("take_triangles", (np.array([[0, 1, 2], [4, 1, 3]]),), IndexError,
     "index 4 is out of range for a list of 3 elements"),
    ("select", ([True],), ValueError, "the lengths differ: this list has 3 elements, mask has 1"),
    ("select", ([1, 0, 1],), TypeError, "argument 'mask': 'int' object is not an instance of 'bool'"),
    ("select", (np.zeros(3),), TypeError,
     "argument 'mask': expected a buffer of bool or integers, got format 'd' with 8-byte items"),
    ("scaled_elementwise", ([1.0],), ValueError, "the lengths differ: this list has 3 elements, factors has 1"),
    ("scaled_elementwise", ("abc",), TypeError, "argument 'factors': must be real number, not str"),
    ("scaled_elementwise", (np.zeros(3, dtype=np.float16),), TypeError,
     "argument 'factors': expected a buffer of float64, float32 or integers, got format 'e' with 2-byte items"),
    ("distance_to_plane_array", (Vec3d(0, 0, 1),), TypeError,
     "argument 'plane': 'Vec3d' object is not an instance of 'Plane'"),
    ("sum", (1,), TypeError, "VecList.sum() takes 0 positional arguments but 1 was given"),
    ("take", (), TypeError, "VecList.take() missing 1 required positional argument: 'indices'"),
]


@pytest.mark.parametrize(("method", "args", "error", "text"), ERRORS, ids=[f"{e[0]}-{e[3][:40]}" for e in ERRORS])
def test_errors_name_what_was_wrong(method: str, args: tuple, error: type[Exception], text: str) -> None:
    items = VecList(THREE)
    with pytest.raises(error) as raised:
        getattr(items, method)(*args)
    assert str(raised.value) == text
    assert items.to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0], [7.0, 8.0, 9.0]]


def test_an_index_error_names_the_first_bad_index_of_a_long_buffer() -> None:
    indices = np.zeros(5 * BLOCK, dtype=np.int64)
    indices[[3 * BLOCK + 1, 4 * BLOCK, BLOCK + 2]] = [-5, 10, 7]
    with pytest.raises(IndexError, match="^index 7 is out of range for a list of 1 element$"):
        VecList([Vec3d(0, 0, 0)]).take(indices)


def test_arguments_go_by_keyword_too() -> None:
    items = VecList(THREE)
    assert items.take(indices=[1])[0] == THREE[1]
    assert len(items.select(mask=[True, False, True])) == 2
    assert items.scaled_elementwise(factors=[1, 2, 3])[2] == THREE[2] * 3
    assert len(items.take_triangles(faces=[[0, 1, 2]])[0]) == 1


# ---- hostile items ----


class Interrupting:
    def __index__(self) -> int:
        raise KeyboardInterrupt

    def __float__(self) -> float:
        raise KeyboardInterrupt


class bool_:  # noqa: N801 - named as numpy's boolean scalar, which the bool conversion accepts
    def __bool__(self) -> bool:
        raise KeyboardInterrupt


bool_.__module__ = "numpy"


class InterruptingBuffer:
    def __buffer__(self, flags: int) -> memoryview:
        raise KeyboardInterrupt


@pytest.mark.parametrize(("method", "argument"), [
    ("take", [0, Interrupting()]),
    ("take_triangles", [[0, 1, Interrupting()]]),
    ("select", [True, bool_(), False]),
    ("scaled_elementwise", [1.0, 2.0, Interrupting()]),
    ("take", InterruptingBuffer()),
    ("scaled_elementwise", InterruptingBuffer()),
])
def test_an_interrupt_from_an_item_conversion_propagates(method: str, argument: list) -> None:
    with pytest.raises(KeyboardInterrupt):
        getattr(VecList(THREE), method)(argument)


def test_an_item_that_appends_to_the_list_meets_the_borrow() -> None:
    items = VecList(THREE)

    class Appending:
        def __index__(self) -> int:
            items.append(Vec3d(0, 0, 0))
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        items.take([Appending()])
    assert len(items) == 3


# ---- worker counts and threads ----


def digests() -> dict[str, str]:
    vectors = VecList(cloud(6 * BLOCK + 5, seed=3, specials=True))
    n = len(vectors)
    rng = np.random.default_rng(5)
    plane = geometry.Plane(Vec3d(0.3, -0.4, 0.5), 1.25)

    def digest(value: object) -> str:
        if isinstance(value, VecList):
            value = value.to_array()
        elif isinstance(value, memoryview):
            value = value.tolist()
        elif isinstance(value, (tuple, Vec3d)):
            value = [digest(part) for part in value] if isinstance(value, tuple) else [value.x, value.y, value.z]
        return hashlib.sha256(json.dumps(value).encode()).hexdigest()

    results = {
        "sum": vectors.sum(), "mean": vectors.mean(), "bounds": vectors.bounds(),
        "take": vectors.take(rng.integers(0, n, n)), "take_triangles": vectors.take_triangles(rng.integers(0, n, (n, 3))),
        "select": vectors.select(rng.random(n) < 0.5), "scaled": vectors.scaled_elementwise(rng.normal(size=n)),
        "distance": vectors.distance_to_plane_array(plane), "signed": vectors.signed_distance_to_plane_array(plane),
    }
    return {name: digest(value) for name, value in results.items()}


@functools.cache
def digests_here() -> dict[str, str]:
    return digests()


@pytest.mark.parametrize("workers", ["1", "3"])
def test_results_do_not_depend_on_the_worker_count(workers: str) -> None:
    there = json.loads(run_child("""
        import json, test_vec_list_reductions
        print(json.dumps(test_vec_list_reductions.digests()))
        """, {"RAYON_NUM_THREADS": workers}))
    assert there == digests_here()


class LengthRaises(list):
    """A list of indices whose len() raises: an ordinary error is only a missing hint."""

    def __init__(self, items: list[int], error: BaseException) -> None:
        super().__init__(items)
        self.error = error

    def __len__(self) -> int:
        raise self.error


def test_a_failing_length_is_only_a_missing_hint_but_an_interrupt_propagates() -> None:
    items = VecList(THREE)
    assert items.take(LengthRaises([2, 0], ValueError("no length")))[0] == THREE[2]
    with pytest.raises(KeyboardInterrupt):
        items.take(LengthRaises([2, 0], KeyboardInterrupt()))
