// The LogTolvat type: layout, lifetime and method table.
#include <utility>

#include "errors.hpp"
#include "objects.hpp"

namespace tolvat::py {

PyTypeObject* g_log_tolvat_type = nullptr;

namespace {

void log_tolvat_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    as_log_tolvat(self)->quantity.~LogQuantity();
    as_log_tolvat(self)->access.~AccessCounter();
    PyObject_Free(self);
    Py_DECREF(type);
}

PyMethodDef log_tolvat_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot log_tolvat_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(log_tolvat_dealloc)},
    {Py_tp_methods, log_tolvat_methods},
    {0, nullptr},
};

PyType_Spec log_tolvat_spec = {
    "tolvat.LogTolvat",
    sizeof(LogTolvatObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    log_tolvat_slots,
};

}  // namespace

int ensure_log_tolvat_type() {
    if (g_log_tolvat_type != nullptr) return 0;
    PyObject* type = PyType_FromSpec(&log_tolvat_spec);
    if (type == nullptr) return -1;
    g_log_tolvat_type = reinterpret_cast<PyTypeObject*>(type);
    return 0;
}

PyObject* new_log_tolvat(const LogQuantity& quantity) noexcept {
    auto* self = static_cast<LogTolvatObject*>(PyObject_Malloc(sizeof(LogTolvatObject)));
    if (self == nullptr) return PyErr_NoMemory();
    PyObject_Init(reinterpret_cast<PyObject*>(self), g_log_tolvat_type);
    ::new (&self->access) AccessCounter();
    ::new (&self->quantity) LogQuantity(quantity);
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace tolvat::py
