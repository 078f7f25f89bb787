"""VecList as a container: building it, reading it, growing it, iterating and printing it."""

from __future__ import annotations

import collections.abc
import gc
import struct

import pytest
from conftest import assert_bits, bits

import quorvane
from quorvane import Quat, Vec3d, VecList

nan = float("nan")
inf = float("inf")


def parts(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


def contents(vectors: VecList) -> list[list[float]]:
    return [parts(v) for v in vectors.list]


def numbered(n: int) -> VecList:
    return VecList([Vec3d(i, -float(i), 0.5 * i) for i in range(n)])


def raises_exactly(error: type[BaseException], text: str, call) -> BaseException:
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error
    assert str(raised.value) == text
    return raised.value


class ListedSequence(collections.abc.Sequence):
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items: list[object]) -> None:
        self.items = items

    def __len__(self) -> int:
        return len(self.items)

    def __getitem__(self, index):  # type: ignore[override]
        return self.items[index]


class TestConstruction:
    @pytest.mark.parametrize(
        "make",
        [
            lambda items: VecList(items),
            lambda items: VecList(tuple(items)),
            lambda items: VecList(list=items),
            lambda items: VecList(ListedSequence(items)),
            lambda items: VecList(VecList(items)),
        ],
        ids=["list", "tuple", "keyword", "sequence", "vec-list"],
    )
    def test_any_sequence_of_vectors(self, make) -> None:
        vectors = make([Vec3d(1, 2, 3), Vec3d(-0.5, 0, 4)])
        assert type(vectors) is VecList
        assert contents(vectors) == [[1.0, 2.0, 3.0], [-0.5, 0.0, 4.0]]

    def test_components_are_stored_bit_for_bit(self) -> None:
        payload_nan = struct.unpack("<d", struct.pack("<Q", 0xFFF4_0000_0000_0123))[0]
        vectors = VecList([Vec3d(-0.0, payload_nan, -inf), Vec3d(5e-324, 1e308, nan)])
        assert_bits(parts(vectors[0]), [-0.0, payload_nan, -inf])
        assert_bits(parts(vectors[1]), [5e-324, 1e308, nan])

    def test_copying_a_vec_list_makes_an_independent_list(self) -> None:
        original = numbered(3)
        for copy in (VecList(original), VecList(original.list)):
            copy.append(Vec3d(9, 9, 9))
            assert len(original) == 3 and len(copy) == 4
        original.rotate(Quat(0, 1, 0, 0))
        assert contents(VecList(original.list)) == contents(original) != contents(numbered(3))

    def test_later_changes_to_the_source_vectors_are_not_seen(self) -> None:
        source = Vec3d(1, 2, 3)
        vectors = VecList([source, source])
        source.x = 7
        assert contents(vectors) == [[1.0, 2.0, 3.0]] * 2

    @pytest.mark.parametrize(
        ("argument", "text"),
        [
            ("abc", "argument 'list': Can't extract `str` to `Vec`"),
            ("", "argument 'list': Can't extract `str` to `Vec`"),
            (type("Text", (str,), {})("xyz"), "argument 'list': Can't extract `str` to `Vec`"),
            ({Vec3d(1, 2, 3)}, "argument 'list': 'set' object is not an instance of 'Sequence'"),
            ({0: Vec3d(1, 2, 3)}, "argument 'list': 'dict' object is not an instance of 'Sequence'"),
            ((v for v in [Vec3d(1, 2, 3)]), "argument 'list': 'generator' object is not an instance of 'Sequence'"),
            (None, "argument 'list': 'None' is not an instance of 'Sequence'"),
            (5, "argument 'list': 'int' object is not an instance of 'Sequence'"),
            (Vec3d(1, 2, 3), "argument 'list': 'float' object is not an instance of 'Vec3d'"),
            ([Vec3d(1, 2, 3), 5], "argument 'list': 'int' object is not an instance of 'Vec3d'"),
            ([None], "argument 'list': 'None' is not an instance of 'Vec3d'"),
            ([(1.0, 2.0, 3.0)], "argument 'list': 'tuple' object is not an instance of 'Vec3d'"),
            ([Quat(1, 0, 0, 0)], "argument 'list': 'Quat' object is not an instance of 'Vec3d'"),
            ([VecList([])], "argument 'list': 'VecList' object is not an instance of 'Vec3d'"),
            (range(2), "argument 'list': 'int' object is not an instance of 'Vec3d'"),
        ],
        ids=lambda value: type(value).__name__,
    )
    def test_unsuitable_arguments(self, argument, text) -> None:
        # A str is refused as a whole before its characters could be taken for items, and a
        # Vec3d (a sequence of floats) fails on its first item.
        raises_exactly(TypeError, text, lambda: VecList(argument))

    @pytest.mark.parametrize(
        ("call", "text"),
        [
            (lambda: VecList(), "VecList.__new__() missing 1 required positional argument: 'list'"),
            (lambda: VecList([], []), "VecList.__new__() takes 1 positional arguments but 2 were given"),
            (lambda: VecList(lst=[]), "VecList.__new__() got an unexpected keyword argument 'lst'"),
            (lambda: VecList([], list=[]), "VecList.__new__() got multiple values for argument 'list'"),
            (lambda: VecList.empty([]), "VecList.empty() takes 0 positional arguments but 1 was given"),
        ],
    )
    def test_argument_matching(self, call, text) -> None:
        raises_exactly(TypeError, text, call)

    @pytest.mark.parametrize("length", [ValueError("no length"), TypeError("no length"), 2**62, 2**70])
    def test_a_length_that_fails_or_lies_is_ignored(self, length) -> None:
        class Odd(ListedSequence):
            def __len__(self) -> int:
                if isinstance(length, BaseException):
                    raise length
                return length

        assert contents(VecList(Odd([Vec3d(1, 2, 3), Vec3d(4, 5, 6)]))) == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]

    @pytest.mark.parametrize(
        ("failure", "expected_type", "text"),
        [
            (TypeError("broken item"), TypeError, "argument 'list': broken item"),
            (ValueError("broken item"), ValueError, "broken item"),
            (KeyError("broken item"), KeyError, "'broken item'"),
            (RuntimeError("broken item"), RuntimeError, "broken item"),
        ],
    )
    def test_errors_while_iterating_belong_to_the_argument(self, failure, expected_type, text) -> None:
        class FailsAtSecond(ListedSequence):
            def __getitem__(self, index):  # type: ignore[override]
                if index == 1:
                    raise failure
                return super().__getitem__(index)

        raises_exactly(expected_type, text, lambda: VecList(FailsAtSecond([Vec3d(1, 2, 3)] * 3)))

    def test_a_failing_iterator_is_reported_with_its_cause(self) -> None:
        class NoIterator(ListedSequence):
            def __iter__(self):
                try:
                    raise KeyError("inner")
                except KeyError as inner:
                    raise TypeError("cannot iterate") from inner

        error = raises_exactly(TypeError, "argument 'list': cannot iterate", lambda: VecList(NoIterator([])))
        assert isinstance(error.__cause__, KeyError)

    def test_an_iterator_that_raises_midway(self) -> None:
        class Stops(ListedSequence):
            def __iter__(self):
                yield Vec3d(1, 2, 3)
                raise TypeError("gave up")

        raises_exactly(TypeError, "argument 'list': gave up", lambda: VecList(Stops([])))

    def test_iteration_not_indexing_gives_the_items(self) -> None:
        class Iterates(ListedSequence):
            def __iter__(self):
                return iter([Vec3d(7, 8, 9)])

        assert contents(VecList(Iterates([]))) == [[7.0, 8.0, 9.0]]

    def test_empty(self) -> None:
        for vectors in (VecList.empty(), VecList([]), VecList(())):
            assert len(vectors) == 0
            assert not vectors
            assert repr(vectors) == "[]"
            assert list(vectors) == [] and vectors.list == [] and vectors.to_array() == []
        assert VecList.empty() is not VecList.empty()
        assert vectors.empty() is not vectors  # a static method, callable on an instance too


class TestReading:
    def test_length_and_truth(self) -> None:
        assert len(numbered(5)) == 5
        assert bool(numbered(1)) is True
        assert bool(VecList.empty()) is False

    @pytest.mark.parametrize("n", [1, 2, 7])
    def test_every_index_below_the_length(self, n: int) -> None:
        vectors = numbered(n)
        assert [parts(vectors[i]) for i in range(n)] == [[i, -i, 0.5 * i] for i in range(n)]
        assert parts(vectors[n - 1]) == [n - 1, 1 - n, 0.5 * (n - 1)]

    class IndexLike:
        def __index__(self) -> int:
            return 1

    @pytest.mark.parametrize(
        ("index", "error", "text"),
        [
            (3, IndexError, "Index out of bounds"),
            (2**63, IndexError, "Index out of bounds"),
            (-1, OverflowError, "can't convert negative int to unsigned"),
            (2**64, OverflowError, "int too big to convert"),
            (1.0, TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
            (slice(0, 2), TypeError, "argument 'index': 'slice' object cannot be interpreted as an integer"),
            ("0", TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
            (None, TypeError, "argument 'index': 'NoneType' object cannot be interpreted as an integer"),
        ],
    )
    def test_index_failures(self, index, error, text) -> None:
        raises_exactly(error, text, lambda: numbered(3)[index])

    def test_integer_like_indices(self) -> None:
        vectors = numbered(3)
        assert parts(vectors[True]) == parts(vectors[1]) == parts(vectors[self.IndexLike()])
        raises_exactly(IndexError, "Index out of bounds", lambda: VecList.empty()[0])

    def test_list_property(self) -> None:
        vectors = numbered(3)
        first, second = vectors.list, vectors.list
        assert type(first) is list and first is not second
        assert all(a is not b for a, b in zip(first, second))
        assert [parts(v) for v in first] == [[0.0, -0.0, 0.0], [1.0, -1.0, 0.5], [2.0, -2.0, 1.0]]
        assert bits(first[0].y) == bits(-0.0)

    @pytest.mark.parametrize("change", [lambda v: setattr(v, "list", []), lambda v: delattr(v, "list")])
    def test_list_property_is_read_only(self, change) -> None:
        vectors = numbered(2)
        raises_exactly(AttributeError, "attribute 'list' of 'builtins.VecList' objects is not writable",
                       lambda: change(vectors))
        assert len(vectors) == 2

    def test_to_array(self) -> None:
        assert VecList([Vec3d(1, 2, 3)]).to_array() == [[1.0, 2.0, 3.0]]
        rows = VecList([Vec3d(-0.0, nan, inf), Vec3d(4, 5, 6)]).to_array()
        assert type(rows) is list and all(type(row) is list and len(row) == 3 for row in rows)
        assert_bits(rows[0], [-0.0, nan, inf])
        assert rows[1] == [4.0, 5.0, 6.0] and all(type(x) is float for x in rows[1])

    def test_membership_iterates_with_vector_equality(self) -> None:
        vectors = VecList([Vec3d(1, 2, 3), Vec3d(nan, 0, 0)])
        assert Vec3d(1, 2, 3 + 1e-17) in vectors
        assert Vec3d(nan, 0, 0) not in vectors
        assert (1, 2, 3) not in vectors


class TestGrowing:
    def test_append_copies_the_vector(self) -> None:
        vectors = VecList.empty()
        vec = Vec3d(1, 2, 3)
        assert vectors.append(vec) is None
        vectors.append(vec=vec)
        vec.z = -1
        assert contents(vectors) == [[1.0, 2.0, 3.0]] * 2

    def test_append_many(self) -> None:
        vectors = VecList.empty()
        for i in range(5000):
            vectors.append(Vec3d(i, 0, 0))
        assert [v.x for v in vectors] == [float(i) for i in range(5000)]

    @pytest.mark.parametrize(
        ("argument", "text"),
        [
            (None, "argument 'vec': 'None' is not an instance of 'Vec3d'"),
            ((1, 2, 3), "argument 'vec': 'tuple' object is not an instance of 'Vec3d'"),
            (VecList([Vec3d(1, 2, 3)]), "argument 'vec': 'VecList' object is not an instance of 'Vec3d'"),
        ],
    )
    def test_append_refuses_other_objects(self, argument, text) -> None:
        vectors = numbered(2)
        raises_exactly(TypeError, text, lambda: vectors.append(argument))
        assert contents(vectors) == contents(numbered(2))

    def test_extend_appends_copies_in_order(self) -> None:
        vectors, more = numbered(2), VecList([Vec3d(7, 8, 9), Vec3d(-1, -2, -3)])
        assert vectors.extend(more) is None
        vectors.extend(other=VecList.empty())
        more.rotate(Quat(0, 0, 0, 1))
        assert contents(vectors) == contents(numbered(2)) + [[7.0, 8.0, 9.0], [-1.0, -2.0, -3.0]]

    def test_extend_by_itself_is_a_borrow_conflict(self) -> None:
        # The list is held exclusively before its argument is looked at.
        vectors = numbered(3)
        raises_exactly(RuntimeError, "Already mutably borrowed", lambda: vectors.extend(vectors))
        assert contents(vectors) == contents(numbered(3))
        vectors.extend(VecList(vectors))  # the flag was released
        assert len(vectors) == 6

    @pytest.mark.parametrize(
        ("argument", "text"),
        [
            (numbered(2).list, "argument 'other': 'list' object is not an instance of 'VecList'"),
            ((Vec3d(1, 2, 3),), "argument 'other': 'tuple' object is not an instance of 'VecList'"),
            (Vec3d(1, 2, 3), "argument 'other': 'Vec3d' object is not an instance of 'VecList'"),
            (None, "argument 'other': 'None' is not an instance of 'VecList'"),
        ],
    )
    def test_extend_refuses_anything_but_a_vec_list(self, argument, text) -> None:
        vectors = numbered(2)
        raises_exactly(TypeError, text, lambda: vectors.extend(argument))
        assert len(vectors) == 2

    @pytest.mark.parametrize(
        ("call", "text"),
        [
            (lambda v: v.append(), "VecList.append() missing 1 required positional argument: 'vec'"),
            (lambda v: v.append(Vec3d(1, 2, 3), other=1), "VecList.append() got an unexpected keyword argument 'other'"),
            (lambda v: v.extend(v, v), "VecList.extend() takes 1 positional arguments but 2 were given"),
            (lambda v: v.to_array(1), "VecList.to_array() takes 0 positional arguments but 1 was given"),
        ],
    )
    def test_argument_matching(self, call, text) -> None:
        vectors = numbered(1)
        raises_exactly(TypeError, text, lambda: call(vectors))
        assert len(vectors) == 1


class TestIterator:
    def test_yields_every_element_then_stays_exhausted(self) -> None:
        it = iter(numbered(3))
        assert iter(it) is it
        assert [parts(next(it)) for _ in range(3)] == contents(numbered(3))
        for _ in range(3):
            with pytest.raises(StopIteration):
                next(it)
        assert list(it) == []

    def test_iterates_its_own_copy(self) -> None:
        vectors = numbered(2)
        it = iter(vectors)
        vectors.append(Vec3d(5, 5, 5))
        vectors.extend(numbered(4))
        vectors.rotate(Quat(0, 1, 0, 0))
        del vectors
        gc.collect()
        assert [parts(v) for v in it] == contents(numbered(2))

    def test_each_iteration_starts_afresh(self) -> None:
        vectors = numbered(2)
        first = iter(vectors)
        next(first)
        second = iter(vectors)
        assert first is not second
        assert [v.x for v in second] == [0.0, 1.0]
        assert [v.x for v in first] == [1.0]

    def test_empty_list_iterates_zero_times(self) -> None:
        assert list(iter(VecList.empty())) == []

    def test_iterator_type(self) -> None:
        iterator_type = type(iter(VecList.empty()))
        assert iterator_type.__name__ == iterator_type.__qualname__ == "VecListIterator"
        assert iterator_type.__module__ == "builtins"
        assert not hasattr(quorvane, "VecListIterator")
        raises_exactly(TypeError, "cannot create 'builtins.VecListIterator' instances", iterator_type)
        with pytest.raises(TypeError):
            type("Sub", (iterator_type,), {})
        with pytest.raises(AttributeError):
            iter(VecList.empty()).cursor = 0  # type: ignore[attr-defined]


class TestElementsAreValues:
    @pytest.mark.parametrize(
        "hand_out",
        [lambda v: v[0], lambda v: v.list[0], lambda v: next(iter(v)), lambda v: list(v)[0]],
        ids=["item", "list", "next", "list-of-iteration"],
    )
    def test_changing_a_handed_out_vector_leaves_the_list_alone(self, hand_out) -> None:
        vectors = numbered(2)
        element = hand_out(vectors)
        element.x = 9.0
        assert parts(vectors[0]) == [0.0, -0.0, 0.0]
        vectors.rotate(Quat(0, 0, 1, 0))
        assert element.x == 9.0

    def test_to_array_rows_are_plain_lists(self) -> None:
        vectors = numbered(2)
        rows = vectors.to_array()
        rows[1][0] = 100.0
        assert vectors[1].x == 1.0


class TestPrintedForm:
    def test_two_elements(self) -> None:
        assert repr(VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)])) == "[Vec3d(1, 2, 3)\nVec3d(0.5, -1, 0)]"

    def test_floats_follow_the_module_text_rule(self) -> None:
        vectors = VecList([Vec3d(1e21, 0.1, nan), Vec3d(-0.0, inf, -inf), Vec3d(1.5e-7, 1 / 3, -2.5)])
        assert repr(vectors) == (
            "[Vec3d(1000000000000000000000, 0.1, NaN)\n"
            "Vec3d(-0, inf, -inf)\n"
            "Vec3d(0.00000015, 0.3333333333333333, -2.5)]"
        )
        assert str(vectors) == repr(vectors)

    @pytest.mark.parametrize("n", [1, 2, 3, 1000])
    def test_one_line_per_element_in_order(self, n: int) -> None:
        text = repr(numbered(n))
        assert text.count("\n") == n - 1
        assert text.startswith("[") and text.endswith("]")
        assert text[1:-1].split("\n") == [repr(Vec3d(i, -float(i), 0.5 * i)) for i in range(n)]


class TestClass:
    @pytest.mark.parametrize("cls", [VecList, type(iter(VecList.empty()))])
    def test_final_and_in_builtins(self, cls) -> None:
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert cls.__module__ == "builtins"
        assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"

    def test_instances_have_no_dict_and_are_not_collected(self) -> None:
        vectors = numbered(1)
        raises_exactly(
            AttributeError,
            "'builtins.VecList' object has no attribute 'extra' and no __dict__ for setting new attributes",
            lambda: setattr(vectors, "extra", 1),
        )
        assert not gc.is_tracked(vectors)
        assert not gc.is_tracked(iter(vectors))

    def test_identity_equality_and_hash(self) -> None:
        vectors = numbered(2)
        assert vectors == vectors and vectors != VecList(vectors)
        assert hash(vectors) == hash(vectors)
        with pytest.raises(TypeError):
            vectors < vectors  # noqa: B015

    def test_no_item_assignment_or_deletion(self) -> None:
        vectors = numbered(2)
        with pytest.raises(TypeError):
            vectors[0] = Vec3d(1, 1, 1)  # type: ignore[index]
        with pytest.raises(TypeError):
            del vectors[0]  # type: ignore[attr-defined]
        assert len(vectors) == 2

    def test_class_signature(self) -> None:
        assert VecList.__text_signature__ == "(list)"
        assert VecList.__doc__ in (None, "")

    @pytest.mark.parametrize(
        ("name", "signature"),
        [
            ("empty", "()"),
            ("append", "($self, vec)"),
            ("extend", "($self, other)"),
            ("to_array", "($self)"),
            ("dot", "($self, other)"),
            ("cross", "($self, other)"),
            ("distance_to", "($self, other)"),
            ("distance_squared", "($self, other)"),
            ("magnitude", "($self)"),
            ("normalize", "($self)"),
            ("is_unit", "($self)"),
            ("collapse", "($self, axis)"),
            ("rotate", "($self, quat)"),
            ("minimum_distance_to", "($self, other, stride)"),
        ],
    )
    def test_method_signatures(self, name: str, signature: str) -> None:
        method = getattr(VecList, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ is None

    def test_no_numeric_protocols_beyond_the_four_operators(self) -> None:
        vectors = numbered(2)
        for expression in (lambda: -vectors, lambda: +vectors, lambda: abs(vectors), lambda: vectors**2,
                           lambda: vectors // 2, lambda: vectors % 2, lambda: vectors @ vectors):
            with pytest.raises(TypeError):
                expression()

    def test_augmented_operators_rebind(self) -> None:
        vectors = numbered(2)
        before = vectors
        vectors += Vec3d(1, 1, 1)
        vectors *= 2
        assert vectors is not before
        assert contents(before) == contents(numbered(2))
        assert contents(vectors) == [[2.0, 2.0, 2.0], [4.0, 0.0, 3.0]]
