#include "worker_stats.hpp"

#include "../core/simplify_search.hpp"
#include "module_state.hpp"

namespace tolvat::py {
namespace {

// _worker_stats(reset=False, /): a dict of "cap" (most workers alive at once), "live" (slots held
// now), "peak" (most slots held at once since the last reset) and "started" (workers started since
// the last reset). With reset true the peak restarts from the slots held now and the started count
// from zero, after the counts are read.
PyObject* worker_stats(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "_worker_stats() takes at most 1 argument (%zd given)", nargs);
        return nullptr;
    }
    int reset = 0;
    if (nargs == 1 && (reset = PyObject_IsTrue(args[0])) < 0) return nullptr;
    const simplify_detail::WorkerStats stats = simplify_detail::worker_stats();
    if (reset) simplify_detail::reset_worker_stats();
    return Py_BuildValue("{s:n,s:n,s:n,s:n}", "cap", static_cast<Py_ssize_t>(stats.cap), "live",
                         static_cast<Py_ssize_t>(stats.live), "peak", static_cast<Py_ssize_t>(stats.peak),
                         "started", static_cast<Py_ssize_t>(stats.started));
}

PyMethodDef g_worker_stats_def = {
    "Tolvat._worker_stats", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(worker_stats)),
    METH_FASTCALL,
    "_worker_stats($module, reset=False, /)\n--\n\nThe counts of the simplification search's worker threads."};

}  // namespace

int add_worker_stats(PyObject* module) noexcept {
    PyObject* name = PyModule_GetNameObject(module);
    if (name == nullptr) return -1;
    PyObject* function = PyCFunction_NewEx(&g_worker_stats_def, module, name);
    Py_DECREF(name);
    if (function == nullptr) return -1;
    PyTypeObject* type = module_state(module)->tolvat_type;
    const int status = PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "_worker_stats", function);
    Py_DECREF(function);
    return status;
}

}  // namespace tolvat::py
