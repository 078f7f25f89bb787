"""Vec3d: values, exact arithmetic, conversions, texts and protocols."""

from __future__ import annotations

import math
import random
import struct

import pytest
from conftest import assert_bits, assert_floats, bits

from quorvane import Vec3d

nan = float("nan")
inf = float("inf")
eps = 2.220446049250313e-16


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


# Plain-Python versions of the formulas: Python floats round every operation and never fuse.
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


def py_magnitude(a: list[float]) -> float:
    return py_sqrt(py_dot(a, a))


class TestConstruction:
    def test_values_are_stored_unchanged(self) -> None:
        v = Vec3d(-0.0, nan, -inf)
        assert bits(v.x) == bits(-0.0)
        assert math.isnan(v.y)
        assert v.z == -inf

    @pytest.mark.parametrize(
        ("factory", "expected"),
        [(Vec3d.zero, [0.0, 0.0, 0.0]), (Vec3d.i, [1.0, 0.0, 0.0]), (Vec3d.j, [0.0, 1.0, 0.0]), (Vec3d.k, [0.0, 0.0, 1.0])],
    )
    def test_constants_are_new_objects(self, factory, expected) -> None:
        assert_bits(parts(factory()), expected)
        assert factory() is not factory()

    def test_keywords_and_conversions(self) -> None:
        class FloatLike:
            def __float__(self) -> float:
                return 2.5

        class IndexLike:
            def __index__(self) -> int:
                return 7

        assert parts(Vec3d(z=3, y=True, x=FloatLike())) == [2.5, 1.0, 3.0]
        assert Vec3d(IndexLike(), 0, 0).x == 7.0

    def test_new_from_to(self) -> None:
        assert parts(Vec3d.new_from_to(Vec3d(1, 2, 3), Vec3d(4, 6, 8))) == [3.0, 4.0, 5.0]
        assert parts(Vec3d.new_from_to(**{"from": Vec3d(1, 1, 1), "to": Vec3d(0, 0, 0)})) == [-1.0, -1.0, -1.0]

    @pytest.mark.parametrize(
        ("call", "error", "text"),
        [
            (lambda: Vec3d(1, 2), TypeError, "Vec3d.__new__() missing 1 required positional argument: 'z'"),
            (lambda: Vec3d(1), TypeError, "Vec3d.__new__() missing 2 required positional arguments: 'y' and 'z'"),
            (lambda: Vec3d(), TypeError, "Vec3d.__new__() missing 3 required positional arguments: 'x', 'y', and 'z'"),
            (lambda: Vec3d(1, 2, 3, 4), TypeError, "Vec3d.__new__() takes 3 positional arguments but 4 were given"),
            (lambda: Vec3d(1, 2, 3, q=1), TypeError, "Vec3d.__new__() got an unexpected keyword argument 'q'"),
            (lambda: Vec3d(1, 2, 3, x=1), TypeError, "Vec3d.__new__() got multiple values for argument 'x'"),
            (lambda: Vec3d(1, 2, z=3, w=4), TypeError, "Vec3d.__new__() got an unexpected keyword argument 'w'"),
            (lambda: Vec3d("a", 0, 0), TypeError, "argument 'x': must be real number, not str"),
            (lambda: Vec3d(0, None, 0), TypeError, "argument 'y': must be real number, not NoneType"),
            (lambda: Vec3d(0, 0, 10**400), OverflowError, "int too large to convert to float"),
            (lambda: Vec3d.zero(1), TypeError, "Vec3d.zero() takes 0 positional arguments but 1 was given"),
            (lambda: Vec3d(1, 2, 3).dot(), TypeError, "Vec3d.dot() missing 1 required positional argument: 'other'"),
            (lambda: Vec3d(1, 2, 3).dot(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
            (lambda: Vec3d(1, 2, 3).dot(5), TypeError, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
            (lambda: Vec3d(1, 2, 3).dot((1, 2, 3)), TypeError, "argument 'other': 'tuple' object is not an instance of 'Vec3d'"),
            (lambda: Vec3d(1, 2, 3).distance_to_line(Vec3d(0, 0, 0), b=1), TypeError,
             "argument 'b': 'int' object is not an instance of 'Vec3d'"),
            (lambda: Vec3d.new_from_to(Vec3d(1, 2, 3), to=Vec3d(1, 2, 3), frm=1), TypeError,
             "Vec3d.new_from_to() got an unexpected keyword argument 'frm'"),
        ],
    )
    def test_argument_errors(self, call, error, text) -> None:
        with pytest.raises(error) as raised:
            call()
        assert type(raised.value) is error
        assert str(raised.value) == text

    def test_rewrapped_error_keeps_the_cause(self) -> None:
        class Bad:
            def __float__(self) -> float:
                try:
                    raise KeyError("inner")
                except KeyError as inner:
                    raise TypeError("broken float") from inner

        with pytest.raises(TypeError) as raised:
            Vec3d(Bad(), 0, 0)
        assert str(raised.value) == "argument 'x': broken float"
        assert isinstance(raised.value.__cause__, KeyError)

    def test_non_type_errors_pass_unchanged(self) -> None:
        class Bad:
            def __float__(self) -> float:
                raise ValueError("no float here")

        with pytest.raises(ValueError, match="^no float here$"):
            Vec3d(0, Bad(), 0)


class TestProperties:
    def test_setters_convert_and_store(self) -> None:
        v = Vec3d(1, 2, 3)
        v.x = 5
        v.y = -0.0
        assert parts(v) == [5.0, -0.0, 3.0] and type(v.x) is float
        assert bits(v.y) == bits(-0.0)

    def test_bad_value_leaves_vector_unchanged(self) -> None:
        v = Vec3d(1, 2, 3)
        with pytest.raises(TypeError, match=r"^argument 'value': must be real number, not str$"):
            v.x = "a"  # type: ignore[assignment]
        assert parts(v) == [1.0, 2.0, 3.0]

    @pytest.mark.parametrize("name", ["x", "y", "z"])
    def test_delete_is_refused(self, name: str) -> None:
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(Vec3d(1, 2, 3), name)


class TestArithmetic:
    def test_operators(self) -> None:
        a, b = Vec3d(1, 2, 3), Vec3d(0.5, -1, 4)
        assert parts(a + b) == [1.5, 1.0, 7.0]
        assert parts(a - b) == [0.5, 3.0, -1.0]
        assert parts(a * 2) == parts(2 * a) == [2.0, 4.0, 6.0]
        assert parts(a * True) == [1.0, 2.0, 3.0]
        assert parts(a) == [1.0, 2.0, 3.0]

    def test_negation_flips_sign_bits(self) -> None:
        assert_bits(parts(-Vec3d(0, 0, 0)), [-0.0, -0.0, -0.0])
        negated = parts(-Vec3d(nan, 1, 2))
        assert math.isnan(negated[0]) and math.copysign(1, negated[0]) == -1
        assert bits(negated[0]) == bits(nan) ^ (1 << 63)
        assert negated[1:] == [-1.0, -2.0]

    def test_division_is_three_divisions(self) -> None:
        assert_floats(parts(Vec3d(1, 2, 3) / 0), [inf, inf, inf])
        assert_floats(parts(Vec3d(0, -1, 2) / 0), [nan, -inf, inf])
        # x / 3 differs from x * (1 / 3) for this x
        x = 5.0
        assert (Vec3d(x, 0, 0) / 3).x == x / 3 != x * (1 / 3)

    @pytest.mark.parametrize(
        "expression",
        [
            lambda v: v * v,
            lambda v: 2 / v,
            lambda v: v + 1,
            lambda v: v + [1, 2, 3],
            lambda v: v - 1,
            lambda v: v / v,
            lambda v: v * "2",
            lambda v: +v,
            lambda v: abs(v),
        ],
    )
    def test_unsupported_operands_raise_type_error(self, expression) -> None:
        with pytest.raises(TypeError):
            expression(Vec3d(1, 2, 3))

    def test_augmented_assignment_rebinds(self) -> None:
        a = Vec3d(1, 2, 3)
        original = a
        a += Vec3d(1, 1, 1)
        a *= 2
        assert a is not original
        assert parts(original) == [1.0, 2.0, 3.0]
        assert parts(a) == [4.0, 6.0, 8.0]


SPECIAL = [0.0, -0.0, 1.0, -1.0, 0.1, 1e-200, 1e200, 1e308, inf, -inf, nan, 5e-324]


def random_vector(rng: random.Random) -> list[float]:
    def component() -> float:
        if rng.random() < 0.2:
            return rng.choice(SPECIAL)
        return rng.uniform(-1, 1) * 10 ** rng.randint(-5, 5)

    return [component(), component(), component()]


@pytest.mark.parametrize("seed", range(4))
def test_methods_match_plain_python_formulas(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(500):
        a, b, c = random_vector(rng), random_vector(rng), random_vector(rng)
        va, vb, vc = Vec3d(*a), Vec3d(*b), Vec3d(*c)
        d = [a[0] - b[0], a[1] - b[1], a[2] - b[2]]
        assert_floats([va.dot(vb)], [py_dot(a, b)])
        assert_floats(parts(va.cross(vb)), py_cross(a, b))
        assert_floats([va.magnitude()], [py_magnitude(a)])
        assert_floats([va.distance_squared(vb)], [py_dot(d, d)])
        assert_floats([va.distance_to(vb)], [py_sqrt(py_dot(d, d))])
        assert_floats([va.distance_to(vb)], [(va - vb).magnitude()])
        m = py_magnitude(a)
        assert_floats(parts(va.normalize()), [py_div(x, m) for x in a])
        assert va.is_unit() == (abs(m + -1.0) < eps)
        assert_floats([va.scalar_triple_product(vb, vc)], [py_dot(a, py_cross(b, c))])
        s = rng.choice([2.0, -0.5, 0.0, -0.0, inf, nan, 3.3])
        assert_floats(parts(va * s), [s * x for x in a])
        assert_floats(parts(s * va), [s * x for x in a])
        assert_floats(parts(va / s), [py_div(x, s) for x in a])
        # distance to the line through b and c
        e = [c[0] - b[0], c[1] - b[1], c[2] - b[2]]
        t = py_div((e[0] * (a[0] - b[0]) + e[1] * (a[1] - b[1])) + e[2] * (a[2] - b[2]), py_dot(e, e))
        p = [b[0] + e[0] * t, b[1] + e[1] * t, b[2] + e[2] * t]
        q = [a[0] - p[0], a[1] - p[1], a[2] - p[2]]
        assert_floats([va.distance_to_line(vb, vc)], [py_sqrt(py_dot(q, q))])
        # projection onto the line through r = b and q = c
        r_q = [b[0] - c[0], b[1] - c[1], b[2] - c[2]]
        t = py_div((r_q[0] * (c[0] - a[0]) + r_q[1] * (c[1] - a[1])) + r_q[2] * (c[2] - a[2]), py_dot(r_q, r_q))
        assert_floats(parts(va.project_onto_line(vb, vc)), [c[i] - r_q[i] * t for i in range(3)])
        k = py_dot(a, c)
        assert_floats(parts(va.project_onto_plane(vc)), [a[i] - c[i] * k for i in range(3)])


class TestMeasures:
    def test_quoted_values(self) -> None:
        assert parts(Vec3d.i().cross(Vec3d.j())) == [0.0, 0.0, 1.0]
        assert_bits(parts(Vec3d.j().cross(Vec3d.i())), [0.0, 0.0, -1.0])
        assert parts(Vec3d(3, 4, 0).normalize()) == [0.6, 0.8, 0.0]
        assert Vec3d(3, 4, 0).normalize().is_unit() and Vec3d(1, 1, 1).normalize().is_unit()
        n = Vec3d(0.1, 0.2, 0.3).normalize()
        assert n.magnitude() == 0.9999999999999999 and n.is_unit()
        assert Vec3d(1, 2, 3).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)) == 3.605551275463989
        assert parts(Vec3d(1, 2, 3).project_onto_line(Vec3d(0, 0, 0), Vec3d(2, 0, 0))) == [1.0, 0.0, 0.0]
        assert parts(Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 1))) == [1.0, 2.0, 0.0]
        assert Vec3d(1, 2, 3).to_array() == [1.0, 2.0, 3.0]
        assert math.isnan(Vec3d(1, 1, 1).distance_to_line(Vec3d(2, 2, 2), Vec3d(2, 2, 2)))

    @pytest.mark.parametrize(
        ("vector", "expected"),
        [
            ((0, 0, 0), [nan, nan, nan]),
            ((1e-200, 0, 0), [inf, nan, nan]),
            ((1e200, 1e200, 0), [0.0, 0.0, 0.0]),
        ],
    )
    def test_degenerate_normalisation(self, vector, expected) -> None:
        assert_floats(parts(Vec3d(*vector).normalize()), expected)
        assert not Vec3d(*vector).normalize().is_unit()

    @pytest.mark.parametrize(
        ("x", "unit"),
        [(1.0, True), (1 - 2**-53, True), (1 + 2**-52, False), (1 - 2**-52, False), (nan, False)],
    )
    def test_unit_test_is_strict(self, x: float, unit: bool) -> None:
        assert Vec3d(x, 0, 0).is_unit() is unit


class TestComparison:
    @pytest.mark.parametrize(
        ("a", "b", "equal"),
        [
            ((0, 0, 0), (1e-17, 0, 0), True),
            ((0, 0, 0), (eps, 0, 0), False),
            ((0, 0, 0), (0, 0, -eps / 2), True),
            ((nan, 0, 0), (nan, 0, 0), False),
            ((inf, 0, 0), (inf, 0, 0), False),
            ((1, 2, 3), (1, 2, 3.0000001), False),
        ],
    )
    def test_tolerance_equality(self, a, b, equal: bool) -> None:
        assert (Vec3d(*a) == Vec3d(*b)) is equal
        assert (Vec3d(*a) != Vec3d(*b)) is (not equal)

    def test_foreign_operands_fall_back_to_identity(self) -> None:
        v = Vec3d(1, 2, 3)
        assert (v == (1, 2, 3)) is False
        assert (v != 5) is True
        assert v == v or math.isnan(v.x)

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_no_ordering(self, op: str) -> None:
        with pytest.raises(TypeError):
            eval(f"a {op} b", {"a": Vec3d(1, 2, 3), "b": Vec3d(1, 2, 3)})


class TestHash:
    @pytest.mark.parametrize(
        ("vector", "digest"),
        [((0, 0, 0), 0xF9003207CF9E4D4C), ((-0.0, 0, 0), 0xF9003207CF9E4D4C), ((1, 2, 3), 0x30BB88A98FCE01C1)],
    )
    def test_digests(self, vector, digest: int) -> None:
        signed = struct.unpack("<q", struct.pack("<Q", digest))[0]
        assert hash(Vec3d(*vector)) == signed
        assert hash(Vec3d(1, 2, 3)) == 3511550596308926913

    def test_every_nan_hashes_alike(self) -> None:
        quiet_negative = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000001))[0]
        assert hash(Vec3d(nan, 0, 0)) == hash(Vec3d(quiet_negative, 0, 0))

    def test_equal_vectors_may_hash_differently(self) -> None:
        assert Vec3d(0, 0, 0) == Vec3d(1e-17, 0, 0)
        assert hash(Vec3d(0, 0, 0)) != hash(Vec3d(1e-17, 0, 0))

    def test_usable_as_keys(self) -> None:
        assert {Vec3d(1, 2, 3): "a"}.get(Vec3d(1, 2, 3)) == "a"


class TestIndexing:
    def test_components(self) -> None:
        v = Vec3d(1, 2, 3)
        assert [v[0], v[1], v[2]] == [1.0, 2.0, 3.0]
        assert list(v) == [1.0, 2.0, 3.0]
        x, y, z = v
        assert (x, y, z) == (1.0, 2.0, 3.0)
        assert 2.0 in v and 4.0 not in v
        assert bool(Vec3d(0, 0, 0)) is True

    @pytest.mark.parametrize(
        ("index", "error", "text"),
        [
            (3, IndexError, "Index out of bounds"),
            (2**64 - 1, IndexError, "Index out of bounds"),
            (-1, OverflowError, "can't convert negative int to unsigned"),
            (2**64, OverflowError, "int too big to convert"),
            (1.0, TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
            ("0", TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
        ],
    )
    def test_bad_indices(self, index, error, text: str) -> None:
        with pytest.raises(error) as raised:
            Vec3d(1, 2, 3)[index]
        assert type(raised.value) is error and str(raised.value) == text

    def test_bool_and_index_objects(self) -> None:
        import operator

        class Two:
            def __index__(self) -> int:
                return 2

        assert Vec3d(1, 2, 3)[True] == 2.0
        assert Vec3d(1, 2, 3)[Two()] == 3.0
        with pytest.raises(TypeError):
            len(Vec3d(1, 2, 3))
        assert operator.getitem(Vec3d(1, 2, 3), 0) == 1.0


class TestText:
    @pytest.mark.parametrize(
        ("vector", "text"),
        [
            ((1, 2.5, -0.0), "Vec3d(1, 2.5, -0)"),
            ((1e21, 0.1, nan), "Vec3d(1000000000000000000000, 0.1, NaN)"),
            ((inf, -inf, -nan), "Vec3d(inf, -inf, NaN)"),
            ((100.0, -2.5, 1 / 3), "Vec3d(100, -2.5, 0.3333333333333333)"),
            ((1.5e-7, 1.2345678901234568e20, 5e-324), "Vec3d(0.00000015, 123456789012345680000, 0." + "0" * 323 + "5)"),
        ],
    )
    def test_repr(self, vector, text: str) -> None:
        assert repr(Vec3d(*vector)) == text
        assert str(Vec3d(*vector)) == text

    def test_float_text_round_trips(self) -> None:
        rng = random.Random(7)
        for _ in range(3000):
            value = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
            if math.isnan(value) or math.isinf(value):
                continue
            text = repr(Vec3d(value, 0, 0))[len("Vec3d(") : -len(", 0, 0)")]
            assert "e" not in text and "+" not in text
            assert bits(float(text)) == bits(value)
            digits = text.lstrip("-").replace(".", "").lstrip("0").rstrip("0")
            shortest = repr(abs(value)).split("e")[0].replace(".", "").lstrip("0").rstrip("0")
            assert digits == shortest
