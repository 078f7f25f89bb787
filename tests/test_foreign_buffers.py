"""Buffers from exporters other than numpy: ctypes arrays leave `strides` (and may leave
`shape`) unset, which means packed C order. A misread crashes the interpreter, so every case
runs in a child process of its own."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap
import warnings

import pytest

try:
    import numpy
except ImportError:
    numpy = None

SIGNED = [-128, 127, -1, 0, 5, -7]
UNSIGNED = [255, 0, 1, 128, 7, 9]
FLOATS = [1.5, -2.0, 0.25, 2.0**-100, -0.0, 2.0**100]  # exact in float32 too

# (expression building the buffer from `values`, the values)
CTYPES_CASES = {
    **{name: (f"(ctypes.{name} * 6)(*values)", SIGNED if name.startswith("c_int") else UNSIGNED)
       for name in ["c_int8", "c_uint8", "c_int16", "c_uint16", "c_int32", "c_uint32", "c_int64", "c_uint64"]},
    "c_float": ("(ctypes.c_float * 6)(*values)", FLOATS),
    "c_double": ("(ctypes.c_double * 6)(*values)", FLOATS),
    "big-endian c_double": ("(ctypes.c_double.__ctype_be__ * 6)(*values)", FLOATS),
    "big-endian c_float": ("(ctypes.c_float.__ctype_be__ * 6)(*values)", FLOATS),
    "big-endian c_int32": ("(ctypes.c_int32.__ctype_be__ * 6)(*values)", SIGNED),
    "2-D c_int16": ("((ctypes.c_int16 * 3) * 2)((*values[:3],), (*values[3:],))", SIGNED),
    "2-D c_float": ("((ctypes.c_float * 3) * 2)((*values[:3],), (*values[3:],))", FLOATS),
    "2-D big-endian c_double": ("((ctypes.c_double.__ctype_be__ * 3) * 2)((*values[:3],), (*values[3:],))", FLOATS),
}
NUMPY_CASES = {
    f"as_ctypes {dtype} ({shape})": (f"numpy.ctypeslib.as_ctypes(numpy.array(values, dtype='{dtype}').reshape({shape}))", values)
    for dtype, values in [("float32", FLOATS), ("int8", SIGNED), ("uint64", UNSIGNED), ("float64", FLOATS)]
    for shape in ["6", "2, 3"]
}


def read_in_child(expression: str, values: list[float]) -> subprocess.CompletedProcess[str]:
    script = textwrap.dedent(
        f"""
        import ctypes, json
        try:
            import numpy
        except ImportError:
            pass
        from quorvane import VecList
        values = {values!r}
        print(json.dumps([list(v) for v in VecList.from_array({expression})]))
        """
    )
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)


needs_numpy = pytest.mark.skipif(numpy is None, reason="needs numpy")


@pytest.mark.parametrize("case", [*CTYPES_CASES, *(pytest.param(case, marks=needs_numpy) for case in NUMPY_CASES)])
def test_a_buffer_without_strides_is_read_in_c_order(case: str) -> None:
    expression, values = {**CTYPES_CASES, **NUMPY_CASES}[case]
    done = read_in_child(expression, values)
    assert done.returncode == 0, f"the child ended with {done.returncode}: {done.stderr[-2000:]}"
    assert json.loads(done.stdout) == [[float(x) for x in values[k:k + 3]] for k in (0, 3)]


# ---- a rotation matrix from any two-dimensional buffer ----

ROTATION = [[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]]  # a quarter turn about z


def matrix_sources() -> dict[str, object]:
    found: dict[str, object] = {"list": ROTATION}
    if numpy is not None:
        array = numpy.array(ROTATION)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", PendingDeprecationWarning)  # numpy discourages its matrix class
            found["np.matrix"] = numpy.matrix(ROTATION)
        found |= {"ndarray": array, "transposed view": array.T.copy().T,
                  "memoryview": memoryview(array), "int32 memoryview": memoryview(array.astype(numpy.int32)),
                  "float32": array.astype(numpy.float32), "big-endian": array.astype(">f8"),
                  "every other column": numpy.repeat(array, 2, axis=1)[:, ::2]}
    return found


@pytest.mark.parametrize("source", list(matrix_sources()))
def test_from_rotation_matrix_reads_every_two_dimensional_buffer(source: str) -> None:
    from quorvane import Quat

    assert Quat.from_rotation_matrix(matrix_sources()[source]) == Quat.from_rotation_matrix(ROTATION)


class Shrinking(list):
    """Loses its last item once its second one is read."""

    def __getitem__(self, index):
        item = list.__getitem__(self, index)
        if index == 1:
            self.pop()
        return item


def unprintable_class() -> type:
    """A class whose qualified name has no UTF-8 form."""
    made = type("Unprintable", (), {})
    made.__qualname__ = "\udc80"
    return made


def bad_matrices() -> dict[str, tuple[object, type, str]]:
    expected = "argument 'matrix': expected a sequence of 3 rows of 3 floats, "
    found = {
        "a list that shrinks": (Shrinking(ROTATION), ValueError, expected + "got 2 rows (it changed while being read)"),
        "a row that shrinks": ([ROTATION[0], Shrinking([1.0, 0.0, 0.0]), ROTATION[2]], ValueError,
                               expected + "got 2 items in row 1 (it changed while being read)"),
        "an unprintable class name": (unprintable_class()(), TypeError, expected + "not '\\udc80'"),
    }
    if numpy is not None:
        found |= {
            "(3, 3, 1)": (numpy.zeros((3, 3, 1)), ValueError, expected + "got a buffer of shape (3, 3, 1)"),
            "(2, 3) memoryview": (memoryview(numpy.zeros((2, 3))), ValueError, expected + "got 2 rows"),
            "(3, 4) memoryview": (memoryview(numpy.zeros((3, 4))), ValueError, expected + "got 4 items in row 0"),
            "objects": (numpy.array([[0.0, 1.0, "x"]] * 3, dtype=object), TypeError,
                        "argument 'matrix': must be real number, not str"),
        }
    return found


@pytest.mark.parametrize("case", list(bad_matrices()))
def test_a_bad_matrix_is_refused_with_the_arguments_own_text(case: str) -> None:
    from quorvane import Quat

    matrix, error, text = bad_matrices()[case]
    with pytest.raises(error) as raised:
        Quat.from_rotation_matrix(matrix)
    assert type(raised.value) is error and str(raised.value) == text
