"""Making the names quorvane's classes report resolvable where pickle looks them up.

Every class of quorvane reports its module as "builtins" ("builtins.Vec3d"), but Python does not
find it there: `pickle.dumps(Vec3d)` fails, and cloudpickle, finding no class under that name,
copies the class by value, which a C type cannot survive. install() teaches the builtins module
to answer `getattr(builtins, "Vec3d")` with `quorvane.Vec3d`.

It does so by giving the builtins module object a subclass of its own module class whose
attribute lookup turns to quorvane's classes only after the usual lookup has failed, so every
existing name of builtins, and any `__getattr__` someone else put in its namespace, still comes
first. The namespace itself gains no entry: a bare `Vec3d` in code still raises NameError,
`dir(builtins)` is unchanged, and name resolution in functions (which reads the builtins
dictionary directly) is untouched. A PEP 562 `__getattr__` stored in the builtins dictionary
would have worked too, but would itself have become a builtin name visible to every module.
What does change is `type(builtins)`, a subclass of the module class; picklers that look a
module's reduction up by its exact class are given the same one for it (see install()).
"""

from __future__ import annotations

import builtins
import copyreg
import importlib
import threading
import types
from typing import Any

import quorvane

INSTALL_HINT = "quorvane_dask.install()"
# The module classes this package made; install() recognises its own work by them. Kept here,
# not on the classes, where they would show as attributes of builtins.
_made: list[type] = []
_install_lock = threading.Lock()


def _classes_of(holder: Any) -> dict[str, type]:
    found = {}
    for name in getattr(holder, "__all__", dir(holder)):
        value = getattr(holder, name, None)
        if isinstance(value, type) and value.__qualname__ == name:
            found[name] = value
    return found


def class_table() -> dict[str, type]:
    """The classes of quorvane and quorvane.geometry, which report "builtins" as their module, and
    those of quorvane.spatial where this build has it, by name."""
    table = {name: cls for holder in (quorvane, quorvane.geometry)
             for name, cls in _classes_of(holder).items() if cls.__module__ == "builtins"}
    spatial = getattr(quorvane, "spatial", None)
    return table if spatial is None else {**_classes_of(spatial), **table}


def _make_module_class(base: type, classes: dict[str, type]) -> type:
    look_up: Any = getattr(base, "__getattribute__")  # noqa: B009 - the base's own, unbound

    # __getattribute__ rather than __getattr__: a module already has the first, so overriding it
    # adds no attribute that `hasattr(builtins, "__getattr__")` would find. The failure of the
    # usual lookup is re-raised as it is, with its own text and attributes.
    def __getattribute__(self: types.ModuleType, name: str) -> Any:
        try:
            return look_up(self, name)
        except AttributeError:
            found = classes.get(name)
            if found is None:
                raise
            return found

    # Named as the class it extends; its __module__ (this module) says who made it.
    return type(base.__name__, (base,), {"__getattribute__": __getattribute__})


def _module_by_name(module: types.ModuleType) -> tuple[Any, tuple[str]]:
    return importlib.import_module, (module.__name__,)


def installed() -> bool:
    return any(made in type(builtins).__mro__ for made in _made)


def install() -> None:
    """Makes `getattr(builtins, name)` give quorvane's class of that name, for every class that
    reports its module as builtins. Idempotent, and safe to call from several threads at once."""
    with _install_lock:
        if installed():
            return
        made = _make_module_class(type(builtins), class_table())
        _made.append(made)
        # Picklers find the reduction of a module by its exact class (cloudpickle sends a module
        # a function names by reference that way); the new class gets the same treatment.
        copyreg.pickle(made, _module_by_name)
        setattr(builtins, "__class__", made)  # noqa: B010 - the module is typed as having no such attribute


def uninstall() -> None:
    """Undoes install(), if this package's module class is still the outermost one."""
    with _install_lock:
        current = type(builtins)
        if current in _made:
            setattr(builtins, "__class__", current.__mro__[1])  # noqa: B010
            _made.remove(current)
            copyreg.dispatch_table.pop(current, None)


def not_installed_error(error: BaseException) -> RuntimeError | None:
    """The error to raise instead of `error`, which unpickling raised, if it comes from a missing
    install(); None if it does not."""
    if installed() or not isinstance(error, AttributeError):
        return None
    text = str(error)
    if "builtins" not in text or not any(repr(name) in text for name in class_table()):
        return None
    return RuntimeError(f"a quorvane class could not be found by the name it reports ({text}): "
                        f"call {INSTALL_HINT} in this process first (on Dask workers, "
                        "quorvane_dask.connect(client) does it)")
