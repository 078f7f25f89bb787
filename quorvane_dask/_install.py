"""install(): everything this package sets up in a process, in one explicit call."""

from __future__ import annotations

import sys
from typing import Any

from quorvane_dask import _names, _tokens
from quorvane_dask._modules import imported

# Dask's setting that names the modules every new client runs (their dask_setup) once started.
CLIENT_PRELOAD = "distributed.client.preload"


def install() -> None:
    """Makes quorvane's classes resolvable by the names they report (so that pickle and
    cloudpickle send them, their methods and functions that use them by reference), gives dask
    tokens of their values' bits, and, where Dask is installed, connects this process's current
    Dask client and every client made here from now on (quorvane_dask.connect). Idempotent.
    Importing quorvane or quorvane_dask does none of it."""
    # Only the call that sets the process up connects: a later one (say, in every task) costs
    # no round trip to the scheduler.
    first = not _names.installed()
    if set_up_process() and first:
        _connect_current_client()


def set_up_process() -> bool:
    """install() without connecting a client that exists already; True where Dask is installed."""
    _names.install()
    if not _tokens.register_tokens():
        return False
    _connect_new_clients()
    return True


def _connect_current_client() -> None:
    distributed = sys.modules.get("distributed")
    if distributed is None:
        return  # not imported yet, so no client exists
    try:
        client = distributed.default_client()
    except ValueError:
        return
    # An asynchronous client, or one whose event loop is this thread, cannot be waited for here.
    if not client.asynchronous:
        from quorvane_dask._plugin import connect

        connect(client)


def _connect_new_clients() -> None:
    # A worker that never ran install() cannot read a task that names a class, and Dask does not
    # report that: the client would wait for ever. A client that connects itself as it starts
    # closes that gap for every cluster it reaches, without a call the user could forget.
    config, preloads = _client_preloads()
    if __package__ not in preloads:
        config.set({CLIENT_PRELOAD: [*preloads, __package__]})


def uninstall() -> None:
    """Undoes install() as far as it can (tokens stay registered): for tests."""
    _names.uninstall()
    try:
        config, preloads = _client_preloads()
    except ImportError:
        return
    if __package__ in preloads:
        config.set({CLIENT_PRELOAD: [name for name in preloads if name != __package__]})


def _client_preloads() -> tuple[Any, list[str]]:
    config = imported("dask.config")
    return config, list(config.get(CLIENT_PRELOAD, default=None) or [])


def dask_setup(dask_object: Any) -> Any:
    """The hook of Dask's preloads: `dask worker --preload quorvane_dask` and `dask scheduler
    --preload quorvane_dask` call install() there; a client (the preload install() adds) is
    connected, from its own event loop."""
    set_up_process()
    if isinstance(dask_object, imported("distributed").Client):
        from quorvane_dask._plugin import connect_starting_client

        return connect_starting_client(dask_object)
    return None
