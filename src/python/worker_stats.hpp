// The private class-level function Tolvat._worker_stats: the process-wide counts of the
// simplification search's worker threads, read where the cap on them is kept. For tests and
// measurements; the module's public surface stays the two classes.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

// Sets Tolvat._worker_stats, a function bound to the module. 0, or -1 with an exception set.
int add_worker_stats(PyObject* module) noexcept;

}  // namespace tolvat::py
