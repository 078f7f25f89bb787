"""Plane: construction, the point tests, its properties and identity semantics."""

from __future__ import annotations

import threading

import pytest
from conftest import assert_bits, assert_floats, bits, race, requires_free_threading

from quorvane import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

nan = float("nan")
eps = 2.220446049250313e-16


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


class TestConstruction:
    def test_normal_is_normalised_and_distance_negated(self) -> None:
        plane = Plane(Vec3d(0, 0, 2), 5.0)
        assert_bits(parts(plane.normal), [0.0, 0.0, 1.0])
        assert bits(plane.distance) == bits(-5.0)
        assert plane.contains_point(Vec3d(0, 0, 5))
        assert plane.contains_point(Vec3d(7, -3, 5))
        assert not plane.contains_point(Vec3d(0, 0, -5))

    @pytest.mark.parametrize(("given", "stored"), [(0.0, -0.0), (-0.0, 0.0), (3, -3.0), (True, -1.0)])
    def test_distance_sign_bit_is_flipped(self, given: float, stored: float) -> None:
        assert bits(Plane(Vec3d(1, 0, 0), given).distance) == bits(stored)

    def test_zero_normal_becomes_nan(self) -> None:
        plane = Plane(Vec3d(0, 0, 0), 1.0)
        assert_floats(parts(plane.normal), [nan, nan, nan])
        assert not plane.contains_point(Vec3d(0, 0, 0))

    def test_keywords(self) -> None:
        plane = Plane(distance=2.0, normal=Vec3d(3, 0, 4))
        assert parts(plane.normal) == [0.6, 0.0, 0.8]
        assert plane.distance == -2.0

    @pytest.mark.parametrize(
        ("factory", "normal"),
        [(Plane.xy, [0.0, 0.0, 1.0]), (Plane.xz, [0.0, 1.0, 0.0]), (Plane.yz, [1.0, 0.0, 0.0])],
    )
    def test_coordinate_planes(self, factory, normal: list[float]) -> None:
        plane = factory()
        assert_bits(parts(plane.normal), normal)
        assert bits(plane.distance) == bits(-0.0)
        constructed = Plane(Vec3d(*normal), 0.0)
        assert_bits(parts(constructed.normal) + [constructed.distance], normal + [-0.0])
        assert factory() is not factory()

    @pytest.mark.parametrize(
        ("normal", "point", "expected_normal", "expected_distance"),
        [
            ((0, 0, 1), (1, 2, 3), [0.0, 0.0, 1.0], -3.0),
            ((0, 0, 2), (0, 0, 0), [0.0, 0.0, 1.0], -0.0),
            ((0, 3, 0), (5, -2, 9), [0.0, 1.0, 0.0], 2.0),
        ],
    )
    def test_from_point(self, normal, point, expected_normal, expected_distance: float) -> None:
        plane = Plane.from_point(Vec3d(*normal), Vec3d(*point))
        assert_bits(parts(plane.normal) + [plane.distance], expected_normal + [expected_distance])
        by_keyword = Plane.from_point(point=Vec3d(*point), normal=Vec3d(*normal))
        assert bits(by_keyword.distance) == bits(expected_distance)

    @pytest.mark.parametrize(
        ("points", "expected"),
        [
            (((0, 0, 0), (1, 0, 0), (0, 1, 0)), [0.0, 0.0, 1.0, -0.0]),
            (((0, 0, 0), (0, 1, 0), (1, 0, 0)), [0.0, 0.0, -1.0, -0.0]),
            (((0, 0, 2), (1, 0, 2), (0, 1, 2)), [0.0, 0.0, 1.0, -2.0]),
            (((0, 0, 2), (0, 1, 2), (1, 0, 2)), [0.0, 0.0, -1.0, 2.0]),
        ],
    )
    def test_from_points_follows_the_order_of_the_points(self, points, expected: list[float]) -> None:
        plane = Plane.from_points(*(Vec3d(*p) for p in points))
        assert_bits(parts(plane.normal) + [plane.distance], expected)

    @pytest.mark.parametrize(
        "points",
        [((0, 0, 0), (1, 1, 1), (2, 2, 2)), ((1, 2, 3), (1, 2, 3), (4, 5, 6)), ((1, 1, 1), (1, 1, 1), (1, 1, 1))],
    )
    def test_collinear_points_give_nan(self, points) -> None:
        plane = Plane.from_points(*(Vec3d(*p) for p in points))
        assert_floats(parts(plane.normal) + [plane.distance], [nan] * 4)


class TestPointTests:
    @pytest.mark.parametrize("point", [(1, 2, -3), (1, 2, 3), (-7, 0.5, 3)])
    def test_distance_does_not_tell_the_side(self, point) -> None:
        assert bits(Plane.xy().distance_to_point(Vec3d(*point))) == bits(3.0)

    def test_stored_normal_is_used_unchanged(self) -> None:
        plane = Plane.xy()
        plane.normal = Vec3d(0, 0, 2)
        plane.distance = 0.0
        assert plane.distance_to_point(Vec3d(0, 0, 3)) == 6.0
        # s = 2 * 1.5e-16 = 3e-16 is not below the tolerance
        assert not plane.contains_point(Vec3d(0, 0, 1.5e-16))
        assert plane.distance_to_point(Vec3d(0, 0, 1.5e-16)) == 3e-16

    @pytest.mark.parametrize(
        ("z", "contained"),
        [(eps / 2, True), (-eps / 2, True), (eps, False), (-eps, False), (nan, False), (float("inf"), False)],
    )
    def test_containment_is_strict(self, z: float, contained: bool) -> None:
        assert Plane.xy().contains_point(Vec3d(0, 0, z)) is contained

    def test_distance_is_stored_plus_dot_product(self) -> None:
        # d + (n . p), the dot product first: 1e16 + (1 + 1) loses nothing, (1e16 + 1) + 1 would
        plane = Plane(Vec3d(1, 0, 0), 0.0)
        plane.normal = Vec3d(1, 1, 0)
        plane.distance = 1e16
        assert plane.distance_to_point(Vec3d(1, 1, 0)) == 1e16 + 2.0


class TestProperties:
    def test_getters_copy(self) -> None:
        plane = Plane.xy()
        first, second = plane.normal, plane.normal
        assert first is not second
        first.x = 9.0
        assert parts(plane.normal) == [0.0, 0.0, 1.0]

    def test_setters_store_unchanged(self) -> None:
        plane = Plane(Vec3d(0, 0, 2), 5.0)
        plane.distance = 5.0
        assert plane.distance == 5.0
        assert plane.contains_point(Vec3d(0, 0, -5))
        given = Vec3d(0, 0, 2)
        plane.normal = given
        assert parts(plane.normal) == [0.0, 0.0, 2.0]
        assert plane.distance == 5.0  # not adjusted to the new normal
        given.z = 7.0
        assert plane.normal.z == 2.0  # the plane holds a copy
        plane.distance = -0.0
        assert bits(plane.distance) == bits(-0.0)

    @pytest.mark.parametrize(
        ("name", "value", "text"),
        [
            ("normal", 5, "argument 'value': 'int' object is not an instance of 'Vec3d'"),
            ("normal", None, "argument 'value': 'None' is not an instance of 'Vec3d'"),
            ("normal", Plane.xy(), "argument 'value': 'Plane' object is not an instance of 'Vec3d'"),
            ("distance", "5", "argument 'value': must be real number, not str"),
            ("distance", Vec3d(1, 2, 3), "argument 'value': must be real number, not builtins.Vec3d"),
        ],
    )
    def test_bad_values_leave_the_plane_unchanged(self, name: str, value, text: str) -> None:
        plane = Plane(Vec3d(0, 1, 0), 2.0)
        with pytest.raises(TypeError) as raised:
            setattr(plane, name, value)
        assert str(raised.value) == text
        assert parts(plane.normal) == [0.0, 1.0, 0.0] and plane.distance == -2.0

    @pytest.mark.parametrize("name", ["normal", "distance"])
    def test_delete_is_refused(self, name: str) -> None:
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(Plane.xy(), name)


class TestIdentity:
    def test_equality_and_hash_are_identity(self) -> None:
        a, b = Plane.xy(), Plane.xy()
        assert a != b and not (a == b)
        assert a == a and not (a != a)
        assert hash(a) == hash(a)
        assert len({a, b, a}) == 2
        assert Plane.__eq__ is object.__eq__ and Plane.__hash__ is object.__hash__

    @pytest.mark.parametrize(
        ("member", "signature"),
        [
            (Plane, "(normal, distance)"),
            (Plane.xy, "()"),
            (Plane.xz, "()"),
            (Plane.yz, "()"),
            (Plane.from_point, "(normal, point)"),
            (Plane.from_points, "(point1, point2, point3)"),
            (Plane.contains_point, "($self, point)"),
            (Plane.distance_to_point, "($self, point)"),
        ],
    )
    def test_signatures(self, member, signature: str) -> None:
        assert member.__text_signature__ == signature
        assert member.__doc__ in ("", None)


@pytest.mark.parametrize(
    ("call", "text"),
    [
        (lambda: Plane(Vec3d(0, 0, 1), "5"), "argument 'distance': must be real number, not str"),
        (lambda: Plane(5, 1.0), "argument 'normal': 'int' object is not an instance of 'Vec3d'"),
        (lambda: Plane(Vec3d(0, 0, 1)), "Plane.__new__() missing 1 required positional argument: 'distance'"),
        (lambda: Plane(), "Plane.__new__() missing 2 required positional arguments: 'normal' and 'distance'"),
        (lambda: Plane(Vec3d(0, 0, 1), 1, 2), "Plane.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: Plane.xy(1), "Plane.xy() takes 0 positional arguments but 1 was given"),
        (lambda: Plane.from_point(Vec3d(0, 0, 1), None), "argument 'point': 'None' is not an instance of 'Vec3d'"),
        (lambda: Plane.from_point(Vec3d(0, 0, 1), normal=Vec3d(0, 0, 1)),
         "Plane.from_point() got multiple values for argument 'normal'"),
        (lambda: Plane.from_points(Vec3d(0, 0, 0)),
         "Plane.from_points() missing 2 required positional arguments: 'point2' and 'point3'"),
        (lambda: Plane.from_points(1, Vec3d(0, 0, 0), Vec3d(0, 0, 0)),
         "argument 'point1': 'int' object is not an instance of 'Vec3d'"),
        (lambda: Plane.from_points(Vec3d(0, 0, 0), point3=Vec3d(0, 0, 0), point2=(1, 2, 3)),
         "argument 'point2': 'tuple' object is not an instance of 'Vec3d'"),
        (lambda: Plane.from_points(Vec3d(0, 0, 0), Vec3d(0, 0, 0), 0.5),
         "argument 'point3': 'float' object is not an instance of 'Vec3d'"),
        (lambda: Plane.xy().contains_point(Circle.none()),
         "argument 'point': 'Circle' object is not an instance of 'Vec3d'"),
        (lambda: Plane.xy().distance_to_point(), "Plane.distance_to_point() missing 1 required positional argument: 'point'"),
    ],
)
def test_argument_errors(call, text: str) -> None:
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    assert str(raised.value) == text


ROUNDS = 20_000
READERS = 2


@requires_free_threading
def test_writer_racing_readers_sees_only_borrow_errors() -> None:
    # The writer keeps the three normal components equal; a reader that sees them differ saw a
    # half-written normal. It also writes the point the readers pass as an argument, and keeps
    # writing until every reader is done, so the two sides overlap for the whole run.
    shared = Plane(Vec3d(1, 1, 1), 0.0)
    point = Vec3d(0, 0, 0)
    writing, stop = threading.Event(), threading.Event()
    finished: list[int] = []

    def write() -> tuple[int, set[str]]:
        writes, conflicts = 0, set()
        writing.set()
        while not stop.is_set():
            writes += 1
            try:
                shared.normal = Vec3d(writes, writes, writes)
                shared.distance = float(writes)
                point.z = 0.0
            except RuntimeError as error:
                conflicts.add(str(error))
        return writes, conflicts

    def read() -> set[str]:
        errors: set[str] = set()
        writing.wait()
        for _ in range(ROUNDS):
            try:
                normal = shared.normal
                assert normal.x == normal.y == normal.z
                assert shared.distance >= 0.0
                shared.contains_point(point)
                shared.distance_to_point(Vec3d(1, 2, 3))
                geometry.plane_line(shared, point, Vec3d(0, 0, 2))
            except RuntimeError as error:
                errors.add(str(error))
        finished.append(1)
        if len(finished) == READERS:
            stop.set()
        return errors

    *read_errors, (writes, write_conflicts) = race([read] * READERS + [write])
    assert writes > 0 and write_conflicts <= {"Already borrowed"}
    for errors in read_errors:
        assert errors <= {"Already mutably borrowed"}
    # every flag is clear again
    shared.distance = 1.0
    point.x = 1.0
    assert shared.distance == 1.0 and shared.contains_point(Vec3d(0, 0, -1 / shared.normal.z))
