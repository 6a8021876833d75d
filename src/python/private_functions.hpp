// Private class-level functions of Tolvat, for the package's own tools and tests; the module's
// public surface stays its two classes.
//
// - Tolvat._worker_stats(reset=False, /): the process-wide counts of the simplification search's
//   worker threads, read where the cap on them is kept.
// - Tolvat._catalogue(): the compiled-in tables as tuples, for the command line's search and
//   completion.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

// Sets the functions on the module's Tolvat type, bound to the module. 0, or -1 with an
// exception set.
int add_private_functions(PyObject* module) noexcept;

}  // namespace tolvat::py
