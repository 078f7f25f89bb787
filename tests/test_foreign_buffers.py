"""Buffers from exporters other than numpy: ctypes arrays leave `strides` (and may leave
`shape`) unset, which means packed C order. A misread crashes the interpreter, so every case
runs in a child process of its own."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap

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
