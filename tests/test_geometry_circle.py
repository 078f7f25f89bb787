"""Circle: construction, the none circle, properties, its plane, coplanarity and equality."""

from __future__ import annotations

import math
import threading

import pytest
from conftest import assert_bits, assert_floats, bits, race, requires_free_threading

from quorvane import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

nan = float("nan")
eps = 2.220446049250313e-16
QUIET_NAN = 0x7FF8000000000000


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


def circle(center, radius: float, normal) -> Circle:
    return Circle(Vec3d(*center), radius, Vec3d(*normal))


class TestConstruction:
    def test_radius_made_non_negative_and_normal_normalised(self) -> None:
        c = circle((1, 2, 3), -2.0, (0, 0, 5))
        assert parts(c.center) == [1.0, 2.0, 3.0]
        assert bits(c.radius) == bits(2.0)
        assert_bits(parts(c.normal), [0.0, 0.0, 1.0])

    @pytest.mark.parametrize(("given", "stored"), [(-0.0, 0.0), (0.0, 0.0), (-nan, nan), (-math.inf, math.inf)])
    def test_radius_sign_bit_is_cleared(self, given: float, stored: float) -> None:
        radius = circle((0, 0, 0), given, (1, 0, 0)).radius
        assert bits(radius) == bits(stored) or (math.isnan(radius) and math.copysign(1, radius) == 1)

    def test_zero_normal_becomes_nan(self) -> None:
        assert_floats(parts(circle((0, 0, 0), 1, (0, 0, 0)).normal), [nan, nan, nan])

    def test_keywords_and_conversions(self) -> None:
        c = Circle(normal=Vec3d(0, 3, 4), radius=3, center=Vec3d(0, 0, 0))
        assert c.radius == 3.0 and type(c.radius) is float
        assert parts(c.normal) == [0.0, 0.6, 0.8]

    def test_none_circle(self) -> None:
        none = Circle.none()
        assert_bits(parts(none.center) + [none.radius], [0.0, 0.0, 0.0, 0.0])
        assert [bits(x) for x in parts(none.normal)] == [QUIET_NAN] * 3
        assert none.is_degenerate()
        assert Circle.none() is not Circle.none()


class TestProperties:
    def test_getters_copy(self) -> None:
        c = circle((1, 2, 3), 1, (0, 0, 1))
        center = c.center
        assert center is not c.center and c.normal is not c.normal
        center.x = 9.0
        c.normal.z = 5.0
        assert parts(c.center) == [1.0, 2.0, 3.0] and parts(c.normal) == [0.0, 0.0, 1.0]

    def test_setters_store_unchanged(self) -> None:
        c = circle((0, 0, 0), -2.0, (0, 0, 5))
        c.radius = -1.0
        assert c.radius == -1.0
        assert bits(c.area) == bits(math.pi)
        assert c.is_degenerate() is False
        c.normal = Vec3d(0, 0, 2)
        assert parts(c.normal) == [0.0, 0.0, 2.0]
        assert parts(c.get_plane().normal) == [0.0, 0.0, 1.0]
        c.center = Vec3d(1, 2, 3)
        assert parts(c.center) == [1.0, 2.0, 3.0]

    @pytest.mark.parametrize(
        ("radius", "area"),
        [(1.0, 3.141592653589793), (-2.0, 12.566370614359172), (0.1, (0.1 * 0.1) * math.pi), (nan, nan)],
    )
    def test_area_squares_first(self, radius: float, area: float) -> None:
        c = circle((0, 0, 0), 1, (0, 0, 1))
        c.radius = radius
        assert_floats([c.area], [area])

    @pytest.mark.parametrize("action", [lambda c: setattr(c, "area", 3.0), lambda c: delattr(c, "area")])
    def test_area_is_read_only(self, action) -> None:
        c = circle((0, 0, 0), 1, (0, 0, 1))
        with pytest.raises(AttributeError, match="'area'.*not writable"):
            action(c)
        assert c.area == math.pi

    @pytest.mark.parametrize(
        ("name", "value", "text"),
        [
            ("center", (1, 2, 3), "argument 'value': 'tuple' object is not an instance of 'Vec3d'"),
            ("normal", None, "argument 'value': 'None' is not an instance of 'Vec3d'"),
            ("radius", "1", "argument 'value': must be real number, not str"),
        ],
    )
    def test_bad_values_leave_the_circle_unchanged(self, name: str, value, text: str) -> None:
        c = circle((1, 2, 3), 4, (0, 1, 0))
        with pytest.raises(TypeError) as raised:
            setattr(c, name, value)
        assert str(raised.value) == text
        assert parts(c.center) + [c.radius] + parts(c.normal) == [1.0, 2.0, 3.0, 4.0, 0.0, 1.0, 0.0]

    @pytest.mark.parametrize("name", ["center", "radius", "normal"])
    def test_delete_is_refused(self, name: str) -> None:
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(Circle.none(), name)


class TestMeasures:
    @pytest.mark.parametrize(("radius", "degenerate"), [(0.0, True), (-0.0, True), (5e-324, False), (nan, False)])
    def test_is_degenerate(self, radius: float, degenerate: bool) -> None:
        c = circle((0, 0, 0), 1, (0, 0, 1))
        c.radius = radius
        assert c.is_degenerate() is degenerate

    def test_get_plane_is_from_point(self) -> None:
        c = circle((1, 2, 3), 1, (0, 0, 1))
        c.normal = Vec3d(0, 0, 2)
        plane = c.get_plane()
        assert type(plane) is Plane
        assert_bits(parts(plane.normal) + [plane.distance], [0.0, 0.0, 1.0, -3.0])
        assert plane.contains_point(Vec3d(7, 7, 3))
        assert_floats([Circle.none().get_plane().distance], [nan])

    @pytest.mark.parametrize(
        ("first", "second", "same"),
        [
            (((0, 0, 1), 1, (0, 0, 1)), ((5, 5, 1), 2, (0, 0, 1)), True),
            (((0, 0, 1), 1, (0, 0, 1)), ((0, 0, 2), 1, (0, 0, 1)), False),
            (((0, 0, 0), 1, (0, 1, 0)), ((0, 0, 0), 1, (0, 0, 1)), False),
            # opposite normals: the same plane has offsets of opposite sign
            (((0, 0, 1), 1, (0, 0, 1)), ((3, 0, 1), 1, (0, 0, -1)), True),
            (((0, 0, 3), 1, (0, 0, -1)), ((3, 4, 3), 9, (0, 0, 1)), True),
            # z = 1 and z = -1 with opposite normals have equal offsets but are different planes
            (((0, 0, 1), 1, (0, 0, 1)), ((0, 0, -1), 1, (0, 0, -1)), False),
            (((0, 0, 1), 1, (0, 0, 1)), ((0, 0, 2), 1, (0, 0, -1)), False),
            (((0, 0, 0), 1, (0, 0, 1)), ((0, 0, eps / 2), 1, (0, 0, 1)), True),
            (((0, 0, 0), 1, (0, 0, 1)), ((0, 0, eps), 1, (0, 0, 1)), False),
        ],
    )
    def test_in_same_plane(self, first, second, same: bool) -> None:
        a, b = circle(*first), circle(*second)
        assert a.in_same_plane(b) is same
        assert b.in_same_plane(other=a) is same

    def test_in_same_plane_uses_stored_normals(self) -> None:
        a, b = circle((0, 0, 1), 1, (0, 0, 1)), circle((0, 0, 1), 1, (0, 0, 1))
        a.normal = b.normal = Vec3d(0, 0, 2)
        assert a.in_same_plane(b)
        b.normal = Vec3d(0, 0, -2)
        assert a.in_same_plane(b)  # offsets 2 and -2
        assert not Circle.none().in_same_plane(Circle.none())


class TestEquality:
    @pytest.mark.parametrize(
        ("first", "second", "equal"),
        [
            (((0, 0, 0), 1.0, (0, 0, 1)), ((0, 0, 0), 1.0, (0, 0, -1)), True),
            (((0, 0, 0), 1.0, (0, 0, 1)), ((0, 0, 0), 1.0000000000000002, (0, 0, 1)), False),
            (((0, 0, 0), 1.0, (0, 0, 1)), ((1e-17, 0, 0), 1.0, (0, 0, 1)), True),
            (((0, 0, 0), 1.0, (0, 0, 1)), ((0, eps, 0), 1.0, (0, 0, 1)), False),
            (((0, 0, 0), 1.0, (0, 0, 1)), ((0, 0, 0), -1.0, (0, 0, 1)), True),  # both store 1.0
            (((0, 0, 0), 1.0, (1, 1, 0)), ((0, 0, 0), 1.0, (-1, -1, 0)), True),
            (((0, 0, 0), 1.0, (0, 0, 1)), ((0, 0, 0), 1.0, (0, 1, 0)), False),
            (((0, 0, 0), 0.0, (0, 0, 1)), ((0, 0, 0), -0.0, (0, 0, 1)), True),
            (((0, 0, 0), 1.0, (0, 0, 0)), ((0, 0, 0), 1.0, (0, 0, 0)), False),
            (((nan, 0, 0), 1.0, (0, 0, 1)), ((nan, 0, 0), 1.0, (0, 0, 1)), False),
        ],
    )
    def test_tolerance_equality(self, first, second, equal: bool) -> None:
        a, b = circle(*first), circle(*second)
        assert (a == b) is equal and (b == a) is equal
        assert (a != b) is (not equal)

    def test_normals_within_tolerance_or_opposite_within_tolerance(self) -> None:
        a, b = circle((0, 0, 0), 1, (0, 0, 1)), circle((0, 0, 0), 1, (0, 0, 1))
        b.normal = Vec3d(eps / 2, 0, 1)
        assert a == b
        b.normal = Vec3d(-eps / 2, 0, -1)
        assert a == b
        b.normal = Vec3d(eps, 0, -1)
        assert a != b

    def test_radii_compare_exactly(self) -> None:
        a, b = circle((0, 0, 0), 1, (0, 0, 1)), circle((0, 0, 0), 1, (0, 0, 1))
        a.radius, b.radius = nan, nan
        assert a != b
        a.radius, b.radius = 1.0, -1.0
        assert a != b

    def test_self_and_none(self) -> None:
        c = circle((1, 2, 3), 4, (0, 0, 1))
        assert c == c and not (c != c)
        none = Circle.none()
        assert none != none and not (none == none)
        assert Circle.none() != Circle.none()

    def test_foreign_operands(self) -> None:
        c = circle((0, 0, 0), 1, (0, 0, 1))
        assert (c == 5) is False and (c != 5) is True
        assert (c == Plane.xy()) is False and (c != Plane.xy()) is True
        assert c.__eq__(5) is NotImplemented
        assert c.__eq__(c) is True

    def test_not_equal_runs_the_whole_equality_protocol(self) -> None:
        class EqualToAll:
            def __eq__(self, other: object) -> bool:
                return True

            def __ne__(self, other: object) -> bool:
                return True

        class Refuses:
            def __eq__(self, other: object) -> bool:
                raise ValueError("no comparison")

        class Untruthful:
            def __bool__(self) -> bool:
                raise ZeroDivisionError("no truth")

        class Odd:
            def __eq__(self, other: object) -> object:
                return Untruthful()

        c = circle((0, 0, 0), 1, (0, 0, 1))
        # != is `not (c == other)`, where == falls through to the reflected __eq__ ...
        assert (c != EqualToAll()) is False
        assert c.__ne__(EqualToAll()) is False
        # ... never NotImplemented, and whatever that == raises propagates
        assert c.__ne__(5) is True
        with pytest.raises(ValueError, match="^no comparison$"):
            c != Refuses()  # noqa: B015
        with pytest.raises(ZeroDivisionError):
            c != Odd()  # noqa: B015

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_no_ordering(self, op: str) -> None:
        a = circle((0, 0, 0), 1, (0, 0, 1))
        with pytest.raises(TypeError):
            eval(f"a {op} b", {"a": a, "b": a})
        assert a.__lt__(a) is NotImplemented

    def test_unhashable(self) -> None:
        assert Circle.__hash__ is None
        with pytest.raises(TypeError, match="unhashable"):
            hash(Circle.none())
        with pytest.raises(TypeError):
            {Circle.none()}


@pytest.mark.parametrize(
    ("member", "signature"),
    [
        (Circle, "(center, radius, normal)"),
        (Circle.none, "()"),
        (Circle.get_plane, "($self)"),
        (Circle.in_same_plane, "($self, other)"),
        (Circle.is_degenerate, "($self)"),
    ],
)
def test_signatures(member, signature: str) -> None:
    assert member.__text_signature__ == signature


@pytest.mark.parametrize(
    ("call", "text"),
    [
        (lambda: Circle(None, 1, Vec3d(0, 0, 1)), "argument 'center': 'None' is not an instance of 'Vec3d'"),
        (lambda: Circle(Vec3d(0, 0, 0), "1", Vec3d(0, 0, 1)), "argument 'radius': must be real number, not str"),
        (lambda: Circle(Vec3d(0, 0, 0), 1, [0, 0, 1]), "argument 'normal': 'list' object is not an instance of 'Vec3d'"),
        # converted in declaration order: the first bad argument is reported
        (lambda: Circle(Vec3d(0, 0, 0), "1", None), "argument 'radius': must be real number, not str"),
        (lambda: Circle(Vec3d(0, 0, 0), 1), "Circle.__new__() missing 1 required positional argument: 'normal'"),
        (lambda: Circle(), "Circle.__new__() missing 3 required positional arguments: 'center', 'radius', and 'normal'"),
        (lambda: Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1), center=Vec3d(0, 0, 0)),
         "Circle.__new__() got multiple values for argument 'center'"),
        (lambda: Circle.none(1, 2), "Circle.none() takes 0 positional arguments but 2 were given"),
        (lambda: Circle.none().in_same_plane(Plane.xy()), "argument 'other': 'Plane' object is not an instance of 'Circle'"),
        (lambda: Circle.none().in_same_plane(), "Circle.in_same_plane() missing 1 required positional argument: 'other'"),
        (lambda: Circle.none().is_degenerate(True), "Circle.is_degenerate() takes 0 positional arguments but 1 was given"),
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
    # Each write keeps the centre's components equal, so a reader that sees them differ saw a
    # half-written centre. Equality with a busy circle is not answered by either side
    # (NotImplemented), so == falls back to identity and never raises.
    shared = circle((0, 0, 0), 1, (0, 0, 1))
    reference = circle((0, 0, 0), 1, (0, 0, 1))
    writing, stop = threading.Event(), threading.Event()
    finished: list[int] = []

    def write() -> tuple[int, set[str]]:
        writes, conflicts = 0, set()
        writing.set()
        while not stop.is_set():
            writes += 1
            n = writes % 2
            try:
                shared.center = Vec3d(n, n, n)
                shared.radius = 1.0
                shared.normal = Vec3d(0, 0, -1 if n else 1)
            except RuntimeError as error:
                conflicts.add(str(error))
        return writes, conflicts

    def read() -> tuple[set[str], set[object]]:
        errors: set[str] = set()
        answers: set[object] = set()
        writing.wait()
        for _ in range(ROUNDS):
            answers.add(reference.__eq__(shared))
            answers.add(shared.__eq__(reference))
            assert (shared == shared) is True and (shared != shared) is False
            try:
                center = shared.center
                assert center.x == center.y == center.z
                assert shared.area == math.pi
                shared.get_plane()
                reference.in_same_plane(shared)
                geometry.circle_circle(shared, shared)
            except RuntimeError as error:
                errors.add(str(error))
            except ValueError as error:
                assert str(error) == "The given geometries are identical."
        finished.append(1)
        if len(finished) == READERS:
            stop.set()
        return errors, answers

    *reads, (writes, write_conflicts) = race([read] * READERS + [write])
    assert writes > 0 and write_conflicts <= {"Already borrowed"}
    for errors, answers in reads:
        assert errors <= {"Already mutably borrowed"}
        assert answers <= {True, False, NotImplemented}
    shared.radius = 2.0
    assert shared.radius == 2.0
