"""Quat: construction, the rotation algebra in exact bits, comparison, texts and borrowing;
Vec3d.to_quat."""

from __future__ import annotations

import math
import random
import struct

import pytest
from conftest import assert_bits, assert_floats, bits, race, requires_free_threading, toggle_racing_readers

from quorvane import AngleRadians, Quat, Vec3d

nan = float("nan")
inf = float("inf")
eps = 2.220446049250313e-16
half_pi = AngleRadians.half_pi()


def parts(q: Quat) -> list[float]:
    return [q.w, q.i, q.j, q.k]


def vector(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


class TestConstruction:
    def test_values_are_stored_unchanged(self) -> None:
        assert_bits(parts(Quat(-0.0, inf, -inf, 1e-310)), [-0.0, inf, -inf, 1e-310])
        assert math.isnan(Quat(nan, 0, 0, 0).w)
        assert parts(Quat(k=4, j=3, i=2, w=True)) == [1.0, 2.0, 3.0, 4.0]

    def test_identity_is_a_new_positive_quaternion(self) -> None:
        assert_bits(parts(Quat.identity()), [1.0, 0.0, 0.0, 0.0])
        assert Quat.identity() is not Quat.identity()

    def test_vector_round_trip(self) -> None:
        q = Vec3d(1, 2, -0.0).to_quat()
        assert type(q) is Quat
        assert_bits(parts(q), [0.0, 1.0, 2.0, -0.0])
        assert repr(Vec3d(1, 2, 3).to_quat()) == "Quat(0, 1, 2, 3)"
        assert bits(Vec3d(-0.0, 0, 0).to_quat().w) == 0
        back = q.to_vec3d()
        assert type(back) is tuple and back == (1.0, 2.0, -0.0)
        assert_bits(back, [1.0, 2.0, -0.0])

    @pytest.mark.parametrize(
        ("call", "error", "text"),
        [
            (lambda: Quat(), TypeError, "Quat.__new__() missing 4 required positional arguments: 'w', 'i', 'j', and 'k'"),
            (lambda: Quat(1, 2, 3), TypeError, "Quat.__new__() missing 1 required positional argument: 'k'"),
            (lambda: Quat(1, 2, 3, 4, 5), TypeError, "Quat.__new__() takes 4 positional arguments but 5 were given"),
            (lambda: Quat(1, 2, 3, w=4), TypeError, "Quat.__new__() got multiple values for argument 'w'"),
            (lambda: Quat("a", [], 0, 0), TypeError, "argument 'w': must be real number, not str"),
            (lambda: Quat(0, 0, None, 0), TypeError, "argument 'j': must be real number, not NoneType"),
            (lambda: Quat.identity(1), TypeError, "Quat.identity() takes 0 positional arguments but 1 was given"),
            (lambda: Quat.from_axis_angle(Vec3d(0, 0, 1), 1.5), TypeError,
             "argument 'angle': 'float' object is not an instance of 'AngleRadians'"),
            (lambda: Quat.from_axis_angle((0, 0, 1), 1.5), TypeError,
             "argument 'axis': 'tuple' object is not an instance of 'Vec3d'"),
            (lambda: Quat.from_axis_angle(half_pi, Vec3d(0, 0, 1)), TypeError,
             "argument 'axis': 'AngleRadians' object is not an instance of 'Vec3d'"),
            (lambda: Quat.from_axis_angle(Vec3d(0, 0, 1)), TypeError,
             "Quat.from_axis_angle() missing 1 required positional argument: 'angle'"),
            (lambda: Quat.identity().rotate((1, 0, 0)), TypeError,
             "argument 'v': 'tuple' object is not an instance of 'Vec3d'"),
            (lambda: Quat.identity().rotate(None), TypeError, "argument 'v': 'None' is not an instance of 'Vec3d'"),
            (lambda: Quat.identity().rotate(w=Vec3d(1, 0, 0)), TypeError,
             "Quat.rotate() got an unexpected keyword argument 'w'"),
            (lambda: Vec3d(1, 2, 3).to_quat(1), TypeError, "Vec3d.to_quat() takes 0 positional arguments but 1 was given"),
        ],
    )
    def test_argument_errors(self, call, error, text: str) -> None:
        with pytest.raises(error) as raised:
            call()
        assert type(raised.value) is error and str(raised.value) == text

    def test_keywords(self) -> None:
        q = Quat.from_axis_angle(angle=half_pi, axis=Vec3d(0, 0, 1))
        assert parts(q) == parts(Quat.from_axis_angle(Vec3d(0, 0, 1), half_pi))
        assert vector(q.rotate(v=Vec3d(1, 0, 0))) == vector(q.rotate(Vec3d(1, 0, 0)))


class TestProperties:
    @pytest.mark.parametrize("name", ["w", "i", "j", "k"])
    def test_setters_convert_and_store(self, name: str) -> None:
        q = Quat(1, 2, 3, 4)
        setattr(q, name, 5)
        value = getattr(q, name)
        assert type(value) is float and value == 5.0
        setattr(q, name, -0.0)
        assert bits(getattr(q, name)) == bits(-0.0)

    def test_bad_value_leaves_quaternion_unchanged(self) -> None:
        q = Quat(1, 2, 3, 4)
        with pytest.raises(TypeError, match=r"^argument 'value': must be real number, not str$"):
            q.w = "a"  # type: ignore[assignment]
        assert parts(q) == [1.0, 2.0, 3.0, 4.0]

    @pytest.mark.parametrize("name", ["w", "i", "j", "k"])
    def test_delete_is_refused(self, name: str) -> None:
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(Quat(1, 2, 3, 4), name)

    def test_no_other_attributes(self) -> None:
        with pytest.raises(AttributeError):
            Quat(1, 0, 0, 0).x = 1  # type: ignore[attr-defined]


class TestQuotedRotations:
    def test_quarter_turn_about_z(self) -> None:
        q = Quat.from_axis_angle(Vec3d(0, 0, 1), half_pi)
        assert_bits(parts(q), [0.7071067811865476, -0.0, -0.0, -0.7071067811865475])
        assert repr(q) == "Quat(0.7071067811865476, -0, -0, -0.7071067811865475)"
        assert_bits(vector(q.rotate(Vec3d(1, 0, 0))), [2.220446049250313e-16, 1.0, 0.0])
        matrix = q.to_rotation_matrix()
        assert type(matrix) is list and all(type(row) is list for row in matrix)
        assert_bits(
            [x for row in matrix for x in row],
            [2.220446049250313e-16, 1.0, 0.0, -1.0, 2.220446049250313e-16, 0.0, 0.0, 0.0, 1.0],
        )
        decomposed = q.to_axis_angle()
        assert type(decomposed) is tuple and len(decomposed) == 2
        axis, angle = decomposed
        assert type(axis) is Vec3d and type(angle) is AngleRadians
        assert_bits(vector(axis), [-0.0, -0.0, -1.0])
        assert bits(angle.angle) == bits(1.5707963267948966)
        assert q.magnitude() == 1.0 and q.is_unit() is True

    @pytest.mark.parametrize(
        ("axis", "v", "expected"),
        [
            ((0, 1, 0), (1, 0, 0), [2.220446049250313e-16, 0.0, -1.0]),
            ((1, 0, 0), (0, 1, 0), [0.0, 2.220446049250313e-16, 1.0]),
        ],
    )
    def test_quarter_turns_about_other_axes(self, axis, v, expected) -> None:
        assert_bits(vector(Quat.from_axis_angle(Vec3d(*axis), half_pi).rotate(Vec3d(*v))), expected)

    @pytest.mark.parametrize(
        ("q", "v", "expected"),
        [
            ((1, 0, 0, 0), (1.5, -2.0, 3.25), [1.5, -2.0, 3.25]),
            ((1, 0, 0, 0), (-0.0, -0.0, -0.0), [0.0, 0.0, 0.0]),
            ((2, 0, 0, 0), (1, 2, 3), [4.0, 8.0, 12.0]),
        ],
    )
    def test_rotation_does_not_normalise(self, q, v, expected) -> None:
        assert_bits(vector(Quat(*q).rotate(Vec3d(*v))), expected)

    def test_axis_is_used_as_given(self) -> None:
        q = Quat.from_axis_angle(Vec3d(0, 0, 2), half_pi)
        assert q.k == 2 * -0.7071067811865475 and not q.is_unit()


class TestAlgebra:
    def test_conjugate_flips_sign_bits(self) -> None:
        quiet = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000077))[0]
        conjugate = Quat(-0.0, 0.0, quiet, -2.5).conjugate()
        assert_bits(parts(conjugate), [-0.0, -0.0, -quiet, 2.5])

    @pytest.mark.parametrize(
        ("q", "magnitude", "unit"),
        [
            ((1, 0, 0, 0), 1.0, True),
            ((0, 0, 0, 1 - 2**-53), 1 - 2**-53, True),
            ((0.5, 0.5, 0.5, 0.5), 1.0, True),
            ((1 + 2**-52, 0, 0, 0), 1 + 2**-52, False),
            ((1, 2, 2, 4), 5.0, False),
            ((0, 0, 0, 0), 0.0, False),
            ((inf, nan, 0, 0), nan, False),
        ],
    )
    def test_magnitude_and_unit_test(self, q, magnitude: float, unit: bool) -> None:
        assert_floats([Quat(*q).magnitude()], [magnitude])
        assert Quat(*q).is_unit() is unit

    def test_normalize_divides_each_component(self) -> None:
        q = Quat(0.1, 0.2, 0.3, 0.4)
        m = q.magnitude()
        assert_bits(parts(q.normalize()), [0.1 / m, 0.2 / m, 0.3 / m, 0.4 / m])
        zero = Quat(0, 0, 0, 0).normalize()
        assert repr(zero) == "Quat(NaN, NaN, NaN, NaN)" and zero.is_unit() is False

    @pytest.mark.parametrize(
        ("q", "axis", "angle"),
        [
            ((1, 0, 0, 0), [1.0, 0.0, 0.0], 0.0),
            ((1 - 2**-53, 5, 5, 5), [1.0, 0.0, 0.0], 0.0),
            ((0.5, 0, 0, 0), [0.0, 0.0, 0.0], 2.0943951023931957),
            ((-1, 0, 0, 0), [0.0, 0.0, 0.0], 6.283185307179586),
            ((0.9999999999999998, 0, 0, 0), [0.0, 0.0, 0.0], 4.2146848510894035e-08),
            ((1.0000000000000002, 0, 0, 0), [nan, nan, nan], nan),
            ((nan, 1, 0, 0), [nan, nan, nan], nan),
        ],
    )
    def test_to_axis_angle_edges(self, q, axis, angle: float) -> None:
        found_axis, found_angle = Quat(*q).to_axis_angle()
        if math.isnan(angle):
            assert all(math.isnan(x) for x in vector(found_axis)) and math.isnan(found_angle.angle)
        else:
            assert_bits(vector(found_axis), axis)
            assert bits(found_angle.angle) == bits(angle)


# Plain-Python versions of the formulas. Python floats round every operation and never fuse;
# where Python raises instead of returning an IEEE result, the helpers give what C does.
def py_sin(x: float) -> float:
    return x - x if math.isinf(x) else math.sin(x)  # sin(+-inf): the invalid-operation NaN


def py_cos(x: float) -> float:
    return x - x if math.isinf(x) else math.cos(x)


def py_acos(x: float) -> float:
    try:
        return math.acos(x)
    except ValueError:
        return nan  # the C library answers a domain error with a positive quiet NaN


def py_div(a: float, b: float) -> float:
    try:
        return a / b
    except ZeroDivisionError:
        if math.isnan(a):
            return a
        if a == 0:
            return inf - inf  # 0 / 0: the invalid-operation NaN
        return math.copysign(inf, a) * math.copysign(1, b)


def py_from_axis_angle(axis: list[float], angle: float) -> list[float]:
    h = angle * -0.5
    s, c = py_sin(h), py_cos(h)
    return [c, s * axis[0], s * axis[1], s * axis[2]]


def py_rotate(q: list[float], v: list[float]) -> list[float]:
    w, i, j, k = q
    x, y, z = v
    pw = ((x * i + w * 0.0) + y * j) + z * k
    pi = ((x * w - i * 0.0) - z * j) + y * k
    pj = ((y * w - j * 0.0) - x * k) + z * i
    pk = ((z * w - k * 0.0) - y * i) + x * j
    return [
        ((i * pw + w * pi) + k * pj) - j * pk,
        ((w * pj + j * pw) + i * pk) - k * pi,
        ((w * pk + k * pw) + j * pi) - i * pj,
    ]


def py_rotation_matrix(q: list[float]) -> list[float]:
    w, i, j, k = q
    return [
        1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j),
        2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i),
        2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j),
    ]  # fmt: skip


def py_to_axis_angle(q: list[float]) -> list[float]:
    w, i, j, k = q
    if abs(w + -1.0) < eps:
        return [1.0, 0.0, 0.0, 0.0]
    a = py_acos(w)
    angle = a + a
    s = py_sin(angle * 0.5)
    return [py_div(i, s), py_div(j, s), py_div(k, s), angle]


SPECIAL = [0.0, -0.0, 1.0, -1.0, 0.5, 1 - 2**-53, 1e-200, 1e200, inf, -inf, nan]


def random_component(rng: random.Random) -> float:
    if rng.random() < 0.15:
        return rng.choice(SPECIAL)
    return rng.uniform(-1, 1) * 10 ** rng.randint(-3, 3)


def random_quaternion(rng: random.Random) -> list[float]:
    roll = rng.random()
    if roll < 0.4:  # a rotation, unit up to rounding
        axis = [rng.gauss(0, 1) for _ in range(3)]
        length = math.sqrt(sum(x * x for x in axis))
        return py_from_axis_angle([x / length for x in axis], rng.uniform(-7, 7))
    if roll < 0.5:  # near the null rotation, where to_axis_angle switches paths
        return [1.0 - rng.randint(0, 4) * 2**-53, rng.uniform(-1e-8, 1e-8), 0.0, rng.uniform(-1e-8, 1e-8)]
    return [random_component(rng) for _ in range(4)]


@pytest.mark.parametrize("seed", range(4))
def test_rotation_methods_match_plain_python_formulas(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(1000):
        q = random_quaternion(rng)
        v = [random_component(rng) for _ in range(3)]
        quat = Quat(*q)
        assert_floats(vector(quat.rotate(Vec3d(*v))), py_rotate(q, v))
        assert_floats([x for row in quat.to_rotation_matrix() for x in row], py_rotation_matrix(q))
        axis, angle = quat.to_axis_angle()
        assert_floats([*vector(axis), angle.angle], py_to_axis_angle(q))
        theta = rng.choice(SPECIAL) if rng.random() < 0.1 else rng.uniform(-10, 10)
        assert_floats(parts(Quat.from_axis_angle(Vec3d(*v), AngleRadians(theta))), py_from_axis_angle(v, theta))


class TestComparison:
    @pytest.mark.parametrize(
        ("a", "b", "equal"),
        [
            ((1, 0, 0, 0), (1, 1e-16, 0, 0), True),
            ((1, 0, 0, 0), (1, 3e-16, 0, 0), False),
            ((0, 0, 0, 0), (0, 0, 0, -eps), False),
            ((0, 0, 0, 0), (0, 0, 0, -eps / 2), True),
            ((nan, 0, 0, 0), (nan, 0, 0, 0), False),
            ((0, 0, 0, inf), (0, 0, 0, inf), False),
        ],
    )
    def test_tolerance_equality(self, a, b, equal: bool) -> None:
        assert (Quat(*a) == Quat(*b)) is equal
        assert (Quat(*a) != Quat(*b)) is (not equal)

    def test_not_transitive(self) -> None:
        a, b, c = Quat(0, 0, 0, 0), Quat(1.5e-16, 0, 0, 0), Quat(3e-16, 0, 0, 0)
        assert a == b and b == c and a != c

    @pytest.mark.parametrize("other", [(1, 0, 0, 0), 1, None, Vec3d(1, 0, 0)])
    def test_foreign_operands_fall_back_to_identity(self, other) -> None:
        q = Quat.identity()
        assert (q == other) is False and (q != other) is True and (other != q) is True

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_no_ordering(self, op: str) -> None:
        with pytest.raises(TypeError):
            eval(f"a {op} b", {"a": Quat.identity(), "b": Quat.identity()})

    @pytest.mark.parametrize(
        "expression",
        [
            lambda q: q * q,
            lambda q: q + q,
            lambda q: q - q,
            lambda q: q * 2,
            lambda q: 2 * q,
            lambda q: q / 2,
            lambda q: -q,
            lambda q: +q,
            lambda q: abs(q),
            lambda q: q * Vec3d(1, 0, 0),
        ],
    )
    def test_no_numeric_operators(self, expression) -> None:
        with pytest.raises(TypeError):
            expression(Quat.identity())

    def test_unhashable(self) -> None:
        assert Quat.__hash__ is None
        with pytest.raises(TypeError):
            hash(Quat.identity())


class TestClassSurface:
    def test_text_forms(self) -> None:
        assert repr(Quat.identity()) == "Quat(1, 0, 0, 0)" == str(Quat.identity())
        assert repr(Quat(0.5, -0.0, 2.5, -3)) == "Quat(0.5, -0, 2.5, -3)"
        assert repr(Quat(inf, -inf, nan, 1e21)) == "Quat(inf, -inf, NaN, 1000000000000000000000)"

    def test_methods_in_definition_order_with_signatures(self) -> None:
        expected = {
            "identity": "()",
            "from_axis_angle": "(axis, angle)",
            "conjugate": "($self)",
            "magnitude": "($self)",
            "normalize": "($self)",
            "to_vec3d": "($self)",
            "is_unit": "($self)",
            "to_axis_angle": "($self)",
            "to_rotation_matrix": "($self)",
            "rotate": "($self, v)",
        }
        methods = [name for name in Quat.__dict__ if name in expected]
        assert methods == list(expected)
        for name, signature in expected.items():
            assert getattr(Quat, name).__text_signature__ == signature
            assert getattr(Quat, name).__doc__ is None
        assert Quat.__text_signature__ == "(w, i, j, k)"
        assert Vec3d.to_quat.__text_signature__ == "($self)"

    def test_final(self) -> None:
        with pytest.raises(TypeError):
            type("Sub", (Quat,), {})
        assert Quat.__module__ == "builtins" and Quat.__qualname__ == "Quat"


def is_panic(error: BaseException) -> bool:
    return type(error).__name__ == "PanicException" and str(error) == "Already mutably borrowed: PyBorrowError"


@requires_free_threading
def test_writer_racing_readers_sees_only_whole_values() -> None:
    q = Quat(1.0, 0.0, 0.0, 0.0)

    def toggle(n: int) -> None:
        q.w = 2.0 if n % 2 else 1.0

    def read() -> None:
        assert q.w in (1.0, 2.0)
        assert repr(q) in ("Quat(1, 0, 0, 0)", "Quat(2, 0, 0, 0)")
        assert q.magnitude() in (1.0, 2.0)
        assert vector(q.rotate(Vec3d(1, 2, 3))) in ([1.0, 2.0, 3.0], [4.0, 8.0, 12.0])

    assert toggle_racing_readers(toggle, read, rounds=2_000_000)  # the threads did overlap
    assert q.w in (1.0, 2.0)


@requires_free_threading
def test_comparing_with_a_quaternion_being_written_panics() -> None:
    q = Quat(1.0, 0.0, 0.0, 0.0)
    done = False

    def writer() -> None:
        n = 0
        while not done:
            try:
                q.i = 1e-17 if n % 2 else 0.0
            except RuntimeError as error:
                assert str(error) == "Already borrowed"
            n += 1

    def comparer() -> int:
        nonlocal done
        probe = Quat.identity()
        panics = 0
        try:
            # Ends at the first few panics; the bound only matters on a machine so loaded that
            # the two threads hardly ever run at the same moment.
            for _ in range(20_000_000):
                try:
                    equal = probe == q
                except BaseException as error:  # PanicException derives from BaseException only
                    assert is_panic(error), repr(error)
                    assert not isinstance(error, Exception)
                    panics += 1
                    if panics == 3:
                        break
                else:
                    assert equal is True
        finally:
            done = True
        return panics

    _, panics = race([writer, comparer])
    assert panics > 0
