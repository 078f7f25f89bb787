"""guard(): a task function whose panics reach the client as ordinary exceptions.

PanicException derives from BaseException on purpose, so that `except Exception:` handlers let it
through. A Dask worker runs tasks under such a handler: a panic passes it, ends the task's thread
and leaves the future pending for ever. guard turns it into a RuntimeError at the task's edge.
"""

from __future__ import annotations

import functools
import pickle
from typing import Any, Callable, Generic, ParamSpec, TypeVar

from quorvane_dask._modules import imported
from quorvane_dask._names import INSTALL_HINT, installed, not_installed_error

P = ParamSpec("P")
R = TypeVar("R")


def is_panic(error: BaseException) -> bool:
    """PanicException is not an attribute of quorvane: it is recognised by its full name."""
    kind = type(error)
    return kind.__name__ == "PanicException" and kind.__module__ == "pyo3_runtime"


class guard(Generic[P, R]):  # noqa: N801 - used like a function, as functools.partial is
    """guard(fn): calls fn; a PanicException it raises becomes a RuntimeError with the same
    message, the panic chained as its cause. Any other exception passes unchanged."""

    def __init__(self, fn: Callable[P, R]) -> None:
        if not callable(fn):
            raise TypeError(f"guard() needs a callable, not {type(fn).__name__}")
        self.fn = fn
        functools.update_wrapper(self, fn)

    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R:
        try:
            return self.fn(*args, **kwargs)
        except BaseException as error:
            if is_panic(error):
                raise RuntimeError(*error.args) from error
            raise

    def __repr__(self) -> str:
        return f"guard({self.fn!r})"

    def __reduce__(self) -> tuple[Any, ...]:
        # The function travels as a pickle of its own, loaded by this package in the receiving
        # process: if its classes cannot be found there, the error says what to call.
        if not installed():
            raise RuntimeError(f"call {INSTALL_HINT} before sending a guarded function to another process")
        return _load_guarded, (imported("cloudpickle").dumps(self.fn, protocol=5),)

    def __dask_tokenize__(self) -> object:
        return "quorvane_dask.guard", imported("dask.base").normalize_token(self.fn)


def _load_guarded(payload: bytes) -> guard[Any, Any]:
    try:
        fn = pickle.loads(payload)
    except AttributeError as error:
        clearer = not_installed_error(error)
        if clearer is None:
            raise
        # Raised when the task runs, not now: a Dask worker that cannot unpickle a message it
        # was sent never answers it, while a task that fails reaches the client.
        return guard(functools.partial(_fail, str(clearer)))
    return guard(fn)


def _fail(message: str, *args: object, **kwargs: object) -> Any:
    raise RuntimeError(message)
