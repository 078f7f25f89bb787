"""The documentation pages as doctest sessions, read once for the tests and the type checkers.

tests/test_docs.py runs the examples of every page; run as a script, this writes them out as
Python files for mypy and pyright:

    python tests/doc_pages.py OUTDIR

Each page (docs/*.md and README.md) becomes OUTDIR/docs_<page>.py, holding its examples in
order. An example whose expected output is a traceback or NotImplemented shows a misuse being
refused, on purpose: it is left out, as it binds nothing for the examples after it, and
tests/typing/check_types.py is where the stubs must reject misuses. A page is an interactive
session, where an expression's value is printed and a name may be bound again to a value of
another type, so neither is reported.
"""

from __future__ import annotations

import doctest
import importlib.util
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
FENCE = re.compile(r"^```pycon\n(.*?)^```", re.MULTILINE | re.DOTALL)
IMPORTED = re.compile(r"^>>> (?:import|from) (\w+)", re.MULTILINE)
HEADER = (
    "# Written by tests/doc_pages.py from {page}; edit the page, not this file.\n"
    "# mypy: allow-redefinition\n"
    "# pyright: reportUnusedExpression=false\n"
)


def blocks_needing_a_missing_module(text: str) -> list[tuple[int, int]]:
    """The line ranges of the example blocks that import a peer library not installed here
    (scipy and PyGLM have no free-threaded wheels): those blocks are skipped, the rest still run."""
    ranges = []
    for block in FENCE.finditer(text):
        if any(importlib.util.find_spec(name) is None for name in IMPORTED.findall(block.group(1))):
            first = text.count("\n", 0, block.start(1))
            ranges.append((first, first + block.group(1).count("\n")))
    return ranges


def page_session(page: Path) -> doctest.DocTest:
    """The page's examples, those of blocks that need a missing module marked to be skipped."""
    text = page.read_text(encoding="utf-8")
    test = doctest.DocTestParser().get_doctest(text, {"__name__": "__main__"}, page.name, str(page), 0)
    skipped = blocks_needing_a_missing_module(text)
    for example in test.examples:
        if any(first <= example.lineno < last for first, last in skipped):
            example.options[doctest.SKIP] = True
    return test


def checked_source(page: Path) -> str:
    """What the type checkers read of a page: the examples that run here and refuse nothing."""
    kept = [example.source for example in page_session(page).examples
            if not example.options.get(doctest.SKIP) and example.exc_msg is None
            and example.want != "NotImplemented\n"]
    return HEADER.format(page=page.relative_to(ROOT)) + "".join(kept)


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for stale in out.glob("docs_*.py"):
        stale.unlink()
    for page in [*sorted((ROOT / "docs").glob("*.md")), ROOT / "README.md"]:
        (out / f"docs_{page.stem.lower()}.py").write_text(checked_source(page), encoding="utf-8")


if __name__ == "__main__":
    main()
