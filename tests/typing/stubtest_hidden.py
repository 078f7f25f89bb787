"""stubtest over the parts of quorvane that an import cannot reach.

The stubs describe two things the module does not hand to an import: the `geometry` submodule,
an attribute of the module that is kept out of sys.modules, and the VecList iterator type, which
is reachable only through iter() of a VecList. Plain stubtest can only allowlist them
(stubs/stubtest-allowlist.txt), which leaves their members unchecked. This registers the
submodule under its name and hangs the iterator type on the module first, so that stubtest
compares every member of both with the stubs. The allowlist's other entries apply here as well.

    python tests/typing/stubtest_hidden.py
"""

import sys
import tempfile
from pathlib import Path

import quorvane
from mypy.stubtest import main

ALLOWLIST = Path(__file__).resolve().parents[2] / "stubs" / "stubtest-allowlist.txt"
# The entries for what this script makes reachable: here stubtest must find them.
EXPOSED = {"quorvane.geometry", "quorvane.VecListIterator"}

sys.modules["quorvane.geometry"] = quorvane.geometry
if hasattr(quorvane, "VecList"):
    setattr(quorvane, "VecListIterator", type(iter(quorvane.VecList([]))))
entries = [line.strip() for line in ALLOWLIST.read_text(encoding="utf-8").splitlines()]
with tempfile.NamedTemporaryFile("w", suffix=".txt", encoding="utf-8") as allowlist:
    allowlist.write("".join(f"{entry}\n" for entry in entries if entry and not entry.startswith("#")
                            and entry not in EXPOSED))
    allowlist.flush()
    sys.argv[1:] = ["quorvane", "--allowlist", allowlist.name]
    status = main()
sys.exit(status)
