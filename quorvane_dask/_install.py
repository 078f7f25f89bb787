"""install(): everything this package sets up in a process, in one explicit call."""

from __future__ import annotations

from quorvane_dask import _names, _tokens


def install() -> None:
    """Makes quorvane's classes resolvable by the names they report (so that pickle and
    cloudpickle send them, their methods and functions that use them by reference) and gives dask
    tokens of their values' bits. Idempotent. Importing quorvane or quorvane_dask does none of it."""
    _names.install()
    _tokens.register_tokens()


def dask_setup(worker: object) -> None:
    """The hook of `dask worker --preload quorvane_dask`."""
    install()
