"""Every page under docs/ is a doctest session: its examples must print what the page says.

The examples of a block that imports a peer library missing here are skipped (tests/doc_pages.py).
"""

from __future__ import annotations

import doctest
import importlib.util
from pathlib import Path

import pytest

from doc_pages import page_session

DOCS = Path(__file__).resolve().parents[1] / "docs"
PAGES = sorted(DOCS.glob("*.md"))


def test_every_page_is_linked_from_the_index() -> None:
    index = (DOCS / "index.md").read_text(encoding="utf-8")
    assert [page.name for page in PAGES if f"({page.name})" not in index and page.name != "index.md"] == []


@pytest.mark.parametrize("page", PAGES, ids=[page.name for page in PAGES])
def test_page_examples_hold(page: Path) -> None:
    text = page.read_text(encoding="utf-8")
    if "import numpy" in text and importlib.util.find_spec("numpy") is None:
        pytest.skip("the page's examples use numpy, which is not installed")
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    runner.run(page_session(page))
    result = runner.summarize(verbose=False)
    assert result.attempted > 0, f"{page.name} has no examples"
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples in {page.name} failed (see above)"
