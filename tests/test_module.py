"""The module object, its submodule and the properties every class shares."""

from __future__ import annotations

import importlib
import subprocess
import sys
import textwrap

import pytest

import quorvane
from quorvane import Vec3d


def test_interpreter_runs_without_the_gil_when_free_threaded() -> None:
    import sysconfig

    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        assert sys._is_gil_enabled() is False


def test_module_names_and_doc() -> None:
    assert quorvane.__all__ == ["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"]
    assert quorvane.__doc__ == ""
    for name in quorvane.__all__:
        assert hasattr(quorvane, name)


def test_geometry_is_an_attribute_only_submodule() -> None:
    geometry = quorvane.geometry
    assert geometry.__name__ == "quorvane.geometry"
    assert geometry.__doc__ == ""
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]
    assert "quorvane.geometry" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("quorvane.geometry")
    with pytest.raises(ModuleNotFoundError):
        exec("from quorvane.geometry import Plane", {})
    from quorvane import geometry as again

    assert again is geometry


def test_reimport_reuses_types_and_submodule() -> None:
    script = textwrap.dedent(
        """
        import sys
        import quorvane
        first = quorvane
        del sys.modules["quorvane"]
        import quorvane as second
        assert second is not first
        assert second.Vec3d is first.Vec3d
        assert second.geometry is first.geometry
        assert second.__all__ == first.__all__
        print("ok")
        """
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


def test_concurrent_first_import_creates_one_of_everything() -> None:
    script = textwrap.dedent(
        """
        import threading
        barrier = threading.Barrier(8)
        seen = []
        def first_use():
            barrier.wait()
            import quorvane
            seen.append((quorvane.Vec3d, quorvane.geometry, type(quorvane.Vec3d(1, 2, 3))))
        threads = [threading.Thread(target=first_use) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert len(seen) == 8 and len(set(seen)) == 1, seen
        print("ok")
        """
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


def test_classes_are_final_without_dict_or_weakrefs() -> None:
    with pytest.raises(TypeError):
        type("V", (Vec3d,), {})
    v = Vec3d(1, 2, 3)
    with pytest.raises(AttributeError):
        v.w = 1  # type: ignore[attr-defined]
    import weakref

    with pytest.raises(TypeError):
        weakref.ref(v)
    assert Vec3d.__module__ == "builtins"
    assert Vec3d.__name__ == Vec3d.__qualname__ == "Vec3d"
    assert repr(Vec3d) == "<class 'builtins.Vec3d'>"
    import gc

    assert not gc.is_tracked(v)


def test_signature_texts() -> None:
    assert Vec3d.__text_signature__ == "(x, y, z)"
    assert Vec3d.__doc__ is None or Vec3d.__doc__ == ""
    assert Vec3d.dot.__text_signature__ == "($self, other)"
    assert Vec3d.dot.__doc__ is None
    assert Vec3d.zero.__text_signature__ == "()"
    assert Vec3d.new_from_to.__text_signature__ == "(from, to)"


def panic_exception_type() -> type[BaseException]:
    """PanicException is reachable only through a raised instance."""
    import threading

    v = Vec3d(1, 2, 3)
    stop = threading.Event()

    def write() -> None:
        while not stop.is_set():
            try:
                v.x = 1.0
            except RuntimeError:
                pass

    writer = threading.Thread(target=write)
    writer.start()
    try:
        for _ in range(2_000_000):
            try:
                Vec3d(1, 2, 3) == v  # noqa: B015
            except BaseException as error:  # noqa: BLE001
                return type(error)
    finally:
        stop.set()
        writer.join()
    pytest.skip("the writer never held the vector at the right moment")


@pytest.mark.skipif(sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True, reason="needs real parallelism")
def test_panic_exception_is_a_base_exception() -> None:
    panic = panic_exception_type()
    assert panic.__name__ == "PanicException"
    assert panic.__module__ == "pyo3_runtime"
    assert panic.__mro__[1] is BaseException
    assert not issubclass(panic, Exception)
    assert panic.__doc__


# ---- sub-interpreters ----

SUB_INTERPRETER_FIRST = """
import sys, _interpreters
config, main_first = sys.argv[1], sys.argv[2] == "main first"
if main_first:
    import quorvane
interpreter = _interpreters.create(_interpreters.new_config(config))
failure = _interpreters.run_string(interpreter, "import quorvane")
print(failure.type.__name__ if failure else None)
print(failure.msg if failure else None)
import quorvane
from quorvane import Vec3d, VecList
print(repr(VecList([Vec3d(1, 2, 3), Vec3d(1, 1, 1)]).magnitude()[1] ** 2))
"""


@pytest.mark.parametrize("order", ["sub-interpreter first", "main first"])
@pytest.mark.parametrize(("config", "text"), [
    ("legacy", "quorvane does not support sub-interpreters"),
    ("isolated", "module quorvane does not support loading in subinterpreters"),
])
def test_a_sub_interpreter_is_refused_and_never_locks_out_the_main_one(config: str, text: str, order: str) -> None:
    pytest.importorskip("_interpreters")
    done = subprocess.run([sys.executable, "-c", SUB_INTERPRETER_FIRST, config, order], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["ImportError", text, "2.9999999999999996"]
