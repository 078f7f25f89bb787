"""Dask tokens for quorvane values: the class's name and the value's stored bits, so that equal
bits give equal tokens in every process and any other bits (-0.0, another NaN) another token."""

from __future__ import annotations

import hashlib
import pickle
from typing import Any

from quorvane_dask._modules import imported
from quorvane_dask._names import class_table


def stored_bits(value: Any) -> tuple[str, str]:
    """The class name and a digest of the value's pickle, which holds its class by name and its
    doubles as they are stored (a VecList's whole block out of band, read without a copy)."""
    buffers: list[pickle.PickleBuffer] = []
    digest = hashlib.sha256(pickle.dumps(value, protocol=5, buffer_callback=buffers.append))
    for buffer in buffers:
        digest.update(buffer.raw())
    return type(value).__qualname__, digest.hexdigest()


def register_tokens() -> bool:
    """Registers stored_bits with dask's tokenizer for every class; False where dask is missing."""
    try:
        normalize_token = imported("dask.base").normalize_token
    except ImportError:
        return False
    for cls in class_table().values():
        if cls.__module__ == "builtins":  # the classes of the module itself and of geometry
            normalize_token.register(cls, stored_bits)
    return True
