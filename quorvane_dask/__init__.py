"""quorvane with Dask: classes that pickle by reference, tokens of values' bits, panics that reach
the client, and ready-made operations on Dask arrays of points.

Importing this package changes nothing; install() (here) and connect(client) (here, on the
scheduler and on every worker) set a process up. Dask itself is needed only by connect(), the
plugins and the array operations: pip install "quorvane[dask]".
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

from quorvane_dask._guard import guard
from quorvane_dask._install import dask_setup, install

if TYPE_CHECKING:
    from quorvane_dask._arrays import bounds, distance_to, dot, mean, nearest, normalize, rotated, sum
    from quorvane_dask._plugin import QuorvanePlugin, QuorvaneSchedulerPlugin, connect

__all__ = ["QuorvanePlugin", "QuorvaneSchedulerPlugin", "bounds", "connect", "dask_setup", "distance_to", "dot",
           "guard", "install", "mean", "nearest", "normalize", "rotated", "sum"]

# Imported when first asked for, so that install() needs neither distributed nor numpy.
_LAZY = {"QuorvanePlugin": "_plugin", "QuorvaneSchedulerPlugin": "_plugin", "connect": "_plugin",
         **dict.fromkeys(["bounds", "distance_to", "dot", "mean", "nearest", "normalize", "rotated", "sum"], "_arrays")}


def __getattr__(name: str) -> Any:
    if name in _LAZY:
        return getattr(importlib.import_module(f"{__name__}.{_LAZY[name]}"), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
