#include "float_round.hpp"

#include "python_api.hpp"

namespace tolvat::py {

std::optional<double> python_float_round(double value, std::int64_t digits) noexcept {
    PyObject* number = PyFloat_FromDouble(value);
    if (number == nullptr) return std::nullopt;
    PyObject* rounded = PyObject_CallMethod(number, "__round__", "L", static_cast<long long>(digits));
    Py_DECREF(number);
    if (rounded == nullptr) return std::nullopt;
    const double result = PyFloat_AsDouble(rounded);
    Py_DECREF(rounded);
    if (result == -1.0 && PyErr_Occurred()) return std::nullopt;
    return result;
}

}  // namespace tolvat::py
