"""Dask, distributed and cloudpickle, imported when first needed and used untyped: they are an
optional extra, and type information for them is not installed everywhere this package is."""

from __future__ import annotations

import importlib
from typing import Any


def imported(name: str) -> Any:
    return importlib.import_module(name)
