// The Python-backed oracle.  See oracle.h.
#include "python/oracle.h"

#include "python/binding/intern.h"

namespace tessaron::python {

std::uint8_t literal_kind(PyObject* obj) {
    if (obj == Py_None) return 0;
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyBool_Type) return 1;
    if (t == &PyLong_Type) return 2;
    if (t == &PyFloat_Type) return 3;
    if (t == &PyUnicode_Type) return 4;
    if (t == &PyBytes_Type) return 5;
    return 255;
}

namespace {

// Whether `metaclass.name` is `type.name` itself (not overridden).
int keeps_type_method(PyObject* metaclass, PyObject* name) {
    py::Ref own = py::Ref::steal(PyObject_GetAttr(metaclass, name));
    if (!own) return -1;
    py::Ref base = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyType_Type), name));
    if (!base) return -1;
    return own.get() == base.get();
}

}  // namespace

std::uint8_t PoolOracle::class_atom_is_plain(const ir::Node& instance) {
    if (instance.kind != ir::NodeKind::Instance) return decide::kDeclined;
    PyObject* cls = object(instance.pool_index());
    if (!cls) return decide::kDeclined;
    PyObject* metaclass = reinterpret_cast<PyObject*>(Py_TYPE(cls));
    int a = keeps_type_method(metaclass, TS_INTERNED("__instancecheck__"));
    int b = a < 0 ? -1 : keeps_type_method(metaclass, TS_INTERNED("__subclasscheck__"));
    if (a < 0 || b < 0) {
        PyErr_Clear();
        return decide::kDeclined;
    }
    return (a && b) ? decide::kYes : decide::kNo;
}

// The remaining questions decline until the decision procedures need them.
decide::LeafInfo PoolOracle::bound_info(std::uint64_t) { return decide::LeafInfo::declined(); }
decide::LeafInfo PoolOracle::literal_info(std::uint64_t) { return decide::LeafInfo::declined(); }
decide::LeafInfo PoolOracle::class_info(std::uint64_t) { return decide::LeafInfo::declined(); }
std::uint8_t PoolOracle::leaf_relation(const ir::Node&, const ir::Node&) { return decide::kDeclined; }
std::int8_t PoolOracle::compare(std::uint64_t, std::uint64_t) { return decide::kCompareDeclined; }
std::uint8_t PoolOracle::literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) {
    return decide::kDeclined;
}
std::uint8_t PoolOracle::integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) {
    return decide::kDeclined;
}
std::uint8_t PoolOracle::divides(std::uint64_t, std::uint64_t) { return decide::kDeclined; }
std::uint8_t PoolOracle::constant_kind(std::uint64_t) { return decide::kNoKind; }
std::uint8_t PoolOracle::class_overlaps_kind(std::uint64_t, std::uint8_t) { return decide::kDeclined; }
std::uint8_t PoolOracle::class_produces_kind(std::uint64_t, std::uint8_t) { return decide::kDeclined; }
std::uint8_t PoolOracle::kind_within_class(std::uint8_t, std::uint64_t) { return decide::kDeclined; }
std::uint8_t PoolOracle::literals_distinct(std::uint64_t, std::uint64_t) { return decide::kDeclined; }

}  // namespace tessaron::python
