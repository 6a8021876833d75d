"""The command-line converter, run as a user runs it: `python -m _tolvat` (the installed `tolvat`
script calls the same main), one-shot with its output and exit status, and the interactive loop
through a pseudo-terminal. Expected texts come from the library itself wherever they can."""

import os
import pathlib
import re
import select
import shlex
import subprocess
import sys
import sysconfig
import time
import warnings

import pytest

import tolvat
from _tolvat import cli
from tolvat import Tolvat

U = Tolvat.unit
# Deadlines below only keep a broken run from hanging; no machine is that slow.
GUARD = 120.0
ENV = {**os.environ, "PYTHONUTF8": "1", "TERM": "dumb"}


def run(*args, command=None):
    command = command or [sys.executable, "-m", "_tolvat"]
    return subprocess.run([*command, *args], capture_output=True, text=True, timeout=GUARD, env=ENV)


def library_error(call):
    """The message and notes the library raises for `call`, as the converter prints them."""
    with pytest.raises(Exception) as info:
        call()
    return [str(info.value), *getattr(info.value, "__notes__", [])]


# ---- one-shot -----------------------------------------------------------------------------------

ONE_SHOT = [
    (["90 km/hr", "m/s"], ["25 [m/s]"]),
    (["20 °C", "°F"], [str((U("°C") * 20).as_unit("°F"))]),
    (["3 ft", "m"], [str((U("ft") * 3).as_unit("m"))]),
    (["mi", "km"], [str(U("mi").as_unit("km"))]),
    # Read strictly, as people write quantities: other tools' spellings, powers, sums.
    (["100 km/h", "m/s"], [str((U("km/hr") * 100).as_unit("m/s"))]),
    (["9.81 m/s^2", "ft/s^2"], [str((U("m/s2") * 9.81).as_unit("ft/s2"))]),
    (["5 ft 2 in", "in"], [str((U("ft") * 5 + U("in") * 2).as_unit("in"))]),
    (["20 degC", "degF"], [str((U("°C") * 20).as_unit("°F"))]),
    (["1 kW h", "J"], ["3600000 [J]"]),
    (["1 N.m"], ["1 [N.m]", "= 1 [kg.m2/s2]"]),
    (["20 °C"], ["20 [°C]", "= 293.15 [K]"]),  # the lone temperature keeps its offset
    (["3 m"], ["3 [m]"]),
    (["1 km", "100 m"], ["10 × 100 m"]),
    (["2 speed of light", "m/s"], [str(Tolvat.constant("c") * 2)]),
    (["--round", "1", "20 °C", "°F"], [str(round((U("°C") * 20).as_unit("°F"), 1))]),
    (["--round", "-2", "1234 m"], ["1200 [m]"]),
    (["--sfig", "3", "mi", "km"], [str(U("mi").as_unit("km").round_sfig(3))]),
    (["--latex", "90 km/hr", "m/s"], [(U("km/hr") * 90).as_unit("m/s").latex()]),
    (["--descriptive", "90 km/hr", "m/s"], [(U("km/hr") * 90).as_unit("m/s").descriptive()]),
    (["--descriptive", "--sfig", "2", "1 N.m"], [(U("N.m") * 1).round_sfig(2).descriptive(), "= 1 [kilogram.meter2/second2]"]),
]


@pytest.mark.parametrize("args, lines", ONE_SHOT)
def test_one_shot_prints_the_conversion(args, lines):
    out = run(*args)
    assert (out.returncode, out.stderr) == (0, "")
    assert out.stdout == "".join(line + "\n" for line in lines)


@pytest.mark.parametrize(
    "args, status, call",
    [
        (["3 hrr", "m"], 2, lambda: cli.read("3 hrr")),
        (["3 m", "hrr"], 2, lambda: cli.read("hrr")),
        (["3 m", "s"], 1, lambda: (U("m") * 3).as_unit("s")),
        (["5 ft + 2 s", "m"], 1, lambda: U("ft") + U("s")),
        (["(m", "s"], 2, lambda: Tolvat.parse("(m")),
        ([""], 2, lambda: Tolvat.parse("")),
    ],
)
def test_errors_print_the_library_message_and_exit_with_its_status(args, status, call):
    out = run(*args)
    expected = library_error(call)
    assert out.returncode == status and out.stdout == ""
    assert out.stderr == "tolvat: " + "\n".join(expected) + "\n"
    if "hrr" in " ".join(args):
        assert "did you mean 'hr'?" in out.stderr
    assert "Traceback" not in out.stderr


@pytest.mark.parametrize(
    "args, message",
    [
        (["--round", "x", "1 m"], "not an integer"),
        (["--sfig", str(2**31), "1 m"], "out of range"),
        (["--round", "1", "--sfig", "2", "1 m"], "not allowed with"),
        (["--latex", "--descriptive", "1 m"], "not allowed with"),
        (["-i", "1 m"], "-i takes no HAVE or WANT"),
        (["1 m", "m", "m"], "unrecognized arguments"),
    ],
)
def test_bad_options_are_usage_errors(args, message):
    out = run(*args)
    assert out.returncode == 2 and out.stdout == "" and message in out.stderr
    assert out.stderr.startswith("usage: tolvat") and "Traceback" not in out.stderr


def test_a_warning_is_one_line_once(capsys):
    with warnings.catch_warnings():
        cli.setup_warnings()
        for _ in range(3):
            warnings.warn("'km/h': 'h' names no unit\nand was ignored", UserWarning)
    assert capsys.readouterr().err == "tolvat: warning: 'km/h': 'h' names no unit and was ignored\n"


# ---- looking things up --------------------------------------------------------------------------


def test_the_catalogue_the_converter_reads_is_the_one_the_library_resolves():
    c = Tolvat._catalogue()
    assert [len(c[k]) for k in ("base", "units", "prefixes", "aliases", "log_units", "constants", "constant_aliases")] \
        == [8, 136, 34, 33, 4, 16, 15]
    first = {}
    for row in c["units"]:
        first.setdefault(row[0], row)
    for name, (_, symbol, multiplier, offset, dimension) in first.items():
        base = Tolvat.empty()
        for b, e in zip(c["base"], dimension):
            base = base * U(b) ** e
        one = U(name).as_base_units()
        assert one.as_number() == multiplier and one.as_number(base) == multiplier, name  # same dimension
    for alias, name in c["aliases"]:
        assert str(U(alias)) == str(U(name))
    for alias, name in c["constant_aliases"]:
        assert Tolvat.constant(alias) == Tolvat.constant(name)


def test_search_lists_matching_rows_with_multiplier_and_dimension():
    out = run("--search", "WATT")
    assert out.returncode == 0
    rows = [line.split("  ") for line in out.stdout.splitlines()]
    cells = [[c.strip() for c in row if c.strip()] for row in rows]
    assert cells[0] == ["name", "symbol", "multiplier", "offset", "dimension", "aliases"]
    assert cells[1:] == [["watt", "W", "1", "kg m2 s-3"], ["watt hour", "Wh", "3600", "kg m2 s-2"]]
    # An alias matches its unit's row, and the row names it.
    metre = [c for c in (line.split() for line in run("--search", "metre").stdout.splitlines()) if c[0] == "meter"]
    assert metre == [["meter", "m", "1", "m", "metre"]]
    celsius = run("--search", "celsius").stdout
    assert re.search(r"\n°C +°C +1 +-273.15 +K  ", "\n" + celsius.replace("degree Celsius", "°C"))
    nothing = run("--search", "xyzzy")
    assert (nothing.returncode, nothing.stdout, nothing.stderr) == (1, "", "tolvat: no unit matches 'xyzzy'\n")


def test_constants_lists_every_constant_with_its_value():
    out = run("--constants")
    assert out.returncode == 0
    lines = out.stdout.splitlines()[1:]
    table = Tolvat._catalogue()["constants"]
    assert len(lines) == len(table) == 16
    for line, (name, value, unit) in zip(lines, table):
        assert line.startswith(name + " ")
        number, units = re.search(r"  (\S+) \[([^]]*)\]", line).groups()
        assert float(number) == value and units == unit
        assert Tolvat.constant(name) == U(unit) * float(number)


def test_help_describes_every_option():
    out = run("--help")
    assert out.returncode == 0
    text = " ".join(out.stdout.split())
    actions = [a for a in cli.build_parser()._actions if a.dest != "help"]
    assert sorted(a.dest for a in actions) == sorted(
        ["have", "want", "interactive", "latex", "descriptive", "round", "sfig", "search", "constants"]
    )
    for action in actions:
        for name in action.option_strings or [action.metavar]:
            assert name in text, name
        assert " ".join(action.help.split()) in text, action.dest
    for example in ('tolvat "90 km/hr" "m/s"', "exit status"):
        assert example in text


def transcripts():
    """(command line, output, exit status) of each `$ tolvat ...` in docs/cli.md's console blocks."""
    page = (pathlib.Path(__file__).resolve().parents[2] / "docs" / "cli.md").read_text(encoding="utf-8")
    found = []
    for block in re.findall(r"```console\n(.*?)```", page, re.S):
        for command, output in re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block, re.M):
            status = re.search(r"^\[exit (\d+)\]\n", output, re.M)
            output = output[: status.start()] if status else output
            found.append((command, output, int(status.group(1)) if status else 0))
    return found


def test_the_transcripts_of_the_docs_page():
    pages = transcripts()
    assert len(pages) >= 15
    for command, output, status in pages:
        args = shlex.split(command)
        assert args[0] == "tolvat"
        out = run(*args[1:])
        assert (out.stdout + out.stderr, out.returncode) == (output, status), command


# ---- the interactive loop -----------------------------------------------------------------------


class Terminal:
    """The converter on a pseudo-terminal, as a person at a keyboard meets it."""

    # The converter's module run as -m runs it, on a terminal that it first makes its controlling
    # terminal (so that Ctrl-C is its signal). Started as a new process rather than forked from
    # this one, which may have threads.
    BOOT = ("import fcntl, runpy, termios; fcntl.ioctl(0, termios.TIOCSCTTY, 0); "
            "runpy.run_module('_tolvat', run_name='__main__', alter_sys=True)")

    def __init__(self):
        self.fd, terminal = os.openpty()
        self.process = subprocess.Popen([sys.executable, "-c", self.BOOT], stdin=terminal, stdout=terminal,
                                        stderr=terminal, start_new_session=True, env=ENV)
        os.close(terminal)
        self.seen = ""
        self.closed = False

    def read(self, wait):
        """What the converter writes within `wait` seconds: None when nothing comes, b"" once it
        has closed the terminal."""
        ready, _, _ = select.select([self.fd], [], [], wait)
        if not ready:
            return None
        try:
            return os.read(self.fd, 4096)
        except OSError:  # the other side has gone
            return b""

    def expect(self, text):
        """Reads until `text` has appeared since the last call; returns what came before it."""
        deadline = time.monotonic() + GUARD
        while text not in self.seen:
            assert time.monotonic() < deadline, f"waited for {text!r}, got {self.seen!r}"
            chunk = self.read(1.0)
            if chunk is not None:
                assert chunk, f"ended while waiting for {text!r}, after {self.seen!r}"
                self.seen += chunk.decode(errors="replace").replace("\r\n", "\n")
        before, _, self.seen = self.seen.partition(text)
        return before

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def running(self, quiet=1.0):
        """Reads what the converter writes until it closes the terminal (False) or has been
        silent for `quiet` seconds (True)."""
        while not self.closed:
            chunk = self.read(quiet)
            if chunk is None:
                return True
            self.seen += chunk.decode(errors="replace").replace("\r\n", "\n")
            self.closed = not chunk
        return False

    def end(self):
        """The rest of the output and the exit status."""
        while not self.closed:
            chunk = self.read(GUARD)
            assert chunk is not None, "the converter did not end"
            self.seen += chunk.decode(errors="replace").replace("\r\n", "\n")
            self.closed = not chunk
        status = self.process.wait(timeout=GUARD)
        os.close(self.fd)
        return self.seen, status


def test_interactive_conversation_with_completion_history_and_ctrl_d():
    t = Terminal()
    t.expect("You have: ")
    t.type("90 km/hr\n")
    t.expect("You want: ")
    t.type("m/s\n")
    assert t.expect("You have: ") == "m/s\n\t25 [m/s]\n"
    # An unknown unit: the library's message and suggestion, and the question again.
    t.type("3 hrr\n")
    assert t.expect("You have: ") == "3 hrr\n" + "\n".join(library_error(lambda: cli.read("3 hrr"))) + "\n"
    # Tab completes names with spaces; an empty "You want:" shows the simplified form.
    t.type("20 degree Cel\t")
    t.expect("20 degree Celsius")
    t.type("\n")
    t.expect("You want: ")
    t.type("\n")
    assert t.expect("You have: ") == "\n\t20 [°C]\n\t= 293.15 [K]\n"
    t.type("3 nautical mi\t\n")
    t.expect("You want: ")
    # A target that names nothing asks again; incompatible units go back to "You have:".
    t.type("parsecz\n")
    t.expect("You want: ")
    t.type("s\n")
    assert t.expect("You have: ") == "s\n[nmi] and [s] are not compatible\n"
    # Ctrl-P steps back through the lines typed in this session, answers to both questions.
    t.type("\x10\x10\x10\n")
    t.expect("3 nautical mile\n")
    t.expect("You want: ")
    t.type("m\n")
    assert t.expect("You have: ") == f"m\n\t{(U('nmi') * 3).as_unit('m')}\n"
    t.type("\x04")  # Ctrl-D
    rest, status = t.end()
    assert status == 0 and rest.strip() == ""


def test_ctrl_c_ends_the_loop_cleanly():
    t = Terminal()
    t.expect("You have: ")
    t.type("5 m\n")
    t.expect("You want: ")
    # Ctrl-C. A signal that lands just before the interpreter's line reader starts waiting is only
    # seen at the next one (the interpreter's race, not the converter's), so it is pressed again
    # while the converter runs on; presses that come while it is ending, however slowly, change
    # nothing.
    deadline = time.monotonic() + GUARD
    while t.running():
        assert time.monotonic() < deadline, "Ctrl-C did not end the converter"
        t.type("\x03")
    rest, status = t.end()
    assert status == 0 and "Traceback" not in rest and "KeyboardInterrupt" not in rest


def test_ctrl_c_pressed_again_as_the_loop_ends_changes_nothing():
    # However late a second Ctrl-C comes (a busy machine delays the first one's effect), the end
    # stays clean: here the second press comes after the loop has ended, deterministically.
    code = ("import builtins, os, signal, _tolvat.cli as cli\n"
            "def press(prompt):\n    raise KeyboardInterrupt\n"
            "builtins.input = press\n"
            "status = cli.main(['-i'])\n"
            "os.kill(os.getpid(), signal.SIGINT)\n"
            "print('ended', status)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=GUARD, env=ENV)
    assert (out.returncode, out.stdout.split(), out.stderr) == (0, ["ended", "0"], "")


def test_interactive_input_from_a_pipe():
    out = subprocess.run([sys.executable, "-m", "_tolvat", "-i"], input="mi\nkm\n1 m\nkg\n", capture_output=True,
                         text=True, timeout=GUARD, env=ENV)
    assert out.returncode == 0
    assert f"\t{U('mi').as_unit('km')}\n" in out.stdout and "[m] and [kg] are not compatible" in out.stdout


# ---- the installed script -----------------------------------------------------------------------


def test_installed_script_runs_the_converter():
    installed = {sysconfig.get_paths()["purelib"], sysconfig.get_paths()["platlib"]}
    if str(pathlib.Path(tolvat.__file__).parent) not in installed:
        pytest.skip("tolvat is not installed into this interpreter (run from a build directory)")
    script = pathlib.Path(sys.executable).parent / "tolvat"
    out = run("90 km/hr", "m/s", command=[str(script)])
    assert (out.returncode, out.stdout) == (0, "25 [m/s]\n")
