"""The module, the Tolvat type and its plain constructors."""

import subprocess
import sys
import sysconfig

import pytest

import tolvat
from tolvat import LogTolvat, Tolvat

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def test_module_exposes_exactly_the_two_classes_in_order():
    public = [name for name in vars(tolvat) if not name.startswith("__")]
    assert public == ["Tolvat", "LogTolvat"]
    assert isinstance(tolvat.__doc__, str) and "\n" not in tolvat.__doc__.strip()


@pytest.mark.skipif(not FREE_THREADED, reason="needs the free-threaded interpreter")
def test_import_keeps_the_gil_disabled():
    code = "import sys, tolvat; print(sys._is_gil_enabled())"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


@pytest.mark.parametrize("cls, qualname, doc", [(Tolvat, "Tolvat", "Unit! yippee"), (LogTolvat, "LogTolvat", None)])
def test_type_level_behaviour(cls, qualname, doc):
    assert cls.__module__ == "tolvat" and cls.__qualname__ == qualname
    assert cls.__doc__ == doc
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # An ordinary mutable heap type: attributes can be set on the class.
    cls.some_attribute = 1
    del cls.some_attribute
    assert cls.__weakrefoffset__ == 0 and cls.__dictoffset__ == 0


def test_instances_are_unhashable_always_true_and_closed():
    zero = Tolvat.unit("m") * 0
    with pytest.raises(TypeError):
        hash(zero)
    assert bool(zero) is True
    with pytest.raises(AttributeError):
        zero.anything = 1
    import weakref

    with pytest.raises(TypeError):
        weakref.ref(zero)


def test_method_signatures_are_exposed():
    import inspect

    assert str(inspect.signature(Tolvat.unit)) == "(unit_name_or_symbol)"
    assert str(inspect.signature(Tolvat.as_number)) == "(self, /, other=None, scale=False)"
    assert Tolvat.as_unit.__text_signature__ == "($self, other)"
    assert Tolvat.__round__.__text_signature__ == "($self, ndigits=None)"
    assert Tolvat.custom.__text_signature__ == "($cls, name, abbr, definition)"


def test_unit_parses_by_position_or_keyword_and_keeps_the_expression():
    assert Tolvat.unit("m").as_number() == 1.0
    assert Tolvat.unit(unit_name_or_symbol="m").as_number("m") == 1.0
    speed = Tolvat.unit("km/hr")
    assert speed.as_number() == 1.0  # not a value in base units
    assert speed.as_number("m/s") == pytest.approx(1 / 3.6)


@pytest.mark.parametrize("text", ["", "  ", "furlongs", " m / s ", "m/s/s", "Kg", "dB", "m\x00", "\U0001f600"])
def test_unit_reports_texts_that_name_no_unit(text):
    with pytest.raises(LookupError) as info:
        Tolvat.unit(text)
    assert type(info.value) is LookupError
    assert info.value.args == (f"Unit {text} not found",)


def test_huge_expressions_finish():
    assert Tolvat.unit("m." * 50_000).as_number() == 1.0
    with pytest.raises(LookupError):
        Tolvat.unit("." * 2_000_000)
    with pytest.raises(LookupError):
        Tolvat.unit("/" * 2_000_000)


def test_empty_is_a_dimensionless_one():
    one = Tolvat.empty()
    assert one.as_number() == 1.0
    assert one.as_unitless() == 1.0
    assert str(one) == "1 []"


def test_incompatible_units_name_the_left_operand_first():
    with pytest.raises(TypeError) as info:
        Tolvat.unit("m") + Tolvat.unit("s")
    assert info.value.args == ("[m] and [s] are not compatible",)


def test_support_package_is_beside_the_module_and_not_imported_by_it():
    code = "import sys, tolvat; print('_tolvat' in sys.modules); import _tolvat; print(_tolvat.__doc__ is not None)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["False", "True"]
