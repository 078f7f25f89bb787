"""Every page under docs/ is a doctest session: its examples must print what the page says."""

from __future__ import annotations

import doctest
import importlib.util
import re
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parents[1] / "docs"
PAGES = sorted(DOCS.glob("*.md"))
STUBS = Path(__file__).resolve().parents[1] / "stubs" / "quorvane-stubs"

FENCE = re.compile(r"^```pycon\n(.*?)^```", re.MULTILINE | re.DOTALL)
IMPORTED = re.compile(r"^>>> (?:import|from) (\w+)", re.MULTILINE)


def blocks_needing_a_missing_module(text: str) -> list[tuple[int, int]]:
    """The line ranges of the example blocks that import a peer library not installed here
    (scipy and PyGLM have no free-threaded wheels): those blocks are skipped, the rest still run."""
    ranges = []
    for block in FENCE.finditer(text):
        if any(importlib.util.find_spec(name) is None for name in IMPORTED.findall(block.group(1))):
            first = text.count("\n", 0, block.start(1))
            ranges.append((first, first + block.group(1).count("\n")))
    return ranges


def run_examples(text: str, name: str, skipped: list[tuple[int, int]]) -> doctest.TestResults:
    test = doctest.DocTestParser().get_doctest(text, {"__name__": "__main__"}, name, name, 0)
    for example in test.examples:
        if any(first <= example.lineno < last for first, last in skipped):
            example.options[doctest.SKIP] = True
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    return runner.summarize(verbose=False)


def test_every_page_is_linked_from_the_index() -> None:
    index = (DOCS / "index.md").read_text(encoding="utf-8")
    assert [page.name for page in PAGES if f"({page.name})" not in index and page.name != "index.md"] == []


@pytest.mark.parametrize("page", PAGES, ids=[page.name for page in PAGES])
def test_page_examples_hold(page: Path) -> None:
    text = page.read_text(encoding="utf-8")
    if "import numpy" in text and importlib.util.find_spec("numpy") is None:
        pytest.skip("the page's examples use numpy, which is not installed")
    result = run_examples(text, page.name, blocks_needing_a_missing_module(text))
    assert result.attempted > 0, f"{page.name} has no examples"
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples in {page.name} failed (see above)"


def test_stub_docstring_examples_hold() -> None:
    import ast

    import quorvane

    for path in sorted(STUBS.glob("*.pyi")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.FunctionDef) and (docstring := ast.get_docstring(node)):
                globs = {**vars(quorvane), **vars(quorvane.geometry)}
                test = doctest.DocTestParser().get_doctest(docstring, globs, node.name, str(path), node.lineno)
                runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
                runner.run(test)
                assert runner.failures == 0, f"{node.name} in {path.name}: its example fails (see above)"
