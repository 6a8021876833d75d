// The Tolvat type: layout, lifetime, method table, and the constructors unit() and empty().
#include <utility>

#include "../core/unit_collection.hpp"
#include "arguments.hpp"
#include "array_protocols.hpp"
#include "errors.hpp"
#include "format.hpp"
#include "objects.hpp"
#include "pickling.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

void tolvat_release(PyObject* self) noexcept {
    as_tolvat(self)->quantity.~Quantity();
    as_tolvat(self)->access.~AccessCounter();
    Py_CLEAR(as_tolvat(self)->array);
}

void tolvat_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    tolvat_release(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

namespace {

#define TOLVAT_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef tolvat_methods[] = {
    {"unit", TOLVAT_FASTCALL(tolvat_unit), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "unit($cls, unit_name_or_symbol)\n--\n\n"},
    {"constant", TOLVAT_FASTCALL(tolvat_constant), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "constant($cls, constant_name)\n--\n\n"},
    {"empty", tolvat_empty, METH_NOARGS | METH_CLASS, "empty($cls)\n--\n\n"},
    {"custom", TOLVAT_FASTCALL(tolvat_custom), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "custom($cls, name, abbr, definition)\n--\n\n"},
    {"wrap", TOLVAT_FASTCALL(tolvat_wrap), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "wrap($cls, values, unit)\n--\n\nA quantity over the float64 array `values` in the units of `unit` "
     "(a unit text or a quantity), keeping the array itself: no copy is made, and later changes to the "
     "array show in the quantity."},
    {"parse", TOLVAT_FASTCALL(tolvat_parse), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "parse($cls, text, /, *, units=None)\n--\n\nThe quantity a whole text stands for, read strictly."},
    {"is_compatible", TOLVAT_FASTCALL(tolvat_is_compatible), METH_FASTCALL | METH_KEYWORDS,
     "is_compatible($self, other)\n--\n\nWhether other (a quantity or unit text) has the same dimension."},
    {"as_unit", TOLVAT_FASTCALL(tolvat_as_unit), METH_FASTCALL | METH_KEYWORDS, "as_unit($self, other)\n--\n\n"},
    {"as_number", TOLVAT_FASTCALL(tolvat_as_number), METH_FASTCALL | METH_KEYWORDS,
     "as_number($self, other=None, scale=False)\n--\n\n"},
    {"as_unitless", tolvat_as_unitless, METH_NOARGS, "as_unitless($self)\n--\n\n"},
    {"as_base_units", tolvat_as_base_units, METH_NOARGS, "as_base_units($self)\n--\n\n"},
    {"round_sfig", TOLVAT_FASTCALL(tolvat_round_sfig), METH_FASTCALL | METH_KEYWORDS,
     "round_sfig($self, n_sig_figs)\n--\n\n"},
    {"simplify", tolvat_simplify, METH_NOARGS, "simplify($self)\n--\n\n"},
    {"simplify_inplace", tolvat_simplify_inplace, METH_NOARGS, "simplify_inplace($self)\n--\n\n"},
    {"__div__", TOLVAT_FASTCALL(tolvat_div), METH_FASTCALL | METH_KEYWORDS, "__div__($self, other)\n--\n\n"},
    {"__rdiv__", TOLVAT_FASTCALL(tolvat_rdiv), METH_FASTCALL | METH_KEYWORDS, "__rdiv__($self, other)\n--\n\n"},
    {"__round__", TOLVAT_FASTCALL(tolvat_round), METH_FASTCALL | METH_KEYWORDS,
     "__round__($self, ndigits=None)\n--\n\n"},
    {"__exp__", tolvat_exp, METH_NOARGS, "__exp__($self)\n--\n\n"},
    {"exp", tolvat_exp, METH_NOARGS, "exp($self)\n--\n\n"},
    {"__log__", tolvat_log, METH_NOARGS, "__log__($self)\n--\n\n"},
    {"log", tolvat_log, METH_NOARGS, "log($self)\n--\n\n"},
    {"__log10__", tolvat_log10, METH_NOARGS, "__log10__($self)\n--\n\n"},
    {"log10", tolvat_log10, METH_NOARGS, "log10($self)\n--\n\n"},
    {"descriptive", tolvat_descriptive, METH_NOARGS, "descriptive($self)\n--\n\n"},
    {"latex", tolvat_latex, METH_NOARGS, "latex($self)\n--\n\n"},
    {"__format__", tolvat_format, METH_O, "__format__($self, format_spec, /)\n--\n\n"},
    {"__reduce__", tolvat_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
    {"__copy__", tolvat_copy, METH_NOARGS, "__copy__($self, /)\n--\n\n"},
    {"__deepcopy__", tolvat_deepcopy, METH_O, "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__array_ufunc__", TOLVAT_FASTCALL(tolvat_array_ufunc), METH_FASTCALL | METH_KEYWORDS,
     "__array_ufunc__($self, ufunc, method, /, *inputs, **kwargs)\n--\n\n"},
    {"__array_function__", TOLVAT_FASTCALL(tolvat_array_function), METH_FASTCALL | METH_KEYWORDS,
     "__array_function__($self, func, types, args, kwargs, /)\n--\n\n"},
    {"__array__", TOLVAT_FASTCALL(tolvat_array), METH_FASTCALL | METH_KEYWORDS,
     "__array__($self, dtype=None, copy=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef tolvat_members[] = {
    {"value", tolvat_get_value, nullptr, "The number of the units.", nullptr},
    {"units", tolvat_get_units, nullptr, "The units, as a quantity of value 1.", nullptr},
    {"dimension", tolvat_get_dimension, nullptr, "The base dimension: base-unit symbol to power.", nullptr},
    {"shape", tolvat_get_shape, nullptr, "The shape of the value array.", nullptr},
    {"ndim", tolvat_get_ndim, nullptr, "The number of dimensions of the value array.", nullptr},
    {"size", tolvat_get_size, nullptr, "The number of values of the value array.", nullptr},
    {"dtype", tolvat_get_dtype, nullptr, "The element type of the value array (float64).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tolvat_slots[] = {
    {Py_tp_doc, const_cast<char*>("Unit! yippee")},
    INSTANCE_END_SLOT(tolvat),
    {Py_tp_methods, tolvat_methods},
    {Py_tp_iter, reinterpret_cast<void*>(tolvat_iter)},
    {Py_mp_length, reinterpret_cast<void*>(tolvat_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(tolvat_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(tolvat_assign_subscript)},
    {Py_nb_bool, reinterpret_cast<void*>(tolvat_bool)},
    {Py_tp_getset, tolvat_members},
    {Py_tp_str, reinterpret_cast<void*>(tolvat_str)},
    {Py_tp_repr, reinterpret_cast<void*>(tolvat_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(tolvat_richcompare)},
    {Py_nb_positive, reinterpret_cast<void*>(tolvat_positive)},
    {Py_nb_negative, reinterpret_cast<void*>(tolvat_negative)},
    {Py_nb_absolute, reinterpret_cast<void*>(tolvat_absolute)},
    {Py_nb_int, reinterpret_cast<void*>(tolvat_int)},
    {Py_nb_float, reinterpret_cast<void*>(tolvat_float)},
    {Py_nb_add, reinterpret_cast<void*>(tolvat_add)},
    {Py_nb_subtract, reinterpret_cast<void*>(tolvat_subtract)},
    {Py_nb_multiply, reinterpret_cast<void*>(tolvat_multiply)},
    {Py_nb_true_divide, reinterpret_cast<void*>(tolvat_true_divide)},
    {Py_nb_power, reinterpret_cast<void*>(tolvat_power)},
    {0, nullptr},
};

PyType_Spec tolvat_spec = {
    "tolvat.Tolvat",
    sizeof(TolvatObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    tolvat_slots,
};

}  // namespace

PyTypeObject* create_tolvat_type(PyObject* module) noexcept {
    return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &tolvat_spec, nullptr));
}

PyObject* new_tolvat(PyTypeObject* type, Quantity&& quantity) noexcept {
    auto* self = static_cast<TolvatObject*>(PyObject_Malloc(sizeof(TolvatObject)));
    if (self == nullptr) return PyErr_NoMemory();
    PyObject_Init(reinterpret_cast<PyObject*>(self), type);
    ::new (&self->access) AccessCounter();
    self->units_simple = false;
    self->has_array = false;
    ::new (&self->quantity) Quantity(std::move(quantity));
    self->array = nullptr;
    return reinterpret_cast<PyObject*>(self);
}

PyObject* tolvat_unit(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"unit_name_or_symbol"};
    PyObject* arg;
    if (!bind_arguments("unit", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::string_view> text = text_argument(arg, "unit_name_or_symbol");
    if (!text) return nullptr;
    try {
        bool dropped_a_name = false;
        std::optional<UnitCollection> unit = UnitCollection::from_unit_name(*text, dropped_a_name);
        if (!unit) return raise_unit_not_found(*text);
        if (dropped_a_name && !warn_dropped_unit_text(*text)) return nullptr;
        return new_tolvat(as_type(cls), Quantity{std::move(*unit), 1.0});
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_empty(PyObject* cls, PyObject*) noexcept { return new_tolvat(as_type(cls), Quantity{UnitCollection(), 1.0}); }

}  // namespace tolvat::py
