// NumPy's protocols on Tolvat: __array_ufunc__, __array_function__ and __array__.
//
// __array_ufunc__ recognises a ufunc by its __name__ (cached per interpreter by the ufunc
// object), plans the units work in the core (ufunc_rules.hpp) and calls the ufunc once on the
// plain values. The arithmetic ufuncs without keywords take the operators' own road, so that
// np.multiply(a, q), a * q and q * a give the very same result.
//
// __array_function__ does the common functions that keep the units of their one quantity (sum,
// mean, min, max, ...) or give plain results (argmin, argsort, ...) here; every other function
// goes to the Python layer _tolvat.array_functions, imported on first need, which raises
// TypeError for the functions it does not know.
#include "atomic_ref.hpp"
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../core/render.hpp"
#include "../core/ufunc_rules.hpp"
#include "array_protocols.hpp"
#include "arrays.hpp"
#include "numpy_c.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

// ---- the caches of ufuncs and array functions ----------------------------------------------

// A slot of a per-interpreter cache: set once by compare-exchange from nullptr, read with acquire
// loads, holding a strong reference until the module is cleared.
PyObject* load_slot(PyObject*& slot) noexcept { return AtomicRef<PyObject*>(slot).load(std::memory_order_acquire); }
void fill_slot(PyObject*& slot, PyObject* object) noexcept {
    PyObject* expected = nullptr;
    Py_INCREF(object);
    if (!AtomicRef<PyObject*>(slot).compare_exchange_strong(expected, object, std::memory_order_acq_rel)) {
        Py_DECREF(object);
    }
}

// The __name__ of a callable as UTF-8; empty (no exception) when it has none.
std::string_view name_of(PyObject* callable, Ref& holder) noexcept {
    holder = Ref(PyObject_GetAttrString(callable, "__name__"));
    if (!holder || !PyUnicode_Check(holder.get())) {
        PyErr_Clear();
        return {};
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(holder.get(), &size);
    if (text == nullptr) {
        PyErr_Clear();
        return {};
    }
    return {text, static_cast<std::size_t>(size)};
}

const UfuncInfo* lookup_ufunc(ModuleState* state, PyObject* ufunc) noexcept {
    const std::span<const UfuncInfo> table = ufunc_table();
    const std::size_t n = table.size() < kCachedUfuncs ? table.size() : kCachedUfuncs;
    for (std::size_t i = 0; i < n; ++i) {
        if (load_slot(state->ufuncs[i]) == ufunc) return &table[i];
    }
    Ref holder;
    const UfuncInfo* info = find_ufunc(name_of(ufunc, holder));
    if (info != nullptr) {
        const auto index = static_cast<std::size_t>(info - table.data());
        if (index < kCachedUfuncs) fill_slot(state->ufuncs[index], ufunc);
    }
    return info;
}

// What __array_function__ does here with a function of one quantity.
enum class FunctionKind : unsigned char {
    Python,     // left to _tolvat.array_functions
    KeepUnits,  // the quantity's units, kept as they are, over the function's values
    Plain,      // the function's values (indices, shapes, counts)
};

struct FunctionInfo {
    std::string_view name;
    FunctionKind kind;
    // For an exact ndarray and no argument but the quantity: the reduction ufunc that gives the
    // same numbers without the function's own layers ("add" for sum), or empty.
    std::string_view reduction;
};

constexpr FunctionInfo kFunctions[] = {
    {"sum", FunctionKind::KeepUnits, "add"},
    {"min", FunctionKind::KeepUnits, "minimum"},
    {"amin", FunctionKind::KeepUnits, "minimum"},
    {"max", FunctionKind::KeepUnits, "maximum"},
    {"amax", FunctionKind::KeepUnits, "maximum"},
    {"mean", FunctionKind::KeepUnits, {}},
    {"std", FunctionKind::KeepUnits, {}},
    {"median", FunctionKind::KeepUnits, {}},
    {"ptp", FunctionKind::KeepUnits, {}},
    {"cumsum", FunctionKind::KeepUnits, {}},
    {"sort", FunctionKind::KeepUnits, {}},
    {"nansum", FunctionKind::KeepUnits, {}},
    {"nanmean", FunctionKind::KeepUnits, {}},
    {"nanmin", FunctionKind::KeepUnits, {}},
    {"nanmax", FunctionKind::KeepUnits, {}},
    {"nanstd", FunctionKind::KeepUnits, {}},
    {"nanmedian", FunctionKind::KeepUnits, {}},
    {"nancumsum", FunctionKind::KeepUnits, {}},
    {"reshape", FunctionKind::KeepUnits, {}},
    {"ravel", FunctionKind::KeepUnits, {}},
    {"transpose", FunctionKind::KeepUnits, {}},
    {"squeeze", FunctionKind::KeepUnits, {}},
    {"flip", FunctionKind::KeepUnits, {}},
    {"copy", FunctionKind::KeepUnits, {}},
    {"argmin", FunctionKind::Plain, {}},
    {"argmax", FunctionKind::Plain, {}},
    {"argsort", FunctionKind::Plain, {}},
    {"nanargmin", FunctionKind::Plain, {}},
    {"nanargmax", FunctionKind::Plain, {}},
    {"nonzero", FunctionKind::Plain, {}},
    {"shape", FunctionKind::Plain, {}},
    {"ndim", FunctionKind::Plain, {}},
    {"size", FunctionKind::Plain, {}},
};
static_assert(std::size(kFunctions) <= kCachedFunctions);

const FunctionInfo* lookup_function(ModuleState* state, PyObject* function) noexcept {
    constexpr std::size_t n = std::size(kFunctions);
    for (std::size_t i = 0; i < n; ++i) {
        if (load_slot(state->array_functions[i]) == function) return &kFunctions[i];
    }
    Ref holder;
    const std::string_view name = name_of(function, holder);
    for (std::size_t i = 0; i < n; ++i) {
        if (kFunctions[i].name == name) {
            fill_slot(state->array_functions[i], function);
            return &kFunctions[i];
        }
    }
    return nullptr;
}

// ---- operands and results ------------------------------------------------------------------

// One input of a ufunc, read out of its object.
struct Input {
    PyObject* object = nullptr;  // borrowed: the input as given
    bool quantity = false;       // a Tolvat
    Quantity units;              // a Tolvat's units (and value, for a float value)
    Ref array;                   // a Tolvat's array
    const UnitCollection* unit_pointer() const noexcept { return quantity ? &units.unit : nullptr; }
};

PyObject* raise_log_tolvat_with_numpy() noexcept {
    PyErr_SetString(PyExc_TypeError,
                    "a LogTolvat does not take part in NumPy's functions: its values stay single "
                    "floats; use x.as_number() for the plain number");
    return nullptr;
}

bool read_input(PyObject* object, Input& input) noexcept {
    input.object = object;
    if (is_log_tolvat(object)) {
        raise_log_tolvat_with_numpy();
        return false;
    }
    if (!is_tolvat(object)) return true;
    input.quantity = true;
    if (!read_tolvat(object, input.units, input.array)) {
        raise_already_mutably_borrowed();
        return false;
    }
    return true;
}

bool is_numpy_scalar(const NumpyApi* api, PyObject* object) noexcept {
    return PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(api->generic));
}

// One number for the input, if it is one: a float-valued quantity (its value in its own units),
// a Python number or a NumPy scalar.
bool scalar_of(const NumpyApi* api, const Input& input, double& out) noexcept {
    if (input.quantity) {
        if (input.array) return false;
        out = input.units.value;
        return true;
    }
    PyObject* o = input.object;
    if (PyFloat_Check(o) || PyLong_Check(o) || is_numpy_scalar(api, o)) {
        out = PyFloat_AsDouble(o);
        if (out == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        return true;
    }
    return false;
}

// The input's values converted: a float for a float value, an array otherwise.
PyObject* converted_input(const NumpyApi* api, const Input& input, const Conversion& conversion) noexcept {
    if (input.quantity && !input.array) return PyFloat_FromDouble(conversion.apply(input.units.value));
    PyObject* values = input.quantity ? input.array.get() : input.object;
    if (conversion.kind == Conversion::Kind::Same) return Py_NewRef(values);
    if (PyFloat_Check(values) || PyLong_Check(values)) {
        const double x = PyFloat_AsDouble(values);
        if (x == -1.0 && PyErr_Occurred()) return nullptr;
        return PyFloat_FromDouble(conversion.apply(x));
    }
    Ref array(is_array_like(api, values) ? Py_NewRef(values) : PyObject_CallOneArg(api->asarray, values));
    if (!array) return nullptr;
    Ref normalised(normalise_array(api, array.get()));
    if (!normalised) return nullptr;
    return converted_array(api, normalised.get(), conversion);
}

// A per-interpreter object made once (fill_slot), or nullptr with an exception set.
template <typename Make>
PyObject* cached(PyObject*& slot, Make make) noexcept {
    if (PyObject* object = load_slot(slot)) return object;
    Ref fresh(make());
    if (!fresh) return nullptr;
    fill_slot(slot, fresh.get());
    return load_slot(slot);
}

// An exact ndarray of native float64 (any strides): a value array as it is.
bool is_float64_ndarray(const NumpyApi* api, PyObject* array) noexcept {
    return reinterpret_cast<PyObject*>(Py_TYPE(array)) == api->ndarray && holds_float64(array);
}

// A quantity over a function's result: a float-valued one when no input was an array, an
// array-valued one otherwise (NumPy's scalars from 0-d arrays become 0-d arrays again).
PyObject* quantity_of(PyTypeObject* type, const NumpyApi* api, Ref&& result, UnitCollection&& units,
                      const Conversion& output, bool any_array) noexcept {
    if (!result) return nullptr;
    if (!any_array && (PyFloat_Check(result.get()) || is_numpy_scalar(api, result.get()))) {
        const double x = PyFloat_AsDouble(result.get());
        if (x == -1.0 && PyErr_Occurred()) return nullptr;
        return new_tolvat(type, Quantity{std::move(units), output.apply(x)});
    }
    Ref array(is_numpy_scalar(api, result.get()) || PyFloat_Check(result.get())
                  ? PyObject_CallOneArg(api->asarray, result.get())
                  : result.release());
    if (!array) return nullptr;
    Ref values(is_float64_ndarray(api, array.get()) ? array.release() : normalise_array(api, array.get()));
    if (!values) return nullptr;
    if (output.kind != Conversion::Kind::Same) {
        values = Ref(converted_array(api, values.get(), output));
        if (!values) return nullptr;
    }
    return new_tolvat_array(type, Quantity{std::move(units), 1.0}, values.release());
}

// ---- __array_ufunc__ ---------------------------------------------------------------------

// When no input holds an array but some are 0-d ndarrays: new references to the inputs with each
// 0-d ndarray as a Python float. False (nothing to release, no exception) otherwise.
bool as_scalars(ModuleState* state, PyObject* const* inputs, Py_ssize_t n, PyObject** out) noexcept {
    bool zero_d = false;
    const NumpyApi* api = nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* x = inputs[i];
        if (is_tolvat(x)) {
            if (as_tolvat(x)->has_array) return false;
            continue;
        }
        if (PyFloat_Check(x) || PyLong_Check(x) || is_log_tolvat(x)) continue;
        if (api == nullptr && (api = numpy_api(state)) == nullptr) {
            PyErr_Clear();
            return false;
        }
        if (reinterpret_cast<PyObject*>(Py_TYPE(x)) != api->ndarray) {
            if (is_numpy_scalar(api, x)) continue;
            return false;
        }
        PyObject* ndim_name = cached(state->ndim_name, [] { return PyUnicode_InternFromString("ndim"); });
        Ref ndim(ndim_name != nullptr ? PyObject_GetAttr(x, ndim_name) : nullptr);
        if (!ndim || PyLong_AsLong(ndim.get()) != 0) {
            PyErr_Clear();
            return false;
        }
        zero_d = true;
    }
    if (!zero_d) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* x = inputs[i];
        const bool array = !is_tolvat(x) && reinterpret_cast<PyObject*>(Py_TYPE(x)) == api->ndarray;
        out[i] = array ? PyNumber_Float(x) : Py_NewRef(x);
        if (out[i] == nullptr) {
            // Keep the exception; the caller sees it after releasing what was made.
            for (Py_ssize_t j = i; j < n; ++j) out[j] = Py_NewRef(Py_None);
            return true;
        }
    }
    return true;
}

enum class Method : unsigned char { Call, Reduce, Accumulate, Reduceat, Outer, Other };

Method method_of(PyObject* method) noexcept {
    if (!PyUnicode_Check(method)) return Method::Other;
    if (PyUnicode_CompareWithASCIIString(method, "__call__") == 0) return Method::Call;
    if (PyUnicode_CompareWithASCIIString(method, "reduce") == 0) return Method::Reduce;
    if (PyUnicode_CompareWithASCIIString(method, "accumulate") == 0) return Method::Accumulate;
    if (PyUnicode_CompareWithASCIIString(method, "reduceat") == 0) return Method::Reduceat;
    if (PyUnicode_CompareWithASCIIString(method, "outer") == 0) return Method::Outer;
    return Method::Other;
}

PyObject* raise_unsupported_ufunc(PyObject* ufunc, PyObject* method) noexcept {
    Ref holder;
    const std::string_view name = name_of(ufunc, holder);
    const std::string_view suffix = method == nullptr || method_of(method) == Method::Call || !PyUnicode_Check(method)
                                        ? std::string_view()
                                        : std::string_view(PyUnicode_AsUTF8(method));
    std::string message = "tolvat does not support numpy.";
    message.append(name);
    if (!suffix.empty()) message.append(".").append(suffix);
    message.append(" on quantities; use q.as_number(unit)");
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return nullptr;
}

// The operators' road for the arithmetic ufuncs; nullptr without an exception when it does not
// apply.
PyObject* by_operator(const UfuncInfo& info, PyObject* a, PyObject* b) noexcept {
    switch (info.rule) {
        case UfuncRule::Rescale:
            return info.name == "add" ? tolvat_add(a, b) : tolvat_subtract(a, b);
        case UfuncRule::Multiply:
            return info.name == "multiply" ? tolvat_multiply(a, b) : nullptr;
        case UfuncRule::Divide:
            return tolvat_true_divide(a, b);
        case UfuncRule::Power:
            return tolvat_power(a, b, Py_None);
        case UfuncRule::Compare: {
            static constexpr std::string_view names[] = {"less", "less_equal", "equal", "not_equal", "greater",
                                                         "greater_equal"};
            static constexpr int reflected[] = {Py_GT, Py_GE, Py_EQ, Py_NE, Py_LT, Py_LE};
            for (int op = 0; op < 6; ++op) {
                if (info.name != names[op]) continue;
                return is_tolvat(a) ? tolvat_richcompare(a, b, op) : tolvat_richcompare(b, a, reflected[op]);
            }
            return nullptr;
        }
        default:
            return nullptr;
    }
}

bool keyword_allowed(std::string_view name, Method method) noexcept {
    for (std::string_view k : {"out", "where", "dtype", "casting", "order", "subok"}) {
        if (name == k) return true;
    }
    if (method == Method::Reduce || method == Method::Accumulate || method == Method::Reduceat) {
        for (std::string_view k : {"axis", "keepdims"}) {
            if (name == k) return true;
        }
    }
    return false;
}

// out=: a quantity over an array for a result with units (or a plain array for a result without
// any), a plain array for a plain result.
PyObject* raise_wrong_out(PyObject* ufunc, bool plain_result) noexcept {
    Ref holder;
    const std::string_view name = name_of(ufunc, holder);
    std::string message = "out= of numpy.";
    message.append(name).append(plain_result ? " must be a plain array: its result has no units"
                                              : " must be a Tolvat over an array: its result has units");
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return nullptr;
}

struct UfuncCall {
    PyObject* self;
    PyObject* ufunc;
    PyObject* method;
    Method kind;
    const UfuncInfo* info;
    PyObject* const* inputs;
    Py_ssize_t ninputs;
    PyObject* kwargs;  // a dict (owned by the caller) or nullptr
};

// The fused loop of a FixedPower ufunc, for those that are one IEEE operation.
std::optional<FixedPowerFn> fused_power_of(const UfuncInfo& info) noexcept {
    if (info.rule != UfuncRule::FixedPower) return std::nullopt;
    if (info.power == 0.5) return FixedPowerFn::Sqrt;
    if (info.power == 2.0) return FixedPowerFn::Square;
    if (info.power == -1.0) return FixedPowerFn::Reciprocal;
    return std::nullopt;
}

PyObject* general_ufunc(const UfuncCall& call) noexcept {
    PyTypeObject* type = Py_TYPE(call.self);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    Input inputs[2];
    // reduceat's second input is the indices: passed on as it is.
    const Py_ssize_t quantities = call.kind == Method::Reduceat ? 1 : call.ninputs;
    bool any_array = false;
    for (Py_ssize_t i = 0; i < call.ninputs; ++i) {
        if (i < quantities) {
            if (!read_input(call.inputs[i], inputs[i])) return nullptr;
        } else {
            inputs[i].object = call.inputs[i];
        }
        any_array = any_array || inputs[i].array || (!inputs[i].quantity && is_array_like(api, inputs[i].object));
    }
    const bool reduction = call.kind == Method::Reduce || call.kind == Method::Accumulate || call.kind == Method::Reduceat;
    double exponent = 0.0;
    const bool one_exponent = call.info->rule == UfuncRule::Power && call.ninputs == 2 && scalar_of(api, inputs[1], exponent);
    Expected<UfuncPlan> planned =
        reduction ? Expected<UfuncPlan>(plan_reduction(inputs[0].quantity ? inputs[0].units.unit : UnitCollection()))
                  : plan_ufunc(*call.info, inputs[0].unit_pointer(), call.ninputs > 1 ? inputs[1].unit_pointer() : nullptr,
                               one_exponent ? &exponent : nullptr);
    if (!planned) return raise_error(planned.error());
    UfuncPlan& plan = *planned;
    // A reduction to one number gives a quantity of one value, as indexing one element does.
    if (reduction) any_array = false;

    // sqrt, square and reciprocal of a quantity over a contiguous float64 array: one loop of our
    // own, which gives what the ufunc gives (each is one IEEE operation), closing step included.
    if (const std::optional<FixedPowerFn> fn = fused_power_of(*call.info);
        fn && call.kwargs == nullptr && call.kind == Method::Call && inputs[0].array &&
        plan.inputs[0].kind == Conversion::Kind::Same) {
        std::optional<PyObject*> fused = fused_fixed_power(api, inputs[0].array.get(), *fn, plan.output);
        if (fused) {
            if (*fused == nullptr) return nullptr;
            return new_tolvat_array(type, Quantity{std::move(plan.units), 1.0}, *fused);
        }
    }

    // out=, taken out of the keywords: NumPy writes into a plain array itself, a quantity's array
    // is filled here in the quantity's units.
    PyObject* out_quantity = nullptr;
    Ref kwargs(call.kwargs != nullptr ? PyDict_Copy(call.kwargs) : nullptr);
    if (call.kwargs != nullptr && !kwargs) return nullptr;
    if (kwargs) {
        PyObject* out = PyDict_GetItemString(kwargs.get(), "out");  // borrowed
        if (out != nullptr) {
            PyObject* first = PyTuple_Check(out) && PyTuple_GET_SIZE(out) == 1 ? PyTuple_GET_ITEM(out, 0) : out;
            if (is_tolvat(first)) {
                if (plan.plain_result || !as_tolvat(first)->has_array) return raise_wrong_out(call.ufunc, plan.plain_result);
                out_quantity = first;
                if (PyDict_DelItemString(kwargs.get(), "out") < 0) return nullptr;
            } else if (is_log_tolvat(first)) {
                return raise_log_tolvat_with_numpy();
            } else if (!plan.plain_result && !plan.units.empty()) {
                return raise_wrong_out(call.ufunc, false);
            }
        }
    }

    Ref args(PyTuple_New(call.ninputs));
    if (!args) return nullptr;
    for (Py_ssize_t i = 0; i < call.ninputs; ++i) {
        PyObject* value = nullptr;
        if (i >= quantities) {
            value = Py_NewRef(inputs[i].object);
        } else if (one_exponent && i == 1) {
            value = PyFloat_FromDouble(plan.exponent);
        } else {
            value = converted_input(api, inputs[i], plan.inputs[i]);
        }
        if (value == nullptr) return nullptr;
        PyTuple_SET_ITEM(args.get(), i, value);
    }
    Ref callable(call.kind == Method::Call ? Py_NewRef(call.ufunc) : PyObject_GetAttr(call.ufunc, call.method));
    if (!callable) return nullptr;

    if (out_quantity != nullptr) {
        // The result in the out quantity's units, written into its array.
        Quantity out_units;
        Ref out_array;
        if (!read_tolvat(out_quantity, out_units, out_array)) return raise_already_mutably_borrowed();
        Expected<Conversion> into_out = conversion_between(plan.units, out_units.unit);
        if (!into_out) return raise_error(into_out.error());
        if (plan.output.kind == Conversion::Kind::Same && into_out->kind == Conversion::Kind::Same) {
            Ref out_tuple(PyTuple_Pack(1, out_array.get()));
            if (!out_tuple || PyDict_SetItemString(kwargs.get(), "out", out_tuple.get()) < 0) return nullptr;
            Ref done(PyObject_Call(callable.get(), args.get(), kwargs.get()));
            if (!done) return nullptr;
            return Py_NewRef(out_quantity);
        }
        // Every element is computed, and where= picks those that are written.
        Ref where(Py_XNewRef(PyDict_GetItemString(kwargs.get(), "where")));
        if (where && PyDict_DelItemString(kwargs.get(), "where") < 0) return nullptr;
        Ref result(PyObject_Call(callable.get(), args.get(), kwargs.get()));
        if (!result) return nullptr;
        Ref values(converted_input(api, Input{result.get()}, plan.output));
        if (values) values = Ref(converted_input(api, Input{values.get()}, *into_out));
        if (!values) return nullptr;
        Ref copied(where ? PyObject_CallMethod(api->module, "copyto", "OOsO", out_array.get(), values.get(),
                                               "same_kind", where.get())
                                    : PyObject_CallMethod(api->module, "copyto", "OO", out_array.get(), values.get()));
        if (!copied) return nullptr;
        return Py_NewRef(out_quantity);
    }

    Ref result(kwargs ? PyObject_Call(callable.get(), args.get(), kwargs.get())
                      : PyObject_Vectorcall(callable.get(), &PyTuple_GET_ITEM(args.get(), 0),
                                            static_cast<std::size_t>(call.ninputs), nullptr));
    if (!result || plan.plain_result) return result.release();
    return quantity_of(type, api, std::move(result), std::move(plan.units), plan.output, any_array);
}

// ---- __array_function__ ------------------------------------------------------------------

// Whether any element of a tuple, or any value of a dict, is a quantity.
bool holds_quantity(PyObject* tuple, Py_ssize_t from, PyObject* dict) noexcept {
    for (Py_ssize_t i = from; i < PyTuple_GET_SIZE(tuple); ++i) {
        PyObject* item = PyTuple_GET_ITEM(tuple, i);
        if (is_tolvat(item) || is_log_tolvat(item)) return true;
    }
    if (dict == nullptr) return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (is_tolvat(value) || is_log_tolvat(value)) return true;
    }
    return false;
}

PyObject* function_here(PyObject* self, const FunctionInfo& info, PyObject* function, PyObject* args,
                        PyObject* kwargs) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    Input input;
    if (!read_input(PyTuple_GET_ITEM(args, 0), input)) return nullptr;
    Ref values(input.array ? Py_NewRef(input.array.get()) : PyFloat_FromDouble(input.units.value));
    if (!values) return nullptr;
    Ref result;
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    const bool bare = n == 1 && (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0);
    if (bare && !info.reduction.empty() && input.array &&
        reinterpret_cast<PyObject*>(Py_TYPE(input.array.get())) == api->ndarray) {
        // The reduction ufunc over all axes: what the function computes for an ndarray.
        const std::size_t which = info.reduction == "add" ? 0 : info.reduction == "minimum" ? 1 : 2;
        ModuleState* state = module_state_of(type);
        if (state == nullptr) return nullptr;
        PyObject* reduce = cached(state->reduce_methods[which], [&]() -> PyObject* {
            Ref ufunc(PyObject_GetAttrString(api->module, std::string(info.reduction).c_str()));
            return ufunc ? PyObject_GetAttrString(ufunc.get(), "reduce") : nullptr;
        });
        if (reduce == nullptr) return nullptr;
        PyObject* call_args[] = {values.get(), Py_None};
        result = Ref(PyObject_Vectorcall(reduce, call_args, 2, nullptr));
    } else {
        Ref call_args(PyTuple_New(n));
        if (!call_args) return nullptr;
        PyTuple_SET_ITEM(call_args.get(), 0, values.release());
        for (Py_ssize_t i = 1; i < n; ++i) PyTuple_SET_ITEM(call_args.get(), i, Py_NewRef(PyTuple_GET_ITEM(args, i)));
        result = Ref(PyObject_Call(function, call_args.get(), kwargs));
    }
    if (!result || info.kind == FunctionKind::Plain) return result.release();
    // A function that reduces to one number gives a quantity of one value.
    return quantity_of(type, api, std::move(result), std::move(input.units.unit), Conversion{}, false);
}

// ---- what the Python layer is given -------------------------------------------------------

PyObject* raise_needs_quantity(const char* helper) noexcept {
    PyErr_Format(PyExc_TypeError, "%s needs a Tolvat", helper);
    return nullptr;
}

bool is_plain_number(const NumpyApi* api, PyObject* object) noexcept {
    return PyFloat_Check(object) || PyLong_Check(object) || is_numpy_scalar(api, object);
}

// with_units(values, like): a quantity in like's units, as they are, over `values`.
PyObject* helper_with_units(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2 || !is_tolvat(args[1])) return raise_needs_quantity("with_units");
    try {
        PyTypeObject* type = Py_TYPE(args[1]);
        const NumpyApi* api = numpy_for(type);
        Input like;
        if (api == nullptr || !read_input(args[1], like)) return nullptr;
        return quantity_of(type, api, Ref(Py_NewRef(args[0])), std::move(like.units.unit), Conversion{},
                           !is_plain_number(api, args[0]));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// in_units(x, like): the plain values of x (a quantity, or a number or array counted as
// dimensionless) converted into like's units, as as_unit converts.
PyObject* helper_in_units(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2 || !is_tolvat(args[1])) return raise_needs_quantity("in_units");
    try {
        const NumpyApi* api = numpy_for(Py_TYPE(args[1]));
        Input x, like;
        if (api == nullptr || !read_input(args[0], x) || !read_input(args[1], like)) return nullptr;
        Expected<Conversion> conversion = conversion_between(x.quantity ? x.units.unit : UnitCollection(), like.units.unit);
        if (!conversion) return raise_error(conversion.error());
        return converted_input(api, x, *conversion);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// finish(ufunc, values, a, b=None): `values`, computed from the plain values of a and b by a
// function whose units follow the ufunc's rule with no conversion of the operands (multiply for
// dot, square for var), with the units of that rule.
PyObject* helper_finish(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs < 3 || nargs > 4) return raise_needs_quantity("finish");
    PyObject* a = args[2];
    PyObject* b = nargs == 4 ? args[3] : nullptr;
    PyObject* quantity = is_tolvat(a) ? a : (b != nullptr && is_tolvat(b) ? b : nullptr);
    if (quantity == nullptr) return raise_needs_quantity("finish");
    try {
        PyTypeObject* type = Py_TYPE(quantity);
        ModuleState* state = module_state_of(type);
        const NumpyApi* api = state != nullptr ? numpy_for(type) : nullptr;
        if (api == nullptr) return nullptr;
        const UfuncInfo* info = lookup_ufunc(state, args[0]);
        Input x, y;
        if (!read_input(a, x) || (b != nullptr && !read_input(b, y))) return nullptr;
        if (info == nullptr) return raise_unsupported_ufunc(args[0], nullptr);
        Expected<UfuncPlan> plan = plan_ufunc(*info, x.unit_pointer(), b != nullptr ? y.unit_pointer() : nullptr);
        if (!plan) return raise_error(plan.error());
        if (plan->inputs[0].kind != Conversion::Kind::Same || plan->inputs[1].kind != Conversion::Kind::Same) {
            PyErr_SetString(PyExc_SystemError, "finish: the rule converts its operands");
            return nullptr;
        }
        if (plan->plain_result) return Py_NewRef(args[1]);
        return quantity_of(type, api, Ref(Py_NewRef(args[1])), std::move(plan->units), plan->output,
                           !is_plain_number(api, args[1]));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

#define HELPER(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))
PyMethodDef helper_defs[] = {
    {"with_units", HELPER(helper_with_units), METH_FASTCALL, nullptr},
    {"in_units", HELPER(helper_in_units), METH_FASTCALL, nullptr},
    {"finish", HELPER(helper_finish), METH_FASTCALL, nullptr},
};

PyObject* support_functions(ModuleState* state) noexcept {
    PyObject* module = load_slot(state->array_function_support);
    if (module != nullptr) return module;
    Ref fresh(PyImport_ImportModule("_tolvat.array_functions"));
    if (!fresh) return nullptr;
    Ref helpers[3];
    for (int i = 0; i < 3; ++i) {
        helpers[i] = Ref(PyCFunction_New(&helper_defs[i], nullptr));
        if (!helpers[i]) return nullptr;
    }
    Ref installed(PyObject_CallMethod(fresh.get(), "_install", "OOO", helpers[0].get(), helpers[1].get(),
                                      helpers[2].get()));
    if (!installed) return nullptr;
    fill_slot(state->array_function_support, fresh.get());
    return load_slot(state->array_function_support);
}

}  // namespace

PyObject* tolvat_array_ufunc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (nargs < 2) {
        PyErr_SetString(PyExc_TypeError, "__array_ufunc__ takes the ufunc, the method's name and the inputs");
        return nullptr;
    }
    try {
        ModuleState* state = module_state_of(Py_TYPE(self));
        if (state == nullptr) return nullptr;
        UfuncCall call{self, args[0], args[1], method_of(args[1]), nullptr, args + 2, nargs - 2, nullptr};
        call.info = lookup_ufunc(state, call.ufunc);
        const bool supported =
            call.info != nullptr &&
            (call.kind == Method::Call ? call.ninputs == call.info->inputs
             : call.kind == Method::Outer ? call.info->inputs == 2 && call.ninputs == 2
             : call.kind == Method::Reduceat ? ufunc_reduces(*call.info) && call.ninputs == 2
             : call.kind != Method::Other && ufunc_reduces(*call.info) && call.ninputs == 1);
        if (!supported) return raise_unsupported_ufunc(call.ufunc, call.method);
        // NumPy hands a scalar of its own over as a 0-d array (np.float64(2) < q). Beside quantities
        // of one value, a 0-d array is one number, and the result is a quantity of one value (or a
        // plain scalar), as NumPy gives scalars for 0-d arrays.
        PyObject* scalars[2];
        if (call.kind == Method::Call && call.ninputs <= 2 && as_scalars(state, call.inputs, call.ninputs, scalars)) {
            call.inputs = scalars;
        }
        struct Release {
            PyObject** items;
            PyObject* const* used;
            Py_ssize_t n;
            ~Release() {
                if (used == items) {
                    for (Py_ssize_t i = 0; i < n; ++i) Py_DECREF(items[i]);
                }
            }
        } release{scalars, call.inputs, call.ninputs};
        if (call.inputs == scalars && PyErr_Occurred()) return nullptr;
        if (kwnames == nullptr && call.kind == Method::Call && call.ninputs == 2) {
            PyObject* result = by_operator(*call.info, call.inputs[0], call.inputs[1]);
            if (result != nullptr && result != Py_NotImplemented) return result;
            if (result == nullptr && PyErr_Occurred()) return nullptr;
            Py_XDECREF(result);
        }
        Ref kwargs;
        if (kwnames != nullptr) {
            kwargs = Ref(PyDict_New());
            if (!kwargs) return nullptr;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, i);
                Py_ssize_t size = 0;
                const char* text = PyUnicode_AsUTF8AndSize(key, &size);
                if (text == nullptr) return nullptr;
                if (!keyword_allowed({text, static_cast<std::size_t>(size)}, call.kind)) {
                    Ref holder;
                    const std::string_view name = name_of(call.ufunc, holder);
                    std::string message = "numpy.";
                    message.append(name).append(" on quantities takes no keyword '").append(text).append("'");
                    PyErr_SetString(PyExc_TypeError, message.c_str());
                    return nullptr;
                }
                if (PyDict_SetItem(kwargs.get(), key, args[nargs + i]) < 0) return nullptr;
            }
        }
        call.kwargs = kwargs.get();
        return general_ufunc(call);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* log_tolvat_array_ufunc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (nargs < 2) {
        PyErr_SetString(PyExc_TypeError, "__array_ufunc__ takes the ufunc, the method's name and the inputs");
        return nullptr;
    }
    PyObject* ufunc = args[0];
    const Py_ssize_t ninputs = nargs - 2;
    // NumPy hands its scalars over as 0-d arrays (np.float64(2) * x): as numbers, they go to
    // LogTolvat's own operators, as they did when NumPy deferred to them. Anything that holds an
    // array, or out=, is refused.
    bool scalars_only = kwnames == nullptr && method_of(args[1]) == Method::Call && ninputs >= 1 && ninputs <= 2;
    Ref operands[2];
    const NumpyApi* api = nullptr;
    for (Py_ssize_t i = 0; scalars_only && i < ninputs; ++i) {
        PyObject* x = args[2 + i];
        if (PyFloat_CheckExact(x) || PyLong_CheckExact(x) || is_log_tolvat(x) ||
            (is_tolvat(x) && !as_tolvat(x)->has_array)) {
            operands[i] = Ref(Py_NewRef(x));
            continue;
        }
        if (PyFloat_Check(x) || PyLong_Check(x)) {  // np.float64 and other subclasses: plain floats
            operands[i] = Ref(PyNumber_Float(x));
            if (!operands[i]) return nullptr;
            continue;
        }
        if (api == nullptr && (api = numpy_for(Py_TYPE(self))) == nullptr) return nullptr;
        if (is_numpy_scalar(api, x) || (reinterpret_cast<PyObject*>(Py_TYPE(x)) == api->ndarray)) {
            Ref ndim(PyObject_GetAttrString(x, "ndim"));
            if (!ndim) return nullptr;
            if (PyLong_AsLong(ndim.get()) == 0) {
                operands[i] = Ref(PyNumber_Float(x));
                if (!operands[i]) return nullptr;
                continue;
            }
        }
        scalars_only = false;
    }
    if (!scalars_only) {
        PyErr_SetString(PyExc_TypeError,
                        "LogTolvat does not mix with arrays: a LogTolvat holds one value and does not support ufuncs "
                        "over arrays; use x.as_number() for its ratio");
        return nullptr;
    }
    Ref holder;
    const std::string_view name = name_of(ufunc, holder);
    PyObject* a = operands[0].get();
    PyObject* b = operands[1].get();
    if (ninputs == 1) b = nullptr;
    if (b != nullptr && name == "add") return PyNumber_Add(a, b);
    if (b != nullptr && name == "subtract") return PyNumber_Subtract(a, b);
    if (b != nullptr && name == "multiply") return PyNumber_Multiply(a, b);
    if (b != nullptr && name == "divide") return PyNumber_TrueDivide(a, b);
    if (b != nullptr && name == "power") return PyNumber_Power(a, b, Py_None);
    static constexpr std::string_view comparisons[] = {"less", "less_equal", "equal", "not_equal", "greater",
                                                       "greater_equal"};
    for (int op = 0; op < 6; ++op) {
        if (b != nullptr && name == comparisons[op]) return PyObject_RichCompare(a, b, op);
    }
    std::string message = "tolvat does not support numpy.";
    message.append(name).append(" on a LogTolvat; use x.as_number()");
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return nullptr;
}

PyObject* tolvat_array_function(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (nargs != 4 || kwnames != nullptr || !PyTuple_Check(args[2]) || !PyDict_Check(args[3])) {
        PyErr_SetString(PyExc_TypeError, "__array_function__ takes the function, the types, the arguments and the keywords");
        return nullptr;
    }
    PyObject* function = args[0];
    PyObject* fargs = args[2];
    PyObject* fkwargs = args[3];
    try {
        ModuleState* state = module_state_of(Py_TYPE(self));
        if (state == nullptr) return nullptr;
        const FunctionInfo* info = lookup_function(state, function);
        if (info != nullptr && PyTuple_GET_SIZE(fargs) >= 1 && is_tolvat(PyTuple_GET_ITEM(fargs, 0)) &&
            PyDict_GetItemString(fkwargs, "out") == nullptr && !holds_quantity(fargs, 1, fkwargs)) {
            return function_here(self, *info, function, fargs, fkwargs);
        }
        PyObject* support = support_functions(state);
        if (support == nullptr) return nullptr;
        return PyObject_CallMethod(support, "array_function", "OOOO", function, args[1], fargs, fkwargs);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* dtype = nargs > 0 ? args[0] : Py_None;
    PyObject* copy = nargs > 1 ? args[1] : Py_None;
    if (nargs > 2) {
        PyErr_SetString(PyExc_TypeError, "__array__ takes at most dtype and copy");
        return nullptr;
    }
    if (kwnames != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, i);
            if (PyUnicode_CompareWithASCIIString(key, "dtype") == 0) {
                dtype = args[nargs + i];
            } else if (PyUnicode_CompareWithASCIIString(key, "copy") == 0) {
                copy = args[nargs + i];
            } else {
                PyErr_Format(PyExc_TypeError, "__array__ takes no keyword '%U'", key);
                return nullptr;
            }
        }
    }
    try {
        PyTypeObject* type = Py_TYPE(self);
        const NumpyApi* api = numpy_for(type);
        if (api == nullptr) return nullptr;
        Input input;
        if (!read_input(self, input)) return nullptr;
        if (!input.array) {
            // A quantity of one value is an element of an object array, as any Python object is:
            // np.array([q1, q2]) stays an array of quantities.
            Ref zero_d(PyTuple_New(0));
            if (!zero_d) return nullptr;
            Ref holder(PyObject_CallMethod(api->module, "empty", "Os", zero_d.get(), "O"));
            if (!holder || PyObject_SetItem(holder.get(), zero_d.get(), self) < 0) return nullptr;
            return holder.release();
        }
        if (!input.units.unit.empty()) {
            const std::string units = as_string(input.units.unit);
            if (PyErr_WarnFormat(PyExc_UserWarning, 1,
                                 "numpy.asarray drops the units %s of a quantity and keeps its numbers in them; "
                                 "use q.as_number(unit) to choose the units",
                                 units.c_str()) < 0) {
                return nullptr;
            }
        }
        if (copy == Py_True) {
            return PyObject_CallMethod(api->module, "array", "OO", input.array.get(), dtype);
        }
        return PyObject_CallMethod(api->module, "asarray", "OO", input.array.get(), dtype);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

void clear_protocol_caches(ModuleState* state) noexcept {
    for (PyObject*& slot : state->ufuncs) Py_CLEAR(slot);
    for (PyObject*& slot : state->array_functions) Py_CLEAR(slot);
    Py_CLEAR(state->array_function_support);
    Py_CLEAR(state->ndim_name);
    for (PyObject*& slot : state->reduce_methods) Py_CLEAR(slot);
}

int traverse_protocol_caches(ModuleState* state, visitproc visit, void* arg) noexcept {
    for (PyObject* slot : state->ufuncs) Py_VISIT(slot);
    for (PyObject* slot : state->array_functions) Py_VISIT(slot);
    Py_VISIT(state->array_function_support);
    Py_VISIT(state->ndim_name);
    for (PyObject* slot : state->reduce_methods) Py_VISIT(slot);
    return 0;
}

}  // namespace tolvat::py
