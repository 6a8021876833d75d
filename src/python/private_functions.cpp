#include "private_functions.hpp"

#include <span>
#include <string_view>

#include "../core/catalogue.hpp"
#include "../core/constants.hpp"
#include "../core/log_catalogue.hpp"
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

PyObject* text(std::string_view view) noexcept {
    return PyUnicode_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size()));
}

// A tuple of n items, item i made by `make(i)` (a new reference, or nullptr with an exception).
template <typename Make>
PyObject* tuple_of(std::size_t n, Make make) noexcept {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(n));
    if (tuple == nullptr) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = make(i);
        if (item == nullptr) {
            Py_DECREF(tuple);
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), item);
    }
    return tuple;
}

PyObject* exponents_tuple(const BaseExponents& exponents) noexcept {
    return tuple_of(kBaseDimensionCount, [&exponents](std::size_t i) { return PyFloat_FromDouble(exponents[i]); });
}

// A tuple with one item per row, made by `make`.
template <typename Row, std::size_t N, typename Make>
PyObject* rows(std::span<const Row, N> table, Make make) noexcept {
    return tuple_of(table.size(), [&](std::size_t i) { return make(table[i]); });
}

// _catalogue(): a dict of the tables in table order (the first row that matches a text wins):
//   "base": the symbols of the eight base units, in the order of every dimension tuple;
//   "units": (name, symbol, multiplier, offset, dimension) with dimension a tuple of 8 floats;
//   "prefixes": (name, symbol, factor); "aliases": (alias, unit name);
//   "log_units": (name, symbol, base);
//   "constants": (name, value, unit expression); "constant_aliases": (alias, constant name).
PyObject* catalogue(PyObject*, PyObject*) noexcept {
    PyObject* base = tuple_of(kBaseDimensionCount, [](std::size_t i) { return text(base_unit(i).symbol); });
    PyObject* units = rows(unit_table(), [](const UnitDef& u) -> PyObject* {
        PyObject* dimension = exponents_tuple(u.exponents);
        if (dimension == nullptr) return nullptr;
        return Py_BuildValue("(s#s#ddN)", u.name.data(), static_cast<Py_ssize_t>(u.name.size()), u.symbol.data(),
                             static_cast<Py_ssize_t>(u.symbol.size()), u.multiplier, u.offset, dimension);
    });
    PyObject* prefixes = rows(prefix_table(), [](const PrefixDef& p) -> PyObject* {
        return Py_BuildValue("(s#s#d)", p.name.data(), static_cast<Py_ssize_t>(p.name.size()), p.symbol.data(),
                             static_cast<Py_ssize_t>(p.symbol.size()), p.factor);
    });
    PyObject* aliases = rows(unit_alias_table(), [](const UnitAlias& a) -> PyObject* {
        return Py_BuildValue("(s#s#)", a.alias.data(), static_cast<Py_ssize_t>(a.alias.size()), a.canonical.data(),
                             static_cast<Py_ssize_t>(a.canonical.size()));
    });
    PyObject* log_units = rows(log_unit_table(), [](const LogUnitDef& u) -> PyObject* {
        return Py_BuildValue("(s#s#d)", u.name.data(), static_cast<Py_ssize_t>(u.name.size()), u.symbol.data(),
                             static_cast<Py_ssize_t>(u.symbol.size()), u.base);
    });
    PyObject* constants = rows(constant_table(), [](const ConstantDef& c) -> PyObject* {
        return Py_BuildValue("(s#ds#)", c.name.data(), static_cast<Py_ssize_t>(c.name.size()), c.value,
                             c.unit_text.data(), static_cast<Py_ssize_t>(c.unit_text.size()));
    });
    PyObject* constant_aliases = rows(constant_alias_table(), [](const ConstantAlias& a) -> PyObject* {
        return Py_BuildValue("(s#s#)", a.alias.data(), static_cast<Py_ssize_t>(a.alias.size()), a.canonical.data(),
                             static_cast<Py_ssize_t>(a.canonical.size()));
    });
    PyObject* result = nullptr;
    if (base != nullptr && units != nullptr && prefixes != nullptr && aliases != nullptr && log_units != nullptr && constants != nullptr &&
        constant_aliases != nullptr) {
        result = Py_BuildValue("{s:O,s:O,s:O,s:O,s:O,s:O,s:O}", "base", base, "units", units, "prefixes", prefixes,
                               "aliases", aliases, "log_units", log_units, "constants", constants, "constant_aliases",
                               constant_aliases);
    }
    Py_XDECREF(base);
    Py_XDECREF(units);
    Py_XDECREF(prefixes);
    Py_XDECREF(aliases);
    Py_XDECREF(log_units);
    Py_XDECREF(constants);
    Py_XDECREF(constant_aliases);
    return result;
}

PyMethodDef g_private_functions[] = {
    {"Tolvat._worker_stats", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(worker_stats)),
     METH_FASTCALL,
     "_worker_stats($module, reset=False, /)\n--\n\nThe counts of the simplification search's worker threads."},
    {"Tolvat._catalogue", catalogue, METH_NOARGS,
     "_catalogue($module, /)\n--\n\nThe compiled-in units, prefixes, aliases, logarithmic units and constants."},
};

}  // namespace

int add_private_functions(PyObject* module) noexcept {
    PyObject* name = PyModule_GetNameObject(module);
    if (name == nullptr) return -1;
    PyObject* type = reinterpret_cast<PyObject*>(module_state(module)->tolvat_type);
    int status = 0;
    for (PyMethodDef& def : g_private_functions) {
        PyObject* function = PyCFunction_NewEx(&def, module, name);
        // The attribute is the part of the dotted name after the class.
        const char* attribute = std::string_view(def.ml_name).substr(std::string_view("Tolvat.").size()).data();
        if (function == nullptr || PyObject_SetAttrString(type, attribute, function) < 0) status = -1;
        Py_XDECREF(function);
        if (status < 0) break;
    }
    Py_DECREF(name);
    return status;
}

}  // namespace tolvat::py
