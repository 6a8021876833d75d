"""NumPy's array functions on quantities, those that the extension module leaves to Python.

`Tolvat.__array_function__` does the common functions of one quantity itself (sum, mean, min,
max, argsort, ...) and hands every other call to `array_function` here. A function that is not
registered below raises TypeError: tolvat never returns a silently unitless result.

The extension module gives three helpers at import (`_install`):

- `with_units(values, like)`: a quantity in the units of `like`, as they are, over `values`;
- `in_units(x, like)`: the plain values of `x` converted into the units of `like`, as `as_unit`
  converts (a plain number or array counts as dimensionless);
- `finish(ufunc, values, a, b=None)`: `values`, computed from the plain values of `a` and `b`,
  with the units that the ufunc's rule gives for `a` and `b` (the closing step included).
"""

import numpy as np

from tolvat import LogTolvat, Tolvat

with_units = in_units = finish = None


def _install(with_units_, in_units_, finish_):
    global with_units, in_units, finish
    with_units, in_units, finish = with_units_, in_units_, finish_


_HANDLED = {}


def _implements(*names):
    def register(implementation):
        for name in names:
            _HANDLED[name] = implementation
        return implementation

    return register


def _qualified_name(func):
    module = getattr(func, "__module__", None) or "numpy"
    if not module.startswith("numpy"):
        module = "numpy"
    return f"{module}.{getattr(func, '__name__', func)}"


def unsupported(func):
    return TypeError(f"tolvat does not support {_qualified_name(func)} on quantities; use q.as_number(unit)")


def array_function(func, types, args, kwargs):
    implementation = _HANDLED.get(getattr(func, "__name__", None))
    if implementation is None:
        raise unsupported(func)
    return implementation(func, *args, **kwargs)


def _values(x):
    return x.as_number() if isinstance(x, Tolvat) else x


def _lead(*candidates):
    """The first quantity among the candidates (sequences are searched one level deep)."""
    for c in candidates:
        if isinstance(c, LogTolvat):
            raise TypeError("a LogTolvat does not take part in NumPy's functions; use x.as_number()")
        if isinstance(c, Tolvat):
            return c
        if isinstance(c, (list, tuple)):
            found = _lead(*c)
            if found is not None:
                return found
    return None


def _in(x, lead):
    """x in the lead's units; None stays None."""
    return None if x is None else in_units(x, lead)


def _out(func, out, result):
    """Writes a result with units into out= (a quantity over an array), in out's units."""
    if isinstance(out, tuple) and len(out) == 1:
        out = out[0]
    if not isinstance(out, Tolvat):
        raise TypeError(f"out= of {_qualified_name(func)} must be a Tolvat over an array: its result has units")
    out[...] = result
    return out


# Functions of one quantity whose result keeps its units. Quantities among the other arguments
# (diff's prepend and append, an initial value) are converted into the first one's units.
_KEEP_UNITS = (
    "sum", "mean", "std", "median", "ptp", "cumsum", "min", "max", "amin", "amax", "sort",
    "nansum", "nanmean", "nanstd", "nanmedian", "nanmin", "nanmax", "nancumsum",
    "percentile", "quantile", "nanpercentile", "nanquantile", "diff", "ediff1d",
    "reshape", "ravel", "transpose", "squeeze", "flip", "fliplr", "flipud", "roll", "rot90",
    "moveaxis", "swapaxes", "expand_dims", "broadcast_to", "repeat", "tile", "take", "copy",
    "partition", "trim_zeros", "resize", "atleast_1d", "atleast_2d", "atleast_3d",
)


@_implements(*_KEEP_UNITS)
def _keep_units(func, a, *args, **kwargs):
    lead = _lead(a)
    if lead is None:
        raise unsupported(func)
    args = [in_units(x, lead) if isinstance(x, Tolvat) else x for x in args]
    kwargs = {k: in_units(v, lead) if isinstance(v, Tolvat) else v for k, v in kwargs.items()}
    out = kwargs.pop("out", None)
    result = with_units(func(_values(a), *args, **kwargs), lead)
    return result if out is None else _out(func, out, result)


# Functions whose result is plain (indices, shapes, counts); other quantities among the arguments
# (the values searchsorted looks for) are converted into the first one's units.
_PLAIN = (
    "argmin", "argmax", "argsort", "nanargmin", "nanargmax", "argpartition", "nonzero",
    "argwhere", "flatnonzero", "shape", "ndim", "size", "count_nonzero", "searchsorted",
)


@_implements(*_PLAIN)
def _plain(func, a, *args, **kwargs):
    lead = _lead(a, args)
    args = [in_units(x, lead) if isinstance(x, Tolvat) else x for x in args]
    kwargs = {k: in_units(v, lead) if isinstance(v, Tolvat) else v for k, v in kwargs.items()}
    return func(in_units(a, lead) if lead is not None else a, *args, **kwargs)


@_implements("concatenate", "stack", "vstack", "hstack", "dstack", "column_stack", "row_stack")
def _joined(func, arrays, *args, **kwargs):
    lead = _lead(arrays)
    out = kwargs.pop("out", None)
    result = with_units(func([in_units(x, lead) for x in arrays], *args, **kwargs), lead)
    return result if out is None else _out(func, out, result)


@_implements("append")
def _append(func, arr, values, *args, **kwargs):
    lead = _lead(arr, values)
    return with_units(func(in_units(arr, lead), in_units(values, lead), *args, **kwargs), lead)


@_implements("where")
def _where(func, condition, *xy):
    if isinstance(condition, (Tolvat, LogTolvat)):
        raise TypeError("the condition of numpy.where is a plain boolean array, not a quantity")
    if not xy:
        return func(condition)
    x, y = xy
    lead = _lead(x, y)
    return with_units(func(condition, in_units(x, lead), in_units(y, lead)), lead)


@_implements("clip")
def _clip(func, a, a_min=None, a_max=None, *args, **kwargs):
    # NumPy 2.1 spells the bounds min= and max= as well.
    a_min, a_max = kwargs.pop("min", a_min), kwargs.pop("max", a_max)
    lead = _lead(a, a_min, a_max)
    out = kwargs.pop("out", None)
    result = with_units(func(in_units(a, lead), _in(a_min, lead), _in(a_max, lead), *args, **kwargs), lead)
    return result if out is None else _out(func, out, result)


_DEFAULT_ATOL = object()


def _tolerance(atol, lead):
    """atol in the lead's units. NumPy's default (1e-8) counts in those units, as it would for
    plain numbers; a quantity is converted; any other plain number is a dimensionless quantity."""
    if atol is _DEFAULT_ATOL:
        return 1e-08
    if isinstance(atol, Tolvat) or atol != 0:
        return in_units(atol, lead)
    return atol


@_implements("isclose", "allclose")
def _close(func, a, b, rtol=1e-05, atol=_DEFAULT_ATOL, equal_nan=False):
    lead = _lead(a, b)
    return func(in_units(a, lead), in_units(b, lead), rtol, _tolerance(atol, lead), equal_nan)


@_implements("array_equal", "array_equiv")
def _equal(func, a1, a2, *args, **kwargs):
    lead = _lead(a1, a2)
    return func(in_units(a1, lead), in_units(a2, lead), *args, **kwargs)


@_implements("linspace")
def _linspace(func, start, stop, num=50, endpoint=True, retstep=False, dtype=None, axis=0, **kwargs):
    lead = _lead(start, stop)
    result = func(in_units(start, lead), in_units(stop, lead), num, endpoint, retstep, dtype, axis, **kwargs)
    if retstep:
        samples, step = result
        return with_units(samples, lead), with_units(step, lead)
    return with_units(result, lead)


@_implements("round", "around", "round_")
def _round(func, a, decimals=0, out=None):
    # tolvat's rounding: in the simply simplified units, half away from zero, as round(q, n).
    result = round(a, decimals)
    return result if out is None else _out(func, out, result)


@_implements("dot")
def _dot(func, a, b, out=None):
    result = finish(np.multiply, func(_values(a), _values(b)), a, b)
    return result if out is None else _out(func, out, result)


@_implements("var", "nanvar")
def _var(func, a, *args, **kwargs):
    out = kwargs.pop("out", None)
    result = finish(np.square, func(_values(a), *args, **kwargs), a)
    return result if out is None else _out(func, out, result)


@_implements("zeros_like", "ones_like", "empty_like")
def _like(func, a, *args, **kwargs):
    return with_units(func(_values(a), *args, **kwargs), a)


@_implements("full_like")
def _full_like(func, a, fill_value, *args, **kwargs):
    return with_units(func(_values(a), in_units(fill_value, a), *args, **kwargs), a)
