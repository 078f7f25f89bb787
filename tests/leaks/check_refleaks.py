"""Reference and memory leak check of every public entry point of quorvane.

Run as a plain script on a debug (--with-pydebug) interpreter, with the module importable:

    python tests/leaks/check_refleaks.py [--iterations N] [--only SUBSTRING] [--list]

It calls every public callable, property, operator and slot of the module's classes and of
quorvane.geometry and quorvane.spatial, each in its successful form and in its failing forms (missing, extra, unknown
and duplicated arguments, an argument of the wrong type for each parameter in turn, the explicit
error paths in EXPLICIT_CASES below). Each case runs a warm-up, then N more times; afterwards three
counts must be back where they were after the warm-up:

- sys.gettotalrefcount(): references held anywhere in the interpreter;
- sys.getallocatedblocks(): objects and buffers of the interpreter's own allocator;
- malloc bytes in use (glibc's mallinfo2, with one malloc arena so that the worker pool's threads
  allocate where it is counted): the module's own C++ allocations, such as VecList arrays.

Slack: a case may move each count by at most SLACK per round, for the caches the interpreter fills
on first use and keeps (interned strings, the type attribute cache, the free lists of floats,
tuples and frames, the specialised bytecode of the standard modules used here, such as copy and
pickle, and the one-time objects of the module: the PanicException type, the imported
collections.abc.Sequence, the worker pool). The measurement itself holds 4 objects (a tuple of three
counts). A case over the slack is measured again, up to CONFIRMING_ROUNDS more rounds, and reported
as a leak only when every round is over it: a leak grows with every round, a cache fills and stops. The process starts no Python thread; the worker pool's threads are native.

The module's reports of internal failures (one per PanicException raised on purpose here) go to
standard error; while cases run, file descriptor 2 goes to the file given by --native-log (a
temporary file by default) and its last lines are shown if the check fails.
"""

from __future__ import annotations

import argparse
import array
import ast
import copy
import gc
import inspect
import operator
import os
import pickle
import sys
import tempfile
import threading
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
STUBS = ROOT / "stubs" / "quorvane-stubs"
WARMUP = 200
ITERATIONS = 2000
SLACK = (16, 16, 4096)  # references, blocks, malloc bytes
CONFIRMING_ROUNDS = 4

# glibc's malloc, set before the process starts (it reads these once, at its initialisation): one
# arena, so that what the worker pool's threads allocate is counted too, and no per-thread cache of
# freed chunks, which the counts would see as memory still in use.
MALLOC_TUNABLES = "glibc.malloc.arena_max=1:glibc.malloc.tcache_count=0"
if MALLOC_TUNABLES not in os.environ.get("GLIBC_TUNABLES", ""):
    tunables = ":".join(filter(None, [os.environ.get("GLIBC_TUNABLES"), MALLOC_TUNABLES]))
    os.execve(sys.executable, [sys.executable, *sys.argv], {**os.environ, "GLIBC_TUNABLES": tunables})

import quorvane  # noqa: E402 - after the re-exec above
from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList  # noqa: E402

geometry = quorvane.geometry
Circle = geometry.Circle
Plane = geometry.Plane
spatial = quorvane.spatial


# ---- counting ----


def malloc_counter() -> Callable[[], int] | None:
    try:
        import ctypes

        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (ImportError, OSError, AttributeError):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]

    mallinfo2.restype = MallInfo2
    mallinfo2.argtypes = []

    def in_use() -> int:
        info = mallinfo2()
        return info.uordblks + info.hblkhd  # chunks handed out + blocks mapped on their own
    return in_use


malloc_in_use = malloc_counter()
COUNTS = ("references", "blocks", "malloc bytes")


def counts() -> tuple[int, int, int]:
    gc.collect()
    return sys.gettotalrefcount(), sys.getallocatedblocks(), malloc_in_use() if malloc_in_use else 0


def measure(case: Callable[[], object], iterations: int) -> tuple[int, int, int]:
    before = counts()
    for _ in range(iterations):
        case()
    after = counts()
    return tuple(a - b for a, b in zip(after, before))  # type: ignore[return-value]


# ---- samples: one valid value per annotated type, and values each conversion refuses ----


def three_vectors() -> list[Vec3d]:
    return [Vec3d(1.0, 2.0, 3.0), Vec3d(-0.5, 4.0, 0.25), Vec3d(7.0, -8.0, 9.0)]


class FailingFloat:
    """Converts to float only by raising: the conversion's error must be dropped or passed on
    without keeping it."""

    def __float__(self) -> float:
        raise ValueError("no float here")


class FailingIndex:
    def __index__(self) -> int:
        raise ValueError("no index here")


class FailingSequence:
    """Passes the sequence check; its length and its items fail."""

    def __len__(self) -> int:
        raise RuntimeError("no length")

    def __getitem__(self, index: int) -> Vec3d:
        if index < 2:
            return Vec3d(1, 2, 3)
        raise KeyError(index)


def failing_iteration() -> Iterator[Vec3d]:
    yield Vec3d(1, 2, 3)
    raise LookupError("iteration failed")


SAMPLES: dict[str, Callable[[], object]] = {
    "float": lambda: 1.5,
    "int": lambda: 1,
    "bool": lambda: True,
    "Vec3d": lambda: Vec3d(1.0, 2.0, 3.0),
    "AngleRadians": lambda: AngleRadians(0.5),
    "AngleDegrees": lambda: AngleDegrees(30.0),
    "Quat": lambda: Quat(0.5, 0.5, 0.5, 0.5),
    "Plane": lambda: Plane(Vec3d(0, 0, 1), -1.0),
    "Circle": lambda: Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1)),
    "VecList": lambda: VecList(three_vectors()),
    "VecListIterator": lambda: iter(VecList(three_vectors())),
    "KdTree": lambda: spatial.KdTree(VecList(three_vectors())),
    "Sequence[Vec3d]": three_vectors,
    "Buffer": lambda: array.array("d", [1, 2, 3, 4, 5, 6]),
    "str": lambda: "zyx",
    "Sequence[Sequence[float]]": lambda: [[0.0, 1.0, 0.0], [-1.0, 0.0, 0.0], (0.0, 0.0, 1.0)],
    # __array__(dtype, copy): numpy's defaults
    "Any": lambda: None,
    "bool|None": lambda: None,
    # index, mask and factor arguments, for the three-element sample list
    "Sequence[int]|Buffer": lambda: array.array("q", [2, 0, 2, 1]),
    "Sequence[Sequence[int]]|Buffer": lambda: [[0, 1, 2], (2, 1, 0)],
    "Sequence[bool]|Buffer": lambda: [True, False, True],
    "Sequence[float]|Buffer": lambda: array.array("f", [1.5, -2.0, 0.25]),
    "geometry.Plane": lambda: Plane(Vec3d(0, 0, 1), -1.0),
}

REFUSED: dict[str, list[Callable[[], object]]] = {
    "float": [lambda: None, lambda: "1.5", object, FailingFloat],
    "int": [lambda: -1, lambda: 2**64, lambda: 2**70, lambda: 1.0, lambda: None, object, FailingIndex],
    "bool": [lambda: 1, lambda: 1.0, lambda: None],
    "Sequence[Vec3d]": [lambda: "abc", lambda: {Vec3d(1, 2, 3)}, lambda: [Vec3d(1, 2, 3), 5.5],
                        lambda: (Vec3d(1, 2, 3), object()), lambda: None,
                        FailingSequence, failing_iteration, lambda: (v for v in three_vectors())],
    "str": [lambda: "xxy", lambda: "x\udc80z", lambda: b"xyz", lambda: None, lambda: 5.5],
    "Sequence[Sequence[float]]": [lambda: [[1.0, 2.0, 3.0]], lambda: [[1.0, 2.0, 3.0]] * 4, lambda: [[1.0, 2.0]] * 3,
                                  lambda: [[1.0, 2.0, 3.0], 5.5, [1.0, 2.0, 3.0]],
                                  lambda: [[1.0, 2.0, 3.0], [1.0, FailingFloat(), 3.0], [1.0, 2.0, 3.0]],
                                  lambda: [FailingSequence(), [1.0, 2.0, 3.0], [1.0, 2.0, 3.0]], lambda: None],
    "Any": [lambda: "no such dtype", object],
    "bool|None": [lambda: "yes", lambda: 2.5],
    "Buffer": [lambda: [[1.0, 2.0, 3.0]], lambda: b"x" * 24, lambda: array.array("d", [1, 2, 3, 4]),
               lambda: array.array("f", [1, 2, 3]), lambda: None],
    "Sequence[int]|Buffer": [lambda: [0, 3], lambda: [-1], lambda: [0, 2**70], lambda: [1.0], lambda: [0, FailingIndex()],
                             lambda: array.array("q", [0, 9]), lambda: array.array("d", [0.0]),
                             lambda: memoryview(array.array("h", [0, 1] * 2)).cast("B").cast("h", [2, 2]),
                             lambda: {1}, lambda: None],
    "Sequence[Sequence[int]]|Buffer": [lambda: [[0, 1]], lambda: [[0, 1, 5]], lambda: [[0, 1, 2], 5],
                                       lambda: [[0, 1, FailingIndex()]], lambda: array.array("q", [0, 1, 2]),
                                       lambda: [FailingSequence()], lambda: None],
    "Sequence[bool]|Buffer": [lambda: [True], lambda: [1, 0, 1], lambda: array.array("d", [1, 2, 3]),
                              lambda: bytearray(2), lambda: None],
    "Sequence[float]|Buffer": [lambda: [1.0], lambda: [1.0, FailingFloat(), 2.0], lambda: ["a", "b", "c"],
                               lambda: array.array("u", "abc"), lambda: None],
}
# None, small ints and interned strings are immortal, so a reference kept to one of them is not
# counted: every list of refused values also holds objects that are counted.
CLASS_REFUSED = [lambda: None, lambda: 5, lambda: "text", lambda: 5.5, object, lambda: AngleRadians(1.0),
                 lambda: VecList.empty()]


def shown(make: Callable[[], object]) -> str:
    """A short text of the value a factory makes, for the name of a case."""
    value = make()
    if inspect.isgenerator(value):
        value.close()
        return f"<generator {make.__name__}>"
    text = f"<{type(value).__name__}>" if type(value).__repr__ is object.__repr__ else repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def normalized(annotation: str) -> str:
    for prefix in ("builtins.", "collections.abc.", "typing.", "quorvane."):
        annotation = annotation.replace(prefix, "")
    return annotation.replace(" ", "")


def sample(annotation: str, owner: str) -> Callable[[], object] | None:
    if annotation == "object":
        return SAMPLES.get(owner)
    return SAMPLES.get(annotation)


def refused(annotation: str) -> list[Callable[[], object]]:
    if annotation in REFUSED:
        return REFUSED[annotation]
    if annotation in SAMPLES or annotation == "object":
        return CLASS_REFUSED
    return [lambda: None]


# ---- the stubs: parameter types of every member ----


@dataclass
class Signature:
    parameters: list[tuple[str, str]]  # (stub name, normalized annotation)
    kind: str  # "method", "static", "property", "function"
    settable: bool = False
    setter_type: str = ""


@dataclass
class StubClass:
    members: dict[str, Signature] = field(default_factory=dict)


def read_stubs() -> tuple[dict[str, StubClass], dict[str, Signature]]:
    classes: dict[str, StubClass] = {}
    functions: dict[str, Signature] = {}

    def parameters(node: ast.FunctionDef, skip_first: bool) -> list[tuple[str, str]]:
        args = node.args.posonlyargs + node.args.args
        if skip_first:
            args = args[1:]
        return [(a.arg, normalized(ast.unparse(a.annotation)) if a.annotation else "") for a in args]

    for path in sorted(STUBS.glob("*.pyi")):
        tree = ast.parse(path.read_text(), str(path))
        for node in tree.body:
            if isinstance(node, ast.FunctionDef):
                functions[node.name] = Signature(parameters(node, False), "function")
            elif isinstance(node, ast.ClassDef):
                stub = classes.setdefault(node.name, StubClass())
                for item in node.body:
                    if not isinstance(item, ast.FunctionDef):
                        continue
                    decorators = [ast.unparse(d) for d in item.decorator_list]
                    if "property" in decorators:
                        stub.members[item.name] = Signature([], "property")
                    elif any(d.endswith(".setter") for d in decorators):
                        getter = stub.members.setdefault(item.name, Signature([], "property"))
                        getter.settable = True
                        getter.setter_type = parameters(item, True)[0][1]
                    elif "staticmethod" in decorators:
                        stub.members[item.name] = Signature(parameters(item, False), "static")
                    else:
                        stub.members[item.name] = Signature(parameters(item, True), "method")
    return classes, functions


# ---- cases ----


@dataclass
class Case:
    name: str
    run: Callable[[], object]


def quietly(call: Callable[[], object]) -> Callable[[], None]:
    """Runs one call, keeping neither its result nor the exception it raises."""

    def run() -> None:
        try:
            call()
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException:  # noqa: BLE001 - the failure paths are what is being measured
            pass
    return run


def runtime_names(callable_: object) -> list[str] | None:
    try:
        return [p.name for p in inspect.signature(callable_).parameters.values()  # type: ignore[arg-type]
                if p.name not in ("self", "cls", "$self") and p.kind is not p.VAR_POSITIONAL]
    except (TypeError, ValueError):
        return None


def call_cases(label: str, target: Callable[[], Callable[..., object]], names: list[str] | None,
               signature: Signature, owner: str) -> tuple[list[Case], list[str]]:
    """The successful call and every way of calling `target()` wrongly."""
    makers = [sample(annotation, owner) for _, annotation in signature.parameters]
    unknown = [f"{label}: parameter {name!r} of type {annotation!r}"
               for (name, annotation), maker in zip(signature.parameters, makers) if maker is None]
    if unknown:
        return [], unknown

    def valid() -> list[object]:
        return [make() for make in makers]  # type: ignore[misc]

    cases = [
        Case(f"{label}(...)", quietly(lambda: target()(*valid()))),
        Case(f"{label}(<one too many>)", quietly(lambda: target()(*valid(), 1.0))),
        Case(f"{label}(bogus=1)", quietly(lambda: target()(*valid(), bogus=1))),
    ]
    if makers:
        cases.append(Case(f"{label}(<missing last>)", quietly(lambda: target()(*valid()[:-1]))))
        cases.append(Case(f"{label}()", quietly(lambda: target()())))
    if names and len(names) == len(makers):
        cases.append(Case(f"{label}(<by keyword>)", quietly(lambda: target()(**dict(zip(names, valid()))))))
        if makers:
            cases.append(Case(f"{label}(<first twice>)",
                              quietly(lambda: target()(*valid(), **{names[0]: makers[0]()}))))  # type: ignore[misc]
    for position, (name, annotation) in enumerate(signature.parameters):
        for make_wrong in refused(annotation):
            def wrong(position: int = position, make_wrong: Callable[[], object] = make_wrong) -> object:
                arguments = valid()
                arguments[position] = make_wrong()
                return target()(*arguments)
            cases.append(Case(f"{label}({name}={shown(make_wrong)})", quietly(wrong)))
    return cases, []


def binary(op: Callable[[object, object], object], symbol: str, cls_name: str,
           operand: Callable[[], object] | None) -> list[Case]:
    make = SAMPLES[cls_name]
    others: list[tuple[str, Callable[[], object]]] = [("None", lambda: None), ("'text'", lambda: "text"),
                                                      ("FailingFloat()", FailingFloat), ("2.0", lambda: 2.0),
                                                      ("Vec3d", SAMPLES["Vec3d"]), ("VecList", SAMPLES["VecList"]),
                                                      ("Quat", SAMPLES["Quat"]), ("AngleRadians", SAMPLES["AngleRadians"])]
    if operand is not None:
        others.insert(0, ("<stub operand>", operand))
    cases = []
    for text, other in others:
        cases.append(Case(f"{cls_name} {symbol} {text}", quietly(lambda other=other: op(make(), other()))))
        cases.append(Case(f"{text} {symbol} {cls_name}", quietly(lambda other=other: op(other(), make()))))
    return cases


BINARY = {"__add__": (operator.add, "+"), "__sub__": (operator.sub, "-"), "__mul__": (operator.mul, "*"),
          "__truediv__": (operator.truediv, "/"), "__eq__": (operator.eq, "=="), "__ne__": (operator.ne, "!="),
          "__lt__": (operator.lt, "<"), "__le__": (operator.le, "<="), "__gt__": (operator.gt, ">"),
          "__ge__": (operator.ge, ">=")}
REFLECTED = {"__radd__": "__add__", "__rsub__": "__sub__", "__rmul__": "__mul__", "__rtruediv__": "__truediv__"}


def exhaust(iterator: Iterator[object]) -> None:
    for _ in iterator:
        pass
    for _ in range(2):  # an exhausted iterator stays exhausted
        next(iterator, None)


def slot_cases(cls_name: str, slot: str, stub: StubClass) -> list[Case] | None:
    make = SAMPLES[cls_name]
    if slot in REFLECTED:
        return []  # the same number slot as its forward form, which runs both orders
    if slot in BINARY:
        op, symbol = BINARY[slot]
        signature = stub.members.get(slot)
        operand = None
        if signature and signature.parameters:
            operand = sample(signature.parameters[0][1], cls_name)
        return binary(op, symbol, cls_name, operand)
    simple: dict[str, list[tuple[str, Callable[[object], object]]]] = {
        "__repr__": [("repr", repr), ("str", str), ("format", lambda o: f"{o}")],
        "__hash__": [("hash", hash)],
        "__neg__": [("-", operator.neg)],
        "__len__": [("len", len), ("bool", bool)],
        "__iter__": [("iter", lambda o: exhaust(iter(o))), ("list", list), ("in", lambda o: Vec3d(7, -8, 9) in o),
                     ("unpack", lambda o: [*o])],
        "__next__": [("next", lambda o: exhaust(o))],  # type: ignore[arg-type]
        "__buffer__": [("memoryview", lambda o: memoryview(o).release()),
                       ("memoryview tobytes", lambda o: memoryview(o).tobytes()),
                       ("from_array(memoryview)", lambda o: VecList.from_array(memoryview(o))),
                       ("view then append", lambda o: (memoryview(o), o.append(Vec3d(0, 0, 0))))],  # type: ignore[attr-defined]
        "__release_buffer__": [],
        "__reduce_ex__": [(f"pickle protocol {p}", lambda o, p=p: pickle.loads(pickle.dumps(o, protocol=p)))
                          for p in range(pickle.HIGHEST_PROTOCOL + 1)]
        + [("copy", copy.copy), ("deepcopy", copy.deepcopy),
           ("pickle protocol 5 out of band", lambda o: pickle.loads(
               pickle.dumps(o, protocol=5, buffer_callback=(kept := []).append), buffers=kept))],
        "__reduce__": [("reduce", lambda o: o.__reduce__())],
        "__setstate__": [("setstate good", lambda o: o.__setstate__(o.__reduce_ex__(2)[2])),  # type: ignore[attr-defined]
                         ("setstate short", lambda o: o.__setstate__(b"12345")),  # type: ignore[attr-defined]
                         ("setstate 25 bytes", lambda o: o.__setstate__(b"x" * 25)),  # type: ignore[attr-defined]
                         ("setstate int", lambda o: o.__setstate__(7)),  # type: ignore[attr-defined]
                         ("setstate list", lambda o: o.__setstate__([1.0, 2.0, 3.0]))],  # type: ignore[attr-defined]
        "__getstate__": [("getstate", lambda o: o.__getstate__())],
        "__copy__": [("copy", copy.copy)],
        "__deepcopy__": [("deepcopy", copy.deepcopy)],
    }
    if slot == "__getitem__":
        indices = [("1", 1), ("2", 2), ("3", 3), ("99", 99), ("-1", -1), ("2**64", 2**64), ("1.0", 1.0),
                   ("'x'", "x"), ("slice", slice(0, 1)), ("None", None)]
        return [Case(f"{cls_name}[{text}]", quietly(lambda index=index: make()[index]))  # type: ignore[index]
                for text, index in indices] + \
            [Case(f"{cls_name}[FailingIndex()]", quietly(lambda: make()[FailingIndex()]))]  # type: ignore[index]
    if slot not in simple:
        return None
    return [Case(f"{text}({cls_name})", quietly(lambda use=use: use(make()))) for text, use in simple[slot]]


def property_cases(cls_name: str, name: str, signature: Signature | None) -> list[Case]:
    make = SAMPLES[cls_name]
    cases = [Case(f"{cls_name}.{name}", quietly(lambda: getattr(make(), name))),
             Case(f"del {cls_name}.{name}", quietly(lambda: delattr(make(), name)))]
    if signature and signature.settable:
        value = sample(signature.setter_type, cls_name)
        if value is not None:
            cases.append(Case(f"{cls_name}.{name} = <value>", quietly(lambda: setattr(make(), name, value()))))
        for wrong in refused(signature.setter_type):
            cases.append(Case(f"{cls_name}.{name} = {shown(wrong)}",
                              quietly(lambda wrong=wrong: setattr(make(), name, wrong()))))
    else:
        cases.append(Case(f"{cls_name}.{name} = 1.0 (read-only)", quietly(lambda: setattr(make(), name, 1.0))))
    return cases


def generated_cases() -> tuple[list[Case], list[str]]:
    stubs, stub_functions = read_stubs()
    cases: list[Case] = []
    uncovered: list[str] = []
    classes: list[type] = []
    for module in (quorvane, geometry, spatial):
        for public in module.__all__:
            value = getattr(module, public)
            if isinstance(value, type):
                classes.append(value)
            elif callable(value):
                signature = stub_functions.get(public)
                if signature is None:
                    uncovered.append(f"{module.__name__}.{public}: not in the stubs")
                    continue
                found, unknown = call_cases(f"{module.__name__}.{public}", lambda value=value: value,
                                            runtime_names(value), signature, "")
                cases += found
                uncovered += unknown
    classes.append(type(iter(VecList.empty())))

    for cls in classes:
        cls_name = cls.__name__
        stub = stubs.get(cls_name, StubClass())
        cases.append(Case(f"class {cls_name}(...) subclass", quietly(lambda cls=cls: type("Sub", (cls,), {}))))
        cases.append(Case(f"{cls_name}().undeclared = 1", quietly(lambda cls_name=cls_name: setattr(SAMPLES[cls_name](), "undeclared", 1))))
        for name, member in vars(cls).items():
            if name in ("__doc__", "__module__", "__text_signature__") or member is None:
                continue
            label = f"{cls_name}.{name}"
            kind = type(member).__name__
            if name == "__new__":
                signature = stub.members.get("__new__")
                if signature is None:
                    continue  # no constructor callable from Python
                found, unknown = call_cases(label, lambda cls=cls: cls, runtime_names(cls), signature, cls_name)
            elif kind == "getset_descriptor":
                found, unknown = property_cases(cls_name, name, stub.members.get(name)), []
            elif kind == "wrapper_descriptor":
                slot = slot_cases(cls_name, name, stub)
                found, unknown = (slot, []) if slot is not None else ([], [f"{label}: a slot this check does not know"])
            elif kind in ("method_descriptor", "staticmethod", "builtin_function_or_method", "classmethod_descriptor"):
                if name in ("__reduce_ex__", "__setstate__", "__getstate__", "__reduce__", "__copy__", "__deepcopy__"):
                    found, unknown = slot_cases(cls_name, name, stub) or [], []
                else:
                    signature = stub.members.get(name)
                    if signature is None:
                        found, unknown = [], [f"{label}: not in the stubs"]
                    elif kind == "staticmethod":
                        found, unknown = call_cases(label, lambda cls=cls, name=name: getattr(cls, name),
                                                    runtime_names(getattr(cls, name)), signature, cls_name)
                    else:
                        def bound(cls_name: str = cls_name, name: str = name) -> Callable[..., object]:
                            return getattr(SAMPLES[cls_name](), name)
                        found, unknown = call_cases(label, bound, runtime_names(getattr(cls, name)), signature, cls_name)
                        # the unbound member with a receiver of a foreign class
                        foreign = Vec3d(1, 2, 3) if cls is Quat else Quat(1, 0, 0, 0)
                        found.append(Case(f"{label}(<foreign receiver>)",
                                          quietly(lambda member=member, foreign=foreign: member(foreign))))
            else:
                found, unknown = [], [f"{label}: a {kind} this check does not know"]
            cases += found
            uncovered += unknown
    return cases, uncovered


def batch_operations(items: VecList, other: Vec3d) -> list[object]:
    """Every batch step once, on a list long enough to be split across the worker pool."""
    return [items.normalize(), items.magnitude(), items.is_unit(), items.to_array(), repr(items),
            items.dot(other), items.cross(other), items.distance_to(other), items.distance_squared(other),
            items * 2.0, 2.0 * items, items / 3.0, items + other, items - other, items.collapse(2), items.list,
            VecList(items), items.dot_array(other), items.distance_to_array(other),
            items.distance_squared_array(other), items.magnitude_array(), items.is_unit_array(),
            items.add_elementwise(items), items.sub_elementwise(items), items.cross_elementwise(items),
            items.dot_elementwise(items), items.distance_to_elementwise(items),
            items.distance_squared_elementwise(items), items.sum(), items.take(array.array("l", range(len(items)))),
            items.take_triangles([[i, 0, i] for i in range(len(items))]), items.select([True] * len(items)),
            items.scaled_elementwise([0.5] * len(items)), items.distance_to_plane_array(Plane(other, 1.0)),
            items.signed_distance_to_plane_array(Plane(other, 1.0)), items.rotate(Quat(0.5, 0.5, 0.5, 0.5))]


def explicit_cases() -> list[Case]:
    """Error paths named one by one: each must fail, and fail without keeping anything."""
    p = Vec3d(1, 2, 3)
    unit_circle = lambda: Circle(Vec3d(0, 0, 0), 1.0, Vec3d(0, 0, 1))  # noqa: E731
    far_circle = lambda: Circle(Vec3d(10, 0, 0), 1.0, Vec3d(0, 0, 1))  # noqa: E731
    listed: list[tuple[str, Callable[[], object]]] = [
        ("Vec3d(1, 2)", lambda: Vec3d(1, 2)),  # type: ignore[call-arg]
        ("Vec3d()", lambda: Vec3d()),  # type: ignore[call-arg]
        ("Vec3d(1, 2, 3, 4)", lambda: Vec3d(1, 2, 3, 4)),  # type: ignore[call-arg]
        ("Vec3d(1, 2, 3, q=1)", lambda: Vec3d(1, 2, 3, q=1)),  # type: ignore[call-arg]
        ("Vec3d(1, 2, 3, x=1)", lambda: Vec3d(1, 2, 3, x=1)),  # type: ignore[misc]
        ("Vec3d('a', 0, 0)", lambda: Vec3d("a", 0, 0)),  # type: ignore[arg-type]
        ("Vec3d(FailingFloat(), 0, 0)", lambda: Vec3d(FailingFloat(), 0, 0)),  # type: ignore[arg-type]
        ("Vec3d(2**1024, 0, 0)", lambda: Vec3d(2**1024, 0, 0)),
        ("Vec3d.dot(None)", lambda: p.dot(None)),  # type: ignore[arg-type]
        ("Vec3d.dot(5)", lambda: p.dot(5)),  # type: ignore[arg-type]
        ("Vec3d[3] IndexError", lambda: Vec3d(1, 2, 3)[3]),
        ("Vec3d[-1] OverflowError", lambda: Vec3d(1, 2, 3)[-1]),
        ("Vec3d[2**64] OverflowError", lambda: Vec3d(1, 2, 3)[2**64]),
        ("x, y, z = Vec3d", lambda: tuple(Vec3d(1, 2, 3))),
        ("del Vec3d.x", lambda: delattr(Vec3d(1, 2, 3), "x")),
        ("Vec3d.w = 1", lambda: setattr(Vec3d(1, 2, 3), "w", 1)),
        ("hash(Quat)", lambda: hash(Quat(1, 0, 0, 0))),
        ("Quat < Vec3d", lambda: Quat(1, 0, 0, 0) < Vec3d(1, 2, 3)),  # type: ignore[operator]
        ("AngleRadians < 1.0", lambda: AngleRadians(1.0) < 1.0),  # type: ignore[operator]
        ("VecList('abc')", lambda: VecList("abc")),  # type: ignore[arg-type]
        ("VecList({Vec3d})", lambda: VecList({Vec3d(1, 2, 3)})),  # type: ignore[arg-type]
        ("VecList([Vec3d, 5])", lambda: VecList([Vec3d(1, 2, 3), 5])),  # type: ignore[list-item]
        ("VecList(FailingSequence())", lambda: VecList(FailingSequence())),  # type: ignore[arg-type]
        ("VecList(generator)", lambda: VecList(v for v in three_vectors())),  # type: ignore[arg-type]
        ("VecList(VecList)", lambda: VecList(VecList(three_vectors()))),
        ("VecList[3] IndexError", lambda: VecList(three_vectors())[3]),
        ("VecList[-1] OverflowError", lambda: VecList(three_vectors())[-1]),
        ("VecList[1:2] TypeError", lambda: VecList(three_vectors())[1:2]),  # type: ignore[index]
        ("v.extend(v)", lambda: (v := VecList(three_vectors())).extend(v)),
        ("v.extend(v.list)", lambda: (v := VecList(three_vectors())).extend(v.list)),  # type: ignore[arg-type]
        ("v.append(5)", lambda: VecList(three_vectors()).append(5)),  # type: ignore[arg-type]
        ("v.rotate(Vec3d)", lambda: VecList(three_vectors()).rotate(Vec3d(1, 2, 3))),  # type: ignore[arg-type]
        ("v.rotate(Quat) on an empty list", lambda: VecList.empty().rotate(Quat(1, 0, 0, 0))),
        ("VecList.collapse(3) PanicException", lambda: VecList(three_vectors()).collapse(3)),
        ("VecList.collapse(-1) OverflowError", lambda: VecList(three_vectors()).collapse(-1)),
        ("VecList.collapse(1.0) TypeError", lambda: VecList(three_vectors()).collapse(1.0)),  # type: ignore[arg-type]
        ("minimum_distance_to(p, 0) PanicException", lambda: VecList(three_vectors()).minimum_distance_to(p, 0)),
        ("minimum_distance_to on empty PanicException", lambda: VecList.empty().minimum_distance_to(p, 1)),
        ("minimum_distance_to(p, -1) OverflowError", lambda: VecList(three_vectors()).minimum_distance_to(p, -1)),
        ("minimum_distance_to(None, 1)", lambda: VecList(three_vectors()).minimum_distance_to(None, 1)),  # type: ignore[arg-type]
        ("minimum_distance_to large list", lambda: VecList(three_vectors() * 100).minimum_distance_to(p, 7)),
        ("batch operations on 600 elements", lambda: batch_operations(VecList(three_vectors() * 200), p)),
        ("batch operations on an empty list", lambda: batch_operations(VecList.empty(), p)),
        ("VecList * FailingFloat", lambda: VecList(three_vectors()) * FailingFloat()),  # type: ignore[operator]
        ("FailingFloat * VecList", lambda: FailingFloat() * VecList(three_vectors())),  # type: ignore[operator]
        ("Vec3d * FailingFloat", lambda: Vec3d(1, 2, 3) * FailingFloat()),  # type: ignore[operator]
        ("Vec3d / 0.0", lambda: Vec3d(1, 2, 3) / 0.0),
        ("next(exhausted iterator)", lambda: next(iter(VecList.empty()))),
        ("iter(iterator) is iterator", lambda: iter(iter(VecList(three_vectors())))),
        ("pickle iterator TypeError", lambda: pickle.dumps(iter(VecList(three_vectors())))),
        ("from_array(list) TypeError", lambda: VecList.from_array([[1.0, 2.0, 3.0]])),  # type: ignore[arg-type]
        ("from_array(chars) TypeError", lambda: VecList.from_array(memoryview(b"x" * 24).cast("c"))),
        ("from_array(float32, int16, big-endian int64)",
         lambda: [VecList.from_array(array.array(code, range(6))) for code in "fhq"]
         + [VecList.from_array(memoryview(bytes(range(48))).cast("B").cast("Q", [2, 3]))]),
        ("add_elementwise of other lengths ValueError",
         lambda: VecList(three_vectors()).add_elementwise(VecList.empty())),
        ("dot_elementwise of other lengths ValueError",
         lambda: VecList(three_vectors()).dot_elementwise(VecList.empty())),
        ("dot_elementwise(Vec3d) TypeError", lambda: VecList(three_vectors()).dot_elementwise(p)),  # type: ignore[arg-type]
        ("__array__ while a view is alive", lambda: ((v := VecList(three_vectors())), (m := memoryview(v)),
                                                     v.__array__())),
        ("from_array(4 doubles) ValueError", lambda: VecList.from_array(array.array("d", [1, 2, 3, 4]))),
        ("mean and bounds of an empty list ValueError", lambda: (VecList.empty().mean(), VecList.empty().bounds())),
        ("take of a late bad index IndexError", lambda: VecList(three_vectors() * 3000).take(list(range(9000)) + [9000])),
        ("Fortran-order buffer request BufferError",
         lambda: VecList(three_vectors()).__buffer__(inspect.BufferFlags.F_CONTIGUOUS)),
        ("live view blocks append", lambda: ((v := VecList(three_vectors())), (m := memoryview(v)),
                                             v.append(Vec3d(0, 0, 0)))),
        ("circle_circle no intersection ValueError", lambda: geometry.circle_circle(unit_circle(), far_circle())),
        ("circle_circle same circle ValueError", lambda: geometry.circle_circle(unit_circle(), unit_circle())),
        ("circle_point(inner=1) TypeError", lambda: geometry.circle_point(unit_circle(), p, 1)),  # type: ignore[arg-type]
        ("circle_point_unchecked(None, p, True)", lambda: geometry.circle_point_unchecked(None, p, True)),  # type: ignore[arg-type]
        ("plane_line parallel ValueError", lambda: geometry.plane_line(Plane(Vec3d(0, 0, 1), 0.0), Vec3d(0, 0, 1),
                                                                       Vec3d(1, 0, 1))),
        ("Plane.from_points collinear", lambda: Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(2, 0, 0))),
        ("Quat.to_axis_angle of zero", lambda: Quat(0, 0, 0, 0).to_axis_angle()),
        ("Vec3d.__eq__ called unbound with a foreign receiver", lambda: Vec3d.__eq__(Quat(1, 0, 0, 0), p)),  # type: ignore[arg-type]
    ]
    return [Case(f"explicit: {name}", quietly(call)) for name, call in listed]


# ---- running ----


class NativeStderr:
    """File descriptor 2 sent to a file while cases run (the module's panic reports land there)."""

    def __init__(self, path: Path) -> None:
        self.path = path
        self.saved = -1

    def __enter__(self) -> NativeStderr:
        sys.stderr.flush()
        self.saved = os.dup(2)
        target = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        os.dup2(target, 2)
        os.close(target)
        return self

    def __exit__(self, *exc: object) -> None:
        sys.stderr.flush()
        os.dup2(self.saved, 2)
        os.close(self.saved)

    def truncate(self) -> None:
        os.truncate(self.path, 0)

    def tail(self, lines: int = 20) -> str:
        return "\n".join(self.path.read_text(errors="replace").splitlines()[-lines:])


def over_slack(delta: tuple[int, int, int]) -> bool:
    return any(d > slack for d, slack in zip(delta, SLACK))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=ITERATIONS)
    parser.add_argument("--only", default="", help="run only the cases whose name contains this text")
    parser.add_argument("--list", action="store_true", help="list the cases and exit")
    parser.add_argument("--native-log", type=Path, default=None)
    options = parser.parse_args()

    if not hasattr(sys, "gettotalrefcount"):
        print("this check needs a debug interpreter (configured --with-pydebug)", file=sys.stderr)
        return 2
    if threading.active_count() != 1:
        print("this check must start in a process without other Python threads", file=sys.stderr)
        return 2

    cases, uncovered = generated_cases()
    cases += explicit_cases()
    cases = [c for c in cases if options.only in c.name]
    if options.list:
        for case in cases:
            print(case.name)
        return 0
    print(f"quorvane from {quorvane.__file__}")
    print(f"{len(cases)} cases, {WARMUP} warm-up calls and {options.iterations} measured calls each; "
          "slack per round: " + ", ".join(f"{name} {slack}" for name, slack in zip(COUNTS, SLACK)))
    if malloc_in_use is None:
        print("mallinfo2 is not available: malloc bytes are not counted")

    log = options.native_log or Path(tempfile.mkstemp(prefix="quorvane-refleak-", suffix=".log")[1])
    leaks: list[str] = []
    largest: list[tuple[int, str]] = [(0, "")] * 3
    with NativeStderr(log) as native:
        for case in cases:
            native.truncate()
            for _ in range(WARMUP):
                case.run()
            rounds = [measure(case.run, options.iterations)]
            while over_slack(rounds[-1]) and len(rounds) <= CONFIRMING_ROUNDS:
                rounds.append(measure(case.run, options.iterations))
            if over_slack(rounds[-1]):
                text = "; ".join(" ".join(f"{d:+d}" for d in r) for r in rounds)
                leaks.append(f"{case.name}: {text}")
            else:
                for index, change in enumerate(rounds[-1]):
                    if abs(change) > abs(largest[index][0]):
                        largest[index] = (change, case.name)

    if threading.active_count() != 1:
        leaks.append(f"a case started Python threads ({threading.active_count() - 1} still running)")
    for gap in uncovered:
        print(f"NOT COVERED  {gap}")
    if leaks:
        print(f"leaks (each round: change of {', '.join(COUNTS)}):")
    for leak in leaks:
        print(f"LEAK  {leak}")
    if leaks or uncovered:
        print(f"last native reports ({log}):\n{NativeStderr(log).tail()}")
        print(f"FAILED: {len(leaks)} leaking cases, {len(uncovered)} members not covered")
        return 1
    if options.native_log is None:
        log.unlink()
    print(f"no leaks in {len(cases)} cases; the largest change in a passing round:")
    for name, (change, where) in zip(COUNTS, largest):
        print(f"  {name} {change:+d} ({where or 'none'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
