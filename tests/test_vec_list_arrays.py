"""VecList for array users: scalar results as memoryviews, two lists combined element by element,
from_array of every number format it reads, and numpy.asarray never giving an array of objects."""

from __future__ import annotations

import array
import itertools
import struct
import threading
from collections.abc import Callable

import pytest
from conftest import assert_bits, race, requires_free_threading, same_float, scaled

from quorvane import Quat, Vec3d, VecList

TINY = 5e-324  # the smallest subnormal
SPECIALS = [0.0, -0.0, 1.0, -2.5, TINY, -TINY, 2.2250738585072014e-308 / 3, 1e308, -1e308,
            float("inf"), float("-inf"), float("nan"), 0.1, 1 - 2**-53]


def special_vectors() -> list[Vec3d]:
    """Every special value in every position, more than enough elements for the pool to split."""
    rotations = itertools.islice(itertools.cycle(SPECIALS), 7, None)
    return [Vec3d(x, y, next(rotations)) for x, y in itertools.product(SPECIALS, SPECIALS)]


VECTORS = special_vectors()
OPERAND = Vec3d(0.5, -0.0, float("inf"))
PARTNERS = list(reversed(VECTORS))

BUFFER_METHODS = [  # (buffer method, list method, arguments)
    ("dot_array", "dot", (OPERAND,)),
    ("distance_to_array", "distance_to", (OPERAND,)),
    ("distance_squared_array", "distance_squared", (OPERAND,)),
    ("magnitude_array", "magnitude", ()),
]
ELEMENTWISE_SCALARS = [("dot_elementwise", "dot"), ("distance_to_elementwise", "distance_to"),
                       ("distance_squared_elementwise", "distance_squared")]
ELEMENTWISE_VECTORS = [("add_elementwise", lambda a, b: a + b), ("sub_elementwise", lambda a, b: a - b),
                       ("cross_elementwise", lambda a, b: a.cross(b))]
ALL_ELEMENTWISE = [name for name, _ in ELEMENTWISE_SCALARS + ELEMENTWISE_VECTORS]
ALL_BUFFERS = [(name, args) for name, _, args in BUFFER_METHODS] + [("is_unit_array", ())] + [
    (name, (VecList(PARTNERS),)) for name, _ in ELEMENTWISE_SCALARS]


def flat(vectors: list[Vec3d]) -> list[float]:
    return [c for v in vectors for c in (v.x, v.y, v.z)]


class TestBufferResults:
    @pytest.mark.parametrize(("method", "list_method", "args"), BUFFER_METHODS, ids=[m[0] for m in BUFFER_METHODS])
    def test_bits_match_the_list_method_and_the_vec3d_method(self, method: str, list_method: str, args: tuple) -> None:
        items = VecList(VECTORS)
        result = getattr(items, method)(*args)
        assert_bits(result.tolist(), getattr(items, list_method)(*args))
        for value, v in zip(result.tolist(), VECTORS):
            assert same_float(value, getattr(v, list_method)(*args))

    def test_is_unit_array_matches_is_unit(self) -> None:
        items = VecList(VECTORS + [Vec3d(0.6, 0.8, 0), Vec3d(1 + 2**-52, 0, 0), Vec3d(1 - 2**-53, 0, 0)])
        result = items.is_unit_array()
        assert result.format == "?" and result.itemsize == 1
        assert result.tolist() == items.is_unit() == [v.is_unit() for v in items]
        assert result.tolist()[-3:] == [True, False, True]

    @pytest.mark.parametrize(("method", "args"), ALL_BUFFERS, ids=[m[0] for m in ALL_BUFFERS])
    def test_the_result_is_a_writable_one_dimensional_c_contiguous_memoryview(self, method: str, args: tuple) -> None:
        items = VecList(VECTORS)
        result = getattr(items, method)(*args)
        assert type(result) is memoryview
        assert result.ndim == 1 and result.shape == (len(VECTORS),) and result.c_contiguous
        assert not result.readonly
        expected_format = "?" if method == "is_unit_array" else "d"
        assert result.format == expected_format and result.strides == (result.itemsize,)
        assert result.obj is not items
        # The result holds no borrow of the list: it can change while the result lives.
        items.rotate(Quat(0.5, 0.5, 0.5, 0.5))
        items.append(Vec3d(0, 0, 0))
        assert len(result) == len(VECTORS)

    @pytest.mark.parametrize(("method", "args"), ALL_BUFFERS, ids=[m[0] for m in ALL_BUFFERS])
    def test_an_empty_list_gives_shape_zero(self, method: str, args: tuple) -> None:
        args = tuple(VecList.empty() if isinstance(a, VecList) else a for a in args)
        result = getattr(VecList.empty(), method)(*args)
        assert result.shape == (0,) and result.tolist() == [] and result.nbytes == 0

    def test_numpy_shares_the_memory_of_the_result(self) -> None:
        np = pytest.importorskip("numpy")
        result = VecList(VECTORS[:100]).magnitude_array()
        first, second = np.asarray(result), np.asarray(result)
        assert first.dtype == np.float64 and first.shape == (100,) and first.flags.writeable
        assert np.shares_memory(first, second)
        first[3] = -7.5
        assert result[3] == -7.5 and second[3] == -7.5
        result[4] = 11.0
        assert first[4] == 11.0
        flags = np.asarray(VecList(VECTORS[:10]).is_unit_array())
        assert flags.dtype == np.bool_

    def test_results_are_independent_of_each_other(self) -> None:
        items = VecList(VECTORS[:10])
        first, second = items.magnitude_array(), items.magnitude_array()
        first[0] = 123.0
        assert second[0] != 123.0 and first.obj is not second.obj

    @pytest.mark.parametrize("method", ["magnitude_array", "is_unit_array"])
    def test_the_exporter_is_not_part_of_the_module(self, method: str) -> None:
        import quorvane

        exporter_type = type(getattr(VecList(VECTORS[:3]), method)().obj)
        assert exporter_type.__name__ not in quorvane.__all__ and not hasattr(quorvane, exporter_type.__name__)
        with pytest.raises(TypeError):
            exporter_type()


class TestElementwise:
    @pytest.mark.parametrize(("method", "vec3d_method"), ELEMENTWISE_SCALARS, ids=[m[0] for m in ELEMENTWISE_SCALARS])
    def test_scalar_bits_match_the_vec3d_method(self, method: str, vec3d_method: str) -> None:
        result = getattr(VecList(VECTORS), method)(VecList(PARTNERS))
        assert result.format == "d" and result.shape == (len(VECTORS),) and not result.readonly
        for value, a, b in zip(result.tolist(), VECTORS, PARTNERS, strict=True):
            assert same_float(value, getattr(a, vec3d_method)(b))

    @pytest.mark.parametrize(("method", "combine"), ELEMENTWISE_VECTORS, ids=[m[0] for m in ELEMENTWISE_VECTORS])
    def test_vector_bits_match_the_vec3d_operation(self, method: str, combine) -> None:
        result = getattr(VecList(VECTORS), method)(VecList(PARTNERS))
        assert type(result) is VecList
        expected = [combine(a, b) for a, b in zip(VECTORS, PARTNERS)]
        for got, want in zip(result.to_array(), [[v.x, v.y, v.z] for v in expected], strict=True):
            assert all(same_float(g, w) for g, w in zip(got, want)), (got, want)

    def test_the_receiver_is_on_the_left(self) -> None:
        a, b = VecList([Vec3d(1, 0, 0)]), VecList([Vec3d(0, 1, 0)])
        assert a.cross_elementwise(b)[0] == Vec3d(0, 0, 1)
        assert a.sub_elementwise(b)[0] == Vec3d(1, -1, 0)

    @pytest.mark.parametrize("method", ALL_ELEMENTWISE)
    def test_one_list_may_be_both(self, method: str) -> None:
        items = VecList(VECTORS)
        result = getattr(items, method)(items)
        again = getattr(items, method)(VecList(items))
        left = result.tolist() if isinstance(result, memoryview) else result.to_array()
        right = again.tolist() if isinstance(again, memoryview) else again.to_array()
        assert len(left) == len(right) and all(
            (same_float(x, y) if isinstance(x, float) else all(map(same_float, x, y))) for x, y in zip(left, right))

    @pytest.mark.parametrize("method", ALL_ELEMENTWISE)
    @pytest.mark.parametrize(("left", "right"), [(3, 4), (4, 3), (0, 1), (2, 0)])
    def test_lists_of_different_lengths_raise_value_error_naming_both(self, method: str, left: int,
                                                                        right: int) -> None:
        with pytest.raises(ValueError) as raised:
            getattr(VecList([Vec3d(1, 2, 3)] * left), method)(VecList([Vec3d(4, 5, 6)] * right))
        assert str(raised.value) == f"the lists differ in length: this list has {left} elements, other has {right}"

    @pytest.mark.parametrize("method", ALL_ELEMENTWISE)
    def test_the_frame_matches_and_converts_the_argument(self, method: str) -> None:
        items = VecList([Vec3d(1, 2, 3)])
        with pytest.raises(TypeError, match=r"^argument 'other': 'Vec3d' object is not an instance of 'VecList'$"):
            getattr(items, method)(Vec3d(1, 2, 3))
        with pytest.raises(TypeError, match=r"^argument 'other': 'list' object is not an instance of 'VecList'$"):
            getattr(items, method)([Vec3d(1, 2, 3)])
        with pytest.raises(TypeError, match=rf"^VecList\.{method}\(\) missing 1 required positional argument: 'other'$"):
            getattr(items, method)()
        with pytest.raises(TypeError, match=rf"^VecList\.{method}\(\) takes 1 positional arguments but 2 were given$"):
            getattr(items, method)(items, items)
        by_keyword = getattr(items, method)(other=items)
        assert len(by_keyword) == 1
        assert getattr(VecList, method).__text_signature__ == "($self, other)"

    def test_mesh_normals(self) -> None:
        a = VecList([Vec3d(0, 0, 0), Vec3d(1, 1, 1)])
        b = VecList([Vec3d(1, 0, 0), Vec3d(1, 2, 1)])
        c = VecList([Vec3d(0, 1, 0), Vec3d(1, 1, 2)])
        normals = b.sub_elementwise(a).cross_elementwise(c.sub_elementwise(a))
        assert normals.to_array() == [[0.0, 0.0, 1.0], [1.0, 0.0, 0.0]]


class TestBufferMethodFrame:
    @pytest.mark.parametrize("method", ["dot_array", "distance_to_array", "distance_squared_array"])
    def test_a_vec3d_operand_is_required(self, method: str) -> None:
        items = VecList([Vec3d(1, 2, 3)])
        with pytest.raises(TypeError, match=r"^argument 'other': 'VecList' object is not an instance of 'Vec3d'$"):
            getattr(items, method)(items)
        assert getattr(items, method)(other=Vec3d(0, 0, 0)).shape == (1,)
        assert getattr(VecList, method).__text_signature__ == "($self, other)"

    @pytest.mark.parametrize("method", ["magnitude_array", "is_unit_array"])
    def test_no_arguments(self, method: str) -> None:
        with pytest.raises(TypeError, match=rf"^VecList\.{method}\(\) takes 0 positional arguments but 1 was given$"):
            getattr(VecList.empty(), method)(1)
        assert getattr(VecList, method).__text_signature__ == "($self)"


# ---- from_array: every number format it reads ----

INTEGER_CODES = "bBhHiIlLqQ"


def integer_extremes(code: str) -> list[int]:
    size = struct.calcsize(code)
    low, high = (0, 2 ** (8 * size) - 1) if code.isupper() else (-(2 ** (8 * size - 1)), 2 ** (8 * size - 1) - 1)
    values = [low, high, 0, 1, low + 1, high - 1, 2**53 + 1, 2**53 + 3, 2**62 + 2**9, 2**63 - 2**10 + 2**9 + 1]
    return [v for v in values if low <= v <= high]


class TestFromArrayFormats:
    @pytest.mark.parametrize("code", INTEGER_CODES)
    def test_integers_through_array_array_convert_as_float_of_int(self, code: str) -> None:
        values = integer_extremes(code)
        values += [values[0]] * (-len(values) % 3)
        items = VecList.from_array(array.array(code, values))
        assert_bits(flat(list(items)), [float(v) for v in values])

    def test_large_integers_round_to_nearest_with_ties_to_even(self) -> None:
        np = pytest.importorskip("numpy")
        rng = np.random.default_rng(14)
        unsigned = [2**64 - 1, 2**63 + 1024, 2**63 + 1025, 2**63 + 3072, 2**53 + 1, 2**54 + 2, 2**54 + 6,
                    *(int(v) for v in rng.integers(0, 2**64, size=600, dtype=np.uint64, endpoint=False))]
        signed = [-(2**63), 2**63 - 1, -(2**53) - 1, 2**62 + 2**9, -(2**62) - 3 * 2**9,
                  *(int(v) for v in rng.integers(-(2**63), 2**63, size=600, dtype=np.int64))]
        for values, dtype in ((unsigned, np.uint64), (signed, np.int64), (unsigned, ">u8"), (signed, ">i8")):
            values = values[: len(values) - len(values) % 3]
            items = VecList.from_array(np.array(values, dtype=dtype).reshape(-1, 3))
            assert_bits(flat(list(items)), [float(v) for v in values])

    def test_float32_widens_exactly(self) -> None:
        np = pytest.importorskip("numpy")
        rng = np.random.default_rng(32)
        patterns = rng.integers(0, 2**32, size=3000, dtype=np.uint64).astype(np.uint32)
        patterns[:6] = [0x00000001, 0x80000001, 0x7F800000, 0xFF800000, 0x80000000, 0x7F7FFFFF]
        singles = patterns.view(np.float32).reshape(-1, 3)
        for source in (singles, singles.astype(">f4"), singles[::-2], np.asfortranarray(singles)):
            items = VecList.from_array(source)
            with np.errstate(invalid="ignore"):  # signalling NaNs among the patterns
                expected = source.astype(np.float64)
            assert all(same_float(a, b) for a, b in zip(np.asarray(items).ravel(), expected.ravel()))
            finite = np.isfinite(expected).all(axis=1)
            assert np.array_equal(np.asarray(items)[finite].view(np.uint64), expected[finite].view(np.uint64))

    @pytest.mark.parametrize("dtype", ["<f8", ">f8", "=f8", "f4", ">f4", "i1", "u1", "<i2", ">u2", "<i4", ">u4",
                                       "<i8", ">u8"])
    def test_numpy_arrays_of_every_format(self, dtype: str) -> None:
        np = pytest.importorskip("numpy")
        source = (np.arange(12).reshape(4, 3) * 3 - 7) % 127
        typed = source.astype(dtype)
        for shaped in (typed, typed.ravel(), typed[::-1], np.asfortranarray(typed)):
            assert VecList.from_array(shaped).to_array() == shaped.reshape(-1, 3).astype(float).tolist()

    def test_float64_in_any_byte_order_bit_exact(self) -> None:
        np = pytest.importorskip("numpy")
        raw = np.random.default_rng(64).integers(0, 2**64, size=(50, 3), dtype=np.uint64, endpoint=False)
        for order in "<>=":
            items = VecList.from_array(raw.view(np.float64).astype(order + "f8"))
            assert np.array_equal(np.asarray(items).view(np.uint64), raw)

    @pytest.mark.parametrize("code", ["f", "d", *INTEGER_CODES])
    def test_memoryview_casts_in_rows_of_three(self, code: str) -> None:
        values = [1, 2, 3, 4, 5, 6] if code in "fd" else [v % 100 for v in range(1, 7)]
        view = memoryview(array.array(code, values)).cast("B").cast(code, [2, 3])
        assert VecList.from_array(view).to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]

    @pytest.mark.parametrize("format_text", ["!d", ">d", "<d", "=d", "@d", "d", "!f", "<q", ">H", "!b"])
    def test_struct_formats_with_a_byte_order(self, format_text: str) -> None:
        testbuffer = pytest.importorskip("_testbuffer")
        values = [1.5, -2.0, 3.25, 4.0, 5.0, -6.0] if format_text[-1] in "df" else [1, 2, 3, 4, 5, 6]
        if format_text.endswith("H"):
            values = [abs(v) for v in values]
        exported = testbuffer.ndarray(values, shape=[2, 3], format=format_text)
        assert VecList.from_array(exported).to_array() == [[float(v) for v in values[:3]], [float(v) for v in values[3:]]]

    @pytest.mark.parametrize(
        ("make", "format_text", "size"),
        [
            (lambda np: np.zeros((2, 3), dtype=bool), "?", 1),
            (lambda np: np.zeros((2, 3), dtype=np.complex128), "Zd", 16),
            (lambda np: np.zeros((2, 3), dtype=np.complex64), "Zf", 8),
            (lambda np: np.zeros((2, 3), dtype=np.float16), "e", 2),
            (lambda np: np.zeros((2, 3), dtype=object), "O", 8),
            (lambda np: memoryview(b"abcdef").cast("c"), "c", 1),
        ],
    )
    def test_other_formats_keep_the_type_error(self, make, format_text: str, size: int) -> None:
        np = pytest.importorskip("numpy")
        with pytest.raises(TypeError) as raised:
            VecList.from_array(make(np))
        assert str(raised.value) == (f"argument 'a': expected a buffer of float64 (format 'd'), got format "
                                     f"'{format_text}' with {size}-byte items")


# ---- numpy.asarray and __array__ ----


class TestNumpyConversion:
    def test_asarray_stays_a_zero_copy_view(self) -> None:
        np = pytest.importorskip("numpy")
        items = VecList(VECTORS[:5])
        view = np.asarray(items)
        assert view.dtype == np.float64 and view.shape == (5, 3) and not view.flags.writeable
        assert np.shares_memory(view, np.asarray(items))

    def test_array_method_exports_the_same_memory(self) -> None:
        np = pytest.importorskip("numpy")
        items = VecList([Vec3d(1, 2, 3), Vec3d(-0.5, 4, 1e-3)])
        direct = items.__array__()
        assert np.shares_memory(direct, np.asarray(items)) and not direct.flags.writeable
        assert items.__array__(np.float32).dtype == np.float32
        copied = items.__array__(copy=True)
        assert copied.flags.writeable and not np.shares_memory(copied, np.asarray(items))
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            items.append(Vec3d(0, 0, 0))
        del direct
        items.append(Vec3d(0, 0, 0))

    @pytest.mark.parametrize(("call", "text"), [
        (lambda items: items.__array__(None, None, None),
         "VecList.__array__() takes from 0 to 2 positional arguments but 3 were given"),
        (lambda items: items.__array__(order="C"), "VecList.__array__() got an unexpected keyword argument 'order'"),
        (lambda items: items.__array__(None, dtype=None),
         "VecList.__array__() got multiple values for argument 'dtype'"),
        (lambda items: items.__array__(None, None, copy=None),
         "VecList.__array__() got multiple values for argument 'copy'"),
    ])
    def test_array_method_matches_its_optional_arguments_as_every_member_does(
            self, call: Callable[[VecList], object], text: str) -> None:
        with pytest.raises(TypeError) as raised:
            call(VecList(VECTORS[:2]))
        assert str(raised.value) == text

    def test_array_method_leaves_out_copy_when_it_is_not_given(self) -> None:
        """numpy 1's asarray has no `copy`: a call without one must not pass it on."""
        np = pytest.importorskip("numpy")
        items = VecList(VECTORS[:2])
        assert items.__array__().shape == items.__array__(dtype=None).shape == (2, 3)
        assert items.__array__(copy=None).dtype == np.float64
        assert VecList.__array__.__text_signature__ == "($self, dtype=None, copy=None)"

    @requires_free_threading
    @pytest.mark.parametrize("readers", [("asarray", "array copy"), ("magnitude_array", "add_elementwise", "dot_elementwise")])
    def test_asarray_under_an_exclusive_holder_fails_with_the_borrow_error_and_never_gives_objects(
            self, readers: tuple[str, ...]) -> None:
        """One thread rotates the list in place again and again (each rotation a cyclic
        permutation of the components, exact); the others read it through numpy and the new
        members. A read either fails with the borrow error or sees one whole rotation."""
        np = pytest.importorskip("numpy")
        n = 20_000
        rows = [(float(i), -0.5 * i, i + 0.25) for i in range(n)]
        items = VecList([Vec3d(*row) for row in rows])
        partner = VecList(items)
        base = np.array(rows)
        rotations = [base, base[:, [1, 2, 0]], base[:, [2, 0, 1]]]
        # Every square and sum here is exact, so the order of the terms does not matter.
        squares = np.einsum("ij,ij->i", base, base)
        magnitudes = np.sqrt(squares)
        turn = Quat(0.5, 0.5, 0.5, 0.5)
        rounds = scaled(300, least=20)

        readers_done = threading.Semaphore(0)

        # The writer keeps the list busy until every reader has made its count of reads.
        def rotate() -> dict[str, int]:
            seen = {"ok": 0, "Already borrowed": 0}
            finished = 0
            for _ in range(rounds * 1000):
                finished += readers_done.acquire(blocking=False)
                if finished == len(reads):
                    break
                try:
                    items.rotate(turn)
                    seen["ok"] += 1
                except RuntimeError as error:
                    seen[str(error)] += 1
            return seen

        def whole_rotation(array_2d) -> bool:
            return any(np.array_equal(array_2d, r) for r in rotations)

        reads = {
            "asarray": lambda: whole_rotation(np.asarray(items)),
            "array copy": lambda: whole_rotation(np.array(items)),
            "magnitude_array": lambda: np.array_equal(np.asarray(items.magnitude_array()), magnitudes),
            # base + rotation - base is exact for these values
            "add_elementwise": lambda: whole_rotation(np.asarray(partner.add_elementwise(items)) - base),
            "dot_elementwise": lambda: np.array_equal(np.asarray(items.dot_elementwise(items)), squares),
        }

        reads = {name: reads[name] for name in readers}
        # numpy.asarray takes microseconds where a step takes a millisecond: it reads more often.
        counts = {name: rounds * (50 if name == "asarray" else 1) for name in reads}

        def read(name: str):
            def work() -> dict[str, int]:
                seen: dict[str, int] = {}
                for _ in range(counts[name]):
                    try:
                        assert reads[name](), f"{name} saw a torn or wrong list"
                        key = "ok"
                    except RuntimeError as error:
                        key = str(error)
                    seen[key] = seen.get(key, 0) + 1
                readers_done.release()
                return seen
            return work

        results = race([rotate, *(read(name) for name in reads)])
        assert set(results[0]) <= {"ok", "Already borrowed"}
        for seen in results[1:]:
            assert set(seen) <= {"ok", "Already mutably borrowed"}, seen
        for name, seen in zip(reads, results[1:]):
            assert sum(seen.values()) == counts[name]
