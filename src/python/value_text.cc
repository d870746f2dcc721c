// Safe texts of Python objects for messages.  See value_text.h.
//
// Budget: a container is shown through reprlib, which stops after 32 items
// per level and 12 levels, so any container costs bounded time; a plain
// object costs its own `repr()`.
#include "python/value_text.h"

#include "python/binding/intern.h"
#include "python/binding/once_cell.h"

namespace tessaron::python {

namespace {

py::OnceCell<py::Ref> g_repr_instance;

bool init_repr_limits(std::optional<py::Ref>& slot) {
    py::Ref module = py::Ref::steal(PyImport_ImportModule("reprlib"));
    if (!module) return false;
    py::Ref cls = py::Ref::steal(PyObject_GetAttrString(module.get(), "Repr"));
    if (!cls) return false;
    py::Ref inst = py::Ref::steal(PyObject_CallNoArgs(cls.get()));
    if (!inst) return false;
    static const struct {
        const char* name;
        long value;
    } kLimits[] = {
        {"maxlevel", 12}, {"maxtuple", 32}, {"maxlist", 32},   {"maxarray", 32},
        {"maxdict", 32},  {"maxset", 32},   {"maxfrozenset", 32}, {"maxdeque", 32},
        {"maxstring", 80}, {"maxlong", 80}, {"maxother", 80},
    };
    for (const auto& limit : kLimits) {
        py::Ref v = py::Ref::steal(PyLong_FromLong(limit.value));
        if (!v || PyObject_SetAttrString(inst.get(), limit.name, v.get()) < 0) return false;
    }
    slot.emplace(std::move(inst));
    return true;
}

bool is_container(PyObject* obj) {
    return PyList_Check(obj) || PyTuple_Check(obj) || PyDict_Check(obj) || PyAnySet_Check(obj);
}

enum class ContainerText { Done, Fallback, Fatal };

// The reprlib text of a container.  Fallback (exception cleared) when the
// shared instance cannot be made or its answer is unusable; Fatal (exception
// set) when a fatal exception was raised on the way, which must not be
// swallowed.
ContainerText container_text(PyObject* obj, std::string& out) {
    auto fall_back = []() { return py::clear_unless_fatal() ? ContainerText::Fallback : ContainerText::Fatal; };
    const py::Ref* inst = g_repr_instance.get_or_init(init_repr_limits);
    if (!inst) return fall_back();
    py::Ref text = py::Ref::steal(PyObject_CallMethodOneArg(inst->get(), TS_INTERNED("repr"), obj));
    if (!text) return fall_back();
    if (!PyUnicode_Check(text.get())) return ContainerText::Fallback;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
    if (!utf8) return fall_back();
    out = cut_text_80(std::string_view(utf8, static_cast<std::size_t>(len)));
    return ContainerText::Done;
}

// Reads the text of a `repr()` result as a formatter would: `str()` of it,
// lone surrogates replaced.  An unreadable one is reported as unraisable and
// shown as "<unprintable {} object>"; a fatal exception while reading is
// answered instead (false, exception set).
bool text_of_repr_result(PyObject* result, std::string& out) {
    py::Ref s = py::Ref::steal(PyObject_Str(result));
    std::string text;
    if (s && str_text_lossy(s.get(), text)) {
        out = cut_text_80(text);
        return true;
    }
    if (!py::clear_unless_fatal(result)) return false;
    py::Ref name = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(result)), TS_INTERNED("__name__")));
    std::string name_text;
    if (name && PyUnicode_Check(name.get()) && str_text_lossy(name.get(), name_text)) {
        out = cut_text_80("<unprintable " + name_text + " object>");
        return true;
    }
    PyErr_Clear();
    out = "<unprintable object>";
    return true;
}

// The name text of `class_name_text`, or false (exception possibly set) when
// the object's `__name__` is unusable.
bool dunder_name_text(PyObject* obj, std::string& out) {
    py::Ref name = py::Ref::steal(PyObject_GetAttr(obj, TS_INTERNED("__name__")));
    if (!name || !PyUnicode_Check(name.get())) return false;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &len);
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(len));
    return true;
}

// Clears the pending exception unless it is fatal.  A fatal one sets
// `stop` and is taken out into `fatal` when that holds none yet (else
// dropped: the first one is what the walk raises).  True for a fatal one.
bool keep_first_fatal(py::SavedError& fatal, bool& stop) {
    if (py::clear_unless_fatal()) return false;
    stop = true;
    if (fatal)
        PyErr_Clear();
    else
        fatal = py::SavedError::fetch();
    return true;
}

}  // namespace

std::string cut_text_80(std::string_view text) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Count lead bytes: every byte that is not a continuation byte.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == 80) {
                std::string cut(text.substr(0, i));
                cut += "...";
                return cut;
            }
            ++chars;
        }
    }
    return std::string(text);
}

bool str_text_lossy(PyObject* str, std::string& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &len);
    if (utf8) {
        out.assign(utf8, static_cast<std::size_t>(len));
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
    PyErr_Clear();
    py::Ref raw = py::Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!raw) return false;
    py::Ref fixed = py::Ref::steal(
        PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw.get()), PyBytes_GET_SIZE(raw.get()), "replace"));
    if (!fixed) return false;
    utf8 = PyUnicode_AsUTF8AndSize(fixed.get(), &len);
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(len));
    return true;
}

bool value_repr(PyObject* obj, std::string& out) {
    if (is_container(obj)) {
        switch (container_text(obj, out)) {
            case ContainerText::Done:
                return true;
            case ContainerText::Fatal:
                return false;
            case ContainerText::Fallback:
                break;
        }
    }
    py::Ref r = py::Ref::steal(PyObject_Repr(obj));
    if (!r) return false;
    return text_of_repr_result(r.get(), out);
}

std::string safe_repr(PyObject* obj) {
    std::string out;
    if (value_repr(obj, out)) return out;
    PyErr_Clear();
    return "<unrepresentable>";
}

std::string value_text_keeping_fatal(PyObject* obj, py::SavedError& fatal, bool& stop) {
    std::string out;
    if (value_repr(obj, out)) return out;
    keep_first_fatal(fatal, stop);
    return "<unrepresentable>";
}

std::string class_name_text(PyObject* obj) {
    std::string out;
    if (dunder_name_text(obj, out)) return out;
    PyErr_Clear();
    return safe_repr(obj);
}

std::string class_name_text_keeping_fatal(PyObject* obj, py::SavedError& fatal, bool& stop) {
    std::string out;
    if (dunder_name_text(obj, out)) return out;
    if (keep_first_fatal(fatal, stop)) return "<unrepresentable>";
    return value_text_keeping_fatal(obj, fatal, stop);
}

}  // namespace tessaron::python
