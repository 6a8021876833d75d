"""tolvat, the command-line converter.

    tolvat "90 km/hr" "m/s"      25 [m/s]
    tolvat "1 N.m"               the simplified quantity and its base units
    tolvat                       the "You have: / You want:" loop

Quantities are read with Tolvat.parse, the library's strict reader, which also knows the
physical constants by name here. Only the standard library is used: argparse, and readline
where the interpreter has it.
"""

from __future__ import annotations

import argparse
import os
import sys
import warnings

from tolvat import Tolvat

# Exit statuses: an input that names nothing or cannot be read is the user's to fix (2, as for a
# bad option); a conversion that cannot be made, such as between incompatible units, is 1.
OK, FAILED, BAD_INPUT = 0, 1, 2

EPILOG = """\
examples:
  tolvat "90 km/hr" "m/s"       25 [m/s]
  tolvat "20 °C" "°F"           a temperature, with its offset
  tolvat "1 N.m"                the simplified quantity and its base units
  tolvat mi km                  a value may be left out: 1 mi
  tolvat --search watt          catalogue rows that match

exit status: 0 done, 1 the conversion failed (incompatible units), 2 unknown unit or unreadable
input (the message and any suggestion go to standard error)."""


def int32(text: str) -> int:
    """An option's integer, within the range the library's rounding takes."""
    try:
        n = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not -(2**31) <= n < 2**31:
        raise argparse.ArgumentTypeError(f"out of range: {text}")
    return n


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tolvat",
        description="Convert physical quantities. With no arguments, or with -i, asks\n"
        '"You have:" and "You want:" in turn.',
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("have", nargs="?", metavar="HAVE", help='the quantity to convert, such as "90 km/hr"; a bare unit means one of it')
    parser.add_argument("want", nargs="?", metavar="WANT", help="the units to convert into; without it, HAVE is shown simplified and in base units")
    parser.add_argument("-i", "--interactive", action="store_true", help='ask "You have:" and "You want:" in a loop (the default with no arguments)')
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--latex", action="store_true", help="print the result as LaTeX")
    form.add_argument("--descriptive", action="store_true", help="print the result with the units' long names")
    rounding = parser.add_mutually_exclusive_group()
    rounding.add_argument("--round", type=int32, metavar="N", help="round the result to N decimal places (negative N: to tens, hundreds...)")
    rounding.add_argument("--sfig", type=int32, metavar="N", help="round the result to N significant figures")
    parser.add_argument("--search", metavar="WORD", help="list the catalogue's units whose name, symbol or alias contains WORD, with multiplier and dimension")
    parser.add_argument("--constants", action="store_true", help="list the physical constants")
    return parser


# ---- the catalogue ------------------------------------------------------------------------------

_catalogue = None


def catalogue() -> dict:
    """The compiled-in tables (see Tolvat._catalogue), read once."""
    global _catalogue
    if _catalogue is None:
        _catalogue = Tolvat._catalogue()
    return _catalogue


def number_text(x: float) -> str:
    """The shortest text that reads back as x, without a needless ".0"."""
    text = repr(float(x))
    return text[:-2] if text.endswith(".0") else text


def dimension_text(exponents) -> str:
    """A dimension over the base symbols, "kg m2 s-3"; "none" when dimensionless."""
    parts = [s + ("" if e == 1 else number_text(e)) for s, e in zip(catalogue()["base"], exponents) if e != 0]
    return " ".join(parts) or "none"


def unit_texts() -> set[str]:
    """Every name, symbol and alias that names a unit on its own."""
    c = catalogue()
    return {t for row in c["units"] for t in row[:2]} | {alias for alias, _ in c["aliases"]}


def constant_names() -> dict[str, str]:
    """Every name and alternative name of a constant, mapped to the constant's name."""
    c = catalogue()
    names = {row[0]: row[0] for row in c["constants"]}
    names.update(dict(c["constant_aliases"]))
    return names


_constants = None


def constants() -> dict:
    """The constants under the names that do not already name a unit (so "c" stays the unit of
    the light-speed row, which is the same speed), as extra names for Tolvat.parse."""
    global _constants
    if _constants is None:
        taken = unit_texts()
        _constants = {name: Tolvat.constant(name) for name in constant_names() if name not in taken}
    return _constants


def completion_words() -> list[str]:
    """What tab completes: unit names, symbols and aliases, and constant names."""
    return sorted(unit_texts() | set(constant_names()))


def search(word: str) -> list[str]:
    """Lines for the unit rows whose name, symbol or alias contains `word` (ignoring case)."""
    c = catalogue()
    aliases: dict[str, list[str]] = {}
    for alias, name in c["aliases"]:
        aliases.setdefault(name, []).append(alias)
    needle = word.casefold()
    rows = []
    for name, symbol, multiplier, offset, dimension in c["units"]:
        texts = [name, symbol, *aliases.get(name, [])]
        if any(needle in t.casefold() for t in texts):
            rows.append((name, symbol, number_text(multiplier), number_text(offset) if offset else "",
                         dimension_text(dimension), ", ".join(aliases.get(name, []))))
    for name, symbol, base in c["log_units"]:
        if needle in name.casefold() or needle in symbol.casefold():
            rows.append((name, symbol, f"ratio {number_text(base)}", "", "logarithmic", ""))
    if not rows:
        return []
    header = ("name", "symbol", "multiplier", "offset", "dimension", "aliases")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(5)]
    return ["  ".join(cell.ljust(w) for cell, w in zip(r, widths + [0])).rstrip() for r in [header] + rows]


def constant_lines() -> list[str]:
    c = catalogue()
    others: dict[str, list[str]] = {}
    for alias, name in c["constant_aliases"]:
        others.setdefault(name, []).append(alias)
    rows = [(name, f"{number_text(value)} [{unit}]", ", ".join(others.get(name, []))) for name, value, unit in c["constants"]]
    header = ("name", "value", "also")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(2)]
    return ["  ".join((r[0].ljust(widths[0]), r[1].ljust(widths[1]), r[2])).rstrip() for r in [header] + rows]


# ---- reading and converting ---------------------------------------------------------------------

def read(text: str) -> Tolvat:
    """The quantity a text stands for, read strictly, with the constants' names as extra names."""
    return Tolvat.parse(text, units=constants())


def shown(q: Tolvat, options) -> str:
    if options.round is not None:
        q = round(q, options.round)
    if options.sfig is not None:
        q = q.round_sfig(options.sfig)
    if options.latex:
        return q.latex()
    if options.descriptive:
        return q.descriptive()
    return str(q)


def in_base_units(q: Tolvat) -> Tolvat:
    """q in the base units that have its dimension. A conversion into just those units, rather
    than as_base_units(), whose eight units (most at power zero) never take an offset: so a lone
    temperature keeps its offset, 20 °C being 293.15 K."""
    base = q.as_base_units()
    units = str(base).rpartition(" [")[2][:-1]
    try:
        return q.as_unit(Tolvat.parse(units) if units else Tolvat.empty())
    except (LookupError, ValueError, TypeError):  # units whose text does not read back: the reduction
        return base


def convert(have: Tolvat, want_text: str, options) -> list[str]:
    """The lines that answer "You have: have / You want: want_text"."""
    if not want_text.strip():
        simple = shown(have, options)
        base = shown(in_base_units(have), options)
        return [simple] if base == simple else [simple, "= " + base]
    want = read(want_text)
    if want.as_number() == 1.0:
        return [shown(have.as_unit(want), options)]
    # A number in the target: how many of that quantity this one is.
    times = Tolvat.empty() * have.as_number(want, scale=True)
    text = shown(times, argparse.Namespace(**{**vars(options), "latex": False, "descriptive": False}))
    return [text.removesuffix(" []") + " × " + want_text.strip()]


# ---- reporting ----------------------------------------------------------------------------------


def error_lines(exc: BaseException) -> list[str]:
    """The library's message and its notes (suggestions, the argument concerned), one a line."""
    message = str(exc) if str(exc) else type(exc).__name__
    return [message, *getattr(exc, "__notes__", [])]


def status_of(exc: BaseException) -> int:
    return BAD_INPUT if isinstance(exc, (LookupError, ValueError)) else FAILED


def show_warning(message, category, filename, lineno, file=None, line=None):
    """Warnings (a unit text that lost pieces) as one line on standard error."""
    text = str(message).replace("\n", " ")
    print(f"tolvat: warning: {text}", file=sys.stderr)


def setup_warnings() -> None:
    """Each warning once, on one line."""
    warnings.simplefilter("once")
    warnings.showwarning = show_warning


def one_shot(options) -> int:
    try:
        lines = convert(read(options.have), options.want or "", options)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # the library's errors, reported without a traceback
        first, *notes = error_lines(exc)
        print(f"tolvat: {first}", *notes, sep="\n", file=sys.stderr)
        return status_of(exc)
    print(*lines, sep="\n")
    return OK


# ---- the interactive loop -----------------------------------------------------------------------

# Characters after which a new unit name may start.
_BOUNDARY = " \t/.*·×^()+-0123456789"


def completer(words: list[str]):
    """A readline completer over `words` that also completes names holding spaces ("degree
    Celsius"): it tries the longest tail of the line that starts at a word boundary first."""
    import readline

    matches: list[str] = []

    def complete(text: str, state: int):
        nonlocal matches
        if state == 0:
            line = readline.get_line_buffer()
            begin, end = readline.get_begidx(), readline.get_endidx()
            matches = []
            for start in range(begin + 1):
                if start > 0 and line[start - 1] not in _BOUNDARY:
                    continue
                tail = line[start:end]
                found = [w[begin - start:] for w in words if w.startswith(tail)]
                if found:
                    matches = found
                    break
        return matches[state] if state < len(matches) else None

    return complete


def setup_readline(words: list[str]) -> None:
    try:
        import readline
    except ImportError:  # no line editing here: plain input
        return
    readline.set_completer_delims(" \t\n/.*^()+")
    readline.set_completer(completer(words))
    if "libedit" in (readline.__doc__ or ""):
        readline.parse_and_bind("bind ^I rl_complete")
    else:
        readline.parse_and_bind("tab: complete")


def interactive(options) -> int:
    setup_readline(completion_words())
    say = print
    try:
        while True:
            have_text = input("You have: ")
            if not have_text.strip():
                continue
            try:
                have = read(have_text)
            except Exception as exc:
                say(*error_lines(exc), sep="\n")
                continue
            while True:
                want_text = input("You want: ")
                try:
                    lines = convert(have, want_text, options)
                except (LookupError, ValueError) as exc:  # the target names nothing: ask again
                    say(*error_lines(exc), sep="\n")
                    continue
                except Exception as exc:
                    say(*error_lines(exc), sep="\n")
                    break
                say(*("\t" + line for line in lines), sep="\n")
                break
    except (EOFError, KeyboardInterrupt):
        # The loop ends the program: a Ctrl-C pressed again while it ends (the first one may seem
        # lost while the interpreter is busy) must not turn a clean end into a traceback.
        ignore_ctrl_c()
        print()
        return OK


def ignore_ctrl_c() -> None:
    """SIGINT ignored from here on, where this thread may set it (the main thread only)."""
    try:
        import signal

        signal.signal(signal.SIGINT, signal.SIG_IGN)
    except (ValueError, AttributeError):
        pass


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    options = parser.parse_args(argv)
    setup_warnings()
    try:
        if options.search is not None:
            lines = search(options.search)
            if not lines:
                print(f"tolvat: no unit matches '{options.search}'", file=sys.stderr)
                return FAILED
            print(*lines, sep="\n")
            return OK
        if options.constants:
            print(*constant_lines(), sep="\n")
            return OK
        if options.interactive or options.have is None:
            if options.have is not None:
                parser.error("-i takes no HAVE or WANT")
            return interactive(options)
        return one_shot(options)
    except (SystemExit, GeneratorExit):
        raise
    except KeyboardInterrupt:
        print(file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader went away (tolvat --search m | head): nothing more to say, and nothing more
        # to flush at exit either.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return OK
    except BaseException as exc:  # never a traceback, not even for an internal failure
        first, *notes = error_lines(exc)
        print(f"tolvat: {first}", *notes, sep="\n", file=sys.stderr)
        return FAILED
