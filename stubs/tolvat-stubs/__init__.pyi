"""Physical quantities: values with units, conversions and arithmetic.

Two classes: ``Tolvat``, a float value in a product of units (``9.81 [m/s2]``), and
``LogTolvat``, an amount in a logarithmic ratio unit (bel, decibel, neper, semitone).
"""

from collections.abc import Callable, Iterator, Mapping
from types import MappingProxyType
from typing import Any, ClassVar, TypeAlias, final, overload

import numpy as np
from numpy.typing import NDArray

_Number: TypeAlias = int | float
"""A plain number. An ``int`` of any size becomes the nearest float; ``True`` and ``False`` are 1 and 0."""

_UnitOperand: TypeAlias = Tolvat | LogTolvat | int | float | str
"""Anything that stands for a quantity: a ``Tolvat``; a ``LogTolvat`` (its plain ratio, dimensionless);
a number (dimensionless); or a unit expression such as ``"km/hr"`` (one of that unit)."""

_Values: TypeAlias = NDArray[Any]
"""An array of values: NumPy's ``ndarray`` (or any array that follows NumPy's protocols, such as a
Dask array). Booleans, integers and floats of up to 64 bits are taken, as float64."""

_Operand: TypeAlias = _UnitOperand | _Values
"""What arithmetic takes: a unit operand, or an array (a dimensionless quantity over its values)."""

_NumberOperand: TypeAlias = LogTolvat | int | float
"""Anything that stands for a plain number: a number, or a ``LogTolvat`` (its ratio)."""

@final
class Tolvat:
    """A 64-bit float value in a product of units raised to real powers.

    Instances come only from the class methods ``unit``, ``empty``, ``constant`` and ``custom`` and
    from operations on quantities; the class cannot be called or subclassed. Quantities are
    unhashable and always true. Results of ``+`` and ``-`` keep the units of the ``Tolvat`` the
    operation runs on; every result is cheaply simplified (``m/km`` cancels to a plain number).
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    """``None``: quantities compare equal across units (1 km == 1000 m), so ``hash()`` raises ``TypeError``."""

    # ---- constructors ------------------------------------------------------------------------
    @classmethod
    def unit(cls, unit_name_or_symbol: str) -> Tolvat:
        """One of the given unit expression, e.g. ``Tolvat.unit("km/hr")``, kept exactly as parsed.

        A unit is a name (``"meter"``), a symbol (``"m"``) or an alias (``"metre"``), with at most
        one prefix (``"kilometre"``, ``"km"``). Factors are joined with ``.``, one ``/`` starts the
        denominator, and a power is a trailing digit: ``"N.m2/kg2"``, ``"1/s"``. Pieces that name
        no unit are dropped with a ``UserWarning`` (``"km/h"`` reads as km: the hour is ``hr``).

        Raises ``LookupError`` ("Unit ... not found") when nothing in the text names a unit, with
        a note suggesting the nearest spelling, and ``TypeError`` when the argument is not a ``str``.
        """

    @classmethod
    def constant(cls, constant_name: str) -> Tolvat:
        """A physical constant by name or alternative name, e.g. ``Tolvat.constant("c")``.

        Raises ``LookupError`` ("Constant ... not found") for an unknown name.
        """

    @classmethod
    def empty(cls) -> Tolvat:
        """The dimensionless quantity 1, with no units at all."""

    @classmethod
    def custom(cls, name: str, abbr: str, definition: _UnitOperand) -> Tolvat:
        """One of a new unit called ``name`` (printed as ``abbr``) that is as large as ``definition``.

        Only the size and dimension of the definition are kept (an offset is dropped). Raises what
        the conversion of ``definition`` raises: ``LookupError`` for a text naming no unit,
        ``TypeError`` for an object of no operand kind.
        """

    @classmethod
    def parse(cls, text: str, /, *, units: Mapping[str, _UnitOperand] | None = None) -> Tolvat:
        """The quantity a whole text stands for, read strictly, e.g. ``Tolvat.parse("9.81 m/s^2")``.

        Reads numbers (``1e3``, ``6.02×10^23``, ``1_000``), products (``kg m``, ``N·m``, ``W/m2.K``),
        any number of ``/``, ``per``, powers (``m^2``, ``m**2``, ``m2``, ``m²``, ``s^-1``,
        ``m^(1/2)``, ``square``, ``squared``), parentheses, sums (``5 ft 2 in``), plurals, other
        tools' spellings (``h``, ``degC``, ``mph``, ``%``) and the printed form ``9.81 [m/s2]``.
        ``units`` maps extra names to quantities. Raises ``LookupError`` naming a piece that is
        neither a number nor a unit, ``ValueError`` for a malformed text, ``TypeError`` for a sum of
        incompatible terms.
        """

    @classmethod
    def wrap(cls, values: _Values, unit: _UnitOperand) -> Tolvat:
        """A quantity over the float64 array ``values`` in the units of ``unit`` (a unit text, or a
        quantity whose value is ignored), keeping the array itself: no copy is made, and later
        changes to the array show in the quantity. ``Tolvat.unit("m") * values`` makes a new array
        instead. Raises ``TypeError`` for an array of another element type.
        """

    # ---- arrays ------------------------------------------------------------------------------
    # A quantity's value may be an array: every operation then works element by element, each
    # element exactly as on a quantity of that one value. A quantity of one value has none of
    # these (``AttributeError``, or Python's ``TypeError`` for ``len()``, indexing and ``iter()``).
    @property
    def shape(self) -> tuple[int, ...]:
        """The shape of the value array."""

    @property
    def ndim(self) -> int:
        """The number of dimensions of the value array."""

    @property
    def size(self) -> int:
        """The number of values."""

    @property
    def dtype(self) -> np.dtype[np.float64]:
        """The element type of the value array: always float64."""

    def __len__(self) -> int:
        """The length of the first axis of the value array."""

    def __getitem__(self, key: Any, /) -> Tolvat:
        """The values at ``key`` (integers, slices, boolean masks, index arrays) in the same units:
        a quantity of one value for a single element, else a quantity over the selected array
        (a slice is a view of the same array, as in NumPy)."""

    def __setitem__(self, key: Any, value: _Operand, /) -> None:
        """Sets the values at ``key`` to ``value`` converted into this quantity's units (with the
        offsets of °C and °F, as ``as_unit`` converts). Raises ``TypeError`` for other dimensions."""

    def __iter__(self) -> Iterator[Tolvat]:
        """The quantities along the first axis (quantities of one value for a 1-d array)."""

    def __bool__(self) -> bool:
        """True for a quantity of one value (zero too); for an array, NumPy's rule (one element,
        else ``ValueError``)."""

    # ---- inspection --------------------------------------------------------------------------
    @property
    def value(self) -> float:
        """The number of the units, as stored (``float(q)``); for a quantity over an array the array
        itself, as ``as_number()`` gives it (typed as ``float`` here, being the same class)."""

    @property
    def units(self) -> Tolvat:
        """The units, as a quantity of value 1 (``1 [km/hr]``)."""

    @property
    def dimension(self) -> MappingProxyType[str, int | float]:
        """The base dimension, a read-only mapping from base-unit symbol to power (``{'m': 1, 's': -1}``).

        Whole powers are ``int``; powers of zero are left out.
        """

    def is_compatible(self, other: _UnitOperand) -> bool:
        """Whether ``other`` (a quantity, unit text or number) has the same dimension as this one."""

    # ---- conversion --------------------------------------------------------------------------
    def as_unit(self, other: _UnitOperand) -> Tolvat:
        """The same quantity in the units of ``other`` (a unit text or a quantity; its value is ignored).

        Offsets (°C, °F) apply when both sides are single units. Raises ``TypeError``
        ("[m] and [s] are not compatible") when the dimensions differ.
        """

    def as_number(self, other: _UnitOperand | None = None, scale: bool = False) -> float:
        """The value as a float: the stored value, or the value in the units of ``other``.

        For a quantity over an array (typed as ``float`` here, being the same class): without
        ``other`` the array itself (no copy), with ``other`` a new float64 array.

        With ``scale=True`` the result counts how many of the quantity ``other`` this one holds.
        ``scale`` must be a ``bool`` (or NumPy's boolean); an ``int`` raises ``TypeError``.
        """

    def as_unitless(self) -> float:
        """The value of a dimensionless quantity as a plain float (180 degree gives pi).

        Raises ``TypeError`` when the quantity has a dimension.
        """

    def as_base_units(self) -> Tolvat:
        """The quantity in the eight base units (USD, A, cd, K, kg, m, mol, s); offsets never apply."""

    def simplify(self) -> Tolvat:
        """A copy in the fully simplified units (``N.m.kg/J`` becomes ``kg``)."""

    def simplify_inplace(self) -> None:
        """Replace this object's units by the fully simplified ones, converting the value.

        Needs exclusive access: raises ``RuntimeError`` ("Already borrowed") while another call
        uses the object.
        """

    def __float__(self) -> float:
        """The stored value, with no unit conversion."""

    def __int__(self) -> int:
        """The stored value truncated toward zero, as an exact ``int`` of any size.

        Raises ``ValueError`` for NaN and ``OverflowError`` for an infinity.
        """

    # ---- arithmetic --------------------------------------------------------------------------
    def __add__(self, other: _Operand, /) -> Tolvat:
        """The sum in this quantity's units; raises ``TypeError`` when the dimensions differ."""

    def __radd__(self, other: _Operand, /) -> Tolvat:
        """``other + self`` in this quantity's units; raises ``TypeError`` when the dimensions differ."""

    def __sub__(self, other: _Operand, /) -> Tolvat:
        """The difference in this quantity's units; raises ``TypeError`` when the dimensions differ."""

    def __rsub__(self, other: _Operand, /) -> Tolvat:
        """``other - self`` in this quantity's units; raises ``TypeError`` when the dimensions differ."""

    def __mul__(self, other: _Operand, /) -> Tolvat:
        """The product; units multiply (a unit text multiplies by one of that unit)."""

    def __rmul__(self, other: _Operand, /) -> Tolvat:
        """``other * self``; units multiply."""

    def __truediv__(self, other: _Operand, /) -> Tolvat:
        """The quotient; units divide. Division by zero gives an infinity or NaN, never an exception."""

    def __rtruediv__(self, other: _Operand, /) -> Tolvat:
        """``other / self``; units divide."""

    def __pow__(self, exponent: _Operand, modulus: _NumberOperand | None = None, /) -> Tolvat:
        """This quantity to a dimensionless power (any real number); a modulus is ignored.

        Raises ``TypeError`` when the exponent has a dimension, and ``ValueError`` when a
        NaN or infinite exponent meets a quantity with units, or when the unit powers overflow.
        """

    def __rpow__(self, base: _Operand, modulus: _NumberOperand | None = None, /) -> Tolvat:
        """``base ** self``; this quantity must be dimensionless."""

    def __div__(self, other: _Operand) -> Tolvat:
        """As ``self / other``, but a bad ``other`` raises instead of giving ``NotImplemented``."""

    def __rdiv__(self, other: _Operand) -> Tolvat:
        """As ``other / self``, but a bad ``other`` raises instead of giving ``NotImplemented``."""

    def __neg__(self) -> Tolvat:
        """The negated quantity."""

    def __pos__(self) -> Tolvat:
        """A (cheaply simplified) copy."""

    def __abs__(self) -> Tolvat:
        """A copy with the sign of the value cleared, units unchanged."""

    def exp(self) -> float:
        """e to the power of a dimensionless quantity; raises ``TypeError`` otherwise."""

    def __exp__(self) -> float:
        """Same as ``exp()``."""

    def log(self) -> float:
        """Natural logarithm of a dimensionless quantity; raises ``TypeError`` otherwise."""

    def __log__(self) -> float:
        """Same as ``log()``."""

    def log10(self) -> float:
        """Decimal logarithm of a dimensionless quantity; raises ``TypeError`` otherwise."""

    def __log10__(self) -> float:
        """Same as ``log10()``."""

    # ---- comparison --------------------------------------------------------------------------
    def __eq__(self, other: object, /) -> bool:
        """Exact equality after converting ``other`` into this quantity's units.

        Raises ``TypeError`` when ``other`` is a quantity of another dimension; an object of no
        operand kind is simply unequal.
        """

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``; raises ``TypeError`` for another dimension."""

    @overload
    def __lt__(self, other: _Values, /) -> NDArray[np.bool_]:
        """Element by element, the array's values counted as plain numbers: a boolean array."""
    @overload
    def __lt__(self, other: _UnitOperand, /) -> bool:
        """``other`` converted into this quantity's units, compared exactly.

        Raises ``TypeError`` when ``other`` has another dimension.
        """

    @overload
    def __le__(self, other: _Values, /) -> NDArray[np.bool_]:
        """Element by element, the array's values counted as plain numbers: a boolean array."""
    @overload
    def __le__(self, other: _UnitOperand, /) -> bool:
        """``other`` converted into this quantity's units, compared exactly.

        Raises ``TypeError`` when ``other`` has another dimension.
        """

    @overload
    def __gt__(self, other: _Values, /) -> NDArray[np.bool_]:
        """Element by element, the array's values counted as plain numbers: a boolean array."""
    @overload
    def __gt__(self, other: _UnitOperand, /) -> bool:
        """``other`` converted into this quantity's units, compared exactly.

        Raises ``TypeError`` when ``other`` has another dimension.
        """

    @overload
    def __ge__(self, other: _Values, /) -> NDArray[np.bool_]:
        """Element by element, the array's values counted as plain numbers: a boolean array."""
    @overload
    def __ge__(self, other: _UnitOperand, /) -> bool:
        """``other`` converted into this quantity's units, compared exactly.

        Raises ``TypeError`` when ``other`` has another dimension.
        """

    # ---- text and rounding -------------------------------------------------------------------
    def __str__(self) -> str:
        """The value and the fully simplified units: ``"25 [m/s]"``.

        The number is the shortest text that reads back as the same float, never with an exponent
        (``"0.0000001 [s]"``). Printing is a write: the object's own units are first replaced by
        their cheaply simplified form, so it needs exclusive access (``RuntimeError`` "Already
        borrowed" while another thread uses the object).
        """

    def __repr__(self) -> str:
        """Same as ``str()``."""

    def __format__(self, format_spec: str, /) -> str:
        """``str()``, or with a float format spec the number so formatted: ``f"{q:.2f}"`` gives ``"25.00 [m/s]"``.

        Raises ``ValueError`` for a spec that a float does not accept.
        """

    def latex(self) -> str:
        """The value and the units as LaTeX: ``"9.80665~\\mathrm{\\frac{m}{s^2}}"``.

        The units are the cheaply simplified ones, not the fully simplified units of ``str()``.
        Like ``str()``, it first simplifies the object's units in place.
        """

    def descriptive(self) -> str:
        """The value and the units by their long names: ``"9.80665 [meter/second2]"``.

        Like ``str()``, it first simplifies the object's units in place.
        """

    def __round__(self, ndigits: int | None = None) -> Tolvat:
        """The value rounded half away from zero to ``ndigits`` decimals, as a quantity (never an ``int``).

        Rounds in the cheaply simplified units; negative ``ndigits`` round to tens, hundreds and so
        on. The decimal scaling is binary floating point, so 1.005 (stored just below) rounds to 1.0.
        ``ndigits`` must fit a signed 32-bit integer (``OverflowError`` otherwise).
        """

    def round_sfig(self, n_sig_figs: int) -> Tolvat:
        """The value rounded to ``n_sig_figs`` significant figures, as a quantity.

        Counted on the value in the cheaply simplified units; zero, infinities and NaN stay as they
        are. ``n_sig_figs`` must be an ``int`` that fits in 32 bits.
        """

    # ---- pickling and copies ----------------------------------------------------------------
    def __reduce__(self) -> tuple[Callable[[bytes], Tolvat], tuple[bytes]]:
        """The class's private ``_from_state`` function and the quantity's state: pickles of every protocol.

        The state is compact, versioned bytes (its layout is in the guide); later versions load it.
        """

    def __copy__(self) -> Tolvat:
        """A new, independent quantity equal to this one."""

    def __deepcopy__(self, memo: dict[int, object], /) -> Tolvat:
        """A new, independent quantity equal to this one."""

    # ---- NumPy's protocols (the guide's chapter "Arrays") ------------------------------------
    def __array_ufunc__(self, ufunc: Callable[..., object], method: str, /, *inputs: object, **kwargs: object) -> object:
        """NumPy's ufuncs on quantities: ``np.sqrt(q)``, ``np.add(q, r, out=s)``, ``np.add.reduce(q)``.

        Each supported ufunc has a unit rule (the other operand converted into the first one's
        units, the unit algebra, units kept, a plain result, angles or dimensionless operands);
        any other ufunc, method or keyword raises ``TypeError``.
        """

    def __array_function__(
        self, func: Callable[..., object], types: tuple[type, ...], args: tuple[object, ...], kwargs: dict[str, object], /
    ) -> object:
        """NumPy's functions on quantities: ``np.sum``, ``np.mean``, ``np.concatenate``, ``np.where``, the ``*_like`` ones...

        A function that tolvat does not know raises ``TypeError`` ("tolvat does not support
        numpy.<name> on quantities; use q.as_number(unit)"); none returns a silently unitless result.
        """

    def __array__(self, dtype: object = None, copy: bool | None = None) -> object:
        """``np.asarray(q)``: the numbers of an array quantity in its own units, with a ``UserWarning``
        naming the units dropped (none when it has no units). A quantity of one value becomes a
        0-d object array holding it, as any Python object does.
        """

@final
class LogTolvat:
    """An amount in a logarithmic ratio unit: value v in a unit of base b stands for the ratio b**v.

    Two ``LogTolvat`` combine in the logarithmic domain and stay a ``LogTolvat`` in the left
    operand's unit; scaling by a number keeps a ``LogTolvat``; every other mix with a plain number
    works on the ratio and gives a ``float``. The class cannot be called or subclassed.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    """``None``: logarithmic quantities compare by their ratios, so ``hash(x)`` raises ``TypeError``."""

    def __array_ufunc__(self, ufunc: Callable[..., object], method: str, /, *inputs: object, **kwargs: object) -> object:
        """NumPy's scalars meet a ``LogTolvat`` through its own operators (``np.float64(2) * x``); a
        ``LogTolvat`` holds one value and does not mix with arrays (``TypeError``)."""

    @classmethod
    def unit(cls, unit_name_or_symbol: str) -> LogTolvat:
        """One of ``"bel"``/``"B"``, ``"decibel"``/``"dB"``, ``"neper"``/``"Np"`` or ``"semitone"``/``"stn"``.

        Raises ``LookupError`` ("Logarithmic ratio unit ... not found") for any other text.
        """

    def as_unit(self, other: LogTolvat) -> LogTolvat:
        """The same ratio in the unit of ``other`` (its value is ignored): 20 dB as bel is 2 B."""

    def as_number(self, other: LogTolvat | None = None) -> float:
        """The logarithmic amount: the stored value, or the value in the unit of ``other``."""

    def as_unitless(self) -> float:
        """The ratio base**value (20 dB gives 100.00000000000011)."""

    def __float__(self) -> float:
        """The ratio base**value."""

    def __int__(self) -> int:
        """The ratio truncated toward zero, as an exact ``int`` of any size."""

    def exp(self) -> float:
        """e to the power of the ratio."""

    def __exp__(self) -> float:
        """Same as ``exp()``."""

    def log(self) -> float:
        """Natural logarithm of the ratio."""

    def __log__(self) -> float:
        """Same as ``log()``."""

    def log10(self) -> float:
        """Decimal logarithm of the ratio."""

    def __log10__(self) -> float:
        """Same as ``log10()``."""

    # ---- arithmetic --------------------------------------------------------------------------
    @overload
    def __add__(self, other: LogTolvat, /) -> LogTolvat:
        """Ratios multiply: 10 dB + 10 dB is 20 dB, in this operand's unit."""

    @overload
    def __add__(self, other: _Number, /) -> float:
        """The ratio plus the number."""

    def __radd__(self, other: _Number, /) -> float:
        """The number plus the ratio."""

    @overload
    def __sub__(self, other: LogTolvat, /) -> LogTolvat:
        """Ratios divide: 20 dB - 10 dB is about 10 dB, in this operand's unit."""

    @overload
    def __sub__(self, other: _Number, /) -> float:
        """The ratio minus the number."""

    def __rsub__(self, other: _Number, /) -> float:
        """The number minus the ratio."""

    @overload
    def __mul__(self, other: LogTolvat, /) -> float:
        """The product of the two ratios."""

    @overload
    def __mul__(self, other: _Number, /) -> LogTolvat:
        """The amount scaled: 10 dB * 2 is 20 dB."""

    def __rmul__(self, other: _Number, /) -> LogTolvat:
        """The amount scaled: 2 * 10 dB is 20 dB."""

    @overload
    def __truediv__(self, other: LogTolvat, /) -> float:
        """The quotient of the two ratios."""

    @overload
    def __truediv__(self, other: _Number, /) -> LogTolvat:
        """The amount divided: 20 dB / 2 is 10 dB."""

    def __rtruediv__(self, other: _Number, /) -> float:
        """The number divided by the ratio."""

    def __pow__(self, exponent: _NumberOperand, modulus: _NumberOperand | None = None, /) -> float:
        """The ratio to the power of the number (or of a ``LogTolvat``'s ratio); a modulus is ignored."""

    def __rpow__(self, base: _Number, modulus: _NumberOperand | None = None, /) -> float:
        """The number to the power of the ratio."""

    @overload
    def __div__(self, other: LogTolvat) -> float:
        """As ``self / other``, but a bad ``other`` raises ``TypeError``."""

    @overload
    def __div__(self, other: _Number) -> LogTolvat:
        """As ``self / other``, but a bad ``other`` raises ``TypeError``."""

    def __rdiv__(self, other: _NumberOperand) -> float:
        """``other`` (a number, or a ``LogTolvat``'s ratio) divided by this ratio."""

    def __neg__(self) -> LogTolvat:
        """The negated amount (20 dB gives -20 dB)."""

    def __pos__(self) -> LogTolvat:
        """A copy."""

    def __abs__(self) -> float:
        """The absolute value of the ratio."""

    # ---- comparison: by the ratios, exactly -------------------------------------------------
    def __eq__(self, other: object, /) -> bool:
        """The ratios are exactly equal (1 B == 10; 10 dB == 1 B is false by rounding)."""

    def __ne__(self, other: object, /) -> bool:
        """The ratios differ."""

    def __lt__(self, other: _NumberOperand, /) -> bool:
        """Compares the ratios."""

    def __le__(self, other: _NumberOperand, /) -> bool:
        """Compares the ratios."""

    def __gt__(self, other: _NumberOperand, /) -> bool:
        """Compares the ratios."""

    def __ge__(self, other: _NumberOperand, /) -> bool:
        """Compares the ratios."""

    # ---- text and rounding -------------------------------------------------------------------
    def __str__(self) -> str:
        """The amount and the symbol: ``"20 [dB]"``."""

    def __repr__(self) -> str:
        """Same as ``str()``."""

    def __format__(self, format_spec: str, /) -> str:
        """``str()``, or with a float format spec the amount so formatted: ``f"{x:.1f}"`` gives ``"20.0 [dB]"``."""

    def __round__(self, ndigits: int | None = None) -> float:
        """The ratio rounded half away from zero (a float: round of 20 dB is 100.0)."""

    def round_sfig(self, n_sig_figs: int) -> float:
        """The ratio rounded to ``n_sig_figs`` significant figures."""

    # ---- pickling and copies ----------------------------------------------------------------
    def __reduce__(self) -> tuple[Callable[[bytes], LogTolvat], tuple[bytes]]:
        """The class's private ``_from_state`` function and the quantity's state: pickles of every protocol.

        The state is compact, versioned bytes (its layout is in the guide); later versions load it.
        """

    def __copy__(self) -> LogTolvat:
        """A new, independent quantity equal to this one."""

    def __deepcopy__(self, memo: dict[int, object], /) -> LogTolvat:
        """A new, independent quantity equal to this one."""
