"""VecList and numpy: zero-copy views through the buffer protocol, and from_array."""

from __future__ import annotations

import array
import inspect
import struct

import pytest
from conftest import bits

from quorvane import Vec3d, VecList


def sample() -> VecList:
    return VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, -0.0), Vec3d(float("inf"), 7, 8)])


class TestBufferExport:
    def test_memoryview_layout(self) -> None:
        items = sample()
        with memoryview(items) as view:
            assert view.format == "d" and view.itemsize == 8
            assert view.shape == (3, 3) and view.strides == (24, 8)
            assert view.readonly and view.c_contiguous
            assert view.tolist()[1] == [0.5, -1.0, -0.0]
            assert view.tobytes() == struct.pack("<9d", 1, 2, 3, 0.5, -1, -0.0, float("inf"), 7, 8)

    def test_empty_list_gives_an_empty_view(self) -> None:
        with memoryview(VecList.empty()) as view:
            assert view.shape == (0, 3) and view.tobytes() == b""

    def test_views_are_read_only(self) -> None:
        with memoryview(sample()) as view:
            with pytest.raises(TypeError):
                view[0, 0] = 5.0  # type: ignore[index]

    @pytest.mark.parametrize(
        "mutate", [lambda v: v.append(Vec3d(0, 0, 0)), lambda v: v.extend(VecList.empty()), lambda v: v.rotate(__import__("quorvane").Quat.identity())]
    )
    def test_a_live_view_blocks_mutation_until_released(self, mutate) -> None:
        items = sample()
        view = memoryview(items)
        second = memoryview(items)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            mutate(items)
        view.release()
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            mutate(items)
        second.release()
        mutate(items)
        # reading is still fine while a view is alive
        with memoryview(items):
            assert items.magnitude()[0] == items[0].magnitude()

    @pytest.mark.parametrize("length", [2, 7])
    def test_a_fortran_order_request_is_refused_and_leaves_the_list_free(self, length: int) -> None:
        items = VecList([Vec3d(i, 2 * i, 3 * i) for i in range(length)])
        with pytest.raises(BufferError):
            items.__buffer__(inspect.BufferFlags.F_CONTIGUOUS)
        items.append(Vec3d(0, 0, 0))  # nothing was left borrowed
        assert len(items) == length + 1

    def test_a_fortran_order_request_through_a_consumer_is_refused(self) -> None:
        testbuffer = pytest.importorskip("_testbuffer")
        items = sample()
        with pytest.raises(BufferError):
            testbuffer.ndarray(items, getbuf=testbuffer.PyBUF_F_CONTIGUOUS)
        items.append(Vec3d(0, 0, 0))
        exported = testbuffer.ndarray(items, getbuf=testbuffer.PyBUF_FULL_RO)
        assert exported.c_contiguous and exported.tolist() == items.to_array()

    @pytest.mark.parametrize("length", [0, 1])
    def test_fewer_than_two_elements_are_also_in_fortran_order(self, length: int) -> None:
        items = VecList([Vec3d(1, 2, 3)] * length)
        with items.__buffer__(inspect.BufferFlags.F_CONTIGUOUS) as view:
            assert view.f_contiguous and view.c_contiguous
            assert view.tobytes() == struct.pack(f"<{3 * length}d", *[1, 2, 3] * length)

    @pytest.mark.parametrize(
        "flags",
        [inspect.BufferFlags.C_CONTIGUOUS, inspect.BufferFlags.ANY_CONTIGUOUS, inspect.BufferFlags.STRIDES,
         inspect.BufferFlags.FULL_RO, inspect.BufferFlags.RECORDS_RO],
        ids=lambda flags: flags.name,
    )
    def test_c_order_strided_and_any_order_requests_are_met(self, flags: inspect.BufferFlags) -> None:
        items = sample()
        with items.__buffer__(flags) as view:
            assert view.shape == (3, 3) and view.strides == (24, 8) and view.c_contiguous
            assert view.cast("B").tobytes() == struct.pack("<9d", 1, 2, 3, 0.5, -1, -0.0, float("inf"), 7, 8)

    def test_numpy_view_shares_memory(self) -> None:
        np = pytest.importorskip("numpy")
        items = sample()
        view = np.asarray(items)
        assert view.shape == (3, 3) and view.dtype == np.float64 and not view.flags.writeable
        assert not view.flags.owndata
        assert [bits(x) for x in view[1]] == [bits(0.5), bits(-1.0), bits(-0.0)]
        assert np.shares_memory(view, np.asarray(items))
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            items.append(Vec3d(0, 0, 0))
        del view
        items.append(Vec3d(0, 0, 0))
        assert len(items) == 4


class TestFromArray:
    def test_round_trip_is_bit_exact(self) -> None:
        np = pytest.importorskip("numpy")
        rng = np.random.default_rng(3)
        raw = rng.integers(0, 2**64, size=(1000, 3), dtype=np.uint64, endpoint=False)
        source = raw.view(np.float64)
        items = VecList.from_array(source)
        assert len(items) == 1000
        assert np.array_equal(np.asarray(items).view(np.uint64), raw)
        again = VecList.from_array(np.asarray(items))
        assert np.array_equal(np.asarray(again).view(np.uint64), raw)

    def test_accepts_strided_and_flat_buffers(self) -> None:
        np = pytest.importorskip("numpy")
        wide = np.arange(24.0).reshape(4, 6)
        assert VecList.from_array(wide[:, ::2]).to_array() == [[0, 2, 4], [6, 8, 10], [12, 14, 16], [18, 20, 22]]
        assert VecList.from_array(wide[::2, 3:]).to_array() == [[3, 4, 5], [15, 16, 17]]
        assert VecList.from_array(np.arange(18.0)[::2]).to_array() == [[0, 2, 4], [6, 8, 10], [12, 14, 16]]
        assert VecList.from_array(np.asfortranarray(np.arange(6.0).reshape(2, 3))).to_array() == [[0, 1, 2], [3, 4, 5]]
        assert len(VecList.from_array(np.zeros((0, 3)))) == 0

    def test_accepts_any_float64_buffer(self) -> None:
        assert VecList.from_array(array.array("d", [1, 2, 3, 4, 5, 6])).to_array() == [[1, 2, 3], [4, 5, 6]]
        assert VecList.from_array(memoryview(sample())).to_array() == sample().to_array()
        assert VecList.from_array(a=sample()).to_array() == sample().to_array()

    @pytest.mark.parametrize(
        ("make", "error", "text"),
        [
            (lambda np: [[1.0, 2.0, 3.0]], TypeError, "argument 'a': expected an object exporting a buffer of float64, got 'list'"),
            (lambda np: np.zeros((2, 3), dtype=np.float16), TypeError,
             "argument 'a': expected a buffer of float64 (format 'd'), got format 'e' with 2-byte items"),
            (lambda np: np.zeros((2, 3), dtype=bool), TypeError,
             "argument 'a': expected a buffer of float64 (format 'd'), got format '?' with 1-byte items"),
            (lambda np: np.zeros((2, 2)), ValueError, "argument 'a': expected a buffer of shape (n, 3) or of length 3n, got shape (2, 2)"),
            (lambda np: np.zeros(4), ValueError, "argument 'a': expected a buffer of shape (n, 3) or of length 3n, got shape (4,)"),
            (lambda np: np.zeros((2, 3, 1)), ValueError,
             "argument 'a': expected a buffer of shape (n, 3) or of length 3n, got shape (2, 3, 1)"),
            (lambda np: np.float64(1.0), ValueError, "argument 'a': expected a buffer of shape (n, 3) or of length 3n, got shape ()"),
            (lambda np: memoryview(b"123456789012345678901234").cast("c"), TypeError,
             "argument 'a': expected a buffer of float64 (format 'd'), got format 'c' with 1-byte items"),
        ],
    )
    def test_rejections_name_what_was_expected(self, make, error, text: str) -> None:
        np = pytest.importorskip("numpy")
        with pytest.raises(error) as raised:
            VecList.from_array(make(np))
        assert str(raised.value) == text
