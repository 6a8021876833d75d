// The one place the binding includes Python.h, with the few compatibility shims it needs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000
#error "tolvat needs CPython 3.11 or newer"
#endif
