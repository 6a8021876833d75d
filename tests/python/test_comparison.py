"""Rich comparison of Tolvat: the right operand in the left operand's units, exact IEEE order."""

import operator

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
NAN = float("nan")
OPS = [operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge]


def dimensionless(value):
    return Tolvat.empty() * value


def test_results_are_bools_for_every_operator():
    one, two = U("m"), U("m") * 2
    assert [op(one, two) for op in OPS] == [True, True, False, True, False, False]
    assert [op(two, one) for op in OPS] == [False, False, False, True, True, True]
    assert [op(one, U("m")) for op in OPS] == [False, True, True, False, False, True]
    for op in OPS:
        assert type(op(one, two)) is bool


def test_right_operand_is_converted_into_the_left_units():
    assert U("km") == U("m") * 1000
    assert U("m") * 1000 == U("km")
    assert (U("m") < U("ft") * 2) is False  # 2 ft is 0.6096 m
    assert (U("ft") * 2 > U("m")) is False  # 1 m is 3.28... ft
    # 7 ft is exactly 2.1336 m when converted into metres, but 2.1336 m converted into feet is
    # 6.999999999999999 ft: each direction converts the right operand.
    metres, feet = U("m") * 2.1336, U("ft") * 7
    assert metres == feet
    assert not (feet == metres)
    assert feet > metres
    assert metres >= feet and metres <= feet


def test_offsets_apply_to_single_affine_units():
    assert U("°C") * 0 == U("K") * 273.15
    assert U("K") * 273.15 == U("°C") * 0
    assert U("°C") * 20 > U("K") * 293


def test_numbers_compare_with_dimensionless_quantities():
    five = dimensionless(5)
    assert five == 5 and five == 5.0 and five != 6
    assert 5 == five and 5.0 == five
    assert 5 < dimensionless(6)  # reflected: dimensionless(6) > 5
    assert not (7 < dimensionless(6))
    assert 7 >= dimensionless(6)
    assert dimensionless(1) == True  # noqa: E712 - bool is an int
    assert dimensionless(0) == False  # noqa: E712
    assert U("m/km") == 0.001  # only the dimension counts, not the collection
    assert U("rad") == 1
    assert dimensionless(-0.0) == 0.0 and dimensionless(0.0) == -0.0


def test_large_integers_compare_as_the_nearest_double():
    big = dimensionless(2.0**40)
    assert big == 2**40
    assert dimensionless(2147483648.0) == 2147483648
    assert dimensionless(1e20) == 10**20
    assert dimensionless(float(2**64)) == 2**64 + 1  # the int rounds to the nearest double
    # Too large even for a double: not coercible, so Python's fallback decides.
    assert (big == 10**400) is False
    assert (big != 10**400) is True
    with pytest.raises(TypeError):
        big < 10**400


def test_incompatible_dimensions_raise_for_every_operator():
    for op in OPS:
        with pytest.raises(TypeError) as info:
            op(U("m"), U("s"))
        assert info.value.args == ("[s] and [m] are not compatible",)
    with pytest.raises(TypeError) as info:
        U("m") * 5 == 5
    assert info.value.args == ("[] and [m] are not compatible",)
    with pytest.raises(TypeError) as info:
        5 == U("m") * 5  # reflected on the quantity
    assert info.value.args == ("[] and [m] are not compatible",)
    with pytest.raises(TypeError) as info:
        U("km/hr") != "kg"
    assert info.value.args == ("[kg] and [km/hr] are not compatible",)


def test_unit_texts_are_one_of_their_unit():
    assert U("m") == "m"
    assert U("km") > "m"
    assert U("m") * 1000 == "km"
    assert U("s") * 3600 == "hr"
    # Texts that name no unit are not coercible: == is False, != True, orderings raise.
    assert (U("m") == "furlongs") is False
    assert (U("m") != "furlongs") is True
    with pytest.raises(TypeError) as info:
        U("m") < "furlongs"
    assert "not supported" in str(info.value)


@pytest.mark.parametrize("other", [None, [1], object(), 1j, b"m", {"m": 1}, (1,)])
def test_uncoercible_operands_fall_back_to_python(other):
    q = U("m")
    assert (q == other) is False
    assert (q != other) is True
    assert (other == q) is False
    for op in [operator.lt, operator.le, operator.gt, operator.ge]:
        with pytest.raises(TypeError) as info:
            op(q, other)
        assert "not supported" in str(info.value)


def test_objects_whose_str_raises_are_not_touched():
    class Loud:
        def __str__(self):
            raise AssertionError("str() must not be called")

    assert (U("m") == Loud()) is False


def test_nan_is_unequal_to_everything():
    q = U("m") * NAN
    assert (q == q) is False
    assert (q != q) is True
    for op in [operator.lt, operator.le, operator.gt, operator.ge]:
        assert op(q, q) is False
        assert op(q, U("m")) is False
        assert op(U("m"), q) is False
    assert (dimensionless(NAN) == NAN) is False
    assert (dimensionless(NAN) != NAN) is True


def test_exact_comparison_without_tolerance():
    assert dimensionless(0.1) + 0.2 != 0.3
    assert U("m") * 0.30000000000000004 != U("m") * 0.3
    assert U("m") * 0.30000000000000004 > U("m") * 0.3
    assert U("m") * float("inf") > U("km") * 1e300
    assert U("m") * -float("inf") < U("km") * -1e300


def test_quantity_compares_with_itself_and_log_quantities():
    q = U("km")
    assert q == q and not (q < q)
    ten = LogTolvat.unit("B")  # one bel stands for the ratio 10
    assert dimensionless(10) == ten
    assert dimensionless(11) > ten
    with pytest.raises(TypeError) as info:
        U("m") == ten
    assert info.value.args == ("[] and [m] are not compatible",)


def test_custom_units_compare_by_dimension_and_size():
    smoot = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
    assert smoot == U("m") * 1.7018
    assert U("m") * 1.7018 == smoot
    assert smoot > U("m")
    with pytest.raises(TypeError) as info:
        smoot == "s"
    assert info.value.args == ("[s] and [smt] are not compatible",)


def test_comparison_leaves_both_sides_unchanged():
    left, right = U("ft2/m"), U("m/km")
    with pytest.raises(TypeError):
        left == right
    assert left.as_number() == 1.0 and right.as_number() == 1.0
    assert left.descriptive().endswith("[foot]")  # printing simplifies; comparing did not
