"""The examples of the user guide (docs/guide.md) run as written."""

import doctest
import pathlib

import pytest

GUIDE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "guide.md"


@pytest.mark.skipif(not GUIDE.is_file(), reason="the guide is not part of this tree")
def test_guide_examples():
    failures, tried = doctest.testfile(str(GUIDE), module_relative=False, report=True, verbose=False)
    assert tried > 50
    assert failures == 0
