"""The stubs as an editor shows them: every member explained, every example true, no false promise.

The stubs are where an editor's hover and a type checker read about quorvane, so each class,
method, property and function there carries a docstring, the examples in those docstrings hold
at run time, and an operator the stubs declare is one the run time supports.
"""

from __future__ import annotations

import ast
import doctest
import importlib.util
import operator
import re
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import pytest

import quorvane
from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry, spatial


def stub_folder() -> Path:
    """The tree's stubs, or, in a copy of the tests outside the tree, those installed beside the module."""
    for folder in (Path(__file__).resolve().parents[1] / "stubs" / "quorvane-stubs",
                   Path(quorvane.__file__).resolve().parent / "quorvane-stubs"):
        if folder.is_dir():
            return folder
    pytest.skip("no quorvane-stubs folder in the tree or beside the module")


STUBS = stub_folder()
STUB_FILES = sorted(STUBS.glob("*.pyi"))
DocumentedNode = ast.Module | ast.ClassDef | ast.FunctionDef


def documented_nodes(tree: ast.Module) -> Iterator[tuple[str, DocumentedNode]]:
    """The module, its classes and functions, and their members, with qualified names.

    A property setter shares the getter's docstring, so it is not listed.
    """
    yield "", tree

    def members(body: list[ast.stmt], prefix: str) -> Iterator[tuple[str, DocumentedNode]]:
        for node in body:
            if isinstance(node, ast.ClassDef):
                yield prefix + node.name, node
                yield from members(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.FunctionDef):
                if not any(ast.unparse(d).endswith(".setter") for d in node.decorator_list):
                    yield prefix + node.name, node

    yield from members(tree.body, "")


def parsed(stub: Path) -> ast.Module:
    return ast.parse(stub.read_text(encoding="utf-8"), filename=str(stub))


def test_every_stub_file_is_found() -> None:
    assert [stub.name for stub in STUB_FILES] == ["__init__.pyi", "geometry.pyi", "spatial.pyi"]


@pytest.mark.parametrize("stub", STUB_FILES, ids=[stub.name for stub in STUB_FILES])
def test_every_class_member_and_function_has_a_docstring(stub: Path) -> None:
    undocumented = [name or "(the module)" for name, node in documented_nodes(parsed(stub))
                    if not ast.get_docstring(node)]
    assert undocumented == []


def docstring_examples() -> Iterator[object]:
    for stub in STUB_FILES:
        for name, node in documented_nodes(parsed(stub)):
            docstring = ast.get_docstring(node)
            if docstring and ">>>" in docstring:
                label = f"{stub.stem}.{name}" if name else stub.stem
                line = node.lineno if isinstance(node, ast.ClassDef | ast.FunctionDef) else 1
                yield pytest.param(label, docstring, line, id=label)


# A module an example imports (examples may stand indented under a heading of the docstring).
IMPORTED = re.compile(r"^\s*>>> (?:import|from) (\w+)", re.MULTILINE)

# The names an example may use without importing them, as if written inside the module.
EXAMPLE_NAMES = {**{name: getattr(quorvane, name) for name in quorvane.__all__},
                 **{name: getattr(geometry, name) for name in geometry.__all__},
                 **{name: getattr(spatial, name) for name in spatial.__all__}}


@pytest.mark.parametrize(("label", "docstring", "line"), list(docstring_examples()))
def test_docstring_examples_hold(label: str, docstring: str, line: int) -> None:
    missing = [name for name in IMPORTED.findall(docstring) if importlib.util.find_spec(name) is None]
    if missing:
        pytest.skip(f"the example needs {', '.join(missing)}, which is not installed here")
    test = doctest.DocTestParser().get_doctest(docstring, dict(EXAMPLE_NAMES), label, str(STUBS), line)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    result = runner.run(test)
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples of {label} failed (see above)"


# Two instances of every class the stubs name.
SAMPLES: dict[str, Callable[[], tuple[Any, Any]]] = {
    "AngleDegrees": lambda: (AngleDegrees(1), AngleDegrees(2)),
    "AngleRadians": lambda: (AngleRadians(1), AngleRadians(2)),
    "Quat": lambda: (Quat.identity(), Quat(0, 1, 0, 0)),
    "VecList": lambda: (VecList([]), VecList([Vec3d(1, 2, 3)])),
    "VecListIterator": lambda: (iter(VecList([])), iter(VecList([]))),
    "Vec3d": lambda: (Vec3d(1, 2, 3), Vec3d(4, 5, 6)),
    "Circle": lambda: (geometry.Circle.none(), geometry.Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))),
    "Plane": lambda: (geometry.Plane.xy(), geometry.Plane.xz()),
    "KdTree": lambda: (spatial.KdTree(VecList([])), spatial.KdTree(VecList([Vec3d(1, 2, 3)]))),
}
ORDERINGS = {"__lt__": operator.lt, "__le__": operator.le, "__gt__": operator.gt, "__ge__": operator.ge}


def stub_classes() -> dict[str, set[str]]:
    """Every class of the stubs, with the names of the methods it declares."""
    return {node.name: {member.name for member in node.body if isinstance(member, ast.FunctionDef)}
            for stub in STUB_FILES for node in ast.walk(parsed(stub)) if isinstance(node, ast.ClassDef)}


def test_orderings_are_declared_exactly_where_they_work() -> None:
    classes = stub_classes()
    assert sorted(classes) == sorted(SAMPLES)
    mismatches = []
    for name, declared in classes.items():
        left, right = SAMPLES[name]()
        for method, compare in ORDERINGS.items():
            try:
                compare(left, right)
                works = True
            except TypeError:
                works = False
            if works != (method in declared):
                mismatches.append(f"{name}.{method}: {'works' if works else 'raises'} at run time, "
                                  f"{'declared' if method in declared else 'missing'} in the stubs")
    assert mismatches == []


# ---- every member's parameters: the module's text signature and the stub name the same ----


def declared_members() -> Iterator[tuple[str, Any, ast.FunctionDef]]:
    """(qualified name, run-time object, stub definition) of each callable the module declares
    itself, with its text signature: methods, static methods, constructors, module functions."""
    modules = {"__init__.pyi": quorvane, "geometry.pyi": geometry, "spatial.pyi": spatial}
    for stub in STUB_FILES:
        module = modules[stub.name]
        for node in parsed(stub).body:
            owners = [(node.name, getattr(module, node.name, None), node.body)] if isinstance(node, ast.ClassDef) \
                else [("", module, [node])]
            for owner_name, owner, body in owners:
                for member in body:
                    if not isinstance(member, ast.FunctionDef):
                        continue
                    runtime = owner if member.name == "__new__" else getattr(owner, member.name, None)
                    if type(runtime).__name__ in ("method_descriptor", "builtin_function_or_method", "type") \
                            and getattr(runtime, "__text_signature__", None):
                        yield f"{owner_name}.{member.name}".lstrip("."), runtime, member


DECLARED = list(declared_members())


def test_every_member_with_a_signature_is_compared() -> None:
    names = {name for name, _, _ in DECLARED}
    assert {"Vec3d.__new__", "Vec3d.dot", "Vec3d.new_from_to", "Quat.slerp", "VecList.__array__", "VecList.dot_array",
            "plane_line", "Circle.__new__"} <= names
    assert len(DECLARED) > 100


@pytest.mark.parametrize(("name", "runtime", "stub"), DECLARED, ids=[name for name, _, _ in DECLARED])
def test_the_text_signature_names_the_stubs_parameters(name: str, runtime: Any, stub: ast.FunctionDef) -> None:
    text = runtime.__text_signature__
    declared = [part.strip() for part in text[1:-1].split(",") if part.strip()]
    declared = [part for part in declared if not part.startswith("$") and part != "/"]
    stubbed = [arg for arg in stub.args.posonlyargs + stub.args.args if arg.arg not in ("self", "cls")]
    defaults = [None] * (len(stubbed) - len(stub.args.defaults)) + [ast.unparse(d) for d in stub.args.defaults]
    # a name that is a Python keyword ("from") is written with a trailing underscore in the stub
    assert declared == [arg.arg.removesuffix("_") + (f"={default}" if default else "")
                        for arg, default in zip(stubbed, defaults)], name
