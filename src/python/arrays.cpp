#include "arrays.hpp"

#include <algorithm>
#include "atomic_ref.hpp"
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "../core/quantity_arithmetic.hpp"
#include "../core/rounding.hpp"
#include "../core/simplify.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "float_round.hpp"
#include "numpy_c.hpp"

namespace tolvat::py {

// ---- NumPy, imported on first need --------------------------------------------------------

namespace {

#ifdef Py_GIL_DISABLED
// Orders the publication of the entry points when two threads import them at once. Held only for
// a few stores (never across the import), and shared by every interpreter, which is harmless.
PyMutex g_publication_lock = {};
#endif

void clear_api(NumpyApi& api) noexcept {
    Py_CLEAR(api.module);
    Py_CLEAR(api.ndarray);
    Py_CLEAR(api.generic);
    Py_CLEAR(api.asarray);
    Py_CLEAR(api.power);
    Py_CLEAR(api.float64);
}

bool fill_api(NumpyApi& api) noexcept {
    api.module = PyImport_ImportModule("numpy");
    if (api.module == nullptr || !load_numpy_c_api()) return false;
    struct Name {
        PyObject** slot;
        const char* name;
    };
    const Name names[] = {{&api.ndarray, "ndarray"}, {&api.generic, "generic"}, {&api.asarray, "asarray"},
                          {&api.power, "power"},     {&api.float64, "float64"}};
    for (const Name& n : names) {
        *n.slot = PyObject_GetAttrString(api.module, n.name);
        if (*n.slot == nullptr) return false;
    }
    return true;
}

// Publishes `fresh` as the state's entry points unless another thread did first.
template <typename Fill>
bool publish_once(int& ready_flag, Fill&& store) noexcept {
    AtomicRef<int> ready(ready_flag);
#ifdef Py_GIL_DISABLED
    PyMutex_Lock(&g_publication_lock);
#endif
    // With the interpreter lock no other thread runs between this test and the store.
    const bool first = ready.load(std::memory_order_acquire) == 0;
    if (first) {
        store();
        ready.store(1, std::memory_order_release);
    }
#ifdef Py_GIL_DISABLED
    PyMutex_Unlock(&g_publication_lock);
#endif
    return first;
}

}  // namespace

const NumpyApi* numpy_api(ModuleState* state) noexcept {
    if (AtomicRef<int>(state->numpy_ready).load(std::memory_order_acquire) != 0) return &state->numpy;
    NumpyApi fresh{};
    if (!fill_api(fresh)) {
        clear_api(fresh);
        return nullptr;
    }
    if (!publish_once(state->numpy_ready, [&] { state->numpy = fresh; })) clear_api(fresh);
    return &state->numpy;
}

PyObject* support_module(ModuleState* state) noexcept {
    if (AtomicRef<int>(state->support_ready).load(std::memory_order_acquire) != 0) return state->support;
    PyObject* module = PyImport_ImportModule("_tolvat.arrays");
    if (module == nullptr) return nullptr;
    if (!publish_once(state->support_ready, [&] { state->support = module; })) Py_DECREF(module);
    return state->support;
}

void clear_lazy_imports(ModuleState* state) noexcept {
    clear_api(state->numpy);
    state->numpy_ready = 0;
    Py_CLEAR(state->support);
    state->support_ready = 0;
}

int traverse_lazy_imports(ModuleState* state, visitproc visit, void* arg) noexcept {
    NumpyApi& api = state->numpy;
    for (PyObject* object : {api.module, api.ndarray, api.generic, api.asarray, api.power, api.float64, state->support}) {
        Py_VISIT(object);
    }
    return 0;
}

const NumpyApi* numpy_for(PyTypeObject* type) noexcept {
    ModuleState* state = module_state_of(type);
    if (state == nullptr) return nullptr;
    return numpy_api(state);
}

// ---- what counts as an array, and its element type ----------------------------------------

namespace {

// The type has the attribute `name`, and it is not None.
bool type_has(PyTypeObject* type, const char* name) noexcept {
    PyObject* value = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
    // Without an AttributeError made and dropped for every type that lacks it.
    if (PyObject_GetOptionalAttrString(reinterpret_cast<PyObject*>(type), name, &value) <= 0) {
        PyErr_Clear();
        return false;
    }
#else
    value = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name);
    if (value == nullptr) {
        PyErr_Clear();
        return false;
    }
#endif
    const bool has = value != Py_None;
    Py_DECREF(value);
    return has;
}

bool is_exact_ndarray(const NumpyApi* api, PyObject* obj) noexcept {
    return api != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(obj)) == api->ndarray;
}

// The memory of an exact ndarray of native float64 in C order, or nothing (and no exception) for
// any other array.
bool contiguous_doubles(const NumpyApi* api, PyObject* array, Float64Memory& out, bool writable = false) noexcept {
    return is_exact_ndarray(api, array) && float64_memory(array, out, writable);
}

bool same_shape(const Float64Memory& a, const Float64Memory& b) noexcept {
    if (a.ndim != b.ndim) return false;
    for (int i = 0; i < a.ndim; ++i) {
        if (a.shape[i] != b.shape[i]) return false;
    }
    return true;
}

bool is_native_double_format(const char* format) noexcept {
    return format != nullptr && (std::strcmp(format, "d") == 0 || std::strcmp(format, "=d") == 0 ||
                                 std::strcmp(format, "@d") == 0);
}

}  // namespace

bool is_array_like(const NumpyApi* api, PyObject* obj) noexcept {
    if (is_exact_ndarray(api, obj)) return true;
    if (api == nullptr && std::strcmp(Py_TYPE(obj)->tp_name, "numpy.ndarray") == 0) return true;
    if (is_tolvat(obj) || is_log_tolvat(obj) || PyFloat_Check(obj) || PyLong_Check(obj) || PyUnicode_Check(obj)) {
        return false;
    }
    // The other operands met most (q == None, q * [1, 2]) are no arrays, without a look at their type.
    if (obj == Py_None || PyTuple_CheckExact(obj) || PyList_CheckExact(obj) || PyDict_CheckExact(obj) ||
        PyComplex_CheckExact(obj) || PyBytes_CheckExact(obj)) {
        return false;
    }
    PyTypeObject* type = Py_TYPE(obj);
    return type_has(type, "__array_function__") || type_has(type, "__array_ufunc__");
}

PyObject* normalise_array(const NumpyApi* api, PyObject* obj) noexcept {
    if (is_exact_ndarray(api, obj) && holds_float64(obj)) return Py_NewRef(obj);
    Ref dtype(PyObject_GetAttrString(obj, "dtype"));
    if (!dtype) return nullptr;
    Ref kind_text(PyObject_GetAttrString(dtype.get(), "kind"));
    Ref itemsize_obj(kind_text ? PyObject_GetAttrString(dtype.get(), "itemsize") : nullptr);
    Ref native_obj(itemsize_obj ? PyObject_GetAttrString(dtype.get(), "isnative") : nullptr);
    if (!native_obj) return nullptr;
    const char* kind = PyUnicode_Check(kind_text.get()) ? PyUnicode_AsUTF8(kind_text.get()) : nullptr;
    const long itemsize = PyLong_AsLong(itemsize_obj.get());
    const int native = PyObject_IsTrue(native_obj.get());
    if (kind == nullptr || (itemsize == -1 && PyErr_Occurred()) || native < 0) {
        PyErr_Clear();
        kind = "";
    }
    const bool integral = std::strcmp(kind, "b") == 0 || std::strcmp(kind, "i") == 0 || std::strcmp(kind, "u") == 0;
    const bool real = std::strcmp(kind, "f") == 0 && itemsize <= 8;
    if (real && itemsize == 8 && native == 1) return Py_NewRef(obj);
    if (integral || real) return PyObject_CallMethod(obj, "astype", "O", api->float64);
    PyErr_Format(PyExc_TypeError,
                 "a quantity's values are real numbers: an array of dtype %S cannot be one (booleans, integers "
                 "and floats of up to 64 bits are taken, as float64)",
                 dtype.get());
    return nullptr;
}

PyObject* new_tolvat_array(PyTypeObject* type, Quantity&& units, PyObject* array) noexcept {
    auto* self = static_cast<TolvatObject*>(PyObject_Malloc(sizeof(TolvatObject)));
    if (self == nullptr) {
        Py_DECREF(array);
        return PyErr_NoMemory();
    }
    PyObject_Init(reinterpret_cast<PyObject*>(self), type);
    ::new (&self->access) AccessCounter();
    self->units_simple = false;
    self->has_array = true;
    ::new (&self->quantity) Quantity(std::move(units));
    self->quantity.value = 1.0;
    self->array = array;
    return reinterpret_cast<PyObject*>(self);
}

bool read_tolvat(PyObject* obj, Quantity& units, Ref& array) noexcept {
    TolvatObject* object = as_tolvat(obj);
    SharedAccess access(object->access);
    if (!access.ok()) return false;
    units = object->quantity;  // may throw std::bad_alloc: callers catch it
    if (object->array != nullptr) array = Ref(Py_NewRef(object->array));
    return true;
}

// ---- the operations ----------------------------------------------------------------------

namespace {

// One operand of an operation: a single value or an array.
struct Side {
    double value = 0.0;
    Ref array;
    // An exact ndarray taken as it came: its element type is checked by the fused loop's look at
    // its memory, and only when that fails is it normalised (normalise_array).
    bool unchecked = false;
    bool is_array() const noexcept { return static_cast<bool>(array); }
};

// Normalises an unchecked operand; false with the exception set.
bool check_side(const NumpyApi* api, Side& side) noexcept {
    if (!side.unchecked) return true;
    side.unchecked = false;
    side.array = Ref(normalise_array(api, side.array.get()));
    return static_cast<bool>(side.array);
}

// A value in a step-by-step computation: a plain number, or an array (owned).
struct Val {
    double number = 0.0;
    Ref array;

    static Val of(double x) {
        Val v;
        v.number = x;
        return v;
    }
    static Val of(Ref&& a) {
        Val v;
        v.array = std::move(a);
        return v;
    }
    static Val of(const Side& side) {
        Val v;
        v.number = side.value;
        if (side.array) v.array = Ref(Py_NewRef(side.array.get()));
        return v;
    }
    // A new reference to the array, or the number boxed.
    PyObject* boxed() const noexcept { return array ? Py_NewRef(array.get()) : PyFloat_FromDouble(number); }
};

enum class Step { Multiply, Divide, Add, Subtract, Power };

bool is_ndarray(const NumpyApi* api, PyObject* obj) noexcept {
    return PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(api->ndarray));
}

// A C-ordered float64 copy of an ndarray (of its class), and its memory.
PyObject* c_ordered_copy(PyObject* array, Py_buffer& view) noexcept {
    PyObject* copy = PyObject_CallMethod(array, "copy", "s", "C");
    if (copy == nullptr) return nullptr;
    if (PyObject_GetBuffer(copy, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE) != 0) {
        Py_DECREF(copy);
        return nullptr;
    }
    if (!is_native_double_format(view.format)) {
        PyBuffer_Release(&view);
        Py_DECREF(copy);
        PyErr_SetString(PyExc_TypeError, "the quantity's array does not hold float64 values");
        return nullptr;
    }
    return copy;
}

// x ** y for ndarrays with the C library's pow, as the one-value path computes it (NumPy's power
// takes shortcuts for some exponents that differ from pow in the sign of a zero). Nothing (no
// exception) when the operands are not ndarrays of one shape; the array library's power then
// does it.
std::optional<PyObject*> c_power(const NumpyApi* api, const Ref& xa, double x, const Ref& ya, double y) noexcept {
    if ((xa && !is_ndarray(api, xa.get())) || (ya && !is_ndarray(api, ya.get()))) return std::nullopt;
    Py_buffer out_view, other_view;
    Ref out(c_ordered_copy(xa ? xa.get() : ya.get(), out_view));
    if (!out) return nullptr;
    const auto n = static_cast<std::size_t>(out_view.len) / sizeof(double);
    auto* data = static_cast<double*>(out_view.buf);
    if (xa && ya) {
        Ref other(c_ordered_copy(ya.get(), other_view));
        if (!other) {
            PyBuffer_Release(&out_view);
            return nullptr;
        }
        const bool same = out_view.len == other_view.len && out_view.ndim == other_view.ndim &&
                          std::equal(out_view.shape, out_view.shape + out_view.ndim, other_view.shape);
        if (same) {
            const auto* exponent = static_cast<const double*>(other_view.buf);
            for (std::size_t i = 0; i < n; ++i) data[i] = std::pow(data[i], exponent[i]);
        }
        PyBuffer_Release(&other_view);
        PyBuffer_Release(&out_view);
        if (!same) return std::nullopt;
        return out.release();
    }
    if (xa) {
        for (std::size_t i = 0; i < n; ++i) data[i] = std::pow(data[i], y);
    } else {
        for (std::size_t i = 0; i < n; ++i) data[i] = std::pow(x, data[i]);
    }
    PyBuffer_Release(&out_view);
    return out.release();
}

// x <step> y: in C for two numbers, by the array library for an array (NumPy broadcasts). False
// with the exception set.
bool step(const NumpyApi* api, Step op, const Val& x, const Val& y, Val& out) noexcept {
    if (!x.array && !y.array) {
        const double a = x.number, b = y.number;
        double r = 0.0;
        switch (op) {
            case Step::Multiply: r = a * b; break;
            case Step::Divide: r = a / b; break;
            case Step::Add: r = a + b; break;
            case Step::Subtract: r = a - b; break;
            case Step::Power: r = std::pow(a, b); break;
        }
        out = Val::of(r);
        return true;
    }
    if (op == Step::Power) {
        std::optional<PyObject*> powered = c_power(api, x.array, x.number, y.array, y.number);
        if (powered) {
            if (*powered == nullptr) return false;
            out = Val::of(Ref(*powered));
            return true;
        }
    }
    Ref a(x.boxed()), b(y.boxed());
    if (!a || !b) return false;
    PyObject* r = nullptr;
    switch (op) {
        case Step::Multiply: r = PyNumber_Multiply(a.get(), b.get()); break;
        case Step::Divide: r = PyNumber_TrueDivide(a.get(), b.get()); break;
        case Step::Add: r = PyNumber_Add(a.get(), b.get()); break;
        case Step::Subtract: r = PyNumber_Subtract(a.get(), b.get()); break;
        case Step::Power: r = PyObject_CallFunctionObjArgs(api->power, a.get(), b.get(), nullptr); break;
    }
    if (r == nullptr) return false;
    out = Val::of(Ref(r));
    return true;
}

// The conversion's steps, in the order of Conversion::apply.
bool convert_steps(const NumpyApi* api, const Conversion& c, Val& v) noexcept {
    if (c.kind == Conversion::Kind::Same) return true;
    Val t;
    if (!step(api, Step::Multiply, Val::of(c.source_multiplier), v, t)) return false;
    if (c.kind == Conversion::Kind::Offsets) {
        if (!step(api, Step::Subtract, t, Val::of(c.source_offset), t)) return false;
        if (!step(api, Step::Add, t, Val::of(c.target_offset), t)) return false;
    }
    return step(api, Step::Divide, t, Val::of(c.target_multiplier), v);
}

// NumPy gives a scalar for operations on 0-d arrays; a value stays an array.
PyObject* as_value_array(const NumpyApi* api, Ref&& result) noexcept {
    if (!result) return nullptr;
    if (PyObject_TypeCheck(result.get(), reinterpret_cast<PyTypeObject*>(api->generic))) {
        return PyObject_CallOneArg(api->asarray, result.get());
    }
    return result.release();
}

// NumPy's floating-point warnings off for a scope (numpy.errstate(all="ignore")): the one-value
// path gives IEEE results without a word, and so do the fused loops.
class QuietFloatingPoint {
public:
    explicit QuietFloatingPoint(const NumpyApi* api) noexcept {
        Ref errstate(PyObject_GetAttrString(api->module, "errstate"));
        Ref args(PyTuple_New(0));
        Ref kwargs(Py_BuildValue("{s:s}", "all", "ignore"));
        if (errstate && args && kwargs) manager_ = Ref(PyObject_Call(errstate.get(), args.get(), kwargs.get()));
        Ref entered(manager_ ? PyObject_CallMethod(manager_.get(), "__enter__", nullptr) : nullptr);
        if (!entered) {
            manager_ = Ref();
            PyErr_Clear();  // the warnings then show; nothing else changes
        }
    }
    ~QuietFloatingPoint() {
        if (!manager_) return;
        // Keeps an exception being raised across the exit.
        PyObject* pending = fetch_exception();
        Ref done(PyObject_CallMethod(manager_.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
        if (!done) PyErr_Clear();
        if (pending != nullptr) restore_exception(pending);
    }

private:
    Ref manager_;
};

// The operation step by step through the array library's own operations.
PyObject* binary_steps(const NumpyApi* api, ElementOp op, const ElementPlan& plan, const Side& self,
                       const Side& other) noexcept {
    const QuietFloatingPoint quiet(api);
    const Val s = Val::of(self), o = Val::of(other);
    Val v;
    bool ok = true;
    switch (op) {
        case ElementOp::Add:
        case ElementOp::Subtract:
        case ElementOp::ReflectedSubtract: {
            Val t;
            ok = step(api, Step::Multiply, o, Val::of(plan.other_multiplier), t) &&
                 step(api, Step::Divide, t, Val::of(plan.self_multiplier), t);
            if (ok) {
                if (op == ElementOp::Add) ok = step(api, Step::Add, s, t, v);
                else if (op == ElementOp::Subtract) ok = step(api, Step::Subtract, s, t, v);
                else ok = step(api, Step::Subtract, t, s, v);
            }
            break;
        }
        case ElementOp::Multiply: ok = step(api, Step::Multiply, s, o, v); break;
        case ElementOp::Divide: ok = step(api, Step::Divide, s, o, v); break;
        case ElementOp::ReflectedDivide: ok = step(api, Step::Divide, o, s, v); break;
        case ElementOp::Power:
        case ElementOp::ReflectedPower:
            if (plan.exponent_per_element) {
                Val e = Val::of(other);
                ok = convert_steps(api, plan.exponent_conversion, e) && step(api, Step::Power, s, e, v);
            } else if (!plan.exponent_finite) {
                Val base;
                ok = step(api, Step::Multiply, s, Val::of(plan.base_multiplier), base) &&
                     step(api, Step::Power, base, Val::of(plan.exponent), v);
            } else {
                ok = step(api, Step::Power, s, Val::of(plan.exponent), v);
            }
            break;
    }
    if (!ok || !convert_steps(api, plan.closing, v)) return nullptr;
    if (!v.array) return PyFloat_FromDouble(v.number);  // not reached: one side is an array
    return as_value_array(api, std::move(v.array));
}

// A new C-ordered array of the shape of `like`, float64 or of booleans, and its memory.
template <typename T>
PyObject* empty_like(const Float64Memory& like, T*& data) noexcept {
    static_assert(sizeof(T) == (std::is_same_v<T, bool> ? 1 : sizeof(double)));
    void* memory = nullptr;
    PyObject* array = new_array(like.ndim, like.shape, std::is_same_v<T, bool>, &memory);
    data = static_cast<T*>(memory);
    return array;
}

// Loops over this many values and more let other threads run meanwhile.
constexpr std::size_t kLongLoop = 1 << 16;

template <typename Loop>
void run_loop(std::size_t n, Loop loop) noexcept {
    if (n >= kLongLoop) {
        Py_BEGIN_ALLOW_THREADS
        loop();
        Py_END_ALLOW_THREADS
    } else {
        loop();
    }
}

// The fused loop when every array operand is contiguous float64 of one shape: the result, or
// nothing (no exception) when the operands do not allow it, or nullptr with an exception set.
std::optional<PyObject*> binary_fused(const NumpyApi* api, ElementOp op, const ElementPlan& plan, const Side& self,
                                      const Side& other) noexcept {
    Float64Memory a, b;
    if (self.is_array() && !contiguous_doubles(api, self.array.get(), a)) return std::nullopt;
    if (other.is_array() && !contiguous_doubles(api, other.array.get(), b)) return std::nullopt;
    if (self.is_array() && other.is_array() && !same_shape(a, b)) return std::nullopt;
    double* result = nullptr;
    Ref out(empty_like(self.is_array() ? a : b, result));
    if (!out) return nullptr;
    const Operand s{self.is_array() ? a.data : &self.value, self.is_array() ? 1u : 0u};
    const Operand o{other.is_array() ? b.data : &other.value, other.is_array() ? 1u : 0u};
    const std::size_t n = self.is_array() ? a.size : b.size;
    run_loop(n, [&] { apply_binary(op, plan, s, o, result, n); });
    return out.release();
}

PyObject* raise_log_with_array() noexcept {
    PyErr_SetString(PyExc_TypeError,
                    "a LogTolvat does not mix with arrays: logarithmic quantities hold single values");
    return nullptr;
}

// The other operand of a slot, read into `side` and `units`. Returns nullptr to go on,
// Py_NotImplemented (new reference) to decline, or nullptr with an exception set (`failed`).
enum class Read { Ok, Declined, Failed };

Read read_other(const NumpyApi* api, PyObject* obj, Quantity& units, Side& side) noexcept {
    if (is_tolvat(obj)) {
        if (!read_tolvat(obj, units, side.array)) return Read::Declined;
        side.value = units.value;
        return Read::Ok;
    }
    if (is_log_tolvat(obj)) {
        raise_log_with_array();
        return Read::Failed;
    }
    if (is_exact_ndarray(api, obj)) {
        side.array = Ref(Py_NewRef(obj));
        side.unchecked = true;
        units = Quantity{};
        return Read::Ok;
    }
    if (is_array_like(api, obj)) {
        side.array = Ref(normalise_array(api, obj));
        if (!side.array) return Read::Failed;
        units = Quantity{};
        return Read::Ok;
    }
    std::optional<Quantity> operand = coerce_to_quantity(obj, OnFailure::Discard);
    if (!operand) return PyErr_Occurred() ? Read::Failed : Read::Declined;
    units = std::move(*operand);
    side.value = units.value;
    return Read::Ok;
}

bool modulus_acceptable(PyObject* modulus) noexcept {
    if (modulus == nullptr || modulus == Py_None) return true;
    return coerce_to_number(modulus, OnFailure::Discard).has_value();
}

PyObject* raise_array_exponent(const UnitCollection& base) noexcept {
    try {
        const std::string units = as_string(base);
        PyErr_Format(PyExc_TypeError,
                     "an array exponent would give each element other units: a quantity in %s can only be raised "
                     "to one number at a time",
                     units.c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return nullptr;
}

}  // namespace

PyObject* array_binary(ElementOp op, PyObject* self_obj, PyObject* other_obj, PyObject* modulus) noexcept {
    PyTypeObject* type = Py_TYPE(self_obj);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    try {
        Quantity self_units, other_units;
        Side self, other;
        if (!read_tolvat(self_obj, self_units, self.array)) Py_RETURN_NOTIMPLEMENTED;
        self.value = self_units.value;
        switch (read_other(api, other_obj, other_units, other)) {
            case Read::Ok: break;
            case Read::Declined: Py_RETURN_NOTIMPLEMENTED;
            case Read::Failed: return nullptr;
        }
        if (!modulus_acceptable(modulus)) Py_RETURN_NOTIMPLEMENTED;
        Expected<ElementPlan> plan = Error::internal("no plan");
        const Side* first = &self;
        const Side* second = &other;
        if (op == ElementOp::Power || op == ElementOp::ReflectedPower) {
            // The base first, the exponent second.
            const bool reflected = op == ElementOp::ReflectedPower;
            const Quantity& base = reflected ? other_units : self_units;
            const Quantity& exponent = reflected ? self_units : other_units;
            first = reflected ? &other : &self;
            second = reflected ? &self : &other;
            if (second->is_array()) {
                if (base.unit.size() != 0) return raise_array_exponent(base.unit);
                plan = plan_power_per_element(base.unit, exponent.unit);
            } else {
                Expected<double> p = unitless_value(Quantity{exponent.unit, second->value});
                if (!p) return raise_error(p.error());
                plan = plan_power(base.unit, *p);
                if (plan) other.value = *p;  // the exponent, as a plain number
                if (plan && reflected) self.value = *p;
            }
        } else {
            plan = plan_binary(op, self_units.unit, other_units.unit);
        }
        if (!plan) return raise_error(plan.error());
        std::optional<PyObject*> fused = binary_fused(api, op, *plan, *first, *second);
        if (!fused && (other.unchecked || self.unchecked)) {
            if (!check_side(api, other) || !check_side(api, self)) return nullptr;
            fused = binary_fused(api, op, *plan, *first, *second);
        }
        PyObject* result = fused ? *fused : binary_steps(api, op, *plan, *first, *second);
        if (result == nullptr) return nullptr;
        return new_tolvat_array(type, Quantity{std::move(plan->unit), 1.0}, result);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* array_compare(PyObject* self_obj, PyObject* other_obj, int op) noexcept {
    if (op < Py_LT || op > Py_GE) return invalid_compare_op();
    const NumpyApi* api = numpy_for(Py_TYPE(self_obj));
    if (api == nullptr) return nullptr;
    try {
        Quantity self_units, other_units;
        Side self, other;
        if (!read_tolvat(self_obj, self_units, self.array)) return raise_already_mutably_borrowed();
        self.value = self_units.value;
        switch (read_other(api, other_obj, other_units, other)) {
            case Read::Ok: break;
            case Read::Declined: Py_RETURN_NOTIMPLEMENTED;
            case Read::Failed: return nullptr;
        }
        // The other operand is the source of the conversion, so its units come first in an error.
        const Expected<Conversion> conversion = conversion_between(other_units.unit, self_units.unit);
        if (!conversion) return raise_error(conversion.error());
        for (int attempt = 0; attempt < 2; ++attempt) {
            Float64Memory a, b;
            const bool fused = (!self.is_array() || contiguous_doubles(api, self.array.get(), a)) &&
                               (!other.is_array() || contiguous_doubles(api, other.array.get(), b)) &&
                               (!self.is_array() || !other.is_array() || same_shape(a, b));
            if (fused) {
                bool* result = nullptr;
                Ref out(empty_like(self.is_array() ? a : b, result));
                if (!out) return nullptr;
                const Operand s{self.is_array() ? a.data : &self.value, self.is_array() ? 1u : 0u};
                const Operand o{other.is_array() ? b.data : &other.value, other.is_array() ? 1u : 0u};
                const std::size_t n = self.is_array() ? a.size : b.size;
                run_loop(n, [&] { apply_compare(op, *conversion, s, o, result, n); });
                return out.release();
            }
            if (!other.unchecked) break;
            if (!check_side(api, other)) return nullptr;
        }
        const QuietFloatingPoint quiet(api);
        Val x = Val::of(self), y = Val::of(other);
        if (!convert_steps(api, *conversion, y)) return nullptr;
        Ref a(x.boxed()), b(y.boxed());
        if (!a || !b) return nullptr;
        return as_value_array(api, Ref(PyObject_RichCompare(a.get(), b.get(), op)));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py

namespace tolvat::py {

namespace {

// The values of `array` through `loop(in, out, n)` into a new float64 array, when the array is
// contiguous float64; nothing otherwise.
template <typename Loop>
std::optional<PyObject*> fused_unary(const NumpyApi* api, PyObject* array, Loop loop) noexcept {
    Float64Memory in;
    if (!contiguous_doubles(api, array, in)) return std::nullopt;
    double* result = nullptr;
    Ref out(empty_like(in, result));
    if (!out) return nullptr;
    const std::size_t n = in.size;
    run_loop(n, [&] { loop(in.data, result, n); });
    return out.release();
}

}  // namespace

std::optional<PyObject*> fused_fixed_power(const NumpyApi* api, PyObject* array, FixedPowerFn fn,
                                           const Conversion& closing) noexcept {
    return fused_unary(api, array, [&](const double* in, double* out, std::size_t n) {
        apply_fixed_power(fn, closing, in, out, n);
    });
}

PyObject* converted_array(const NumpyApi* api, PyObject* array, const Conversion& conversion, double divisor) noexcept {
    std::optional<PyObject*> fused = fused_unary(api, array, [&](const double* in, double* out, std::size_t n) {
        apply_conversion_divided(conversion, divisor, in, out, n);
    });
    if (fused) return *fused;
    const QuietFloatingPoint quiet(api);
    Val v = Val::of(Ref(Py_NewRef(array)));
    if (!convert_steps(api, conversion, v)) return nullptr;
    if (divisor != 1.0 && !step(api, Step::Divide, v, Val::of(divisor), v)) return nullptr;
    if (v.array.get() == array) return PyObject_CallMethod(array, "copy", nullptr);  // a new array, always
    return as_value_array(api, std::move(v.array));
}

PyObject* array_as_unit(PyTypeObject* type, const UnitCollection& units, PyObject* array,
                        UnitCollection&& target) noexcept {
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    try {
        const Expected<Conversion> conversion = conversion_between(units, target);
        if (!conversion) return raise_error(conversion.error());
        PyObject* values = converted_array(api, array, *conversion);
        if (values == nullptr) return nullptr;
        return new_tolvat_array(type, Quantity{std::move(target), 1.0}, values);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* array_unary(UnaryOp op, PyObject* self_obj) noexcept {
    PyTypeObject* type = Py_TYPE(self_obj);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        if (op == UnaryOp::Absolute) {
            std::optional<PyObject*> fused = fused_unary(api, array.get(), apply_absolute);
            PyObject* values = fused ? *fused : as_value_array(api, Ref(PyNumber_Absolute(array.get())));
            if (values == nullptr) return nullptr;
            return new_tolvat_array(type, std::move(units), values);
        }
        Expected<ElementPlan> plan = plan_closing(units.unit);
        if (!plan) return raise_error(plan.error());
        const ElementPlan& p = *plan;
        std::optional<PyObject*> fused = fused_unary(api, array.get(), [&](const double* in, double* out, std::size_t n) {
            if (op == UnaryOp::Negate) apply_negate(p, in, out, n);
            else apply_positive(p, in, out, n);
        });
        PyObject* values;
        if (fused) {
            values = *fused;
        } else {
            const QuietFloatingPoint quiet(api);
            Val v = Val::of(Ref(op == UnaryOp::Negate ? PyNumber_Negative(array.get()) : PyNumber_Positive(array.get())));
            if (!v.array || !convert_steps(api, p.closing, v)) return nullptr;
            values = as_value_array(api, std::move(v.array));
        }
        if (values == nullptr) return nullptr;
        return new_tolvat_array(type, Quantity{std::move(plan->unit), 1.0}, values);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* array_transcendental(PyObject* self_obj, Transcendental fn) noexcept {
    const NumpyApi* api = numpy_for(Py_TYPE(self_obj));
    if (api == nullptr) return nullptr;
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        static const UnitCollection plain;
        const Expected<Conversion> into_plain = conversion_between(units.unit, plain);
        if (!into_plain) return raise_error(into_plain.error());
        std::optional<PyObject*> fused = fused_unary(api, array.get(), [&](const double* in, double* out, std::size_t n) {
            apply_transcendental(fn, *into_plain, in, out, n);
        });
        if (fused) return *fused;
        const QuietFloatingPoint quiet(api);
        Val v = Val::of(std::move(array));
        if (!convert_steps(api, *into_plain, v)) return nullptr;
        const char* name = fn == Transcendental::Exp ? "exp" : fn == Transcendental::Log ? "log" : "log10";
        return as_value_array(api, Ref(PyObject_CallMethod(api->module, name, "O", v.array.get())));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* array_simplify_inplace(PyObject* self_obj) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    const NumpyApi* api = numpy_for(Py_TYPE(self_obj));
    if (api == nullptr) return nullptr;
    try {
        Quantity units;
        Ref array;
        {
            // Exclusive access only to see that nobody else holds the object; it is taken again
            // for the swap, after NumPy has computed the new values without it.
            ExclusiveAccess access(self->access);
            if (!access.ok()) return raise_already_borrowed();
            units = self->quantity;
            array = Ref(Py_NewRef(self->array));
        }
        Expected<UnitCollection> simpler = simplify(units.unit);
        if (!simpler) return raise_error(simpler.error());
        const Expected<Conversion> conversion = conversion_between(units.unit, *simpler);
        if (!conversion) return raise_error(conversion.error());
        Ref values(converted_array(api, array.get(), *conversion));
        if (!values) return nullptr;
        ExclusiveAccess access(self->access);
        if (!access.ok()) return raise_already_borrowed();
        if (self->array != array.get()) {
            // Another simplify_inplace replaced the values meanwhile: this one's work is stale.
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            return nullptr;
        }
        self->quantity = Quantity{std::move(simpler).value(), 1.0};
        PyObject* old = self->array;
        self->array = values.release();
        array = Ref(old);  // released after the access ends
        Py_RETURN_NONE;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

namespace {

// What each element of a text goes through: the display's conversions, then the number text or
// Python's float formatting with a spec.
struct ElementText {
    const ArrayDisplay* display;
    PyObject* format_spec;  // nullptr: the number text
    bool failed = false;
};

bool write_element(std::string& out, double value, void* context) {
    auto* e = static_cast<ElementText*>(context);
    const double shown = e->display->second.apply(e->display->first.apply(value));
    if (e->format_spec == nullptr) return append_element_number_text(out, shown, nullptr);
    Ref number(PyFloat_FromDouble(shown));
    Ref text(number ? PyObject_Format(number.get(), e->format_spec) : nullptr);
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (utf8 == nullptr) {
        e->failed = true;
        return false;
    }
    out.append(utf8, static_cast<std::size_t>(size));
    return true;
}

}  // namespace

PyObject* array_text(PyObject* self_obj, UnitText form, PyObject* format_spec) noexcept {
    const NumpyApi* api = numpy_for(Py_TYPE(self_obj));
    if (api == nullptr) return nullptr;
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        const char* separator = form == UnitText::Latex ? "~" : " ";
        std::string text;
        Py_buffer view;
        if (!PyObject_CheckBuffer(array.get()) || PyObject_GetBuffer(array.get(), &view, PyBUF_RECORDS_RO) != 0) {
            // An array that holds no memory of its own here (a lazy one): its own text, and the
            // units it is in.
            PyErr_Clear();
            Ref own(PyObject_Str(array.get()));
            const char* utf8 = own ? PyUnicode_AsUTF8(own.get()) : nullptr;
            if (utf8 == nullptr) return nullptr;
            text = utf8;
            text += separator;
            append_unit_text(text, units.unit, form);
            return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
        }
        struct Release {
            Py_buffer* view;
            ~Release() { PyBuffer_Release(view); }
        } release{&view};
        if (!is_native_double_format(view.format)) {
            PyErr_SetString(PyExc_TypeError, "the quantity's array does not hold float64 values");
            return nullptr;
        }
        const Expected<ArrayDisplay> display = array_display(units.unit, form);
        if (!display) return raise_error(display.error());
        ElementText element{&*display, format_spec};
        const ValueLayout layout{static_cast<const char*>(view.buf), view.ndim, view.shape, view.strides};
        if (!append_values_text(text, layout, write_element, &element)) return nullptr;
        text += separator;
        text += display->unit_text;
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* array_round(PyObject* self_obj, std::optional<std::int32_t> decimals, bool significant_figures) noexcept {
    PyTypeObject* type = Py_TYPE(self_obj);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        Expected<ElementPlan> plan = plan_closing(units.unit);
        if (!plan) return raise_error(plan.error());
        // The values in the simply simplified units, in a new contiguous array of our own.
        // (a lazy array is computed here).
        Ref values;
        {
            Ref plain(PyObject_CallOneArg(api->asarray, array.get()));
            if (!plain) return nullptr;
            values = Ref(converted_array(api, plain.get(), plan->closing));
            if (!values) return nullptr;
        }
        Float64Memory buffer;
        if (!contiguous_doubles(api, values.get(), buffer, true)) {
            PyErr_SetString(PyExc_TypeError, "the quantity's values cannot be rounded here");
            return nullptr;
        }
        double* data = buffer.data;
        const std::size_t n = buffer.size;
        std::size_t inexact = 0;
        if (!decimals) inexact = apply_round_whole(data, data, n);
        else if (significant_figures) inexact = apply_round_figures(*decimals, data, data, n);
        else inexact = apply_round_decimals(*decimals, data, data, n);
        for (std::size_t i = 0; inexact != 0 && i < n; ++i) {
            // The few values the scaled formula cannot round: Python's exact rounding.
            const DecimalRounding r = significant_figures ? round_to_significant_figures(data[i], *decimals)
                                                          : round_to_decimals(data[i], *decimals);
            if (!r.needs_exact) continue;
            const std::optional<double> exact = python_float_round(data[i], r.digits);
            if (!exact) return nullptr;
            data[i] = *exact;
            --inexact;
        }
        return new_tolvat_array(type, Quantity{std::move(plan->unit), 1.0}, values.release());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
