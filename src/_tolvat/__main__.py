"""python -m _tolvat: the command-line converter, as the installed `tolvat` script runs it."""

from _tolvat.cli import main

raise SystemExit(main())
