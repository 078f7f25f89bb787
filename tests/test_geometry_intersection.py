"""The geometry functions: circle_circle, circle_point, circle_point_unchecked and plane_line,
checked on worked examples and against the same formulas in plain Python floats."""

from __future__ import annotations

import gc
import math
import random
import re
import weakref

import pytest
from conftest import assert_bits, assert_floats

import quorvane
from quorvane import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane
circle_circle = geometry.circle_circle
circle_point = geometry.circle_point
circle_point_unchecked = geometry.circle_point_unchecked
plane_line = geometry.plane_line

nan = float("nan")
inf = float("inf")
eps = 2.220446049250313e-16

TOO_FAR = "The given geometries are too far apart and do not intersect at all."
CONTAINED = "One of the given geometries is contained entirely within the other. The surfaces do not intersect."
IDENTICAL = "The given geometries are identical."
OUT_OF_PLANE = "The given geometries are out of plane from each other"


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


def circle(center, radius: float, normal) -> Circle:
    return Circle(Vec3d(*center), radius, Vec3d(*normal))


def crossing(first, second) -> list[list[float]]:
    points = circle_circle(circle(*first), circle(*second))
    assert type(points) is tuple and len(points) == 2
    assert all(type(p) is Vec3d for p in points)
    return [parts(points[0]), parts(points[1])]


def circle_circle_error(first: Circle, second: Circle) -> str:
    with pytest.raises(ValueError) as raised:
        circle_circle(first, second)
    assert type(raised.value) is ValueError and len(raised.value.args) == 1
    return raised.value.args[0]


UNIT = ((0, 0, 0), 1, (0, 0, 1))
HALF_ROOT3 = 0.8660254037844386


class TestCircleCircle:
    @pytest.mark.parametrize(
        ("first", "second", "points"),
        [
            (UNIT, ((1, 0, 0), 1, (0, 0, 1)), [[0.5, -HALF_ROOT3, 0.0], [0.5, HALF_ROOT3, 0.0]]),
            (((0, 0, 0), 5, (0, 0, 1)), ((8, 0, 0), 5, (0, 0, 1)), [[4.0, -3.0, 0.0], [4.0, 3.0, 0.0]]),
            # touching from outside and from inside: one point twice
            (UNIT, ((2, 0, 0), 1, (0, 0, 1)), [[1.0, 0.0, 0.0], [1.0, 0.0, 0.0]]),
            (((0, 0, 0), 2, (0, 0, 1)), ((1, 0, 0), 1, (0, 0, 1)), [[2.0, 0.0, 0.0], [2.0, 0.0, 0.0]]),
            # w == r1 + r2 in doubles, but the chord's radicand rounds to -3.469446951953614e-18
            (((0, 0, 0), 0.1, (0, 0, 1)), ((0.30000000000000004, 0, 0), 0.2, (0, 0, 1)), [[nan] * 3, [nan] * 3]),
        ],
    )
    def test_crossing_points(self, first, second, points) -> None:
        first_point, second_point = crossing(first, second)
        assert_floats(first_point, points[0])
        assert_floats(second_point, points[1])

    def test_swapping_the_circles_swaps_the_points(self) -> None:
        other = ((1, 0, 0), 1, (0, 0, 1))
        assert crossing(other, UNIT) == crossing(UNIT, other)[::-1]
        by_keyword = circle_circle(circle2=circle(*other), circle1=circle(*UNIT))
        assert [parts(p) for p in by_keyword] == crossing(UNIT, other)

    @pytest.mark.parametrize("z", [0.0, 3.0, -2.5])
    @pytest.mark.parametrize(("n1", "n2"), [(1, 1), (1, -1), (-1, 1), (-1, -1)])
    def test_coplanar_circles_cross_whichever_way_their_normals_point(self, z: float, n1: int, n2: int) -> None:
        first = ((0, 0, z), 1, (0, 0, n1))
        second = ((1, 0, z), 1, (0, 0, n2))
        points = crossing(first, second)
        # the second circle's normal decides which point comes first
        expected = [[0.5, -HALF_ROOT3, z], [0.5, HALF_ROOT3, z]]
        assert points == (expected if n2 == 1 else expected[::-1])
        assert all(circle_point(circle(*c), Vec3d(*p), False) for c in (first, second) for p in points)

    @pytest.mark.parametrize(("n1", "n2"), [(1, -1), (-1, 1), (1, 1)])
    def test_parallel_planes_are_rejected(self, n1: int, n2: int) -> None:
        # z = 3 and z = -3: with opposite normals the offsets n . c are equal, yet the planes differ
        first = circle((0, 0, 3), 1, (0, 0, n1))
        second = circle((1, 0, -3), 1, (0, 0, n2))
        assert circle_circle_error(first, second) == OUT_OF_PLANE

    @pytest.mark.parametrize(
        ("first", "second", "text"),
        [
            (UNIT, ((3, 0, 0), 1, (0, 0, 1)), TOO_FAR),
            (UNIT, ((2.0000000000000004, 0, 0), 1, (0, 0, 1)), TOO_FAR),
            (((0, 0, 0), 3, (0, 0, 1)), ((0.5, 0, 0), 1, (0, 0, 1)), CONTAINED),
            (((0.5, 0, 0), 1, (0, 0, 1)), ((0, 0, 0), 3, (0, 0, -1)), CONTAINED),
            (UNIT, UNIT, IDENTICAL),
            (UNIT, ((0, 0, 0), -1, (0, 0, -7)), IDENTICAL),
            (UNIT, ((1e-17, 0, 0), 1, (0, 0, 1)), IDENTICAL),
            (UNIT, ((1, 0, 0), 1, (0, 1, 0)), OUT_OF_PLANE),
            (UNIT, ((1, 0, 1), 1, (0, 0, 1)), OUT_OF_PLANE),
            # identical is tested first, then the plane, then the distances
            (((0, 0, 0), 0, (0, 0, 1)), ((0, 0, 0), 0, (0, 0, 1)), IDENTICAL),
            (UNIT, ((5, 0, 1), 1, (0, 0, 1)), OUT_OF_PLANE),
            (UNIT, ((0, 0, 0), 1, (0, 0, 0)), OUT_OF_PLANE),
            # concentric circles of different radii: contained, not a division by zero
            (UNIT, ((0, 0, 0), 2, (0, 0, 1)), CONTAINED),
        ],
    )
    def test_failures(self, first, second, text: str) -> None:
        assert circle_circle_error(circle(*first), circle(*second)) == text

    def test_none_circles_are_out_of_plane_not_identical(self) -> None:
        assert circle_circle_error(Circle.none(), Circle.none()) == OUT_OF_PLANE
        assert circle_circle_error(Circle.none(), circle(*UNIT)) == OUT_OF_PLANE

    def test_one_object_for_both_arguments(self) -> None:
        c = circle(*UNIT)
        assert circle_circle_error(c, c) == IDENTICAL
        with pytest.raises(ValueError, match=f"^{IDENTICAL}$"):
            circle_circle(circle1=c, circle2=c)


class TestCirclePoint:
    RADIUS_2 = ((0, 0, 0), 2, (0, 0, 1))

    @pytest.mark.parametrize(
        ("point", "outer", "inner", "unchecked_outer", "unchecked_inner"),
        [
            ((2, 0, 0), True, True, True, True),
            ((1.4142135623730951, 1.4142135623730951, 0), True, True, True, True),
            ((1, 0, 0), False, True, False, True),
            ((0, 0, 0), False, True, False, True),
            ((3, 0, 0), False, False, False, False),
            # off the plane: circle_point says no, the unchecked test looks at the distance only
            ((1, 0, 1), False, False, False, True),
            ((2, 0, 1e-20), True, True, True, True),
            ((2, 0, eps), False, False, True, True),
            ((nan, 0, 0), False, False, False, False),
        ],
    )
    def test_point_tests(self, point, outer: bool, inner: bool, unchecked_outer: bool, unchecked_inner: bool) -> None:
        c, p = circle(*self.RADIUS_2), Vec3d(*point)
        assert circle_point(c, p, False) is outer
        assert circle_point(c, p, True) is inner
        assert circle_point_unchecked(c, p, False) is unchecked_outer
        assert circle_point_unchecked(circle=c, point=p, inner=True) is unchecked_inner

    @pytest.mark.parametrize(
        ("gap", "on", "inside"),
        [(eps / 2, True, True), (-eps / 2, True, True), (eps, False, False), (2 * eps, False, True), (-eps, False, False)],
    )
    def test_distance_thresholds(self, gap: float, on: bool, inside: bool) -> None:
        # l = r - |p - c| with |p - c| = 0.5: l is exactly `gap`
        c, p = circle((0, 0, 0), 0.5 + gap, (0, 0, 1)), Vec3d(0.5, 0, 0)
        assert c.radius - 0.5 == gap
        assert circle_point(c, p, False) is on
        assert circle_point(c, p, True) is inside
        assert circle_point_unchecked(c, p, True) is inside

    def test_plane_test_normalises_the_stored_normal(self) -> None:
        # 1e-16 off the plane passes; with the stored normal (0, 0, 4) it would be 4e-16 and fail
        c, p = circle((0, 0, 0), 1, (0, 0, 1)), Vec3d(1, 0, 1e-16)
        c.normal = Vec3d(0, 0, 4)
        assert circle_point(c, p, False) is True
        c.normal = Vec3d(0, 0, 0)
        assert circle_point(c, p, False) is False
        assert circle_point_unchecked(c, p, False) is True

    def test_never_raises_for_geometry(self) -> None:
        assert circle_point(Circle.none(), Vec3d(0, 0, 0), True) is False
        assert circle_point(Circle.none(), Vec3d(0, 0, 0), False) is False
        assert circle_point_unchecked(Circle.none(), Vec3d(0, 0, 0), False) is True

    def test_numpy_booleans_are_accepted(self) -> None:
        numpy = pytest.importorskip("numpy")
        c, p = circle(*self.RADIUS_2), Vec3d(1, 0, 0)
        assert circle_point(c, p, numpy.bool_(True)) is True
        assert circle_point(c, p, numpy.bool_(False)) is False
        assert circle_point_unchecked(c, p, numpy.True_) is True
        with pytest.raises(TypeError, match="^argument 'inner': 'int64' object is not an instance of 'bool'$"):
            circle_point(c, p, numpy.int64(1))


class TestPlaneLine:
    @pytest.mark.parametrize(
        ("plane", "a", "b", "point"),
        [
            (Plane.xy, (0, 0, 1), (0, 0, -1), [0.0, 0.0, 0.0]),
            (Plane.xy, (1, 2, 3), (1, 2, 4), [1.0, 2.0, 0.0]),
            (lambda: Plane(Vec3d(0, 0, 1), 5.0), (1, 2, 0), (1, 2, 1), [1.0, 2.0, 5.0]),
            (Plane.xz, (1, 2, 3), (1, -2, 3), [1.0, 0.0, 3.0]),
            (Plane.yz, (4, 1, 1), (2, 1, 1), [0.0, 1.0, 1.0]),
            # parallel to the plane, or no line at all: plain IEEE arithmetic
            (Plane.xy, (0, 0, 1), (1, 0, 1), [-inf, nan, nan]),
            (Plane.xy, (0, 0, 1), (0, 0, 1), [nan, nan, nan]),
            (Plane.xy, (0, 0, 0), (1, 0, 0), [nan, nan, nan]),
        ],
    )
    def test_intersection_points(self, plane, a, b, point) -> None:
        assert_floats(parts(plane_line(plane(), Vec3d(*a), Vec3d(*b))), point)

    def test_stored_normal_is_used_unchanged(self) -> None:
        plane = Plane.xy()
        plane.normal = Vec3d(0, 0, 2)
        plane.distance = -4.0  # 2z - 4 = 0: the plane z = 2
        assert_bits(parts(plane_line(plane=plane, b=Vec3d(3, 3, 3), a=Vec3d(3, 3, 1))), [3.0, 3.0, 2.0])



def test_functions_belong_to_the_submodule() -> None:
    expected = {
        "circle_circle": "(circle1, circle2)",
        "circle_point": "(circle, point, inner)",
        "circle_point_unchecked": "(circle, point, inner)",
        "plane_line": "(plane, a, b)",
    }
    for name, signature in expected.items():
        function = getattr(geometry, name)
        assert function.__module__ == "quorvane.geometry"
        assert function.__name__ == name and function.__text_signature__ == signature
        assert function.__doc__ is None
        assert function.__self__ is geometry
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]


@pytest.mark.parametrize(("cls", "instance"), [(Plane, Plane.xy), (Circle, Circle.none)])
def test_classes_are_final_plain_builtins(cls: type, instance) -> None:
    name = cls.__name__
    assert (cls.__module__, cls.__qualname__, repr(cls)) == ("builtins", name, f"<class 'builtins.{name}'>")
    assert not hasattr(quorvane, name)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    value = instance()
    with pytest.raises(AttributeError):
        value.label = "x"
    with pytest.raises(TypeError):
        weakref.ref(value)
    assert not gc.is_tracked(value)
    # no repr or str of their own
    assert re.fullmatch(rf"<builtins\.{name} object at 0x[0-9a-f]+>", repr(value))
    assert str(value) == repr(value)


C, P = circle(*UNIT), Vec3d(1, 0, 0)


@pytest.mark.parametrize(
    ("call", "text"),
    [
        (lambda: circle_circle(C, Plane.xy()), "argument 'circle2': 'Plane' object is not an instance of 'Circle'"),
        (lambda: circle_circle(None, C), "argument 'circle1': 'None' is not an instance of 'Circle'"),
        (lambda: circle_circle(C), "circle_circle() missing 1 required positional argument: 'circle2'"),
        (lambda: circle_circle(C, C, C), "circle_circle() takes 2 positional arguments but 3 were given"),
        (lambda: circle_circle(C, circle=C), "circle_circle() got an unexpected keyword argument 'circle'"),
        (lambda: circle_point(P, P, True), "argument 'circle': 'Vec3d' object is not an instance of 'Circle'"),
        (lambda: circle_point(C, C, True), "argument 'point': 'Circle' object is not an instance of 'Vec3d'"),
        (lambda: circle_point(C, P, 1), "argument 'inner': 'int' object is not an instance of 'bool'"),
        (lambda: circle_point(C, P, 0), "argument 'inner': 'int' object is not an instance of 'bool'"),
        (lambda: circle_point(C, P, None), "argument 'inner': 'None' is not an instance of 'bool'"),
        (lambda: circle_point(C, P), "circle_point() missing 1 required positional argument: 'inner'"),
        (lambda: circle_point(C, P, True, inner=True), "circle_point() got multiple values for argument 'inner'"),
        (lambda: circle_point_unchecked(C, P, "True"), "argument 'inner': 'str' object is not an instance of 'bool'"),
        (lambda: circle_point_unchecked(C, point=(1, 0, 0), inner=True),
         "argument 'point': 'tuple' object is not an instance of 'Vec3d'"),
        (lambda: circle_point_unchecked(),
         "circle_point_unchecked() missing 3 required positional arguments: 'circle', 'point', and 'inner'"),
        (lambda: plane_line(C, P, P), "argument 'plane': 'Circle' object is not an instance of 'Plane'"),
        (lambda: plane_line(Plane.xy(), 1, P), "argument 'a': 'int' object is not an instance of 'Vec3d'"),
        (lambda: plane_line(Plane.xy(), P, b=[1, 2, 3]), "argument 'b': 'list' object is not an instance of 'Vec3d'"),
        (lambda: plane_line(Plane.xy(), P), "plane_line() missing 1 required positional argument: 'b'"),
        # converted in declaration order: the first bad argument is reported
        (lambda: plane_line(None, 1, 2), "argument 'plane': 'None' is not an instance of 'Plane'"),
    ],
)
def test_argument_errors(call, text: str) -> None:
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    assert str(raised.value) == text


# The same formulas in plain Python floats, which round every operation and never fuse.


def py_sub(a: list[float], b: list[float]) -> list[float]:
    return [a[0] - b[0], a[1] - b[1], a[2] - b[2]]


def py_dot(a: list[float], b: list[float]) -> float:
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def py_cross(a: list[float], b: list[float]) -> list[float]:
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def py_sqrt(x: float) -> float:
    return math.sqrt(x) if x >= 0 or math.isnan(x) else nan


def py_div(a: float, b: float) -> float:
    try:
        return a / b
    except ZeroDivisionError:
        if a == 0 or math.isnan(a):
            return nan
        return math.copysign(inf, a) * math.copysign(1, b)


def py_normalize(v: list[float]) -> list[float]:
    m = py_sqrt(py_dot(v, v))
    return [py_div(x, m) for x in v]


def py_within(x: float) -> bool:
    return abs(x) < eps


def py_vec_equal(a: list[float], b: list[float]) -> bool:
    return py_within(a[0] - b[0]) and py_within(a[1] - b[1]) and py_within(a[2] - b[2])


def py_normal_relation(a: list[float], b: list[float]) -> str | None:
    if py_vec_equal(a, b):
        return "same"
    if py_within(a[0] + b[0]) and py_within(a[1] + b[1]) and py_within(a[2] + b[2]):
        return "opposite"
    return None


class PyCircle:
    def __init__(self, center: list[float], radius: float, normal: list[float]) -> None:
        self.c, self.r, self.n = center, radius, normal

    @staticmethod
    def make(center: list[float], radius: float, normal: list[float]) -> PyCircle:
        return PyCircle(center, abs(radius), py_normalize(normal))


def py_circle_equal(a: PyCircle, b: PyCircle) -> bool:
    return py_vec_equal(a.c, b.c) and a.r == b.r and py_normal_relation(a.n, b.n) is not None


def py_in_same_plane(a: PyCircle, b: PyCircle) -> bool:
    relation = py_normal_relation(a.n, b.n)
    if relation is None:
        return False
    offset_a, offset_b = py_dot(a.n, a.c), py_dot(b.n, b.c)
    return py_within(offset_b - offset_a) if relation == "same" else py_within(offset_b + offset_a)


def py_circle_circle(a: PyCircle, b: PyCircle) -> str | list[list[float]]:
    if py_circle_equal(a, b):
        return IDENTICAL
    if not py_in_same_plane(a, b):
        return OUT_OF_PLANE
    apart = py_sub(a.c, b.c)
    w = py_sqrt(py_dot(apart, apart))
    if w > a.r + b.r:
        return TOO_FAR
    if w < abs(a.r - b.r):
        return CONTAINED
    d = py_sub(b.c, a.c)
    u = py_div(a.r * a.r - b.r * b.r, w * w + w * w) + 0.5
    foot = [a.c[k] + d[k] * u for k in range(3)]
    along = py_normalize(py_cross(d, b.n))
    h = py_sqrt(a.r * a.r - (w * w) * (u * u))
    return [[foot[k] + along[k] * h for k in range(3)], [foot[k] - along[k] * h for k in range(3)]]


def py_point_by_distance(c: PyCircle, p: list[float], inner: bool) -> bool:
    e = py_sub(p, c.c)
    gap = c.r - py_sqrt(py_dot(e, e))
    if py_within(gap):
        return True
    return inner if gap > eps else False


def py_circle_point(c: PyCircle, p: list[float], inner: bool) -> bool:
    n = py_normalize(c.n)
    if not py_within(py_dot(n, p) - py_dot(n, c.c)):
        return False
    return py_point_by_distance(c, p, inner)


def py_plane_line(normal: list[float], distance: float, a: list[float], b: list[float]) -> list[float]:
    direction = py_sub(b, a)
    t = py_div(-(distance + py_dot(normal, a)), py_dot(normal, direction))
    return [a[k] + direction[k] * t for k in range(3)]


def py_from_points(p1: list[float], p2: list[float], p3: list[float]) -> list[float]:
    n = py_normalize(py_cross(py_sub(p2, p1), py_sub(p3, p1)))
    return n + [-py_dot(n, p1)]


SPECIAL = [0.0, -0.0, 1.0, -1.0, 0.5, 1e-300, 1e300, inf, nan]
AXES = [[0.0, 0.0, 1.0], [0.0, 0.0, -1.0], [0.0, 1.0, 0.0], [-1.0, 0.0, 0.0], [0.0, 0.0, 3.0]]


class Inputs:
    """Seeded inputs that reach every branch: mostly small integers and coordinate-axis normals
    (so circles are often coplanar, touching or identical), with general, special and zero values
    mixed in."""

    def __init__(self, seed: int) -> None:
        self.rng = random.Random(seed)

    def number(self) -> float:
        roll = self.rng.random()
        if roll < 0.5:
            return float(self.rng.randint(-3, 3))
        if roll < 0.6:
            return self.rng.choice(SPECIAL)
        return self.rng.uniform(-4, 4)

    def vector(self) -> list[float]:
        return [self.number(), self.number(), self.number()]

    def normal(self) -> list[float]:
        roll = self.rng.random()
        if roll < 0.6:
            return list(self.rng.choice(AXES))
        if roll < 0.65:
            return [0.0, 0.0, 0.0]
        return self.vector()

    def circle_pair(self) -> tuple[list[float], float, list[float], list[float], float, list[float]]:
        c1, n1 = self.vector(), self.normal()
        roll = self.rng.random()
        if roll < 0.7:
            # in the plane of the first circle when its normal is an axis, the normal maybe reversed
            axis = max(range(3), key=lambda k: abs(n1[k]) if not math.isnan(n1[k]) else -1)
            c2 = [float(self.rng.randint(-3, 3)) for _ in range(3)]
            c2[axis] = c1[axis]
            n2 = [-x for x in n1] if self.rng.random() < 0.5 else list(n1)
        else:
            c2, n2 = self.vector(), self.normal()
        r1 = float(self.rng.randint(0, 4)) if self.rng.random() < 0.7 else self.number()
        roll = self.rng.random()
        if roll < 0.3:
            # touching from outside or inside, up to rounding
            w = py_sqrt(py_dot(py_sub(c1, c2), py_sub(c1, c2)))
            r2 = w - r1 if self.rng.random() < 0.5 else r1 - w
        elif roll < 0.4:
            c2, r2, n2 = list(c1), r1, [-x for x in n1] if self.rng.random() < 0.5 else list(n1)
        else:
            r2 = float(self.rng.randint(0, 4)) if self.rng.random() < 0.7 else self.number()
        return c1, r1, n1, c2, r2, n2


@pytest.mark.parametrize("seed", range(4))
def test_circle_circle_matches_plain_python(seed: int) -> None:
    inputs = Inputs(seed)
    outcomes: set[str] = set()
    for _ in range(1000):
        c1, r1, n1, c2, r2, n2 = inputs.circle_pair()
        first, second = Circle(Vec3d(*c1), r1, Vec3d(*n1)), Circle(Vec3d(*c2), r2, Vec3d(*n2))
        a, b = PyCircle.make(c1, r1, n1), PyCircle.make(c2, r2, n2)
        assert_floats(parts(first.center) + [first.radius] + parts(first.normal), a.c + [a.r] + a.n)
        assert (first == second) is py_circle_equal(a, b)
        assert (first != second) is not py_circle_equal(a, b)
        assert first.in_same_plane(second) is py_in_same_plane(a, b)
        expected = py_circle_circle(a, b)
        if isinstance(expected, str):
            assert circle_circle_error(first, second) == expected
            outcomes.add(expected)
        else:
            got = circle_circle(first, second)
            assert_floats(parts(got[0]), expected[0])
            assert_floats(parts(got[1]), expected[1])
            outcomes.add("nan" if math.isnan(expected[0][0]) else "points")
    assert outcomes == {IDENTICAL, OUT_OF_PLANE, TOO_FAR, CONTAINED, "points", "nan"}


@pytest.mark.parametrize("seed", range(4))
def test_circle_equality_after_writes_matches_plain_python(seed: int) -> None:
    # the setters store anything: negative radii, normals of any length, NaN
    inputs = Inputs(seed)
    for _ in range(1000):
        fields = [(inputs.vector(), inputs.number(), inputs.normal()) for _ in range(2)]
        if inputs.rng.random() < 0.5:
            fields[1] = (list(fields[0][0]), fields[0][1], [-x for x in fields[0][2]])
        circles = []
        for center, radius, normal in fields:
            c = Circle.none()
            c.center, c.radius, c.normal = Vec3d(*center), radius, Vec3d(*normal)
            circles.append(c)
        a, b = (PyCircle(*f) for f in fields)
        assert (circles[0] == circles[1]) is py_circle_equal(a, b)
        assert circles[0].in_same_plane(circles[1]) is py_in_same_plane(a, b)


@pytest.mark.parametrize("seed", range(4))
def test_circle_point_matches_plain_python(seed: int) -> None:
    inputs = Inputs(seed)
    answers: set[bool] = set()
    for _ in range(1000):
        center, normal = inputs.vector(), inputs.normal()
        radius = float(inputs.rng.randint(0, 3)) if inputs.rng.random() < 0.8 else inputs.number()
        c = Circle(Vec3d(*center), radius, Vec3d(*normal))
        model = PyCircle.make(center, radius, normal)
        if inputs.rng.random() < 0.3:
            c.normal = Vec3d(*[2.5 * x for x in model.n])
            model.n = [2.5 * x for x in model.n]
        if inputs.rng.random() < 0.5:
            # a point in the circle's plane, at an integer offset along one axis
            point = list(center)
            point[inputs.rng.randrange(3)] += float(inputs.rng.randint(-4, 4))
        else:
            point = inputs.vector()
        for inner in (False, True):
            expected = py_circle_point(model, point, inner)
            assert circle_point(c, Vec3d(*point), inner) is expected
            assert circle_point_unchecked(c, Vec3d(*point), inner) is py_point_by_distance(model, point, inner)
            answers.add(expected)
    assert answers == {True, False}


@pytest.mark.parametrize("seed", range(4))
def test_plane_line_and_from_points_match_plain_python(seed: int) -> None:
    inputs = Inputs(seed)
    for _ in range(1000):
        p1, p2 = inputs.vector(), inputs.vector()
        # collinear and coincident points now and then
        p3 = [2 * p2[k] - p1[k] for k in range(3)] if inputs.rng.random() < 0.2 else inputs.vector()
        plane = Plane.from_points(Vec3d(*p1), Vec3d(*p2), Vec3d(*p3))
        expected = py_from_points(p1, p2, p3)
        assert_floats(parts(plane.normal) + [plane.distance], expected)
        normal, distance = expected[:3], expected[3]
        if inputs.rng.random() < 0.5:
            normal, distance = inputs.normal(), inputs.number()
            plane.normal, plane.distance = Vec3d(*normal), distance
        a = inputs.vector()
        b = list(a) if inputs.rng.random() < 0.1 else inputs.vector()
        assert_floats(parts(plane_line(plane, Vec3d(*a), Vec3d(*b))), py_plane_line(normal, distance, a, b))
