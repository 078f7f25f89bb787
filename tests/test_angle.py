"""AngleRadians and AngleDegrees: constants, trigonometry, arithmetic, comparisons and texts;
Vec3d.angle_to."""

from __future__ import annotations

import math
import operator
import random
import struct

import pytest
from conftest import assert_floats, bits, requires_free_threading, toggle_racing_readers

from quorvane import AngleDegrees, AngleRadians, Vec3d

nan = float("nan")
inf = float("inf")

CONSTANTS = [
    ("zero", "0x0.0p+0"),
    ("pi", "0x1.921fb54442d18p+1"),
    ("two_pi", "0x1.921fb54442d18p+2"),
    ("half_pi", "0x1.921fb54442d18p+0"),
    ("third_pi", "0x1.0c152382d7365p+0"),
    ("quarter_pi", "0x1.921fb54442d18p-1"),
    ("sixth_pi", "0x1.0c152382d7365p-1"),
]


class TestConstruction:
    @pytest.mark.parametrize(("name", "hex_value"), CONSTANTS)
    def test_constants_have_exact_bits(self, name: str, hex_value: str) -> None:
        factory = getattr(AngleRadians, name)
        angle = factory()
        assert type(angle) is AngleRadians
        assert angle.angle.hex() == hex_value
        assert factory() is not angle

    def test_constants_are_pi_scaled_once(self) -> None:
        assert AngleRadians.third_pi().angle == math.pi / 3 == 1.0471975511965976
        assert AngleRadians.sixth_pi().angle == math.pi / 6 == 0.5235987755982988
        assert bits(AngleRadians.zero().angle) == 0

    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_values_are_stored_unchanged(self, cls) -> None:
        negative_nan = -nan
        for value in [-0.0, inf, -inf, 1e300, 7 * math.pi]:
            assert bits(cls(value).angle) == bits(value)
        assert bits(cls(negative_nan).angle) == bits(negative_nan)
        assert cls(angle=3).angle == 3.0 and type(cls(True).angle) is float

    @pytest.mark.parametrize(
        ("call", "error", "text"),
        [
            (lambda: AngleRadians(), TypeError, "AngleRadians.__new__() missing 1 required positional argument: 'angle'"),
            (lambda: AngleDegrees(1, 2), TypeError, "AngleDegrees.__new__() takes 1 positional arguments but 2 were given"),
            (lambda: AngleRadians(value=1), TypeError, "AngleRadians.__new__() got an unexpected keyword argument 'value'"),
            (lambda: AngleRadians("1"), TypeError, "argument 'angle': must be real number, not str"),
            (lambda: AngleDegrees(None), TypeError, "argument 'angle': must be real number, not NoneType"),
            (lambda: AngleRadians(10**400), OverflowError, "int too large to convert to float"),
            (lambda: AngleRadians.pi(1), TypeError, "AngleRadians.pi() takes 0 positional arguments but 1 was given"),
            (lambda: AngleRadians(1).sin(1), TypeError, "AngleRadians.sin() takes 0 positional arguments but 1 was given"),
        ],
    )
    def test_argument_errors(self, call, error, text: str) -> None:
        with pytest.raises(error) as raised:
            call()
        assert type(raised.value) is error and str(raised.value) == text


class TestProperty:
    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_setter_converts_then_stores(self, cls) -> None:
        a = cls(1)
        a.angle = 3
        assert type(a.angle) is float and a.angle == 3.0
        a.angle = -0.0
        assert bits(a.angle) == bits(-0.0)

    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_bad_value_leaves_angle_unchanged(self, cls) -> None:
        a = cls(1.5)
        with pytest.raises(TypeError, match=r"^argument 'value': must be real number, not str$"):
            a.angle = "2"  # type: ignore[assignment]
        assert a.angle == 1.5

    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_no_deleter_and_no_other_attributes(self, cls) -> None:
        a = cls(1)
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            del a.angle
        with pytest.raises(AttributeError):
            a.degrees = 1  # type: ignore[attr-defined]

    def test_value_converted_before_the_angle_is_taken(self) -> None:
        # The conversion runs Python code that reads the very object being assigned.
        a = AngleRadians(1)

        class ReadsTarget:
            def __float__(self) -> float:
                return a.angle + 1

        a.angle = ReadsTarget()
        assert a.angle == 2.0


class TestTrigonometry:
    @pytest.mark.parametrize("value", [0.0, -0.0, 0.5, -2.0, math.pi / 3, 1e10, 1e-300, 4.0])
    def test_library_functions_and_reciprocals(self, value: float) -> None:
        a = AngleRadians(value)
        assert_floats([a.sin(), a.cos(), a.tan()], [math.sin(value), math.cos(value), math.tan(value)])
        assert_floats([a.sec()], [1.0 / math.cos(value)])
        if value != 0:
            assert_floats([a.csc(), a.cot()], [1.0 / math.sin(value), 1.0 / math.tan(value)])

    @pytest.mark.parametrize(
        ("angle", "method", "expected"),
        [
            (AngleRadians.quarter_pi(), "cot", 1.0000000000000002),
            (AngleRadians.quarter_pi(), "tan", 0.9999999999999999),
            (AngleRadians(0.0), "cot", inf),
            (AngleRadians(-0.0), "cot", -inf),
            (AngleRadians(0.0), "csc", inf),
            (AngleRadians(-0.0), "csc", -inf),
            (AngleRadians.half_pi(), "sec", 1.633123935319537e16),
            (AngleRadians.half_pi(), "cot", 6.123233995736766e-17),
            (AngleRadians(-0.0), "sin", -0.0),
            (AngleRadians(inf), "sin", -nan),
            (AngleRadians(nan), "cos", nan),
        ],
    )
    def test_quoted_values(self, angle: AngleRadians, method: str, expected: float) -> None:
        assert_floats([getattr(angle, method)()], [expected])

    @pytest.mark.parametrize(
        ("radians", "degrees"),
        [
            ("third_pi", 59.99999999999999),
            ("sixth_pi", 29.999999999999996),
            ("half_pi", 90.0),
            ("quarter_pi", 45.0),
            ("pi", 180.0),
            ("two_pi", 360.0),
        ],
    )
    def test_to_degrees(self, radians: str, degrees: float) -> None:
        converted = getattr(AngleRadians, radians)().to_degrees()
        assert type(converted) is AngleDegrees
        assert bits(converted.angle) == bits(degrees)

    @pytest.mark.parametrize(
        ("degrees", "radians"),
        [(60, 1.0471975511965976), (90, 1.5707963267948966), (45, 0.7853981633974483), (-0.0, -0.0), (1e308, inf)],
    )
    def test_to_radians(self, degrees: float, radians: float) -> None:
        converted = AngleDegrees(degrees).to_radians()
        assert type(converted) is AngleRadians
        assert bits(converted.angle) == bits(radians)

    def test_conversions_round_in_their_own_order(self) -> None:
        rng = random.Random(11)
        for _ in range(2000):
            x = rng.uniform(-1e4, 1e4)
            assert bits(AngleRadians(x).to_degrees().angle) == bits((x * 180.0) / math.pi)
            assert bits(AngleDegrees(x).to_radians().angle) == bits((x * math.pi) / 180.0)
        assert AngleDegrees(60).to_radians() == AngleRadians.third_pi()


class TestArithmetic:
    @pytest.mark.parametrize(
        ("expression", "expected"),
        [
            (lambda: AngleRadians(1.5) + AngleRadians(0.25), 1.75),
            (lambda: AngleRadians(1.5) - AngleRadians(2), -0.5),
            (lambda: AngleRadians(0.1) + AngleRadians(0.2), 0.1 + 0.2),
            (lambda: AngleRadians(1) * 2, 2.0),
            (lambda: AngleRadians(1) * True, 1.0),
            (lambda: AngleRadians(0.1) * 3, 0.1 * 3),
            (lambda: AngleRadians(0.1) / 3, 0.1 / 3),
            (lambda: AngleRadians(1) / 0, inf),
            (lambda: AngleRadians(-1) / 0.0, -inf),
            (lambda: AngleRadians(1) / -0.0, -inf),
            (lambda: AngleRadians(0) / 0, nan),
            (lambda: AngleRadians(inf) * 0, nan),
            (lambda: -AngleRadians.zero(), -0.0),
            (lambda: -AngleRadians(-2.5), 2.5),
        ],
    )
    def test_results(self, expression, expected: float) -> None:
        result = expression()
        assert type(result) is AngleRadians
        assert_floats([result.angle], [expected])

    def test_negation_flips_only_the_sign_bit(self) -> None:
        payload = 0x7FF8000000000123
        quiet = struct.unpack("<d", struct.pack("<Q", payload))[0]
        assert bits((-AngleRadians(quiet)).angle) == payload | 1 << 63
        assert bits((-AngleDegrees(quiet)).angle) == payload | 1 << 63
        assert bits((-AngleDegrees(0.0)).angle) == bits(-0.0)
        assert type(-AngleDegrees(1)) is AngleDegrees

    def test_float_like_scale(self) -> None:
        class Half:
            def __float__(self) -> float:
                return 0.5

        class Three:
            def __index__(self) -> int:
                return 3

        assert (AngleRadians(3) * Half()).angle == 1.5
        assert (AngleRadians(3) / Three()).angle == 1.0

    @pytest.mark.parametrize(
        "expression",
        [
            lambda: AngleRadians(1) + 1.0,
            lambda: 1.0 + AngleRadians(1),
            lambda: AngleRadians(1) - 1,
            lambda: AngleRadians(1) * AngleRadians(2),
            lambda: 2.0 * AngleRadians(1),
            lambda: 2 / AngleRadians(1),
            lambda: AngleRadians(1) / AngleRadians(1),
            lambda: AngleRadians(1) * "2",
            lambda: AngleRadians(1) + AngleDegrees(1),
            lambda: +AngleRadians(1),
            lambda: abs(AngleRadians(1)),
            lambda: AngleDegrees(1) + AngleDegrees(1),
            lambda: AngleDegrees(1) * 2,
            lambda: AngleDegrees(1) / 2,
        ],
    )
    def test_unsupported_operands_raise_type_error(self, expression) -> None:
        with pytest.raises(TypeError):
            expression()

    def test_failed_float_conversion_is_not_an_error(self) -> None:
        class Broken:
            def __float__(self) -> float:
                raise ValueError("swallowed")

        with pytest.raises(TypeError, match="unsupported operand"):
            AngleRadians(1) * Broken()

    def test_augmented_assignment_rebinds(self) -> None:
        a = AngleRadians(1)
        original = a
        a += AngleRadians(2)
        a *= 2
        assert a is not original and original.angle == 1.0 and a.angle == 6.0

    def test_operand_held_while_the_scale_converts(self) -> None:
        # The right operand's conversion runs while the angle is borrowed for reading.
        a = AngleRadians(1)
        seen: list[str] = []

        class WritesTarget:
            def __float__(self) -> float:
                try:
                    a.angle = 5
                except RuntimeError as error:
                    seen.append(str(error))
                return 2.0

        assert (a * WritesTarget()).angle == 2.0
        assert seen == ["Already borrowed"] and a.angle == 1.0


VALUES = [0.0, -0.0, 1.0, -1.0, 2.5, inf, -inf, nan]
OPERATORS = {"==": operator.eq, "!=": operator.ne, "<": operator.lt, "<=": operator.le, ">": operator.gt, ">=": operator.ge}


class TestComparison:
    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    @pytest.mark.parametrize("symbol", list(OPERATORS))
    def test_exact_comparison_of_the_stored_doubles(self, cls, symbol: str) -> None:
        compare = OPERATORS[symbol]
        for x in VALUES:
            for y in VALUES:
                assert compare(cls(x), cls(y)) is compare(x, y), (x, symbol, y)

    def test_equal_objects_with_nan_are_unequal(self) -> None:
        a = AngleRadians(nan)
        assert (a == a) is False and (a != a) is True

    @pytest.mark.parametrize("other", [1.0, 1, "1", None, AngleDegrees(1), Vec3d(1, 0, 0)])
    def test_foreign_operands_fall_back_to_identity(self, other) -> None:
        a = AngleRadians(1)
        assert (a == other) is False and (other == a) is False
        assert (a != other) is True and (other != a) is True
        with pytest.raises(TypeError):
            a < other  # noqa: B015
        with pytest.raises(TypeError):
            other >= a  # noqa: B015

    def test_degrees_never_equal_radians(self) -> None:
        assert (AngleDegrees(90) == AngleRadians.half_pi()) is False
        assert (AngleDegrees(90) != AngleRadians.half_pi()) is True
        with pytest.raises(TypeError):
            AngleDegrees(1) < AngleRadians(2)  # noqa: B015

    def test_inequality_asks_the_other_operands_equality(self) -> None:
        calls: list[object] = []

        class EqualToEverything:
            def __eq__(self, other: object) -> bool:
                calls.append(other)
                return True

            __hash__ = None  # type: ignore[assignment]

        a = AngleRadians(1)
        assert (a != EqualToEverything()) is False
        assert calls == [a]

    def test_inequality_uses_the_truth_of_the_answer(self) -> None:
        class Answers:
            def __init__(self, answer: object) -> None:
                self.answer = answer

            def __eq__(self, other: object):  # type: ignore[override]
                return self.answer

        assert (AngleDegrees(1) != Answers(0)) is True
        assert (AngleDegrees(1) != Answers([1])) is False

    def test_errors_on_the_equality_path_propagate(self) -> None:
        class Raises:
            def __eq__(self, other: object) -> bool:
                raise LookupError("from __eq__")

        with pytest.raises(LookupError, match="from __eq__"):
            AngleRadians(1) != Raises()  # noqa: B015

    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_unhashable(self, cls) -> None:
        assert cls.__hash__ is None
        with pytest.raises(TypeError):
            hash(cls(1))
        with pytest.raises(TypeError):
            {cls(1)}  # noqa: B018


class TestText:
    @pytest.mark.parametrize(
        ("angle", "text"),
        [
            (AngleRadians(1.5), "1.5 radians"),
            (AngleRadians.pi(), "3.141592653589793 radians"),
            (-AngleRadians.zero(), "-0 radians"),
            (AngleRadians(1e20), "100000000000000000000 radians"),
            (AngleRadians(3), "3 radians"),
            (AngleRadians(nan), "NaN radians"),
            (AngleRadians(-inf), "-inf radians"),
            (AngleDegrees(90), "90\u00b0"),
            (AngleDegrees(-45.5), "-45.5\u00b0"),
            (AngleRadians.third_pi().to_degrees(), "59.99999999999999\u00b0"),
            (AngleDegrees(1.5e-7), "0.00000015\u00b0"),
        ],
    )
    def test_repr_and_str(self, angle, text: str) -> None:
        assert repr(angle) == text and str(angle) == text

    def test_degree_sign_is_one_code_point(self) -> None:
        assert repr(AngleDegrees(90)).encode() == b"90\xc2\xb0"


class TestClassSurface:
    @pytest.mark.parametrize(
        ("member", "signature"),
        [(name, "()") for name, _ in CONSTANTS]
        + [(name, "($self)") for name in ["sin", "cos", "tan", "sec", "csc", "cot", "to_degrees"]],
    )
    def test_radians_signatures(self, member: str, signature: str) -> None:
        function = getattr(AngleRadians, member)
        assert function.__text_signature__ == signature
        assert function.__doc__ is None

    def test_class_signatures_and_names(self) -> None:
        for cls in (AngleRadians, AngleDegrees):
            assert cls.__text_signature__ == "(angle)"
            assert cls.__module__ == "builtins"
            assert cls.angle.__doc__ is None
        assert AngleDegrees.to_radians.__text_signature__ == "($self)"
        assert callable(AngleRadians.pi) and isinstance(AngleRadians.pi(), AngleRadians)

    @pytest.mark.parametrize("cls", [AngleRadians, AngleDegrees])
    def test_final(self, cls) -> None:
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


def py_acos(x: float) -> float:
    try:
        return math.acos(x)
    except ValueError:
        return nan  # the C library answers a quiet NaN with the sign bit clear


def py_div(a: float, b: float) -> float:
    try:
        return a / b
    except ZeroDivisionError:
        if a == 0 or math.isnan(a):
            return nan
        return math.copysign(inf, a) * math.copysign(1, b)


def py_angle_to(s: list[float], o: list[float]) -> float:
    dot = (s[0] * o[0] + s[1] * o[1]) + s[2] * o[2]
    ns = math.sqrt((s[0] * s[0] + s[1] * s[1]) + s[2] * s[2])
    no = math.sqrt((o[0] * o[0] + o[1] * o[1]) + o[2] * o[2])
    return py_acos(py_div(dot, ns * no))


class TestAngleTo:
    @pytest.mark.parametrize(
        ("a", "b", "expected"),
        [
            ((1, 0, 0), (0, 1, 0), 1.5707963267948966),
            ((1, 0, 0), (0, 0, 2), 1.5707963267948966),
            ((1, 0, 0), (-1, 0, 0), 3.141592653589793),
            ((1, 1, 1), (1, 1, 1), nan),
            ((0, 0, 0), (1, 0, 0), nan),
            ((3, 4, 0), (3, 4, 0), 0.0),
        ],
    )
    def test_quoted_values(self, a, b, expected: float) -> None:
        angle = Vec3d(*a).angle_to(Vec3d(*b))
        assert type(angle) is AngleRadians
        if math.isnan(expected):
            assert math.isnan(angle.angle)
        else:
            assert bits(angle.angle) == bits(expected)

    def test_repr_and_keyword(self) -> None:
        assert repr(Vec3d(1, 0, 0).angle_to(other=Vec3d(0, 0, 2))) == "1.5707963267948966 radians"
        assert Vec3d.angle_to.__text_signature__ == "($self, other)"

    @pytest.mark.parametrize(
        ("argument", "text"),
        [
            ((0, 1, 0), "argument 'other': 'tuple' object is not an instance of 'Vec3d'"),
            (None, "argument 'other': 'None' is not an instance of 'Vec3d'"),
            (AngleRadians(1), "argument 'other': 'AngleRadians' object is not an instance of 'Vec3d'"),
        ],
    )
    def test_other_must_be_a_vector(self, argument, text: str) -> None:
        with pytest.raises(TypeError) as raised:
            Vec3d(1, 0, 0).angle_to(argument)
        assert str(raised.value) == text

    @pytest.mark.parametrize("seed", range(4))
    def test_matches_plain_python_formula(self, seed: int) -> None:
        rng = random.Random(seed)
        special = [0.0, -0.0, 1.0, -1.0, 1e-200, 1e200, inf, -inf, nan]

        def component() -> float:
            return rng.choice(special) if rng.random() < 0.15 else rng.uniform(-10, 10)

        for _ in range(1000):
            a = [component(), component(), component()]
            b = a if rng.random() < 0.05 else [component(), component(), component()]
            expected = py_angle_to(a, b)
            actual = Vec3d(*a).angle_to(Vec3d(*b)).angle
            if math.isnan(expected):
                assert math.isnan(actual), (a, b)
            else:
                assert bits(actual) == bits(expected), (a, b)


@requires_free_threading
def test_setter_racing_readers_never_tears() -> None:
    angle = AngleRadians(1.0)
    allowed = {1.0, 2.0}

    def toggle(n: int) -> None:
        angle.angle = 2.0 if n % 2 else 1.0

    def read() -> None:
        assert angle.angle in allowed
        assert repr(angle) in ("1 radians", "2 radians")
        assert angle.to_degrees().angle in (180 / math.pi, 360 / math.pi)
        try:
            product = angle * 1.0
        except TypeError as error:  # an operator finding the angle busy answers NotImplemented
            assert str(error) == "unsupported operand type(s) for *: 'builtins.AngleRadians' and 'float'"
            raise RuntimeError("Already mutably borrowed") from error  # a reader's conflict too
        assert product.angle in allowed

    assert toggle_racing_readers(toggle, read, rounds=2_000_000)  # the threads did overlap
    assert angle.angle in allowed
