"""Timing of one set of operations for one library; run by bench/run.py in the right interpreter.

    python ops.py LIBRARY
        prints one JSON object: {"library": ..., "version": ..., "rows": {row name: nanoseconds
        per call}, "pickle_bytes": ...}
    python ops.py LIBRARY --arrays [N,N,...]
        times the array rows at each length N (default 1,100,10000,1000000) and prints
        {"library": ..., "version": ..., "arrays": [{"row": ..., "n": ..., "seconds": ...}]};
        LIBRARY "numpy" is raw NumPy doing the same numeric work, the floor of every row.
"""

import json
import sys
import timeit

ROWS = [
    "unit('km/hr')",
    # A whole quantity text in the strict grammar: the number, products, a power.
    "parse 9.81 m/s^2",
    "a + b (same unit)",
    "1 m + 1 km",
    "a * b",
    "a / b",
    "q.as_unit('m/s')",
    "q ** 2",
    "str(q)",
    "q < r",
    "constant('c')",
    "simplify m.km",
    "log a + b (dB)",
    # Text forms of compound units, and conversions into unit texts: each pays its unit's work
    # once, then only for the number.
    "str 1.5 m",
    "str km/hr",
    "str kg.m2/s2",
    "str W/m2.K",
    "str N.m.kg/J",
    "str m*kg/s**2",
    "str J.N.W.Pa.C.V.F.Wb",
    "str J5.N5...Wb5",
    "latex km/hr",
    "latex kg.m2/s2",
    "latex W/m2.K",
    "latex N.m.kg/J",
    "latex m*kg/s**2",
    "descriptive km/hr",
    "descriptive kg.m2/s2",
    "descriptive W/m2.K",
    "descriptive N.m.kg/J",
    "descriptive m*kg/s**2",
    "as_unit m -> km",
    "as_unit -> J",
    "as_unit -> m/s",
    "as_unit -> W/cm2.K",
    "as_number W/cm2.K",
    "as_base_units",
    # A one-unit quantity through pickle and back (the default protocol); its size is printed too.
    "pickle round trip",
]

PICKLE_ROW = "pickle round trip"
PICKLE_STATEMENT = "pickle.loads(pickle.dumps(a))"

# The value each text row prints, for the row of str(float) beside it.
TEXT_VALUES = {
    "str(q)": 5.0,
    "str 1.5 m": 1.5,
    "str km/hr": 3.0,
    "str kg.m2/s2": 3.0,
    "str W/m2.K": 2.0,
    "str N.m.kg/J": 3.0,
    "str m*kg/s**2": 3.0,
    "str J.N.W.Pa.C.V.F.Wb": 3.0,
    "str J5.N5...Wb5": 3.0,
    "latex km/hr": 3.0,
    "latex kg.m2/s2": 3.0,
    "latex W/m2.K": 2.0,
    "latex N.m.kg/J": 3.0,
    "latex m*kg/s**2": 3.0,
    "descriptive km/hr": 3.0,
    "descriptive kg.m2/s2": 3.0,
    "descriptive W/m2.K": 2.0,
    "descriptive N.m.kg/J": 3.0,
    "descriptive m*kg/s**2": 3.0,
}


# Each library's spelling of the compound units: tolvat, pint, astropy, unyt.
UNITS = {
    "kmh": ("km/hr", "km/hr", "km/h", "km/hr"),
    "kgm2s2": ("kg.m2/s2", "kg*m**2/s**2", "kg m2 / s2", "kg*m**2/s**2"),
    "wm2k": ("W/m2.K", "W/m**2/K", "W/(m2 K)", "W/(m**2*K)"),
    "nmkgj": ("N.m.kg/J", "N*m*kg/J", "N m kg / J", "N*m*kg/J"),
    "eight": ("J.N.W.Pa.C.V.F.Wb", "J*N*W*Pa*C*V*F*Wb", "J N W Pa C V F Wb", "J*N*W*Pa*C*V*F*Wb"),
    "eight5": ("J5.N5.W5.Pa5.C5.V5.F5.Wb5", "J**5*N**5*W**5*Pa**5*C**5*V**5*F**5*Wb**5",
               "J5 N5 W5 Pa5 C5 V5 F5 Wb5", "J**5*N**5*W**5*Pa**5*C**5*V**5*F**5*Wb**5"),
    "wcm2k": ("W/cm2.K", "W/cm**2/K", "W/(cm2 K)", "W/(cm**2*K)"),
}
VALUES = {"kmh": 3.0, "kgm2s2": 3.0, "wm2k": 2.0, "nmkgj": 3.0, "eight": 3.0, "eight5": 3.0}


def compound(make, spelling):
    """Quantities of the compound units (named as in UNITS) made by `make(value, unit text)`."""
    return {key: make(VALUES[key], UNITS[key][spelling]) for key in VALUES}


def text_statements(str_call, latex_call, descriptive_call):
    """The text rows of one library: each *_call turns a quantity's name into a statement, or is
    None where the library has no such call."""
    rows = {"str 1.5 m": str_call("one")}
    for row, key in (("km/hr", "kmh"), ("kg.m2/s2", "kgm2s2"), ("W/m2.K", "wm2k"), ("N.m.kg/J", "nmkgj"),
                     ("m*kg/s**2", "product")):
        rows["str " + row] = str_call(key)
        rows["latex " + row] = latex_call(key) if latex_call else None
        rows["descriptive " + row] = descriptive_call(key) if descriptive_call else None
    rows["str J.N.W.Pa.C.V.F.Wb"] = str_call("eight")
    rows["str J5.N5...Wb5"] = str_call("eight5")
    return rows


def conversion_statements(to_unit, to_number, to_base, spelling):
    """The conversion rows of one library: `to_unit` and `to_number` are the method names taking
    a unit text, `to_base` the expression that converts into base units (None where missing)."""
    target = UNITS["wcm2k"][spelling]
    return {
        "as_unit m -> km": f'one.{to_unit}("km")',
        "as_unit -> J": f'kgm2s2.{to_unit}("J")',
        "as_unit -> m/s": f'kmh.{to_unit}("m/s")',
        "as_unit -> W/cm2.K": f'wm2k.{to_unit}("{target}")',
        "as_number W/cm2.K": f'wm2k.{to_number}("{target}")' if to_number else None,
        "as_base_units": f"kgm2s2.{to_base}" if to_base else None,
    }


def setups(library):
    if library == "tolvat":
        from tolvat import LogTolvat, Tolvat

        U = Tolvat.unit
        a, b = U("m") * 3.0, U("m") * 4.0
        m, km = U("m"), U("km")
        q = U("km/hr") * 36.0
        r = U("m") * 5.0
        mkm = U("m.km")
        try:
            da, db = LogTolvat.unit("dB") * 10, LogTolvat.unit("dB") * 3
        except TypeError:  # an older build without LogTolvat operators
            da = db = None
        one = U("m") * 1.5
        product = U("m") * U("kg") / U("s") ** 2 * 3.0
        namespace = {**locals(), **compound(lambda v, t: U(t) * v, 0)}
        return namespace, {
            "unit('km/hr')": 'U("km/hr")',
            "parse 9.81 m/s^2": 'Tolvat.parse("9.81 m/s^2")',
            "a + b (same unit)": 'a + b',
            "1 m + 1 km": 'm + km',
            "a * b": 'a * b',
            "a / b": 'a / b',
            "q.as_unit('m/s')": 'q.as_unit("m/s")',
            "q ** 2": 'q**2',
            "str(q)": 'str(r)',
            "q < r": 'a < r',
            "constant('c')": 'Tolvat.constant("c")',
            "simplify m.km": 'mkm.simplify()',
            "log a + b (dB)": "da + db" if da is not None else None,
            **text_statements(lambda k: f"str({k})", lambda k: f"{k}.latex()", lambda k: f"{k}.descriptive()"),
            **conversion_statements("as_unit", "as_number", "as_base_units()", 0),
        }
    if library == "decimal":
        from decimal import Decimal

        a, b = Decimal("3.0"), Decimal("4.0")
        return dict(locals()), {
            "unit('km/hr')": 'Decimal("1.5")',
            "parse 9.81 m/s^2": 'Decimal("9.81")',
            "a + b (same unit)": 'a + b',
            "1 m + 1 km": 'a + b',
            "a * b": 'a * b',
            "a / b": 'a / b',
            "q.as_unit('m/s')": 'a * b',
            "q ** 2": 'a**2',
            "str(q)": 'str(a)',
            "q < r": 'a < b',
            "constant('c')": 'Decimal("1.5")',
            "simplify m.km": 'a * b',
            "log a + b (dB)": 'a + b',
        }
    if library == "float":
        # str() of a float of the same value as each text row prints: the yardstick of the text forms.
        namespace = {f"x{i}": value for i, value in enumerate(TEXT_VALUES.values())}
        return namespace, {row: f"str(x{i})" for i, row in enumerate(TEXT_VALUES)}
    if library == "pint":
        import pint

        ureg = pint.UnitRegistry()
        a, b = 3.0 * ureg.meter, 4.0 * ureg.meter
        m, km = 1.0 * ureg.meter, 1.0 * ureg.kilometer
        q = 36.0 * ureg("km/hr")
        mkm = 1.0 * ureg.meter * ureg.kilometer
        da, db = ureg.Quantity(10, "dB"), ureg.Quantity(3, "dB")
        one = 1.5 * ureg.meter
        product = ureg.meter * ureg.kilogram / ureg.second**2 * 3.0
        namespace = {**locals(), **compound(lambda v, t: v * ureg(t).units, 1)}
        return namespace, {
            "unit('km/hr')": 'ureg("km/hr")',
            "parse 9.81 m/s^2": 'ureg.Quantity("9.81 m/s^2")',
            "a + b (same unit)": 'a + b',
            "1 m + 1 km": 'm + km',
            "a * b": 'a * b',
            "a / b": 'a / b',
            "q.as_unit('m/s')": 'q.to("m/s")',
            "q ** 2": 'q**2',
            "str(q)": 'str(a)',
            "q < r": 'a < b',
            "constant('c')": '1.0 * ureg.speed_of_light',
            "simplify m.km": 'mkm.to_reduced_units()',
            "log a + b (dB)": 'da.to("dimensionless") * db.to("dimensionless")',
            # pint's own str() writes long names; its short-symbol LaTeX is the "~L" format.
            **text_statements(lambda k: f"str({k})", lambda k: f'format({k}, "~L")', lambda k: f"str({k})"),
            **conversion_statements("to", None, "to_base_units()", 1),
            "as_number W/cm2.K": f'wm2k.m_as("{UNITS["wcm2k"][1]}")',
        }
    if library == "astropy":
        import astropy.constants as const
        import astropy.units as u

        a, b = 3.0 * u.m, 4.0 * u.m
        m, km = 1.0 * u.m, 1.0 * u.km
        q = 36.0 * u.Unit("km/h")
        mkm = 1.0 * u.m * u.km
        decibel = u.dB(u.dimensionless_unscaled)
        da, db = 10 * decibel, 3 * decibel
        one = 1.5 * u.m
        product = u.m * u.kg / u.s**2 * 3.0
        namespace = {**locals(), **compound(lambda v, t: v * u.Unit(t), 2)}
        return namespace, {
            "unit('km/hr')": 'u.Unit("km/h")',
            "parse 9.81 m/s^2": 'u.Quantity("9.81 m/s^2")',
            "a + b (same unit)": 'a + b',
            "1 m + 1 km": 'm + km',
            "a * b": 'a * b',
            "a / b": 'a / b',
            "q.as_unit('m/s')": 'q.to("m/s")',
            "q ** 2": 'q**2',
            "str(q)": 'str(a)',
            "q < r": 'a < b',
            "constant('c')": 'const.c * 1.0',
            "simplify m.km": 'mkm.decompose()',
            "log a + b (dB)": 'da + db',
            **text_statements(lambda k: f"str({k})", lambda k: f'{k}.to_string(format="latex")', None),
            **conversion_statements("to", "to_value", "decompose()", 2),
        }
    if library == "unyt":
        import unyt

        a, b = 3.0 * unyt.m, 4.0 * unyt.m
        m, km = 1.0 * unyt.m, 1.0 * unyt.km
        q = unyt.unyt_quantity(36.0, "km/hr")
        mkm = 1.0 * unyt.m * unyt.km
        one = 1.5 * unyt.m
        product = unyt.m * unyt.kg / unyt.s**2 * 3.0
        namespace = {**locals(), **compound(lambda v, t: unyt.unyt_quantity(v, t), 3)}
        return namespace, {
            "unit('km/hr')": 'unyt.Unit("km/hr")',
            "parse 9.81 m/s^2": 'unyt.unyt_quantity.from_string("9.81 m/s**2")',
            "a + b (same unit)": 'a + b',
            "1 m + 1 km": 'm + km',
            "a * b": 'a * b',
            "a / b": 'a / b',
            "q.as_unit('m/s')": 'q.to("m/s")',
            "q ** 2": 'q**2',
            "str(q)": 'str(a)',
            "q < r": 'a < b',
            "constant('c')": 'unyt.physical_constants.c * 1.0',
            "simplify m.km": 'mkm.simplify()',
            **text_statements(lambda k: f"str({k})", None, None),
            **conversion_statements("to", "to_value", "in_base()", 3),
        }
    raise SystemExit(f"unknown library {library}")


def ns_per_call(stmt, namespace, sample=0.015, repeat=25):
    # The statement is compiled into timeit's own loop: no function call per iteration, so the
    # figure is the operation itself plus one loop step, the same for every library. Many short
    # samples and the best of them: on a shared virtual machine the neighbours' bursts only ever
    # slow a sample down, and short samples are more likely to fall between two bursts.
    timer = timeit.Timer(stmt, globals=namespace)
    number = 1
    while True:
        elapsed = timer.timeit(number=number)
        if elapsed > sample:
            break
        number *= 2
    best = min(timer.repeat(number=number, repeat=repeat))
    return best / number * 1e9


# Array rows: one operation over a whole array of n values.
ARRAY_ROWS = [
    "tag km/hr",
    "convert km/hr -> m/s",
    "add m + km",
    "multiply m * s",
    "compare m < km",
    "sum",
    "sqrt of m2",
]
ARRAY_SIZES = (1, 100, 10_000, 1_000_000)


def array_setups(library, n):
    """The namespace and the statement of each array row for one library over arrays of n values:
    x and y hold the numbers, the quantities are made from them once."""
    import numpy as np

    x = np.linspace(1.0, 2.0, n)
    y = np.linspace(2.0, 3.0, n)
    if library == "numpy":
        # The numbers alone: what each row has to compute at the least.
        return dict(locals()), {
            "tag km/hr": "x * 1.0",
            "convert km/hr -> m/s": "x * 0.2777777777777778",
            "add m + km": "x + y * 1000.0",
            "multiply m * s": "x * y",
            "compare m < km": "x < y * 1000.0",
            "sum": "np.sum(x)",
            "sqrt of m2": "np.sqrt(x)",
        }
    if library == "tolvat":
        from tolvat import Tolvat

        U = Tolvat.unit
        try:
            probe = U("m") * x
        except TypeError:
            probe = None
        if not isinstance(probe, Tolvat):
            raise ImportError("this tolvat build has no array-valued quantities")
        kmh = U("km/hr")
        q, m, km, s, m2 = kmh * x, U("m") * x, U("km") * y, U("s") * y, U("m2") * x
        return dict(locals()), {
            "tag km/hr": "kmh * x",
            "convert km/hr -> m/s": 'q.as_unit("m/s")',
            "add m + km": "m + km",
            "multiply m * s": "m * s",
            "compare m < km": "m < km",
            "sum": "np.sum(m)",
            "sqrt of m2": "np.sqrt(m2)",
        }
    if library == "pint":
        import pint

        ureg = pint.UnitRegistry()
        kmh = ureg("km/hr").units
        q, m, km, s, m2 = x * kmh, x * ureg.m, y * ureg.km, y * ureg.s, x * ureg.m**2
        target = ureg.m / ureg.s
    elif library == "astropy":
        import astropy.units as u

        kmh = u.Unit("km/h")
        q, m, km, s, m2 = x * kmh, x * u.m, y * u.km, y * u.s, x * u.m**2
        target = u.m / u.s
    elif library == "unyt":
        import unyt

        kmh = unyt.Unit("km/hr")
        q, m, km, s, m2 = x * kmh, x * unyt.m, y * unyt.km, y * unyt.s, x * unyt.m**2
        target = unyt.m / unyt.s
    else:
        raise SystemExit(f"unknown library {library}")
    # The peers convert into a unit object made beforehand, their fastest way.
    return dict(locals()), {
        "tag km/hr": "x * kmh",
        "convert km/hr -> m/s": "q.to(target)",
        "add m + km": "m + km",
        "multiply m * s": "m * s",
        "compare m < km": "m < km",
        "sum": "np.sum(m)",
        "sqrt of m2": "np.sqrt(m2)",
    }


def library_version(library):
    name = {"decimal": None, "float": None}.get(library, library)
    if name is None:
        return None
    try:
        from importlib.metadata import version

        return version({"pint": "Pint"}.get(name, name))
    except Exception:
        return None


def main_arrays(library, sizes):
    try:
        tables = [(n, *array_setups(library, n)) for n in sizes]
    except ImportError as error:
        print(json.dumps({"library": library, "error": str(error)}))
        return
    rows = []
    for name in ARRAY_ROWS:
        for n, namespace, table in tables:
            stmt = table.get(name)
            if stmt is None:
                continue
            try:
                ns = ns_per_call(stmt, namespace)
            except Exception as error:  # a peer that lacks an operation
                print(f"{library}: {name} (n={n}): {error!r}", file=sys.stderr)
                continue
            rows.append({"row": name, "n": n, "seconds": ns * 1e-9})
    print(json.dumps({"library": library, "version": library_version(library), "arrays": rows}))


def main():
    library = sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[2] == "--arrays":
        sizes = [int(n) for n in sys.argv[3].split(",")] if len(sys.argv) > 3 else ARRAY_SIZES
        main_arrays(library, sizes)
        return
    try:
        namespace, table = setups(library)
    except ImportError as error:
        print(json.dumps({"library": library, "error": str(error)}))
        return
    pickle_bytes = None
    if library in ("tolvat", "pint", "astropy", "unyt"):
        import pickle

        namespace["pickle"] = pickle
        table[PICKLE_ROW] = PICKLE_STATEMENT
        pickle_bytes = len(pickle.dumps(namespace["a"]))
    rows = {}
    for name in ROWS:
        stmt = table.get(name)
        if stmt is None:
            continue
        try:
            rows[name] = ns_per_call(stmt, namespace)
        except Exception as error:  # a peer that lacks an operation
            rows[name] = None
            print(f"{library}: {name}: {error!r}", file=sys.stderr)
    print(json.dumps({"library": library, "version": library_version(library), "rows": rows,
                      "pickle_bytes": pickle_bytes}))


if __name__ == "__main__":
    main()
