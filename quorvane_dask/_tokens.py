"""Dask tokens for quorvane values: the class's name and the value's stored bits, so that equal
bits give equal tokens in every process and any other bits (-0.0, another NaN) another token."""

from __future__ import annotations

import hashlib
import pickle
from typing import Any

from quorvane_dask._modules import imported
from quorvane_dask._names import class_table


def stored_bits(value: Any) -> tuple[str, str]:
    """The class name and a digest of exactly what the value's pickle stores. The state a value
    pickles is its raw doubles (a VecList hands its whole block, read without a copy)."""
    state = value.__reduce_ex__(5)[2]
    digest = hashlib.sha256()
    digest.update(state.raw() if isinstance(state, pickle.PickleBuffer) else state)
    return type(value).__qualname__, digest.hexdigest()


def register_tokens() -> bool:
    """Registers stored_bits with dask's tokenizer for every class; False where dask is missing."""
    try:
        normalize_token = imported("dask.base").normalize_token
    except ImportError:
        return False
    for cls in class_table().values():
        normalize_token.register(cls, stored_bits)
    return True
