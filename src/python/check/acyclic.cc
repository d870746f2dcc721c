#include "python/check/acyclic.h"

namespace tessaron::python::check {

namespace {

enum class Shape { Scalar, Container, Other };

// Exact builtin types only: a subclass may override what iterating it or
// reading it does.
Shape shape_of(PyObject* o) {
    PyTypeObject* t = Py_TYPE(o);
    if (o == Py_None || t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type || t == &PyUnicode_Type ||
        t == &PyBytes_Type)
        return Shape::Scalar;
    if (t == &PyList_Type || t == &PyTuple_Type || t == &PyDict_Type || t == &PySet_Type || t == &PyFrozenSet_Type)
        return Shape::Container;
    return Shape::Other;
}

}  // namespace

bool AcyclicCache::next_child(Frame& f, PyObject*& child) {
    child = nullptr;
    PyObject* o = f.object;
    PyTypeObject* t = Py_TYPE(o);
    if (t == &PyList_Type) {
        if (f.next < PyList_GET_SIZE(o)) child = PyList_GET_ITEM(o, f.next++);
        return true;
    }
    if (t == &PyTuple_Type) {
        if (f.next < PyTuple_GET_SIZE(o)) child = PyTuple_GET_ITEM(o, f.next++);
        return true;
    }
    if (t == &PyDict_Type) {
        if (f.pending) {
            child = f.pending;
            f.pending = nullptr;
            return true;
        }
        PyObject* key;
        PyObject* value;
        if (PyDict_Next(o, &f.next, &key, &value)) {
            child = key;
            f.pending = value;
        }
        return true;
    }
    // A set or frozenset: it holds its elements, so each stays alive once
    // the iterator's reference is dropped.
    if (!f.iterator) {
        f.iterator = py::Ref::steal(PyObject_GetIter(o));
        if (!f.iterator) {
            PyErr_Clear();
            return false;
        }
    }
    PyObject* item = PyIter_Next(f.iterator.get());
    if (item) {
        child = item;
        Py_DECREF(item);
        return true;
    }
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return true;
}

void AcyclicCache::taint_open() {
    for (const Frame& f : stack_) marks_[f.object] = Mark::Tainted;
    stack_.clear();
}

bool AcyclicCache::holds(PyObject* value, std::uint64_t epoch) {
    if (epoch != epoch_) {
        marks_.clear();
        held_.clear();
        epoch_ = epoch;
    }
    // Depth first, marking each container Open while it is on the stack:
    // meeting an Open one again is a cycle.
    auto enter = [&](PyObject* o) -> bool {
        switch (shape_of(o)) {
            case Shape::Scalar:
                return true;
            case Shape::Other:
                return false;
            case Shape::Container:
                break;
        }
        auto [it, fresh] = marks_.try_emplace(o, Mark::Open);
        if (!fresh) return it->second == Mark::Clear;
        held_.push_back(py::Ref::borrow(o));
        stack_.push_back(Frame{o, 0, nullptr, py::Ref()});
        return true;
    };
    if (!enter(value)) return false;
    while (!stack_.empty()) {
        Frame& f = stack_.back();
        PyObject* child;
        if (!next_child(f, child)) {
            taint_open();
            return false;
        }
        if (!child) {
            marks_[f.object] = Mark::Clear;
            stack_.pop_back();
            continue;
        }
        if (!enter(child)) {
            taint_open();
            return false;
        }
    }
    return true;
}

}  // namespace tessaron::python::check
