"""An operator answers NotImplemented for an operand it cannot use, but an interrupt, an exit
request or running out of memory while converting the operand is no answer: it goes on up."""

from __future__ import annotations

import operator
from collections.abc import Callable
from typing import Any

import pytest

from quorvane import AngleRadians, Vec3d, VecList


class FloatRaises:
    def __init__(self, error: BaseException) -> None:
        self.error = error

    def __float__(self) -> float:
        raise self.error


def make_list() -> VecList:
    return VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])


# (receiver factory, operator, receiver on the left)
SCALING = [
    pytest.param(lambda: Vec3d(1, 2, 3), operator.mul, True, id="v * x"),
    pytest.param(lambda: Vec3d(1, 2, 3), operator.mul, False, id="x * v"),
    pytest.param(lambda: Vec3d(1, 2, 3), operator.truediv, True, id="v / x"),
    pytest.param(make_list, operator.mul, True, id="vl * x"),
    pytest.param(make_list, operator.mul, False, id="x * vl"),
    pytest.param(make_list, operator.truediv, True, id="vl / x"),
    pytest.param(lambda: AngleRadians(1.5), operator.mul, True, id="radians * x"),
    pytest.param(lambda: AngleRadians(1.5), operator.truediv, True, id="radians / x"),
]


def apply(make: Callable[[], Any], op: Callable[[Any, Any], Any], receiver_left: bool, operand: Any) -> Any:
    receiver = make()
    return op(receiver, operand) if receiver_left else op(operand, receiver)


# Each test raises an exception object of its own: one shared object raised by several threads at
# once (the tests also run in parallel threads) would have its traceback written concurrently.
SERIOUS = [
    pytest.param(lambda: KeyboardInterrupt("stop"), id="KeyboardInterrupt"),
    pytest.param(lambda: SystemExit(3), id="SystemExit"),
    pytest.param(GeneratorExit, id="GeneratorExit"),
    pytest.param(MemoryError, id="MemoryError"),
]


@pytest.mark.parametrize(("make", "op", "receiver_left"), SCALING)
@pytest.mark.parametrize("make_error", SERIOUS)
def test_an_interrupt_while_converting_the_operand_propagates(make: Callable[[], Any], op: Any, receiver_left: bool,
                                                              make_error: Callable[[], BaseException]) -> None:
    error = make_error()
    with pytest.raises(type(error)) as raised:
        apply(make, op, receiver_left, FloatRaises(error))
    assert raised.value is error


@pytest.mark.parametrize(("make", "op", "receiver_left"), SCALING)
def test_an_ordinary_conversion_failure_still_leaves_it_to_the_interpreter(make: Callable[[], Any], op: Any,
                                                                         receiver_left: bool) -> None:
    with pytest.raises(TypeError, match="unsupported operand type"):
        apply(make, op, receiver_left, FloatRaises(ValueError("no float here")))


class LengthRaises:
    """A sequence of vectors whose len() fails; iterating it works."""

    def __init__(self, error: BaseException) -> None:
        self.error = error
        self.items = [Vec3d(1, 2, 3)]

    def __len__(self) -> int:
        raise self.error

    def __getitem__(self, index: int) -> Vec3d:
        return self.items[index]


def test_an_interrupt_from_len_of_the_items_propagates() -> None:
    with pytest.raises(KeyboardInterrupt):
        VecList(LengthRaises(KeyboardInterrupt()))


def test_an_ordinary_failure_of_len_is_only_a_missing_hint() -> None:
    assert len(VecList(LengthRaises(ValueError()))) == 1
