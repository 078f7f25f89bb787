"""quorvane_dask.install(): quorvane's classes found by the names they report, so that pickle and
cloudpickle send them by reference; nothing else about builtins changes; guard() and its errors."""

from __future__ import annotations

import builtins
import pickle
import sys

import pytest
from conftest import race
from dask_user_code import run_python, user_code

import quorvane
import quorvane_dask
from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList
from quorvane_dask import _install, _names

CLASSES = [AngleDegrees, AngleRadians, Quat, Vec3d, VecList, quorvane.geometry.Plane, quorvane.geometry.Circle]
METHODS = [Quat.slerp, Vec3d.cross, VecList.from_array, VecList.rotated, quorvane.geometry.Circle.none]


@pytest.fixture
def installed() -> object:
    quorvane_dask.install()
    yield
    _install.uninstall()


def test_the_failures_install_removes() -> None:
    """Without install() a class does not pickle, and cloudpickle copies it by value."""
    cloudpickle = pytest.importorskip("cloudpickle")
    assert not _names.installed()
    with pytest.raises(pickle.PicklingError, match="attribute lookup Vec3d on builtins failed"):
        pickle.dumps(Vec3d)
    assert b"_make_skeleton_class" in cloudpickle.dumps(user_code()["shifted"])


@pytest.mark.usefixtures("installed")
class TestInstalled:
    @pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
    def test_each_class_is_found_by_its_reported_name_and_pickles_by_reference(self, cls: type) -> None:
        assert cls.__module__ == "builtins"
        assert getattr(builtins, cls.__name__) is cls
        assert pickle.loads(pickle.dumps(cls)) is cls
        assert pickle.dumps(cls) == pickle.dumps(cls, protocol=4)  # a name, not a copy

    @pytest.mark.parametrize("method", METHODS, ids=lambda m: m.__qualname__)
    def test_methods_through_the_class_pickle(self, method: object) -> None:
        assert pickle.loads(pickle.dumps(method)) == method

    @pytest.mark.parametrize("name", ["shifted", "length", "floor", "kinds"])
    def test_script_functions_travel_with_their_classes_by_reference(self, name: str) -> None:
        cloudpickle = pytest.importorskip("cloudpickle")
        data = cloudpickle.dumps(user_code()[name])
        assert b"_make_skeleton_class" not in data
        copy = pickle.loads(data)
        assert all(value is getattr(quorvane, value.__name__, value) for value in copy.__annotations__.values())
        assert copy.__globals__.get("Vec3d", Vec3d) is Vec3d

    def test_install_again_changes_nothing(self) -> None:
        before = type(builtins)
        results = race([quorvane_dask.install] * 4)
        assert results == [None] * 4 and type(builtins) is before

    def test_builtins_gains_no_visible_name(self) -> None:
        assert "Vec3d" not in vars(builtins) and "__getattr__" not in vars(builtins)
        with pytest.raises(NameError):
            eval("Vec3d", {})  # noqa: S307 - a bare name still is not a builtin

    @pytest.mark.parametrize("name", ["no_such_name", "vec3d", "PanicException", "geometry", "__getattr__"])
    def test_other_lookups_fail_as_before(self, name: str) -> None:
        with pytest.raises(AttributeError) as raised:
            getattr(builtins, name)
        assert str(raised.value) == f"module 'builtins' has no attribute {name!r}"
        assert raised.value.name == name and raised.value.obj is builtins
        assert not hasattr(builtins, name)

    def test_a_script_function_that_names_the_builtins_module_still_pickles(self) -> None:
        cloudpickle = pytest.importorskip("cloudpickle")
        namespace = {"__name__": "__main__", "builtins": builtins}
        exec("def open_of():\n    return builtins.open", namespace)  # noqa: S102
        assert pickle.loads(cloudpickle.dumps(namespace["open_of"]))() is open

    def test_uninstall_restores_the_module_class(self) -> None:
        _names.uninstall()
        assert type(builtins) is type(sys) and not hasattr(builtins, "Vec3d")


IMPORT_ONLY = """
import builtins, quorvane, quorvane_dask
print(type(builtins) is type(quorvane), hasattr(builtins, "Vec3d"))
"""


# In a process of its own: it changes the builtins namespace, which tests in other threads share.
THEIR_GETATTR = """
import builtins, quorvane, quorvane_dask
def theirs(name):
    if name == "anything":
        return "theirs: " + name
    raise AttributeError(name)
vars(builtins)["__getattr__"] = theirs
quorvane_dask.install()
print(builtins.anything, getattr(builtins, "Vec3d") is quorvane.Vec3d)
"""


def test_a_getattr_someone_else_put_in_builtins_still_answers_first() -> None:
    done = run_python(THEIR_GETATTR)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().split() == ["theirs:", "anything", "True"]


def test_importing_installs_nothing() -> None:
    done = run_python(IMPORT_ONLY)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().split() == ["True", "False"]


# ---- guard ----

def test_guard_turns_a_panic_into_a_runtime_error_with_the_panic_as_cause() -> None:
    panics = quorvane_dask.guard(user_code()["panics"])
    with pytest.raises(RuntimeError) as raised:
        panics()
    cause = raised.value.__cause__
    assert raised.value.args == ("called `Option::unwrap()` on a `None` value",)
    assert cause is not None and type(cause).__qualname__ == "PanicException"
    assert type(cause).__module__ == "pyo3_runtime" and cause.args == raised.value.args


@pytest.mark.parametrize("error", [ValueError("v"), KeyboardInterrupt(), SystemExit(3), RuntimeError("r")],
                         ids=lambda e: type(e).__name__)
def test_guard_lets_every_other_exception_through_unchanged(error: BaseException) -> None:
    def fails() -> None:
        raise error

    with pytest.raises(type(error)) as raised:
        quorvane_dask.guard(fails)()
    assert raised.value is error and raised.value.__cause__ is None


def test_guard_keeps_the_function_s_name_and_result() -> None:
    guarded = quorvane_dask.guard(user_code()["length"])
    assert guarded.__name__ == "length" and guarded(Vec3d(3, 4, 0)) == 5.0
    with pytest.raises(TypeError, match="guard\\(\\) needs a callable, not int"):
        quorvane_dask.guard(5)  # type: ignore[arg-type]


def test_a_guarded_function_pickles_only_after_install() -> None:
    pytest.importorskip("cloudpickle")
    with pytest.raises(RuntimeError, match=r"call quorvane_dask\.install\(\) before"):
        pickle.dumps(quorvane_dask.guard(user_code()["length"]))


# Loads a guarded script function in a process that never called install(), and calls it.
LOAD_WITHOUT_INSTALL = """
import pickle, sys
task = pickle.loads(sys.stdin.buffer.read())
try:
    task()
except RuntimeError as error:
    print(error)
"""


@pytest.mark.usefixtures("installed")
def test_a_process_without_install_says_to_call_it() -> None:
    pytest.importorskip("cloudpickle")
    done = run_python(LOAD_WITHOUT_INSTALL, stdin=pickle.dumps(quorvane_dask.guard(user_code()["kinds"])))
    assert done.returncode == 0, done.stderr
    assert "call quorvane_dask.install() in this process first" in done.stdout.decode()
    assert "'Vec3d'" in done.stdout.decode() or "'VecList'" in done.stdout.decode()

