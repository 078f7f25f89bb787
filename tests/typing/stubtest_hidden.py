"""stubtest over the parts of quorvane that an import cannot reach.

The stubs describe two things the module does not hand to an import: the `geometry` submodule,
an attribute of the module that is kept out of sys.modules, and the VecList iterator type, which
is reachable only through iter() of a VecList. Plain stubtest can only allowlist them
(stubs/stubtest-allowlist.txt), which leaves their members unchecked. This registers the
submodule under its name and hangs the iterator type on the module first, so that stubtest
compares every member of both with the stubs.

    python tests/typing/stubtest_hidden.py
"""

import sys

import quorvane
from mypy.stubtest import main

sys.modules["quorvane.geometry"] = quorvane.geometry
if hasattr(quorvane, "VecList"):
    setattr(quorvane, "VecListIterator", type(iter(quorvane.VecList([]))))
sys.argv[1:] = ["quorvane"]
sys.exit(main())
