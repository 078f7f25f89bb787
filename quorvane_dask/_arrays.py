"""Ready-made operations on Dask arrays of points: shape (n, 3), float64, chunked by rows.

Each operation is one task per chunk that loads the chunk into a VecList (`from_array`, one copy)
and hands the list's result back as a numpy view of its own memory (no copy). Per-element
results are therefore the bits a single VecList over all points gives. The reductions combine
the chunks' results in an order fixed by the chunking, never by the workers' timing, with the
list's own rules, so that they too equal the single-list result bit for bit.
"""

from __future__ import annotations

import math
from typing import Any, Callable

import numpy as np
from quorvane import Quat, Vec3d, VecList

from quorvane_dask._modules import imported

# What dask hands out; its types are not known to every type checker here (see _modules).
DaskArray = Any
Delayed = Any

# VecList.sum adds blocks of this many consecutive elements, then the blocks' sums in order.
SUM_BLOCK = 4096
# How many partial results one combining task takes.
FAN_IN = 8


def _points(points: Any, operation: str) -> DaskArray:
    if not isinstance(points, imported("dask.array").Array):
        raise TypeError(f"{operation}() needs a dask array of points, not {type(points).__name__}")
    if points.ndim != 2 or points.shape[1] != 3:
        raise ValueError(f"{operation}() needs points of shape (n, 3), not {points.shape}")
    if points.dtype != np.float64:
        raise TypeError(f"{operation}() needs points of dtype float64, not {points.dtype}")
    if any(math.isnan(size) for size in points.chunks[0]):
        raise ValueError(f"{operation}() needs known chunk sizes: call compute_chunk_sizes() first")
    return points if len(points.chunks[1]) == 1 else points.rechunk({1: 3})


def _operand(value: Any, kind: type, name: str, operation: str) -> Any:
    if not isinstance(value, kind):
        raise TypeError(f"{operation}() needs a {kind.__name__} as {name}, not {type(value).__name__}")
    return value


def _require_points(points: DaskArray, operation: str) -> None:
    if points.shape[0] == 0:
        raise ValueError(f"{operation}() needs at least one point, and the array is empty")


def _require_member(name: str) -> None:
    if not hasattr(VecList, name):
        raise NotImplementedError(f"this quorvane's VecList has no {name}()")


def _chunk_list(block: np.ndarray) -> VecList:
    return VecList.from_array(np.ascontiguousarray(block))


def _reduced(points: VecList, name: str) -> Any:
    # Through getattr while some builds of quorvane lack the reduction (see _require_member).
    return getattr(points, name)()


# ---- one task per chunk, results per point ----

def _rotated_chunk(block: np.ndarray, quat: Quat) -> np.ndarray:
    return np.asarray(_chunk_list(block).rotated(quat))


def _normalized_chunk(block: np.ndarray) -> np.ndarray:
    return np.asarray(_chunk_list(block).normalize())


def _distance_chunk(block: np.ndarray, probe: Vec3d) -> np.ndarray:
    return np.asarray(_chunk_list(block).distance_to_array(probe))


def _dot_chunk(block: np.ndarray, vector: Vec3d) -> np.ndarray:
    return np.asarray(_chunk_list(block).dot_array(vector))


def rotated(points: DaskArray, quat: Quat) -> DaskArray:
    """Every point rotated by quat (VecList.rotated), as an (n, 3) array chunked as points."""
    points = _points(points, "rotated")
    return points.map_blocks(_rotated_chunk, _operand(quat, Quat, "quat", "rotated"), dtype=np.float64)


def normalize(points: DaskArray) -> DaskArray:
    """Every point scaled to length one (VecList.normalize), as an (n, 3) array."""
    return _points(points, "normalize").map_blocks(_normalized_chunk, dtype=np.float64)


def distance_to(points: DaskArray, p: Vec3d) -> DaskArray:
    """The distance of every point from p (VecList.distance_to_array), as an (n,) array."""
    points = _points(points, "distance_to")
    return points.map_blocks(_distance_chunk, _operand(p, Vec3d, "p", "distance_to"),
                             drop_axis=1, dtype=np.float64)


def dot(points: DaskArray, v: Vec3d) -> DaskArray:
    """The dot product of every point with v (VecList.dot_array), as an (n,) array."""
    points = _points(points, "dot")
    return points.map_blocks(_dot_chunk, _operand(v, Vec3d, "v", "dot"), drop_axis=1, dtype=np.float64)


# ---- reductions: one task per chunk, then a tree of combining tasks in chunk order ----

def _chunks_with_offsets(points: DaskArray) -> list[tuple[Any, int]]:
    blocks = points.to_delayed().ravel()
    offsets = np.cumsum((0,) + points.chunks[0][:-1]).tolist()
    return list(zip(blocks, offsets))


def _tree(parts: list[Any], combine: Callable[..., Any]) -> Any:
    """Combines delayed parts FAN_IN at a time, keeping their order, until one is left."""
    delayed = imported("dask").delayed
    while len(parts) > 1:
        parts = [delayed(combine, pure=True)(*parts[i:i + FAN_IN]) for i in range(0, len(parts), FAN_IN)]
    return parts[0]


def _nearest_chunk(block: np.ndarray, probe: Vec3d, offset: int) -> tuple[int, float] | None:
    if len(block) == 0:
        return None
    index, distance = _chunk_list(block).minimum_distance_to(probe, 1)
    return offset + index, distance


def _nearest_rank(candidate: tuple[int, float]) -> tuple[bool, float, int]:
    # The list's rule: the least distance, then the lowest index; a NaN distance never wins over
    # a number, and where every distance is NaN the lowest index does.
    index, distance = candidate
    nan = math.isnan(distance)
    return nan, 0.0 if nan else distance, index


def _nearest_combine(*candidates: tuple[int, float] | None) -> tuple[int, float] | None:
    present = [c for c in candidates if c is not None]
    return min(present, key=_nearest_rank) if present else None


def nearest(points: DaskArray, p: Vec3d) -> Delayed:
    """The global index of the point nearest to p and its distance, as a Delayed (index, distance)
    pair: what VecList.minimum_distance_to(p, 1) gives on all the points, ties to the lowest index."""
    delayed = imported("dask").delayed
    points = _points(points, "nearest")
    _require_points(points, "nearest")
    probe = _operand(p, Vec3d, "p", "nearest")
    parts = [delayed(_nearest_chunk, pure=True)(block, probe, offset)
             for block, offset in _chunks_with_offsets(points)]
    return _tree(parts, _nearest_combine)


def _sum_pieces(block: np.ndarray, offset: int, total: int) -> list[tuple[int, Any]]:
    """The chunk's share of each block of VecList.sum: the block's sum where the chunk holds the
    whole block, else its rows, which the chunk holding the rest of the block continues."""
    pieces: list[tuple[int, Any]] = []
    start = 0
    while start < len(block):
        number = (offset + start) // SUM_BLOCK
        end = min(len(block), (number + 1) * SUM_BLOCK - offset)
        whole = (offset + start) % SUM_BLOCK == 0 and offset + end == min(total, (number + 1) * SUM_BLOCK)
        rows = block[start:end]
        pieces.append((number, _reduced(_chunk_list(rows), "sum") if whole else np.array(rows)))
        start = end
    return pieces


def _join_pieces(*parts: list[tuple[int, Any]]) -> list[tuple[int, Any]]:
    return [piece for part in parts for piece in part]


def _fold_pieces(pieces: list[tuple[int, Any]]) -> Vec3d:
    block_sums: list[Vec3d] = []
    rows: list[np.ndarray] = []
    for position, (number, piece) in enumerate(pieces):
        if isinstance(piece, Vec3d):
            block_sums.append(piece)
            continue
        rows.append(piece)
        if position + 1 == len(pieces) or pieces[position + 1][0] != number:
            block_sums.append(_reduced(_chunk_list(np.concatenate(rows)), "sum"))
            rows = []
    if not block_sums:
        return Vec3d.zero()
    total = block_sums[0]
    for block_sum in block_sums[1:]:
        total = total + block_sum
    return total


def _sum_delayed(points: DaskArray) -> Delayed:
    delayed = imported("dask").delayed
    total = points.shape[0]
    parts = [delayed(_sum_pieces, pure=True)(block, offset, total)
             for block, offset in _chunks_with_offsets(points)]
    return delayed(_fold_pieces, pure=True)(_tree(parts, _join_pieces))


def sum(points: DaskArray) -> Delayed:  # noqa: A001 - the list's name for it
    """The sum of the points as a Delayed Vec3d, bit for bit VecList.sum() of all of them; the
    zero vector for no points."""
    _require_member("sum")
    return _sum_delayed(_points(points, "sum"))


def _divide(total: Vec3d, count: int) -> Vec3d:
    return total / float(count)


def mean(points: DaskArray) -> Delayed:
    """The mean of the points as a Delayed Vec3d, bit for bit VecList.mean() of all of them."""
    delayed = imported("dask").delayed
    _require_member("mean")
    points = _points(points, "mean")
    _require_points(points, "mean")
    return delayed(_divide, pure=True)(_sum_delayed(points), points.shape[0])


def _bounds_chunk(block: np.ndarray) -> tuple[Vec3d, Vec3d] | None:
    return _reduced(_chunk_list(block), "bounds") if len(block) else None


def _bounds_combine(*parts: tuple[Vec3d, Vec3d] | None) -> tuple[Vec3d, Vec3d] | None:
    # The bounds of the earlier parts' bounds, in order, by the list's own rules (its order of
    # -0 and +0 and its choice among NaNs depend on that order).
    present = [corner for part in parts if part is not None for corner in part]
    return _reduced(VecList(present), "bounds") if present else None


def bounds(points: DaskArray) -> Delayed:
    """The least and greatest coordinates, as a Delayed pair of Vec3d, bit for bit
    VecList.bounds() of all the points."""
    delayed = imported("dask").delayed
    _require_member("bounds")
    points = _points(points, "bounds")
    _require_points(points, "bounds")
    parts = [delayed(_bounds_chunk, pure=True)(block) for block, _ in _chunks_with_offsets(points)]
    return _tree(parts, _bounds_combine)
