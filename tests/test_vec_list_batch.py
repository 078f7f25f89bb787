"""VecList batch operations: every element exactly as the Vec3d or Quat operation gives it, with
any number of pool workers; the strided nearest-element search; the failure rules."""

from __future__ import annotations

import functools
import hashlib
import json
import math
import os
import random
import struct
import subprocess
import sys
import textwrap
import threading
from collections.abc import Callable

import pytest
from conftest import assert_bits, bits, race, requires_free_threading, same_float, scaled

from quorvane import Quat, Vec3d, VecList

nan = float("nan")
inf = float("inf")
LARGE = scaled(100_000, least=5000)  # large enough that every worker of the pool gets pieces
SIZES = [0, 1, 2, 3, LARGE]


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


def packed(values: list[float]) -> bytes:
    return struct.pack(f"<{len(values)}d", *values)


# ---- sample data, the same in this process and in the child processes below ----

SPECIAL = [0.0, -0.0, inf, -inf, nan, -nan, 5e-324, -1e308, 1e300, 1.0, -1.0]
UNIT_EDGES = [(1.0, 0.0, 0.0), (0.6, 0.8, 0.0), (1 - 2**-53, 0.0, 0.0), (1 + 2**-52, 0.0, 0.0), (0.0, 0.0, 0.0)]


def random_component(rng: random.Random) -> float:
    if rng.random() < 0.08:
        return rng.choice(SPECIAL)
    return rng.uniform(-1, 1) * 10.0 ** rng.randint(-6, 6)


@functools.cache
def sample(n: int, seed: int = 1) -> tuple[VecList, list[Vec3d]]:
    """n vectors with signed zeros, infinities, NaNs of both signs and unit-length edge cases,
    as a VecList and as the plain Vec3d objects it was built from. Callers must not change them."""
    rng = random.Random(seed * 1_000_003 + n)
    rows = [tuple(random_component(rng) for _ in range(3)) for _ in range(n)]
    for k, edge in enumerate(UNIT_EDGES[: n // 2]):
        rows[2 * k] = edge
    elements = [Vec3d(*row) for row in rows]
    return VecList(elements), elements


VECTOR_OPERANDS = [Vec3d(0.75, -2.5, 1e-3), Vec3d(0.0, -0.0, 0.0), Vec3d(inf, -0.0, nan)]
SCALAR_OPERANDS = [2.5, -0.0, 0.0, -inf, nan, 3, True]
QUAT_OPERANDS = [Quat(0.5, 0.5, -0.5, 0.5), Quat(2.0, -1.0, 0.25, 3.0), Quat(0.0, 0.0, 0.0, 0.0),
                 Quat(nan, 0.0, 1.0, 0.0)]


def rotated(vectors: VecList, quat: Quat) -> VecList:
    copy = VecList(vectors)
    assert copy.rotate(quat) is None
    return copy


def collapsed(v: Vec3d, axis: int) -> Vec3d:
    components = parts(v)
    components[axis] = 0.0
    return Vec3d(*components)


# name: (batch operation, the same on one element, its operands)
OPERATIONS: dict[str, tuple[Callable, Callable, list]] = {
    "v + w": (lambda v, w: v + w, lambda e, w: e + w, VECTOR_OPERANDS),
    "v - w": (lambda v, w: v - w, lambda e, w: e - w, VECTOR_OPERANDS),
    "v * s": (lambda v, s: v * s, lambda e, s: e * s, SCALAR_OPERANDS),
    "s * v": (lambda v, s: s * v, lambda e, s: s * e, SCALAR_OPERANDS),
    "v / s": (lambda v, s: v / s, lambda e, s: e / s, SCALAR_OPERANDS),
    "dot": (lambda v, w: v.dot(w), lambda e, w: e.dot(w), VECTOR_OPERANDS),
    "cross": (lambda v, w: v.cross(w), lambda e, w: e.cross(w), VECTOR_OPERANDS),
    "distance_to": (lambda v, w: v.distance_to(w), lambda e, w: e.distance_to(w), VECTOR_OPERANDS),
    "distance_squared": (lambda v, w: v.distance_squared(w), lambda e, w: e.distance_squared(w), VECTOR_OPERANDS),
    "magnitude": (lambda v, _: v.magnitude(), lambda e, _: e.magnitude(), [None]),
    "normalize": (lambda v, _: v.normalize(), lambda e, _: e.normalize(), [None]),
    "is_unit": (lambda v, _: v.is_unit(), lambda e, _: e.is_unit(), [None]),
    "collapse": (lambda v, axis: v.collapse(axis), collapsed, [0, 1, 2]),
    "rotate": (rotated, lambda e, q: q.rotate(e), QUAT_OPERANDS),
}


def components(vectors: list[Vec3d]) -> list[float]:
    """x0, y0, z0, x1, ... without a container per vector (which would keep the collector busy)."""
    out = [0.0] * (3 * len(vectors))
    out[0::3] = [v.x for v in vectors]
    out[1::3] = [v.y for v in vectors]
    out[2::3] = [v.z for v in vectors]
    return out


def flat(result: VecList | list) -> list:
    """A batch result as a flat list of floats (or of bools)."""
    return components(result.list) if isinstance(result, VecList) else result


def canonical(values: list[float]) -> bytes:
    """The bits of the values, but one NaN for all: which NaN operand an operation passes on
    is the hardware's choice."""
    return packed([nan if math.isnan(x) else x for x in values])


def result_digests() -> dict[str, str]:
    """A digest of every batch result over the samples: equal digests mean equal bits, except
    for which NaN a result holds."""
    digests = {}
    for n in (3, LARGE):
        vectors, _ = sample(n)
        for name, (batch, _, operands) in OPERATIONS.items():
            for k, operand in enumerate(operands):
                values = flat(batch(vectors, operand))
                data = bytes(values) if name == "is_unit" else canonical(values)
                digests[f"{name}[{k}] n={n}"] = hashlib.sha256(data).hexdigest()
        digests[f"repr n={n}"] = hashlib.sha256(repr(vectors).encode()).hexdigest()
    vectors = tied_grid(20_000)
    for stride in (1, 2, 7, 1000, 2**64 - 1):
        for point in (Vec3d(0, 0, 0), Vec3d(0.5, 0.5, 0.5), Vec3d(2, -1, 3)):
            digests[f"minimum stride={stride} {point!r}"] = repr(vectors.minimum_distance_to(point, stride))
    return digests


def tied_grid(n: int) -> VecList:
    """Small-integer points, so that many share the smallest distance; a few are NaN."""
    rng = random.Random(n)
    rows = [[float(rng.randint(-3, 3)) for _ in range(3)] for _ in range(n)]
    for k in range(0, n, 997):
        rows[k][rng.randrange(3)] = nan
    return VecList([Vec3d(*row) for row in rows])


# ---- every element as the single-vector operation gives it ----


def assert_same_bits_or_both_nan(actual: list[float], expected: list[float], context: object) -> None:
    """Every bit of every number; for a NaN only that it is one."""
    assert len(actual) == len(expected), context
    if packed(actual) == packed(expected):
        return
    differing = [(i, a.hex(), e.hex()) for i, (a, e) in enumerate(zip(actual, expected))
                 if bits(a) != bits(e) and not (math.isnan(a) and math.isnan(e))]
    assert differing == [], context


class TestElementwise:
    @pytest.mark.parametrize("n", SIZES)
    @pytest.mark.parametrize("name", list(OPERATIONS))
    def test_bits_equal_the_single_vector_operation(self, name: str, n: int) -> None:
        batch, single, operands = OPERATIONS[name]
        vectors, elements = sample(n)
        for operand in operands:
            result = batch(vectors, operand)
            expected = [single(e, operand) for e in elements]
            if isinstance(result, VecList):
                assert len(result) == n and result is not vectors
                expected = components(expected)
            assert type(flat(result)) is list
            if name == "is_unit":
                assert result == expected
            else:
                assert_same_bits_or_both_nan(flat(result), expected, (name, operand))
        assert packed(flat(vectors)) == packed(components(elements)), "the receiver changed"

    def test_two_nans_meeting_give_a_nan(self) -> None:
        # Which of two NaN operands passes through (its sign and payload) is the hardware's and
        # the compiler's choice, as IEEE 754 allows; only that the result is a NaN is promised.
        element = Vec3d(-nan, 1, -nan)
        batch, single = flat(VecList([element]) * nan), parts(element * nan)
        assert all(math.isnan(x) for x in batch + single)

    def test_samples_cover_the_special_values(self) -> None:
        _, elements = sample(LARGE)
        seen = {bits(c) for e in elements for c in parts(e)}
        assert {bits(x) for x in SPECIAL} <= seen
        assert sample(LARGE)[0].is_unit().count(True) >= 3

    @pytest.mark.parametrize("name", list(OPERATIONS))
    def test_empty_lists_give_empty_results(self, name: str) -> None:
        batch, _, operands = OPERATIONS[name]
        result = batch(VecList.empty(), operands[0])
        assert len(result) == 0
        assert type(result) in (VecList, list)

    @pytest.mark.parametrize(
        ("vector", "unit"),
        [((1, 0, 0), True), ((0.6, 0.8, 0), True), ((1 - 2**-53, 0, 0), True), ((0.1, 0.2, 0.3), False),
         ((1 + 2**-52, 0, 0), False), ((0, 0, 0), False), ((nan, 0, 0), False), ((inf, 0, 0), False)],
    )
    def test_is_unit(self, vector, unit: bool) -> None:
        assert VecList([Vec3d(*vector)]).is_unit() == [unit]

    def test_normalizing_a_zero_vector(self) -> None:
        normalized = VecList([Vec3d(0, 0, 0), Vec3d(0.1, 0.2, 0.3)]).normalize()
        assert all(math.isnan(c) for c in parts(normalized[0]))
        assert normalized.is_unit() == [False, True]

    def test_division_is_three_divisions(self) -> None:
        # x / 3 differs from x * (1 / 3) here
        assert VecList([Vec3d(5, 5, 5)]).__truediv__(3).to_array() == [[5 / 3] * 3] != [[5 * (1 / 3)] * 3]
        assert_bits(flat(VecList([Vec3d(1, -1, -0.0)]) / 0.0)[:2], [inf, -inf])
        assert math.isnan((VecList([Vec3d(0, 0, 0)]) / 0)[0].x)

    def test_cross_puts_the_element_on_the_left(self) -> None:
        assert parts(VecList([Vec3d(1, 0, 0)]).cross(Vec3d(0, 1, 0))[0]) == [0.0, 0.0, 1.0]

    def test_collapse_writes_positive_zero(self) -> None:
        vectors = VecList([Vec3d(1, 2, 3), Vec3d(-1, nan, -0.0)])
        assert vectors.collapse(0).to_array()[0] == [0.0, 2.0, 3.0]
        assert vectors.collapse(2).to_array()[0] == [1.0, 2.0, 0.0]
        assert_bits(flat(vectors.collapse(axis=1))[3:], [-1.0, 0.0, -0.0])
        assert_bits(flat(vectors.collapse(2))[3:5], [-1.0, nan])

    @pytest.mark.parametrize("scale", [2, 2.5, -0.0, True])
    def test_scaling_from_either_side(self, scale) -> None:
        vectors, _ = sample(1000)
        assert packed(flat(scale * vectors)) == packed(flat(vectors * scale))

    def test_float_like_operands(self) -> None:
        class FloatLike:
            def __float__(self) -> float:
                return 0.5

        class IndexLike:
            def __index__(self) -> int:
                return 4

        vectors = VecList([Vec3d(2, 4, 8)])
        assert (vectors * FloatLike()).to_array() == [[1.0, 2.0, 4.0]]
        assert (FloatLike() * vectors).to_array() == [[1.0, 2.0, 4.0]]
        assert (vectors / IndexLike()).to_array() == [[0.5, 1.0, 2.0]]

    def test_results_share_nothing_with_the_list(self) -> None:
        vectors = VecList([Vec3d(1, 2, 3)])
        results = [vectors + Vec3d(0, 0, 0), vectors * 1, vectors / 1, vectors.normalize(), vectors.collapse(0)]
        for result in results:
            result.append(Vec3d(0, 0, 0))
            result.rotate(Quat(0, 1, 0, 0))
        assert vectors.to_array() == [[1.0, 2.0, 3.0]]


class TestRotate:
    def test_in_place_same_object_same_length(self) -> None:
        vectors, elements = sample(LARGE)
        copy = VecList(vectors)
        before = id(copy)
        old = iter(copy)
        quat = Quat(0.5, 0.5, 0.5, 0.5)
        assert copy.rotate(quat=quat) is None
        assert id(copy) == before and len(copy) == LARGE
        assert_same_bits_or_both_nan(flat(copy), components([quat.rotate(e) for e in elements]), quat)
        assert packed(components(list(old))) == packed(flat(vectors))

    def test_the_quaternion_is_not_normalised(self) -> None:
        # a quaternion of magnitude 2 scales by 4
        vectors = VecList([Vec3d(1, 0, 0)])
        vectors.rotate(Quat(2, 0, 0, 0))
        assert vectors.to_array() == [[4.0, 0.0, 0.0]]

    def test_empty_list(self) -> None:
        vectors = VecList.empty()
        assert vectors.rotate(Quat(1, 0, 0, 0)) is None
        assert len(vectors) == 0

    def test_a_list_in_use_is_refused_before_its_argument_is_looked_at(self) -> None:
        # A buffer view keeps the list borrowed for reading while it lives.
        vectors = VecList([Vec3d(1, 2, 3)])
        with memoryview(vectors):
            for quat in (Quat(0, 1, 0, 0), None):
                with pytest.raises(RuntimeError, match="^Already borrowed$"):
                    vectors.rotate(quat)
        assert vectors.to_array() == [[1.0, 2.0, 3.0]]
        vectors.rotate(Quat(0, 1, 0, 0))
        assert vectors.to_array() == [[1.0, -2.0, -3.0]]


# ---- the strided nearest-element search ----


def total_order_key(value: float) -> int:
    signed = struct.unpack("<q", struct.pack("<d", value))[0]
    return signed ^ 0x7FFF_FFFF_FFFF_FFFF if signed < 0 else signed


def nearest_in(squared: list[float], indices: range) -> int:
    """The first index of the smallest value in the IEEE total order."""
    best = indices[0]
    for i in indices[1:]:
        if total_order_key(squared[i]) < total_order_key(squared[best]):
            best = i
    return best


def model_minimum(elements: list[Vec3d], point: Vec3d, stride: int) -> int:
    squared = [e.distance_squared(point) for e in elements]
    n = len(squared)
    candidate = nearest_in(squared, range(0, n, stride))
    start = candidate - stride if candidate >= stride else 0
    return nearest_in(squared, range(start, min(candidate + stride, n)))


def check_against_model(elements: list[Vec3d], point: Vec3d, stride: int) -> tuple[int, float]:
    vectors = VecList(elements)
    index, distance = vectors.minimum_distance_to(point, stride)
    assert type(index) is int and type(distance) is float
    assert index == model_minimum(elements, point, stride), (elements, point, stride)
    assert same_float(distance, vectors.distance_to(point)[index])
    assert same_float(distance, math.sqrt(elements[index].distance_squared(point)))
    return index, distance


class TestMinimumDistance:
    def test_stride_beyond_the_length_searches_everything(self) -> None:
        vectors = VecList([Vec3d(5, 0, 0), Vec3d(1, 0, 0), Vec3d(3, 0, 0)])
        assert vectors.minimum_distance_to(Vec3d(0, 0, 0), 10) == (1, 1.0)

    def test_window_around_the_coarse_candidate(self) -> None:
        vectors = VecList([Vec3d(x, 0, 0) for x in (0, 10, 1, 20, 30)])
        assert vectors.minimum_distance_to(Vec3d(1, 0, 0), 2) == (2, 0.0)

    @pytest.mark.parametrize(
        ("xs", "stride", "expected"),
        [
            ((1, -1, 0.5, 0.5), 1, (2, 0.5)),  # equal distances: the lower index
            ((9, 1, 5, -1), 2, (1, 1.0)),  # both tied elements inside the window
            ((3, 3, 3), 1, (0, 3.0)),
            ((100, 0, 50, 100, 10, 100), 2, (4, 10.0)),  # the nearest element lies outside the window
        ],
    )
    def test_ties_and_the_window_rule(self, xs, stride: int, expected) -> None:
        vectors = VecList([Vec3d(x, 0, 0) for x in xs])
        assert vectors.minimum_distance_to(other=Vec3d(0, 0, 0), stride=stride) == expected

    @pytest.mark.parametrize("stride", [1, 2, 3, 5, 64, 2**32, 2**64 - 1])
    def test_large_random_lists_follow_the_model(self, stride: int) -> None:
        _, elements = sample(LARGE)
        finite = [e for e in elements[:40_000] if all(math.isfinite(c) for c in parts(e))]
        for point in (Vec3d(0, 0, 0), Vec3d(3.5, -2, 1e5)):
            check_against_model(elements[1000:20_000], point, stride)
            check_against_model(finite, point, stride)

    def test_small_random_lists_follow_the_model(self) -> None:
        rng = random.Random(7)
        choices = [0.0, -0.0, 1.0, -1.0, 2.0, nan, -nan, inf]
        for _ in range(3000):
            n = rng.randint(1, 12)
            elements = [Vec3d(*(rng.choice(choices) for _ in range(3))) for _ in range(n)]
            point = Vec3d(*(rng.choice([0.0, 1.0, -1.0, 0.5]) for _ in range(3)))
            check_against_model(elements, point, rng.randint(1, n + 2))

    @pytest.mark.parametrize("stride", [1, 2, 4])
    def test_nan_distances_in_the_total_order(self, stride: int) -> None:
        # A NaN with its sign bit set comes before every number, a positive one after.
        positive, negative = Vec3d(nan, 0, 0), Vec3d(-nan, 0, 0)
        assert math.copysign(1, negative.distance_squared(Vec3d(0, 0, 0))) == -1
        index, distance = check_against_model([Vec3d(1, 0, 0), positive, Vec3d(2, 0, 0), negative], Vec3d(0, 0, 0),
                                              stride)
        assert math.isnan(distance) == (index == 3)
        index, distance = check_against_model([positive, positive, positive], Vec3d(0, 0, 0), stride)
        assert index == 0 and math.isnan(distance)

    def test_a_nan_point_gives_the_first_element(self) -> None:
        index, distance = check_against_model([Vec3d(1, 0, 0), Vec3d(0, 0, 0)], Vec3d(nan, 0, 0), 1)
        assert index == 0 and math.isnan(distance)


# ---- failures and their order ----


def panic_of(call: Callable[[], object]) -> str:
    try:
        try:
            call()
        except Exception:  # a PanicException must pass through this
            pytest.fail("the internal failure was caught as an Exception")
    except BaseException as error:  # noqa: BLE001
        assert type(error).__name__ == "PanicException"
        assert not isinstance(error, Exception)
        return str(error)
    pytest.fail("no internal failure was raised")


class TestFailures:
    @pytest.mark.parametrize(
        ("call", "text"),
        [
            (lambda v: v.collapse(3), "assertion failed: axis <= 2"),
            (lambda v: v.collapse(2**64 - 1), "assertion failed: axis <= 2"),
            (lambda v: VecList.empty().collapse(3), "assertion failed: axis <= 2"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
            (lambda v: VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
            (lambda v: VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), 1),
             "called `Option::unwrap()` on a `None` value"),
            (lambda v: VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), 2**64 - 1),
             "called `Option::unwrap()` on a `None` value"),
        ],
    )
    def test_internal_failures(self, call, text: str) -> None:
        vectors = VecList([Vec3d(1, 2, 3)])
        assert panic_of(lambda: call(vectors)) == text
        assert vectors.to_array() == [[1.0, 2.0, 3.0]]

    @pytest.mark.parametrize(
        ("call", "error", "text"),
        [
            # each argument in order, before the assertions and the work
            (lambda v: v.minimum_distance_to(None, 0), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
            (lambda v: v.minimum_distance_to(Quat(1, 0, 0, 0), -1), TypeError,
             "argument 'other': 'Quat' object is not an instance of 'Vec3d'"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0), -1), OverflowError, "can't convert negative int to unsigned"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0), 2**64), OverflowError, "int too big to convert"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0), 1.0), TypeError,
             "argument 'stride': 'float' object cannot be interpreted as an integer"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0)), TypeError,
             "VecList.minimum_distance_to() missing 1 required positional argument: 'stride'"),
            (lambda v: v.minimum_distance_to(), TypeError,
             "VecList.minimum_distance_to() missing 2 required positional arguments: 'other' and 'stride'"),
            (lambda v: v.minimum_distance_to(Vec3d(0, 0, 0), 1, step=1), TypeError,
             "VecList.minimum_distance_to() got an unexpected keyword argument 'step'"),
            (lambda v: v.collapse(-1), OverflowError, "can't convert negative int to unsigned"),
            (lambda v: v.collapse(None), TypeError, "argument 'axis': 'NoneType' object cannot be interpreted as an integer"),
            (lambda v: v.collapse(0.0), TypeError, "argument 'axis': 'float' object cannot be interpreted as an integer"),
            (lambda v: v.rotate(Vec3d(1, 0, 0)), TypeError, "argument 'quat': 'Vec3d' object is not an instance of 'Quat'"),
            (lambda v: v.rotate(None), TypeError, "argument 'quat': 'None' is not an instance of 'Quat'"),
            (lambda v: v.magnitude(1), TypeError, "VecList.magnitude() takes 0 positional arguments but 1 was given"),
            (lambda v: v.normalize(v), TypeError, "VecList.normalize() takes 0 positional arguments but 1 was given"),
            (lambda v: v.is_unit(x=1), TypeError, "VecList.is_unit() got an unexpected keyword argument 'x'"),
        ],
    )
    def test_argument_failures(self, call, error, text: str) -> None:
        for vectors in (VecList([Vec3d(1, 2, 3)]), VecList.empty()):
            with pytest.raises(error) as raised:
                call(vectors)
            assert type(raised.value) is error and str(raised.value) == text
        assert vectors.to_array() == []

    @pytest.mark.parametrize("name", ["dot", "cross", "distance_to", "distance_squared"])
    @pytest.mark.parametrize(
        ("other", "text"),
        [
            (None, "argument 'other': 'None' is not an instance of 'Vec3d'"),
            (5, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
            (VecList.empty(), "argument 'other': 'VecList' object is not an instance of 'Vec3d'"),
        ],
    )
    def test_vector_arguments(self, name: str, other, text: str) -> None:
        method = getattr(VecList([Vec3d(1, 2, 3)]), name)
        with pytest.raises(TypeError) as raised:
            method(other)
        assert str(raised.value) == text
        with pytest.raises(TypeError, match=rf"^VecList\.{name}\(\) missing 1 required positional argument: 'other'$"):
            method()
        assert len(method(other=Vec3d(0, 0, 1))) == 1

    @pytest.mark.parametrize(
        ("expression", "text"),
        [
            (lambda v, w: 2 / v, "unsupported operand type(s) for /: 'int' and 'builtins.VecList'"),
            (lambda v, w: v + 1.0, "unsupported operand type(s) for +: 'builtins.VecList' and 'float'"),
            (lambda v, w: w + v, "unsupported operand type(s) for +: 'builtins.Vec3d' and 'builtins.VecList'"),
            (lambda v, w: v * v, "unsupported operand type(s) for *: 'builtins.VecList' and 'builtins.VecList'"),
            (lambda v, w: v + v, "unsupported operand type(s) for +: 'builtins.VecList' and 'builtins.VecList'"),
            (lambda v, w: w - v, "unsupported operand type(s) for -: 'builtins.Vec3d' and 'builtins.VecList'"),
            (lambda v, w: v - 1, "unsupported operand type(s) for -: 'builtins.VecList' and 'int'"),
            (lambda v, w: v / w, "unsupported operand type(s) for /: 'builtins.VecList' and 'builtins.Vec3d'"),
            (lambda v, w: v * w, "unsupported operand type(s) for *: 'builtins.VecList' and 'builtins.Vec3d'"),
            (lambda v, w: w * v, "unsupported operand type(s) for *: 'builtins.Vec3d' and 'builtins.VecList'"),
            (lambda v, w: v * "2", "can't multiply sequence by non-int of type 'builtins.VecList'"),
            (lambda v, w: v + [w], "unsupported operand type(s) for +: 'builtins.VecList' and 'list'"),
            (lambda v, w: None * v, "unsupported operand type(s) for *: 'NoneType' and 'builtins.VecList'"),
        ],
    )
    def test_unsupported_operands(self, expression, text: str) -> None:
        vectors = VecList([Vec3d(1, 2, 3)])
        with pytest.raises(TypeError) as raised:
            expression(vectors, Vec3d(1, 1, 1))
        assert str(raised.value) == text

    def test_failed_float_conversions_are_swallowed(self) -> None:
        class Broken:
            def __float__(self) -> float:
                raise ValueError("not today")

        vectors = VecList([Vec3d(1, 2, 3)])
        assert vectors.__mul__(Broken()) is NotImplemented
        assert vectors.__truediv__(Broken()) is NotImplemented
        assert vectors.__add__(1.0) is NotImplemented
        with pytest.raises(TypeError, match=r"^unsupported operand type\(s\) for \*"):
            Broken() * vectors  # type: ignore[operator]


# ---- the pool: any worker count gives the same bits ----


def run_child(code: str, environment: dict[str, str]) -> str:
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(environment)
    tests = os.path.dirname(os.path.abspath(__file__))
    env["PYTHONPATH"] = os.pathsep.join([tests, *filter(None, [env.get("PYTHONPATH")])])
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          check=False)
    assert done.returncode == 0, done.stderr
    return done.stdout


@functools.cache
def digests_here() -> dict[str, str]:
    return result_digests()


@pytest.mark.parametrize("workers", ["1", "3", "16"])
def test_results_do_not_depend_on_the_worker_count(workers: str) -> None:
    output = run_child(
        """
        import json, test_vec_list_batch
        print(json.dumps(test_vec_list_batch.result_digests()))
        """,
        {"RAYON_NUM_THREADS": workers},
    )
    there = json.loads(output)
    here = digests_here()
    assert there.keys() == here.keys()
    assert [k for k in here if here[k] != there[k]] == []


THREAD_COUNT = """
    import json, os, threading
    def threads():
        return len(os.listdir("/proc/self/task"))
    # A sanitizer's runtime starts a helper thread of its own when the first thread is created;
    # one thread started and joined first puts it in every count alike.
    warm_up = threading.Thread(target=lambda: None)
    warm_up.start()
    warm_up.join()
    counts = [threads()]
    import quorvane
    counts.append(threads())
    quorvane.VecList.empty().magnitude()  # a step over no items still creates the pool
    counts.append(threads())
    os.environ["RAYON_NUM_THREADS"] = "5"
    quorvane.VecList([quorvane.Vec3d(1, 2, 3)] * 1000).normalize()
    counts.append(threads())
    print(json.dumps(counts))
"""


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads through /proc")
@pytest.mark.parametrize(
    ("environment", "workers"),
    [
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "+3"}, 3),
        ({"RAYON_NUM_THREADS": "1"}, 1),
        ({"RAYON_NUM_THREADS": "1000"}, 255),
        ({"RAYON_NUM_THREADS": "abc", "RAYON_RS_NUM_CPUS": "2"}, 2),
        ({"RAYON_NUM_THREADS": "3 ", "RAYON_RS_NUM_CPUS": "4"}, 4),
        ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "4"}, 4),
        ({"RAYON_RS_NUM_CPUS": "6"}, 6),
        ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "6"}, None),
        ({"RAYON_RS_NUM_CPUS": "0"}, None),
    ],
)
def test_worker_count_is_read_once_at_the_first_step(environment: dict[str, str], workers: int | None) -> None:
    default = json.loads(run_child(THREAD_COUNT, {}))
    before_import, after_import, after_first_step, later = json.loads(run_child(THREAD_COUNT, environment))
    assert after_import == before_import, "importing started threads"
    started = after_first_step - after_import
    assert started == (workers if workers is not None else default[2] - default[1])
    assert later == after_first_step


# ---- the calling thread does not hold up the interpreter while the pool works ----


@requires_free_threading
def test_other_threads_collect_garbage_during_a_long_step() -> None:
    import gc

    vectors = VecList([Vec3d(i, 1, -i) for i in range(1000)])
    while len(vectors) < 4_000_000:
        vectors.extend(VecList(vectors))
    started = finished = 0
    inside = 0
    done = threading.Event()

    def batches() -> None:
        nonlocal started, finished
        quat = Quat(0.5, 0.5, 0.5, 0.5)
        try:
            for call in range(400):
                if inside > 0:
                    break
                started += 1
                if call % 2:
                    vectors.normalize()
                else:
                    vectors.rotate(quat)
                finished += 1
        finally:
            done.set()

    def collect() -> None:
        nonlocal inside
        while not done.is_set():
            before = (started, finished)
            gc.collect()
            # a whole collection, stop-the-world pause included, within one batch call
            if before[0] == before[1] + 1 and (started, finished) == before:
                inside += 1

    race([batches, collect])
    assert inside > 0
