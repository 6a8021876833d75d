// Placeholder implementations, replaced as the features land.
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_richcompare(PyObject*, PyObject*, int) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

}  // namespace tolvat::py
