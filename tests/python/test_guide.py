"""The examples on every page of the documentation site (docs/) run as written."""

import doctest
import pathlib

import pytest

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"
PAGES = sorted(DOCS.rglob("*.md"))


@pytest.mark.parametrize("page", PAGES, ids=[page.relative_to(DOCS).as_posix() for page in PAGES])
def test_page_examples(page):
    # Each page runs on its own, in a fresh namespace, as a reader who opens it directly would.
    failures, tried = doctest.testfile(str(page), module_relative=False, report=True, verbose=False,
                                       encoding="utf-8")
    assert failures == 0
    if "```pycon" in page.read_text(encoding="utf-8"):
        assert tried > 0


def test_every_page_is_tried():
    examples = {page.relative_to(DOCS).as_posix(): doctest.DocTestParser().get_examples(
        page.read_text(encoding="utf-8")) for page in PAGES}
    assert {"index.md", "guide.md", "guide/getting-started.md", "guide/arithmetic-and-conversion.md",
            "catalogue.md", "concurrency.md"} <= examples.keys()
    assert sum(map(len, examples.values())) > 100
