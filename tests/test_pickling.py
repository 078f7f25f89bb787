"""Pickling and copying give back exactly the stored bits, for every class."""

from __future__ import annotations

import copy
import pickle
import struct

import pytest
from conftest import bits

import quorvane
from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList

Circle = quorvane.geometry.Circle
Plane = quorvane.geometry.Plane

from_bits = lambda pattern: struct.unpack("<d", struct.pack("<Q", pattern))[0]  # noqa: E731
negative_nan_with_payload = from_bits(0xFFF0000000000123 | (1 << 51))
signalling_style_nan = from_bits(0x7FF4000000000001)
SPECIAL = [-0.0, float("inf"), -float("inf"), negative_nan_with_payload, signalling_style_nan, 5e-324, 1.5]


def stored(obj: object) -> list[int]:
    """The bit patterns of everything an object stores."""
    if isinstance(obj, Vec3d):
        return [bits(obj.x), bits(obj.y), bits(obj.z)]
    if isinstance(obj, (AngleRadians, AngleDegrees)):
        return [bits(obj.angle)]
    if isinstance(obj, Quat):
        return [bits(obj.w), bits(obj.i), bits(obj.j), bits(obj.k)]
    if isinstance(obj, Plane):
        return stored(obj.normal) + [bits(obj.distance)]
    if isinstance(obj, Circle):
        return stored(obj.center) + [bits(obj.radius)] + stored(obj.normal)
    if isinstance(obj, VecList):
        return [b for v in obj for b in stored(v)]
    raise AssertionError(type(obj))


def examples() -> list[object]:
    a, b, c = SPECIAL[3], SPECIAL[0], SPECIAL[4]
    plane = Plane(Vec3d(0, 0, 2), 5.0)
    plane.normal = Vec3d(0, 0, 2)  # stored as given, not normalised
    plane.distance = b
    circle = Circle(Vec3d(1, 2, 3), 2.0, Vec3d(0, 0, 1))
    circle.radius = -1.0
    circle.normal = Vec3d(a, 0, 7)
    return [
        Vec3d(a, b, c),
        AngleRadians(a),
        AngleDegrees(b),
        Quat(a, b, c, 2.5),
        plane,
        circle,
        Circle.none(),
        VecList([Vec3d(a, b, c), Vec3d(1, 2, 3)]),
        VecList.empty(),
    ]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("obj", examples(), ids=lambda o: type(o).__name__)
def test_pickle_round_trips_every_bit(obj: object, protocol: int) -> None:
    restored = pickle.loads(pickle.dumps(obj, protocol=protocol))
    assert type(restored) is type(obj)
    assert stored(restored) == stored(obj)


@pytest.mark.parametrize("duplicate", [copy.copy, copy.deepcopy])
@pytest.mark.parametrize("obj", examples(), ids=lambda o: type(o).__name__)
def test_copies_are_independent_and_exact(obj: object, duplicate) -> None:
    twin = duplicate(obj)
    assert twin is not obj and type(twin) is type(obj)
    assert stored(twin) == stored(obj)


def test_vec_list_pickles_as_one_block_of_doubles() -> None:
    items = VecList([Vec3d(i, -i, 0.5) for i in range(1000)])
    data = pickle.dumps(items, protocol=4)
    assert len(data) < 1000 * 24 + 200
    assert struct.pack("<3d", 999.0, -999.0, 0.5) in data


def test_vec_list_protocol_5_is_out_of_band() -> None:
    items = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    buffers: list[pickle.PickleBuffer] = []
    data = pickle.dumps(items, protocol=5, buffer_callback=buffers.append)
    assert len(buffers) == 1 and len(data) < 200
    assert bytes(buffers[0].raw()) == struct.pack("<6d", 1, 2, 3, 4, 5, 6)
    restored = pickle.loads(data, buffers=buffers)
    assert stored(restored) == stored(items)
    # the buffer is a live view: the list stays borrowed for reading until it is released
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        items.append(Vec3d(0, 0, 0))
    for buffer in buffers:
        buffer.release()
    items.append(Vec3d(0, 0, 0))
    assert len(items) == 3


def test_reference_names_the_class_where_python_finds_it() -> None:
    reconstructor, arguments, state = Plane.xy().__reduce_ex__(2)
    assert reconstructor(*arguments).__class__ is Plane
    assert pickle.loads(pickle.dumps(reconstructor)) is not None
    assert isinstance(state, bytes) and len(state) == 32
    assert quorvane.geometry.Plane is Plane


@pytest.mark.parametrize(
    ("obj", "state", "error", "text"),
    [
        (Vec3d(1, 2, 3), b"12345", ValueError, "Vec3d state must be 24 bytes, got 5"),
        (Quat(1, 0, 0, 0), b"", ValueError, "Quat state must be 32 bytes, got 0"),
        (Circle.none(), 7, TypeError, "Circle state must be a bytes-like object, not 'int'"),
        (VecList.empty(), b"x" * 25, ValueError, "VecList state must be a whole number of 24-byte vectors, got 25 bytes"),
        (VecList.empty(), [1.0, 2.0, 3.0], TypeError, "VecList state must be a bytes-like object, not 'list'"),
    ],
)
def test_bad_state_is_refused_and_leaves_the_object_unchanged(obj, state, error, text: str) -> None:
    before = stored(obj)
    with pytest.raises(error) as raised:
        obj.__setstate__(state)
    assert str(raised.value) == text
    assert stored(obj) == before


@pytest.mark.parametrize(("state", "error"), [(b"short", ValueError), (3.5, TypeError), (b"x" * 48, ValueError)])
def test_unpickling_bad_data_raises_instead_of_crashing(state: object, error: type[Exception]) -> None:
    reconstructor, arguments, _ = Vec3d(1, 2, 3).__reduce_ex__(2)

    class Forged:
        def __reduce__(self) -> tuple[object, ...]:
            return reconstructor, arguments, state

    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        with pytest.raises(error):
            pickle.loads(pickle.dumps(Forged(), protocol=protocol))


def test_iterators_stay_unpicklable() -> None:
    with pytest.raises(TypeError, match="cannot pickle"):
        pickle.dumps(iter(VecList([Vec3d(1, 2, 3)])))
