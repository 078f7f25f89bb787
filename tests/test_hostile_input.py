"""Every public callable against hostile arguments.

Arguments come from Hypothesis: wrong types, huge and negative integers, float and int
subclasses, objects whose __float__, __index__ or __bool__ raise or return the wrong type, and
sequences and buffers that lie. For each call the expected outcome is worked out independently:
the interpreter's own conversions (math.ldexp for floats, operator.index for indices) say what
converting each argument gives, and the same call with the converted, well-behaved values says
what the result must be. A failed call must leave every object involved exactly as it was.

Hooks that change the objects of the call while it converts its arguments, and calls made while
an object is held exclusively, are deterministic cases further down.
"""

from __future__ import annotations

import array
import copy
import ctypes
import io
import math
import operator
import struct
import warnings
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from functools import cache
from typing import Any

import pytest
from conftest import bits

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry  # noqa: E402
from quorvane.spatial import KdTree  # noqa: E402

Circle, Plane = geometry.Circle, geometry.Plane

try:
    import numpy
except ImportError:  # the numpy cases are left out
    numpy = None

EXAMPLES = settings(
    max_examples=40,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture],
)


# ---- hostile objects ----


class Hostile(Exception):
    """Raised by the hooks below; must come out of the call unchanged."""


class FloatSub(float):
    # The interpreter reads a float subclass's value directly, without __float__.
    def __float__(self) -> float:
        raise Hostile("FloatSub.__float__ is never called")


class IntSub(int):
    def __index__(self) -> int:
        raise Hostile("IntSub.__index__ is never called")


@dataclass(frozen=True)
class Floaty:
    """__float__ returns `value` as it is (a float, an int, a str, a float subclass...)."""

    value: Any

    def __float__(self) -> Any:
        return self.value


@dataclass(frozen=True)
class Indexy:
    """__index__ returns `value` as it is; __float__ is absent, so float conversion uses it too."""

    value: Any

    def __index__(self) -> Any:
        return self.value


@dataclass(frozen=True)
class Raising:
    """Both conversion hooks raise `error` (a fresh instance each time, same type and text)."""

    kind: type[BaseException]
    text: str

    def __float__(self) -> float:
        raise self.kind(self.text)

    def __index__(self) -> int:
        raise self.kind(self.text)


def forged_numpy_bool(truth: Any = None, *, define: bool = True) -> Any:
    """An object whose type claims to be numpy's bool scalar: module "numpy", name "bool_"."""
    namespace: dict[str, Any] = {"__module__": "numpy"}
    if define:
        def truth_of(self: Any) -> Any:
            if isinstance(truth, type) and issubclass(truth, BaseException):
                raise truth("forged __bool__")
            return truth
        namespace["__bool__"] = truth_of
    return type("bool_", (), namespace)()


ERRORS = [Hostile, TypeError, ValueError, OverflowError, RuntimeError, ZeroDivisionError]


@cache
def special_doubles() -> st.SearchStrategy[float]:
    interesting = [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, -5e-324, 1.7976931348623157e308,
                   2.220446049250313e-16, 1.0, -1.0, 0.1]
    payload_nans = [struct.unpack("<d", struct.pack("<Q", pattern))[0]
                    for pattern in (0x7FF0000000000001, 0xFFF8000000000ABC, 0x7FFFFFFFFFFFFFFF)]
    return st.one_of(st.sampled_from(interesting + payload_nans), st.floats(),
                     st.integers(0, 2**64 - 1).map(lambda b: struct.unpack("<d", struct.pack("<Q", b))[0]))


@cache
def big_integers() -> st.SearchStrategy[int]:
    edges = [0, 1, 2, 3, -1, 2**53 + 1, 2**63 - 1, 2**63, 2**64 - 1, 2**64, -(2**63), 10**400, -(10**400)]
    return st.one_of(st.sampled_from(edges), st.integers(-(2**70), 2**70), st.integers(0, 5))


@cache
def junk() -> st.SearchStrategy[Any]:
    """Things that are no number, no index and no instance of the module's classes."""
    return st.sampled_from([None, "1.5", b"1", [1.0], (1, 2, 3), {1: 2}, object(), 1 + 2j, ..., print, type])


@cache
def numpy_scalars() -> st.SearchStrategy[Any]:
    if numpy is None:
        return st.nothing()
    return st.sampled_from([numpy.float64(2.5), numpy.float32(0.1), numpy.int64(-3), numpy.uint64(2**64 - 1),
                            numpy.bool_(True), numpy.float64("nan")])


@cache
def float_arguments() -> st.SearchStrategy[Any]:
    return st.one_of(
        special_doubles(),
        big_integers(),
        st.booleans(),
        special_doubles().map(FloatSub),
        big_integers().map(IntSub),
        st.one_of(special_doubles(), st.integers(), st.just("2.5"), special_doubles().map(FloatSub)).map(Floaty),
        big_integers().map(Indexy),
        st.builds(Raising, st.sampled_from(ERRORS), st.sampled_from(["no", "Already borrowed"])),
        junk(),
        numpy_scalars(),
    )


@cache
def index_arguments() -> st.SearchStrategy[Any]:
    return st.one_of(
        big_integers(),
        st.booleans(),
        big_integers().map(IntSub),
        st.one_of(big_integers(), st.just(2.0), st.just("1"), big_integers().map(IntSub)).map(Indexy),
        st.builds(Raising, st.sampled_from(ERRORS), st.just("no")),
        special_doubles(),
        junk(),
        numpy_scalars(),
    )


@cache
def bool_arguments() -> st.SearchStrategy[Any]:
    forged = st.one_of(
        st.sampled_from([True, False, 1, 0, "yes", None]).map(forged_numpy_bool),
        st.sampled_from(ERRORS).map(forged_numpy_bool),
        st.just(None).map(lambda _: forged_numpy_bool(define=False)),
    )
    return st.one_of(st.booleans(), st.sampled_from([0, 1, 0.0, None, "True"]), forged, numpy_scalars())


@cache
def vec3d_values() -> st.SearchStrategy[Vec3d]:
    return st.builds(Vec3d, special_doubles(), special_doubles(), special_doubles())


@cache
def small_vec3d_values() -> st.SearchStrategy[Vec3d]:
    whole = st.integers(-4, 4).map(float)
    return st.builds(Vec3d, whole, whole, whole)


_VALUES: dict[type, st.SearchStrategy[Any]] = {
    Vec3d: vec3d_values(),
    Quat: st.builds(Quat, special_doubles(), special_doubles(), special_doubles(), special_doubles()),
    AngleRadians: st.builds(AngleRadians, special_doubles()),
    AngleDegrees: st.builds(AngleDegrees, special_doubles()),
    Plane: st.builds(Plane, small_vec3d_values(), st.integers(-3, 3).map(float)),
    Circle: st.builds(Circle, small_vec3d_values(), st.integers(-3, 3).map(float), small_vec3d_values()),
    VecList: st.lists(vec3d_values(), max_size=6).map(VecList),
    KdTree: st.lists(small_vec3d_values(), max_size=6).map(lambda points: KdTree(VecList(points))),
}
# Strategies are built once; each lookup hands out the same one.
VALUES: dict[type, Callable[[], st.SearchStrategy[Any]]] = {cls: (lambda s=s: s) for cls, s in _VALUES.items()}


@cache
def instance_arguments(cls: type) -> st.SearchStrategy[Any]:
    others = [make() for c, make in VALUES.items() if c is not cls]
    return st.one_of(VALUES[cls](), VALUES[cls](), st.one_of(*others), junk(), big_integers())


# ---- what a call must give ----

FLOAT, INDEX, BOOL, TEXT, MATRIX = "float", "index", "bool", "text", "matrix"


@cache
def text_arguments() -> st.SearchStrategy[Any]:
    return st.one_of(st.sampled_from(["xyz", "ZXZ", "xYz", "xxy", "", "\udc80yz", "xy\0"]), st.text(max_size=4),
                     junk(), big_integers())


@cache
def matrix_arguments() -> st.SearchStrategy[Any]:
    row = st.one_of(st.lists(float_arguments(), min_size=3, max_size=3), st.lists(special_doubles(), max_size=4),
                    junk())
    rows = st.one_of(st.lists(st.lists(special_doubles(), min_size=3, max_size=3), min_size=3, max_size=3),
                     st.lists(row, min_size=3, max_size=3).map(tuple), st.lists(row, max_size=4))
    return st.one_of(rows, rows, junk())


def convert_matrix(obj: Any) -> list[list[float]]:
    """Three rows of three floats, checked row by row as the module reads them (the drawn
    sequences are lists, tuples, str and bytes)."""
    expected = "expected a sequence of 3 rows of 3 floats"
    if not isinstance(obj, (list, tuple, str, bytes)):
        raise TypeError(f"{expected}, not '{type(obj).__qualname__}'")
    if len(obj) != 3:
        raise ValueError(f"argument 'matrix': {expected}, got {len(obj)} row{'' if len(obj) == 1 else 's'}")
    rows = []
    for index, row in enumerate(obj):
        if not isinstance(row, (list, tuple, str, bytes)):
            raise TypeError(f"{expected}, but row {index} is '{type(row).__qualname__}'")
        if len(row) != 3:
            raise ValueError(f"argument 'matrix': {expected}, got {len(row)} item{'' if len(row) == 1 else 's'} "
                             f"in row {index}")
        rows.append([convert(FLOAT, item) for item in row])
    return rows


@cache
def arguments_for(kind: Any) -> st.SearchStrategy[Any]:
    if kind == FLOAT:
        return float_arguments()
    if kind == INDEX:
        return index_arguments()
    if kind == BOOL:
        return bool_arguments()
    if kind == TEXT:
        return text_arguments()
    if kind == MATRIX:
        return matrix_arguments()
    return instance_arguments(kind)


def convert(kind: Any, obj: Any) -> Any:
    """The value the module must take from `obj`, by the interpreter's own conversions."""
    if kind == FLOAT:
        return math.ldexp(obj, 0)  # PyFloat_AsDouble, exactly; ldexp by 0 keeps every bit
    if kind == INDEX:
        integer = obj if isinstance(obj, int) else operator.index(obj)
        if integer < 0:
            raise OverflowError("can't convert negative int to unsigned")
        if integer >= 2**64:
            raise OverflowError("int too big to convert")
        return int(integer)
    if kind == BOOL:
        if obj is True or obj is False:
            return obj
        kind_of = type(obj)
        if kind_of.__module__ == "numpy" and kind_of.__name__ in ("bool_", "bool"):
            if not hasattr(kind_of, "__bool__"):
                raise TypeError(f"object of type '{kind_of}' does not define a '__bool__' conversion")
            return bool(obj)
        raise TypeError(f"'{kind_of.__qualname__}' object is not an instance of 'bool'")
    if kind == TEXT:
        if isinstance(obj, str):
            return obj
        kind = str
    if kind == MATRIX:
        return convert_matrix(obj)
    if type(obj) is kind:
        return obj
    if obj is None:
        raise TypeError(f"'None' is not an instance of '{kind.__name__}'")
    raise TypeError(f"'{type(obj).__qualname__}' object is not an instance of '{kind.__name__}'")


def stored(obj: Any) -> Any:
    """Everything an object holds, exactly: its pickled state is its raw doubles."""
    if isinstance(obj, (Vec3d, Quat, AngleRadians, AngleDegrees, Plane, Circle, VecList)):
        return (type(obj).__name__, bytes(obj.__reduce_ex__(2)[2]))
    if isinstance(obj, KdTree):  # a tree is its points
        return ("KdTree", stored(obj.points()))
    if isinstance(obj, float):
        return ("float", bits(obj))
    if isinstance(obj, (list, tuple)):
        return (type(obj).__name__, [stored(item) for item in obj])
    if isinstance(obj, memoryview):  # compared by bytes: NaN != NaN would fail an item comparison
        return ("memoryview", obj.format, obj.shape, obj.tobytes())
    return (type(obj).__name__, obj)


def outcome(call: Callable[[], Any]) -> tuple[str, Any]:
    """("ok", stored result) or ("raised", (type name, text))."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            return ("ok", stored(call()))
    except BaseException as error:  # noqa: BLE001 - PanicException and hooks' exceptions included
        return ("raised", (type(error).__name__, str(error)))


def conversion_outcome(kind: Any, name: str, obj: Any) -> tuple[str, Any] | None:
    """None when `obj` converts; otherwise the error the call must raise for it."""
    failed = outcome(lambda: convert(kind, obj))
    if failed[0] == "ok":
        return None
    type_name, text = failed[1]
    if type_name == "TypeError":
        return ("raised", ("TypeError", f"argument '{name}': {text}"))
    return failed


ALLOWED = {"TypeError", "OverflowError", "ValueError", "IndexError", "RuntimeError", "PanicException",
           "Hostile", "ZeroDivisionError", "DeprecationWarning", "BufferError"}


@dataclass(frozen=True)
class Member:
    """One public callable: `receiver` is the class of the object it is called on (or None),
    `target` the attribute (or, without a receiver, the callable itself), `kinds` what each
    parameter converts to. The parameter names are the module's own, read from the member's
    text signature (`signature_of` names what to read it from when `target` is a wrapper)."""

    label: str
    receiver: type | None
    target: Any
    kinds: tuple[Any, ...]
    mutates: bool = False
    by_keyword: bool = True  # slot wrappers such as __getitem__ take positions only
    names: tuple[str, ...] | None = None  # for slot wrappers, whose signature is the interpreter's
    signature_of: Any = None

    @property
    def params(self) -> tuple[tuple[str, Any], ...]:
        names = self.names or declared_names(getattr(self.receiver, self.target) if self.receiver is not None
                                             else self.signature_of or self.target)
        assert len(names) == len(self.kinds), f"{self.label}{names} does not match {self.kinds}"
        return tuple(zip(names, self.kinds))

    def call(self, obj: Any, args: list[Any], keywords: set[int]) -> Any:
        positional = [a for i, a in enumerate(args) if i not in keywords]
        named = {self.params[i][0]: args[i] for i in sorted(keywords)}
        function = getattr(obj, self.target) if self.receiver is not None else self.target
        return function(*positional, **named)


def declared_names(member: Any) -> tuple[str, ...]:
    """The parameter names in `member`'s text signature, the receiver left out. Read from the
    text itself: a name such as `from` is no Python identifier, so inspect.signature refuses it."""
    text = member.__text_signature__
    assert text.startswith("(") and text.endswith(")"), text
    names = [part.strip().partition("=")[0] for part in text[1:-1].split(",") if part.strip()]
    return tuple(name for name in names if not name.startswith("$") and name not in ("/", "*"))


def _new_of(cls: type) -> Callable[..., Any]:
    def new(*args: Any, **keywords: Any) -> Any:
        return cls.__new__(cls, *args, **keywords)
    return new


def members() -> list[Member]:
    V, F, I, B = Vec3d, FLOAT, INDEX, BOOL
    table = [
        Member("Vec3d()", None, Vec3d, (F, F, F)),
        Member("Vec3d.new_from_to", None, Vec3d.new_from_to, (V, V)),
        Member("Vec3d.__getitem__", V, "__getitem__", (I,), by_keyword=False, names=("index",)),
        Member("AngleRadians()", None, AngleRadians, (F,)),
        Member("AngleDegrees()", None, AngleDegrees, (F,)),
        Member("Quat()", None, Quat, (F, F, F, F)),
        Member("Quat.from_axis_angle", None, Quat.from_axis_angle, (V, AngleRadians)),
        Member("Quat.rotate", Quat, "rotate", (V,)),
        Member("Quat.from_active", None, Quat.from_active, (F, F, F, F)),
        Member("Quat.then", Quat, "then", (Quat,)),
        Member("Quat.slerp", Quat, "slerp", (Quat, F)),
        Member("Quat.from_rotation_matrix", None, Quat.from_rotation_matrix, (MATRIX,)),
        Member("Quat.from_euler", None, Quat.from_euler, (TEXT, AngleRadians, AngleRadians, AngleRadians)),
        Member("Quat.to_euler", Quat, "to_euler", (TEXT,)),
        Member("Quat.rotation_between", None, Quat.rotation_between, (V, V)),
        Member("Plane()", None, Plane, (V, F)),
        Member("Plane.from_point", None, Plane.from_point, (V, V)),
        Member("Plane.from_points", None, Plane.from_points, (V, V, V)),
        Member("Plane.contains_point", Plane, "contains_point", (V,)),
        Member("Plane.distance_to_point", Plane, "distance_to_point", (V,)),
        Member("Circle()", None, Circle, (V, F, V)),
        Member("Circle.in_same_plane", Circle, "in_same_plane", (Circle,)),
        Member("circle_circle", None, geometry.circle_circle, (Circle, Circle)),
        Member("circle_point", None, geometry.circle_point, (Circle, V, B)),
        Member("circle_point_unchecked", None, geometry.circle_point_unchecked, (Circle, V, B)),
        Member("plane_line", None, geometry.plane_line, (Plane, V, V)),
        Member("VecList.__getitem__", VecList, "__getitem__", (I,), by_keyword=False, names=("index",)),
        Member("VecList.append", VecList, "append", (V,), mutates=True),
        Member("VecList.extend", VecList, "extend", (VecList,), mutates=True),
        Member("VecList.rotate", VecList, "rotate", (Quat,), mutates=True),
        Member("VecList.rotated", VecList, "rotated", (Quat,)),
        Member("VecList.collapse", VecList, "collapse", (I,)),
        Member("VecList.minimum_distance_to", VecList, "minimum_distance_to", (V, I)),
        Member("VecList.distance_to_plane_array", VecList, "distance_to_plane_array", (Plane,)),
        Member("VecList.signed_distance_to_plane_array", VecList, "signed_distance_to_plane_array", (Plane,)),
        Member("KdTree()", None, KdTree, (VecList,)),
        Member("KdTree.nearest", KdTree, "nearest", (V,)),
        Member("KdTree.nearest_array", KdTree, "nearest_array", (VecList,)),
        Member("KdTree.k_nearest", KdTree, "k_nearest", (V, I)),
        Member("KdTree.k_nearest_array", KdTree, "k_nearest_array", (VecList, I)),
        Member("KdTree.within", KdTree, "within", (V, F)),
        Member("KdTree.count_within_array", KdTree, "count_within_array", (VecList, F)),
    ]
    # The class call and __new__ take different paths in (vectorcall, and a tuple with a dict).
    for cls, kinds in ((Vec3d, (F, F, F)), (AngleRadians, (F,)), (Quat, (F, F, F, F)), (Circle, (V, F, V)),
                       (Plane, (V, F)), (KdTree, (VecList,))):
        table.append(Member(f"{cls.__name__}.__new__", None, _new_of(cls), kinds, signature_of=cls))
    for method in ("dot", "cross", "distance_to", "distance_squared", "project_onto_plane", "angle_to"):
        table.append(Member(f"Vec3d.{method}", V, method, (V,)))
    for method in ("distance_to_line", "project_onto_line", "scalar_triple_product"):
        table.append(Member(f"Vec3d.{method}", V, method, (V, V)))
    for method in ("dot", "cross", "distance_to", "distance_squared", "dot_array", "distance_to_array",
                   "distance_squared_array"):
        table.append(Member(f"VecList.{method}", VecList, method, (V,)))
    for method in ("add_elementwise", "sub_elementwise", "cross_elementwise", "dot_elementwise",
                   "distance_to_elementwise", "distance_squared_elementwise"):
        table.append(Member(f"VecList.{method}", VecList, method, (VecList,)))
    return table


MEMBERS = members()


@pytest.mark.parametrize("member", MEMBERS, ids=[m.label for m in MEMBERS])
@EXAMPLES
@given(data=st.data())
def test_hostile_arguments_give_the_conversion_error_or_the_clean_result(member: Member, data: Any) -> None:
    receiver = data.draw(VALUES[member.receiver](), label="receiver") if member.receiver else None
    args = [data.draw(arguments_for(kind), label=name) for name, kind in member.params]
    # Positions first, then the rest by keyword (in the order of the parameters).
    first_keyword = data.draw(st.integers(0, len(args)), label="first keyword") if member.by_keyword else len(args)
    keywords = set(range(first_keyword, len(args)))
    objects = ([receiver] if receiver is not None else []) + args
    before = [stored(obj) for obj in objects]

    expected = None
    for (name, kind), obj in zip(member.params, args):
        expected = conversion_outcome(kind, name, obj)
        if expected is not None:
            break
    if expected is None:
        clean_receiver = copy.copy(receiver) if member.mutates else receiver
        clean = [convert(kind, obj) for (_, kind), obj in zip(member.params, args)]
        expected = outcome(lambda: member.call(clean_receiver, clean, keywords))
        after_clean = stored(clean_receiver) if member.mutates else None

    actual = outcome(lambda: member.call(receiver, args, keywords))
    assert actual == expected
    if actual[0] == "raised":
        assert actual[1][0] in ALLOWED
    if member.mutates and actual[0] == "ok":
        assert stored(receiver) == after_clean
        before = before[1:]
        objects = objects[1:]
    assert [stored(obj) for obj in objects] == before


# ---- operators: every failure to take an operand is NotImplemented, then the TypeError ----


@dataclass(frozen=True)
class Operator:
    label: str
    left: type
    apply: Callable[[Any, Any], Any]
    symbol: str
    right: Any  # FLOAT or a class
    reflected: bool = False  # the scalar on the left, as in 2 * v


OPERATORS = [
    Operator("Vec3d + Vec3d", Vec3d, operator.add, "+", Vec3d),
    Operator("Vec3d - Vec3d", Vec3d, operator.sub, "-", Vec3d),
    Operator("Vec3d * float", Vec3d, operator.mul, "*", FLOAT),
    Operator("float * Vec3d", Vec3d, operator.mul, "*", FLOAT, reflected=True),
    Operator("Vec3d / float", Vec3d, operator.truediv, "/", FLOAT),
    Operator("AngleRadians + AngleRadians", AngleRadians, operator.add, "+", AngleRadians),
    Operator("AngleRadians - AngleRadians", AngleRadians, operator.sub, "-", AngleRadians),
    Operator("AngleRadians * float", AngleRadians, operator.mul, "*", FLOAT),
    Operator("AngleRadians / float", AngleRadians, operator.truediv, "/", FLOAT),
    Operator("VecList + Vec3d", VecList, operator.add, "+", Vec3d),
    Operator("VecList - Vec3d", VecList, operator.sub, "-", Vec3d),
    Operator("VecList * float", VecList, operator.mul, "*", FLOAT),
    Operator("float * VecList", VecList, operator.mul, "*", FLOAT, reflected=True),
    Operator("VecList / float", VecList, operator.truediv, "/", FLOAT),
]


def defines_the_reflected_operator(obj: Any) -> bool:
    # numpy scalars answer `v * numpy.float64(2)` themselves, by broadcasting.
    return numpy is not None and isinstance(obj, numpy.generic)


@pytest.mark.parametrize("op", OPERATORS, ids=[o.label for o in OPERATORS])
@EXAMPLES
@given(data=st.data())
def test_operators_take_what_converts_and_leave_the_rest_to_the_interpreter(op: Operator, data: Any) -> None:
    value = data.draw(VALUES[op.left](), label="value")
    other = data.draw(arguments_for(op.right), label="other")
    hypothesis.assume(not defines_the_reflected_operator(other))
    before = (stored(value), stored(other))
    taken = outcome(lambda: convert(op.right, other))
    if taken[0] == "ok":
        clean = convert(op.right, other)
        expected = outcome(lambda: op.apply(clean, value) if op.reflected else op.apply(value, clean))
    else:
        expected = None
    actual = outcome(lambda: op.apply(other, value) if op.reflected else op.apply(value, other))
    if expected is not None:
        assert actual == expected
    else:
        type_name, text = actual[1]
        assert actual[0] == "raised" and type_name == "TypeError", actual
        # A sequence on the other side answers `*` with its own repetition error.
        assert text.startswith(f"unsupported operand type(s) for {op.symbol}: ") or (
            op.symbol == "*" and text.startswith("can't multiply sequence by non-int")), text
    assert (stored(value), stored(other)) == before


# ---- property setters ----

SETTERS = [
    (Vec3d, "x", FLOAT), (Vec3d, "y", FLOAT), (Vec3d, "z", FLOAT),
    (AngleRadians, "angle", FLOAT), (AngleDegrees, "angle", FLOAT),
    (Quat, "w", FLOAT), (Quat, "i", FLOAT), (Quat, "j", FLOAT), (Quat, "k", FLOAT),
    (Plane, "normal", Vec3d), (Plane, "distance", FLOAT),
    (Circle, "center", Vec3d), (Circle, "radius", FLOAT), (Circle, "normal", Vec3d),
]


@pytest.mark.parametrize(("cls", "name", "kind"), SETTERS, ids=[f"{c.__name__}.{n}" for c, n, _ in SETTERS])
@EXAMPLES
@given(data=st.data())
def test_setters_store_the_converted_value_or_nothing(cls: type, name: str, kind: Any, data: Any) -> None:
    obj = data.draw(VALUES[cls](), label="object")
    value = data.draw(arguments_for(kind), label="value")
    before = stored(obj)
    clean = copy.copy(obj)
    failure = conversion_outcome(kind, "value", value)
    actual = outcome(lambda: setattr(obj, name, value))
    if failure is not None:
        assert actual == failure
        assert stored(obj) == before
    else:
        assert actual == ("ok", ("NoneType", None))
        setattr(clean, name, convert(kind, value))
        assert stored(obj) == stored(clean)
    if kind is Vec3d and type(value) is Vec3d:
        assert getattr(obj, name) is not value  # stored by value


# ---- VecList from sequences that lie ----


class Lying:
    """A sequence: `length` is what __len__ says (or raises), `items` what iteration yields, and
    after `fail_after` items iteration raises `error` (when given)."""

    def __init__(self, items: list[Any], length: Any, fail_after: int | None, error: BaseException | None) -> None:
        self.items, self.length, self.fail_after, self.error = items, length, fail_after, error

    def __len__(self) -> int:
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index: int) -> Any:
        if self.fail_after is not None and index >= self.fail_after and self.error is not None:
            raise self.error
        if index >= len(self.items):
            raise IndexError(index)
        return self.items[index]


class LyingIterable(Lying):
    """The same, iterated through __iter__ rather than the item fallback."""

    def __iter__(self) -> Iterator[Any]:
        for index, item in enumerate(self.items):
            if self.fail_after is not None and index >= self.fail_after and self.error is not None:
                raise self.error
            yield item
        if self.fail_after is not None and self.fail_after >= len(self.items) and self.error is not None:
            raise self.error


LENGTHS = st.one_of(st.integers(0, 8), st.sampled_from([2**62, 2**63 - 1, 2**100, -1, "3", 2.5]),
                    st.sampled_from([Hostile("len"), TypeError("len"), RuntimeError("len")]))
SEQUENCE_ERRORS = st.sampled_from([Hostile("half way"), TypeError("half way"), ValueError("half way"),
                                   IndexError("stops early"), RuntimeError("Already borrowed")])


@EXAMPLES
@given(
    items=st.lists(st.one_of(vec3d_values(), vec3d_values(), st.sampled_from([5, None, "v", Quat(1, 0, 0, 0)])),
                   max_size=8),
    length=LENGTHS,
    fail_after=st.one_of(st.none(), st.integers(0, 8)),
    error=SEQUENCE_ERRORS,
    iterable=st.booleans(),
)
def test_vec_list_from_a_lying_sequence(items: list[Any], length: Any, fail_after: int | None,
                                        error: BaseException, iterable: bool) -> None:
    source = (LyingIterable if iterable else Lying)(items, length, fail_after, error)
    originals = [stored(item) for item in items]

    # The reference: the interpreter's own iteration, each item checked as it comes.
    expected: tuple[str, Any] = ("ok", None)
    collected: list[bytes] = []
    try:
        for item in source:
            if type(item) is not Vec3d:
                text = outcome(lambda: convert(Vec3d, item))[1][1]
                expected = ("raised", ("TypeError", f"argument 'list': {text}"))
                break
            collected.append(item.__reduce_ex__(2)[2])
        else:
            expected = ("ok", ("VecList", b"".join(collected)))
    except BaseException as failure:  # noqa: BLE001 - whatever the sequence raises
        name = type(failure).__name__
        expected = ("raised", (name, ("argument 'list': " if name == "TypeError" else "") + str(failure)))

    assert outcome(lambda: VecList(source)) == expected
    assert outcome(lambda: VecList(list=source)) == expected
    assert [stored(item) for item in items] == originals


@pytest.mark.parametrize(
    ("argument", "text"),
    [
        ("abc", "argument 'list': Can't extract `str` to `Vec`"),
        (type("Text", (str,), {})("abc"), "argument 'list': Can't extract `str` to `Vec`"),
        ({Vec3d(1, 2, 3)}, "argument 'list': 'set' object is not an instance of 'Sequence'"),
        ({0: Vec3d(1, 2, 3)}, "argument 'list': 'dict' object is not an instance of 'Sequence'"),
        ((v for v in [Vec3d(1, 2, 3)]), "argument 'list': 'generator' object is not an instance of 'Sequence'"),
        (b"\x01", "argument 'list': 'int' object is not an instance of 'Vec3d'"),
        (None, "argument 'list': 'None' is not an instance of 'Sequence'"),
        (5, "argument 'list': 'int' object is not an instance of 'Sequence'"),
    ],
)
def test_vec_list_refuses_what_is_no_sequence_of_vectors(argument: Any, text: str) -> None:
    with pytest.raises(TypeError) as caught:
        VecList(argument)
    assert str(caught.value) == text


# ---- buffers: from_array and __setstate__ ----


@EXAMPLES
@given(values=st.lists(special_doubles(), max_size=13), shape=st.sampled_from(["flat", "rows", "columns"]),
       step=st.sampled_from([1, 2, -1]))
def test_from_array_copies_any_float64_buffer_or_says_why_not(values: list[float], shape: str, step: int) -> None:
    view = memoryview(array.array("d", values))[::step]
    items = view.tolist()
    if shape == "rows" and items and len(items) % 3 == 0 and step == 1:
        view = view.cast("B").cast("d", [len(items) // 3, 3])
    elif shape == "columns" and items and len(items) % 3 == 0 and step == 1:
        view = view.cast("B").cast("d", [3, len(items) // 3])
    result = outcome(lambda: VecList.from_array(view))
    if view.ndim == 1 and len(items) % 3 == 0 or view.ndim == 2 and view.shape[1] == 3:
        assert result == ("ok", ("VecList", struct.pack(f"<{len(items)}d", *items)))
    elif view.ndim == 2 and view.shape[1] != 3:
        assert result[0] == "raised" and result[1][0] == "ValueError"
        assert result[1][1].startswith("argument 'a': expected a buffer of shape (n, 3)")
    else:
        assert result[0] == "raised" and result[1][0] == "ValueError", result


@pytest.mark.parametrize(
    ("source", "error"),
    [
        (memoryview(b"\x00" * 24).cast("c"), TypeError),
        (array.array("w", "abc"), TypeError),
        (memoryview(struct.pack(">3d", 1, 2, 3)).cast("B").cast("c"), TypeError),
        ([1.0, 2.0, 3.0], TypeError),
        (None, TypeError),
        (memoryview(struct.pack("<8d", *range(8))).cast("B").cast("d", [2, 2, 2]), ValueError),
        (memoryview(struct.pack("<d", 1.0)).cast("B").cast("d", []), ValueError),
    ],
)
def test_from_array_refuses_other_buffers(source: Any, error: type[BaseException]) -> None:
    with pytest.raises(error) as caught:
        VecList.from_array(source)
    assert str(caught.value).startswith("argument 'a': ")


@pytest.mark.skipif(numpy is None, reason="needs numpy")
@EXAMPLES
@given(rows=st.integers(0, 7), reverse=st.booleans(), every=st.sampled_from([1, 2, 3]), transpose=st.booleans())
def test_from_array_follows_numpy_strides(rows: int, reverse: bool, every: int, transpose: bool) -> None:
    base = numpy.arange(rows * 3 * 3, dtype=numpy.float64).reshape(rows * 3, 3) * -0.5
    view = base[::-every if reverse else every]
    if transpose:
        view = numpy.ascontiguousarray(view.T).T  # an (n, 3) array in column-major order
    assert VecList.from_array(view).to_array() == view.tolist()


@pytest.mark.skipif(numpy is None, reason="needs numpy")
def test_from_array_refuses_other_numpy_arrays() -> None:
    refusals = [
        (numpy.zeros((2, 3), dtype=numpy.float16), TypeError),
        (numpy.zeros((2, 3), dtype=">c16"), TypeError),
        (numpy.zeros((2, 3), dtype=numpy.bool_), TypeError),
        (numpy.zeros((2, 3), dtype=object), TypeError),
        (numpy.zeros((2, 3, 1)), ValueError),
        (numpy.zeros((3, 2)), ValueError),
        (numpy.zeros(4), ValueError),
        (numpy.float64(1.0), ValueError),
    ]
    for source, error in refusals:
        with pytest.raises(error) as caught:
            VecList.from_array(source)
        assert str(caught.value).startswith("argument 'a': ")


STATE_CLASSES = [(Vec3d, 3), (Quat, 4), (AngleRadians, 1), (AngleDegrees, 1), (Plane, 4), (Circle, 7)]


@pytest.mark.parametrize(("cls", "doubles"), STATE_CLASSES, ids=[c.__name__ for c, _ in STATE_CLASSES])
@EXAMPLES
@given(data=st.data())
def test_set_state_takes_exactly_its_doubles_or_leaves_the_value(cls: type, doubles: int, data: Any) -> None:
    obj = data.draw(VALUES[cls](), label="object")
    state = data.draw(st.one_of(
        st.binary(min_size=doubles * 8, max_size=doubles * 8),
        st.binary(max_size=doubles * 8 + 9),
        st.binary(max_size=64).map(bytearray),
        st.binary(max_size=64).map(lambda b: memoryview(b)[::2]),  # not contiguous
        junk(),
        big_integers(),
    ), label="state")
    before = stored(obj)
    result = outcome(lambda: obj.__setstate__(state))
    contiguous = isinstance(state, (bytes, bytearray)) or (isinstance(state, memoryview) and state.c_contiguous)
    if contiguous and len(bytes(state)) == doubles * 8:
        assert result == ("ok", ("NoneType", None))
        assert stored(obj) == (cls.__name__, bytes(state))
    else:
        assert result[0] == "raised" and result[1][0] in {"TypeError", "ValueError", "BufferError"}, result
        assert stored(obj) == before


@EXAMPLES
@given(vectors=st.lists(vec3d_values(), max_size=5), state=st.binary(max_size=100))
def test_vec_list_set_state_takes_whole_vectors_only(vectors: list[Vec3d], state: bytes) -> None:
    target = VecList(vectors)
    before = stored(target)
    result = outcome(lambda: target.__setstate__(state))
    if len(state) % 24 == 0:
        assert result == ("ok", ("NoneType", None))
        assert stored(target) == ("VecList", state)
    else:
        assert result[0] == "raised" and result[1][0] == "ValueError"
        assert stored(target) == before


# ---- hooks that change the objects of the call while it converts ----


class Hook:
    """__float__ and __index__ run `action` (which may fail) and then give `value`."""

    def __init__(self, action: Callable[[], Any], value: Any = 2) -> None:
        self.action, self.value = action, value

    def __float__(self) -> float:
        self.action()
        return float(self.value)

    def __index__(self) -> int:
        self.action()
        return int(self.value)


def forged_bool_running(action: Callable[[], Any]) -> Any:
    def truth(self: Any) -> bool:
        action()
        return True
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


def assign(obj: Any, name: str, value: Any) -> Callable[[], None]:
    return lambda: setattr(obj, name, value)


def reentrant_cases() -> list[Any]:
    v, p, q = Vec3d(1, 2, 3), Vec3d(0, 0, 1), Vec3d(4, 5, 6)
    vl = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    circle = Circle(Vec3d(0, 0, 0), 2.0, Vec3d(0, 0, 1))
    angle = AngleRadians(1)
    # (id, the call, objects that must be unchanged when it fails, the error, or None for success)
    return [
        pytest.param(lambda: v[Hook(assign(v, "x", 9.0), 0)], [v], ("RuntimeError", "Already borrowed"),
                     id="Vec3d[i] writes v"),
        pytest.param(lambda: vl[Hook(lambda: vl.append(q), 0)], [vl], ("RuntimeError", "Already borrowed"),
                     id="VecList[i] appends"),
        pytest.param(lambda: vl.collapse(Hook(lambda: vl.rotate(Quat(1, 0, 0, 0)), 1)), [vl],
                     ("RuntimeError", "Already borrowed"), id="collapse rotates the list"),
        pytest.param(lambda: vl.minimum_distance_to(p, Hook(assign(p, "x", 1.0), 1)), [vl, p],
                     ("RuntimeError", "Already borrowed"), id="minimum_distance_to writes other"),
        pytest.param(lambda: vl.minimum_distance_to(p, Hook(lambda: vl.extend(VecList([q])), 1)), [vl, p],
                     ("RuntimeError", "Already borrowed"), id="minimum_distance_to extends the list"),
        pytest.param(lambda: Circle(p, Hook(assign(p, "z", 5.0)), q), [p, q], ("RuntimeError", "Already borrowed"),
                     id="Circle() writes center"),
        pytest.param(lambda: Plane(p, Hook(assign(p, "z", 5.0))), [p], ("RuntimeError", "Already borrowed"),
                     id="Plane() writes normal"),
        pytest.param(lambda: geometry.circle_point(circle, q, forged_bool_running(assign(circle, "radius", 1.0))),
                     [circle, q], ("RuntimeError", "Already borrowed"), id="circle_point writes circle"),
        pytest.param(lambda: geometry.circle_point(circle, q, forged_bool_running(assign(q, "x", 1.0))),
                     [circle, q], ("RuntimeError", "Already borrowed"), id="circle_point writes point"),
        pytest.param(lambda: v * Hook(assign(v, "x", 9.0)), [v],
                     ("TypeError", "unsupported operand type(s) for *: 'builtins.Vec3d' and 'Hook'"), id="v * hook"),
        pytest.param(lambda: Hook(assign(v, "x", 9.0)) * v, [v],
                     ("TypeError", "unsupported operand type(s) for *: 'Hook' and 'builtins.Vec3d'"), id="hook * v"),
        pytest.param(lambda: vl / Hook(lambda: vl.append(q)), [vl],
                     ("TypeError", "unsupported operand type(s) for /: 'builtins.VecList' and 'Hook'"), id="vl / hook"),
        pytest.param(lambda: angle * Hook(assign(angle, "angle", 3.0)), [angle],
                     ("TypeError", "unsupported operand type(s) for *: 'builtins.AngleRadians' and 'Hook'"),
                     id="angle * hook"),
    ]


@pytest.mark.parametrize(("call", "unchanged", "error"), reentrant_cases())
def test_a_hook_that_writes_a_borrowed_object_fails_the_call(call: Callable[[], Any], unchanged: list[Any],
                                                             error: tuple[str, str]) -> None:
    before = [stored(obj) for obj in unchanged]
    assert outcome(call) == ("raised", error)
    assert [stored(obj) for obj in unchanged] == before
    # The borrows are all released: the objects can be written now.
    for obj in unchanged:
        obj.__setstate__(obj.__reduce_ex__(2)[2])


def test_hooks_may_write_what_the_call_has_not_borrowed_yet() -> None:
    center, normal = Vec3d(0, 0, 0), Vec3d(0, 0, 1)
    # radius is converted before normal is taken: the circle gets the normal as the hook left it
    circle = Circle(center, Hook(assign(normal, "x", 3.0), 5), normal)
    assert stored(circle) == stored(Circle(Vec3d(0, 0, 0), 5.0, Vec3d(3, 0, 1)))
    # a setter converts its value before it takes the object
    v = Vec3d(1, 2, 3)
    v.x = Hook(assign(v, "y", 9.0), 7)
    assert v.to_array() == [7.0, 9.0, 3.0]
    c = Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1))
    c.radius = Hook(assign(c, "radius", 3.0), 4)
    assert c.radius == 4.0
    # the pickle protocol number is converted before the value is read
    w = Vec3d(1, 2, 3)
    assert w.__reduce_ex__(Hook(assign(w, "x", 8.0), 2))[2] == struct.pack("<3d", 8, 2, 3)


def test_a_sequence_that_changes_its_items_while_iterated() -> None:
    items = [Vec3d(1, 0, 0), Vec3d(2, 0, 0), Vec3d(3, 0, 0)]

    class Changing:
        def __len__(self) -> int:
            return 3

        def __getitem__(self, index: int) -> Vec3d:
            if index >= 3:
                raise IndexError(index)
            if index:
                items[index - 1].x = -1.0  # already copied: the list keeps the old value
            return items[index]

    assert VecList(Changing()).to_array() == [[1.0, 0.0, 0.0], [2.0, 0.0, 0.0], [3.0, 0.0, 0.0]]
    assert [v.x for v in items] == [-1.0, -1.0, 3.0]


# ---- calls made while an object is held exclusively ----
#
# __setstate__ holds its object exclusively while it reads the state's buffer, and a state with a
# __buffer__ method runs Python code at that moment: every other use of the object must fail at
# once with the specified answer, and the object is free again when __setstate__ returns.

MUTABLY = ("RuntimeError", "Already mutably borrowed")
BORROWED = ("RuntimeError", "Already borrowed")
PANIC = ("PanicException", "Already mutably borrowed: PyBorrowError")


class StateWhile:
    """A state whose buffer export first records what `probe(target)` gives."""

    def __init__(self, probe: Callable[[Any], Any], state: bytes) -> None:
        self.probe, self.state, self.seen = probe, state, None

    def __buffer__(self, flags: int) -> memoryview:
        self.seen = outcome(lambda: self.probe(self.target))
        return memoryview(self.state)


def while_held(target: Any, probe: Callable[[Any], Any]) -> tuple[str, Any]:
    state = target.__reduce_ex__(2)[2]
    holder = StateWhile(probe, bytes(state))
    holder.target = target
    target.__setstate__(holder)
    assert holder.seen is not None
    return holder.seen


def unsupported(symbol: str, left: str, right: str) -> tuple[str, str]:
    return ("TypeError", f"unsupported operand type(s) for {symbol}: '{left}' and '{right}'")


HELD = {
    "Vec3d": lambda: Vec3d(1, 2, 3),
    "Quat": lambda: Quat(1, 0, 0, 0),
    "AngleRadians": lambda: AngleRadians(1),
    "AngleDegrees": lambda: AngleDegrees(1),
    "Plane": Plane.xy,
    "Circle": lambda: Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1)),
    "VecList": lambda: VecList([Vec3d(1, 2, 3)]),
}
HELD_CASES = [
    # Vec3d
    ("Vec3d", lambda t: t.x, MUTABLY),
    ("Vec3d", lambda t: t.dot(t), MUTABLY),
    ("Vec3d", lambda t: Vec3d(0, 0, 1).dot(t), MUTABLY),
    ("Vec3d", lambda t: Vec3d.new_from_to(t, t), MUTABLY),
    ("Vec3d", lambda t: repr(t), MUTABLY),
    ("Vec3d", lambda t: hash(t), MUTABLY),
    ("Vec3d", lambda t: t[1], MUTABLY),
    ("Vec3d", lambda t: list(t), MUTABLY),
    ("Vec3d", lambda t: setattr(t, "x", 1.0), BORROWED),
    ("Vec3d", lambda t: t + Vec3d(1, 1, 1), unsupported("+", "builtins.Vec3d", "builtins.Vec3d")),
    ("Vec3d", lambda t: Vec3d(1, 1, 1) - t, unsupported("-", "builtins.Vec3d", "builtins.Vec3d")),
    ("Vec3d", lambda t: 2.0 * t, unsupported("*", "float", "builtins.Vec3d")),
    ("Vec3d", lambda t: t / 2.0, unsupported("/", "builtins.Vec3d", "float")),
    ("Vec3d", lambda t: Vec3d(1, 2, 3) == t, PANIC),
    ("Vec3d", lambda t: t == Vec3d(1, 2, 3), PANIC),  # reflected, t on the right
    ("Vec3d", lambda t: t == 5, ("ok", ("bool", False))),
    ("Vec3d", lambda t: Quat(1, 0, 0, 0).rotate(t), MUTABLY),
    ("Vec3d", lambda t: Plane(t, 1.0), MUTABLY),
    ("Vec3d", lambda t: VecList([t]), MUTABLY),
    ("Vec3d", lambda t: VecList([Vec3d(0, 0, 0)]) + t, unsupported("+", "builtins.VecList", "builtins.Vec3d")),
    ("Vec3d", lambda t: VecList([Vec3d(0, 0, 0)]).dot(t), MUTABLY),
    # Quat
    ("Quat", lambda t: t.rotate(Vec3d(1, 2, 3)), MUTABLY),
    ("Quat", lambda t: t.w, MUTABLY),
    ("Quat", lambda t: setattr(t, "k", 1.0), BORROWED),
    ("Quat", lambda t: Quat(1, 0, 0, 0) == t, PANIC),
    ("Quat", lambda t: Quat(1, 0, 0, 0) != t, PANIC),
    ("Quat", lambda t: VecList([Vec3d(1, 2, 3)]).rotate(t), MUTABLY),
    ("Quat", lambda t: VecList([Vec3d(1, 2, 3)]).rotated(t), MUTABLY),
    ("Quat", lambda t: t.then(Quat(1, 0, 0, 0)), MUTABLY),
    ("Quat", lambda t: Quat(1, 0, 0, 0).slerp(t, 0.5), MUTABLY),
    ("Quat", lambda t: t.to_euler("xyz"), MUTABLY),
    # angles
    ("AngleRadians", lambda t: t.sin(), MUTABLY),
    ("AngleRadians", lambda t: t + t, unsupported("+", "builtins.AngleRadians", "builtins.AngleRadians")),
    ("AngleRadians", lambda t: AngleRadians(1) == t, ("ok", ("bool", False))),
    ("AngleRadians", lambda t: AngleRadians(1) != t, ("ok", ("bool", True))),
    ("AngleRadians", lambda t: AngleRadians(1) < t,
     ("TypeError", "'<' not supported between instances of 'builtins.AngleRadians' and 'builtins.AngleRadians'")),
    ("AngleRadians", lambda t: Quat.from_axis_angle(Vec3d(0, 0, 1), t), MUTABLY),
    ("AngleDegrees", lambda t: t.to_radians(), MUTABLY),
    ("AngleDegrees", lambda t: setattr(t, "angle", 2), BORROWED),
    # geometry
    ("Plane", lambda t: t.normal, MUTABLY),
    ("Plane", lambda t: geometry.plane_line(t, Vec3d(0, 0, 1), Vec3d(0, 0, -1)), MUTABLY),
    ("Plane", lambda t: setattr(t, "distance", 1.0), BORROWED),
    ("Plane", lambda t: t == t, ("ok", ("bool", True))),  # identity, no borrow
    ("Circle", lambda t: t.area, MUTABLY),
    ("Circle", lambda t: geometry.circle_circle(t, t), MUTABLY),
    ("Circle", lambda t: HELD["Circle"]() == t, ("ok", ("bool", False))),
    ("Circle", lambda t: HELD["Circle"]() != t, ("ok", ("bool", True))),
    ("Circle", lambda t: setattr(t, "radius", 2.0), BORROWED),
    # VecList
    ("VecList", lambda t: len(t), MUTABLY),
    ("VecList", lambda t: t[0], MUTABLY),
    ("VecList", lambda t: iter(t), MUTABLY),
    ("VecList", lambda t: repr(t), MUTABLY),
    ("VecList", lambda t: t.dot(Vec3d(1, 1, 1)), MUTABLY),
    ("VecList", lambda t: t * 2.0, unsupported("*", "builtins.VecList", "float")),
    ("VecList", lambda t: t.append(Vec3d(0, 0, 0)), BORROWED),
    ("VecList", lambda t: VecList.empty().extend(t), MUTABLY),
    ("VecList", lambda t: VecList(t), MUTABLY),
    ("VecList", lambda t: VecList.from_array(t), MUTABLY),
    ("VecList", lambda t: memoryview(t), MUTABLY),
    ("VecList", lambda t: t.__reduce_ex__(2), MUTABLY),
]


@pytest.mark.parametrize(("name", "probe", "expected"), [pytest.param(c, p, e, id=f"{c}-{i}")
                                                         for i, (c, p, e) in enumerate(HELD_CASES)])
def test_using_an_object_while_it_is_held_exclusively(name: str, probe: Callable[[Any], Any],
                                                      expected: tuple[str, Any]) -> None:
    target = HELD[name]()
    before = stored(target)
    seen = while_held(target, probe)
    assert seen == (expected if expected[0] == "ok" else ("raised", expected))
    assert stored(target) == before
    # free again
    target.__setstate__(target.__reduce_ex__(2)[2])


NEGATED = [("Vec3d", lambda: Vec3d(1, 2, 3)), ("AngleRadians", lambda: AngleRadians(1)),
           ("AngleDegrees", lambda: AngleDegrees(1))]


@pytest.mark.parametrize("make", [m for _, m in NEGATED], ids=[n for n, _ in NEGATED])
def test_negating_an_object_held_exclusively_raises_the_borrow_error(make: Callable[[], Any]) -> None:
    assert while_held(make(), lambda t: -t) == ("raised", MUTABLY)


def test_a_buffer_export_keeps_the_list_from_changing() -> None:
    vectors = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    with memoryview(vectors) as view:
        for change in (lambda: vectors.append(Vec3d(0, 0, 0)), lambda: vectors.extend(VecList([Vec3d(0, 0, 0)])),
                       lambda: vectors.rotate(Quat(0, 1, 0, 0)), lambda: vectors.__setstate__(b""),
                       lambda: vectors.__setstate__(vectors)):
            assert outcome(change) == ("raised", BORROWED)
        with memoryview(vectors) as second:  # readers share
            assert second.tolist() == view.tolist() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]
    vectors.append(Vec3d(7, 8, 9))
    # Restoring a list from itself: held exclusively, it cannot export its own buffer.
    assert outcome(lambda: vectors.__setstate__(vectors)) == ("raised", MUTABLY)
    assert len(vectors) == 3
    # The export is read-only: writers are refused, the elements stay, and no borrow is left over.
    assert outcome(lambda: io.BytesIO(bytes(72)).readinto(vectors))[1][0] == "TypeError"
    assert outcome(lambda: (ctypes.c_char * 72).from_buffer(vectors))[1][0] == "TypeError"
    assert VecList.from_array(vectors).to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0], [7.0, 8.0, 9.0]]
    vectors.append(Vec3d(0, 0, 0))


# ---- argument matching with hostile keywords ----


class Name(str):
    """A str subclass as a keyword name: matched by its text, printed by its own __str__."""

    def __hash__(self) -> int:
        return str.__hash__(self)

    def __eq__(self, other: object) -> bool:
        raise Hostile("keyword names are compared by their text, not by __eq__")


def test_keyword_names_are_matched_by_their_text() -> None:
    assert Vec3d(**{Name("x"): 1, "y": 2, "z": 3}).to_array() == [1.0, 2.0, 3.0]
    with pytest.raises(TypeError) as caught:
        Vec3d(1, 2, 3, **{Name("w"): 4})
    assert str(caught.value) == "Vec3d.__new__() got an unexpected keyword argument 'w'"


def test_many_surplus_keywords_still_report_the_first_unexpected_one() -> None:
    surplus = {f"k{i}": i for i in range(40)}
    with pytest.raises(TypeError) as caught:
        Vec3d.__new__(Vec3d, 1, 2, 3, **surplus)
    assert str(caught.value) == "Vec3d.__new__() got an unexpected keyword argument 'k0'"
    with pytest.raises(TypeError) as caught:
        Vec3d(x=1, y=2, z=3, **surplus)
    assert str(caught.value) == "Vec3d.__new__() got an unexpected keyword argument 'k0'"
