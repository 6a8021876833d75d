"""The examples of the user guide (docs/guide.md) run as written."""

import doctest
import pathlib

GUIDE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "guide.md"


def test_guide_examples():
    failures, tried = doctest.testfile(str(GUIDE), module_relative=False, report=True, verbose=False)
    assert tried > 50
    assert failures == 0
