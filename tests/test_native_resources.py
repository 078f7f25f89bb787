"""What the native module asks of the system: the loader's TLS model, and which memory it
advises to use huge pages."""

from __future__ import annotations

import struct
import subprocess
import sys
import textwrap

import pytest

import quorvane

DT_FLAGS, DF_STATIC_TLS = 30, 0x10


def dynamic_flags(path: str) -> int:
    """DT_FLAGS of a 64-bit little-endian ELF shared object (0 when it has none)."""
    with open(path, "rb") as file:
        data = file.read()
    assert data[:6] == b"\x7fELF\x02\x01", "a 64-bit little-endian ELF file"
    program_headers, entry_size, entries = struct.unpack_from("<Q", data, 0x20)[0], *struct.unpack_from("<HH", data, 0x36)
    for n in range(entries):
        kind, _, offset, _, _, size = struct.unpack_from("<IIQQQQ", data, program_headers + n * entry_size)
        if kind == 2:  # PT_DYNAMIC
            for at in range(offset, offset + size, 16):
                tag, value = struct.unpack_from("<qQ", data, at)
                if tag == DT_FLAGS:
                    return value
    return 0


@pytest.mark.skipif(not sys.platform.startswith("linux") or sys.byteorder != "little" or sys.maxsize < 2**32,
                    reason="reads a 64-bit little-endian ELF module")
def test_the_module_needs_no_static_tls() -> None:
    # A module flagged STATIC_TLS fails to load once other modules used up the loader's reserve.
    assert not dynamic_flags(quorvane.__file__) & DF_STATIC_TLS


MAPPINGS = """
    import re
    import numpy
    from quorvane import VecList

    def mapping_of(address):
        with open("/proc/self/smaps") as smaps:
            lines = smaps.read().splitlines()
        for n, line in enumerate(lines):
            found = re.match(r"([0-9a-f]+)-([0-9a-f]+) \\S+ \\S+ \\S+ \\S+ *(.*)", line)
            if found and int(found[1], 16) <= address < int(found[2], 16):
                flags = next(l for l in lines[n + 1:] if l.startswith("VmFlags:")).split()[1:]
                return int(found[1], 16), found[3], "hg" in flags

    found = []
    for round_number in range(3):  # freed and allocated again: the allocator may reuse its heap
        points = VecList.from_array(bytes(24 * 400_000)).collapse(0)  # 9.6 MB, written by a step
        address = numpy.asarray(points).__array_interface__["data"][0]
        start, name, advised = mapping_of(address)
        found.append([start == address, name, advised])
        del points
    print(found)
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/smaps")
def test_a_large_list_lives_in_a_mapping_of_its_own() -> None:
    pytest.importorskip("numpy")
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(MAPPINGS)], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    for own, name, _advised in eval(done.stdout):
        assert own and name != "[heap]", done.stdout
