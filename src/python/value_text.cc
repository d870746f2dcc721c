// Safe texts of Python objects for messages.  See value_text.h.
//
// Budget: a container's text is made only as far as the kept 80 characters
// reach (ContainerWriter below): at most 81 nodes are shown, each container
// past them is looked through once per level for an int too long to show,
// and a dict or set over 32 entries is sorted once per visit; a plain
// object costs its own `repr()`.  When an int too long to show makes the
// rendering raise, a value made only of exact builtins is unrepresentable
// (plain `repr()` would raise too), which reading each of its containers
// once tells; only a value holding other objects falls back to `repr()`.
#include "python/value_text.h"

#include "python/binding/intern.h"
#include "python/binding/once_cell.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

// The length of an exact list or tuple (Py_SIZE does not read a list's on
// PyPy, whose lists keep their items elsewhere).
Py_ssize_t sequence_size(PyObject* x) {
    return PyList_CheckExact(x) ? PyList_GET_SIZE(x) : PyTuple_GET_SIZE(x);
}

bool is_container(PyObject* obj) {
    return PyList_Check(obj) || PyTuple_Check(obj) || PyDict_Check(obj) || PyAnySet_Check(obj);
}

thread_local std::uint64_t t_value_text_work = 0;

// The reprlib text of a container, made natively for the exact builtin
// containers and only as far as the kept text reaches.
//
// The text is what the shared `reprlib.Repr` (limits above) answers, cut to
// 80 characters: exact list, tuple, dict, set and frozenset nodes are laid
// out here as its `repr_list` ... `repr_frozenset` lay them out (dict keys
// and set elements sorted when they sort, else in iteration order; 32 items
// a level, "..." past them and below level 0); any other node is handed to
// the instance's `repr1` with its level, as the instance itself would.  The
// pieces go out in order and writing stops at the 81st character, so the
// rendering visits at most that many nodes however large or shared the
// value is.
//
// Past the cut no text is made, but the one failure of the exact builtins
// that the full rendering would meet there is still looked for: an int
// too long for `repr()` makes the instance raise, and the text then falls
// back to plain `repr()` of the value.  That look walks each container once
// per level it is reached at (at most `kMaxLevel` times), not once per path.
// Other nodes past the cut are not asked for their text.
class ContainerWriter {
public:
    explicit ContainerWriter(PyObject* repr_instance) : inst_(repr_instance) {}

    // False with the exception set when the rendering raised.
    bool write(PyObject* obj) { return node(obj, kMaxLevel); }

    // The kept text: at most 80 characters, "..." after them when longer.
    std::string take_text() {
        if (chars_ > kKeptChars) {
            out_.resize(cut_at_);
            out_ += "...";
        }
        return std::move(out_);
    }

private:
    static constexpr long kMaxLevel = 12;
    static constexpr Py_ssize_t kMaxItems = 32;
    static constexpr std::size_t kKeptChars = 80;

    bool full() const { return chars_ > kKeptChars; }

    void put(std::string_view piece) {
        if (full()) return;
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if ((static_cast<unsigned char>(piece[i]) & 0xC0) == 0x80) continue;
            if (chars_ == kKeptChars) {
                // The 81st character: the kept text ends before it.
                cut_at_ = out_.size() + i;
                out_.append(piece.substr(0, i));
                ++chars_;
                return;
            }
            ++chars_;
        }
        out_.append(piece);
    }

    // One node at `level`: laid out here, handed to `repr1`, or (past the
    // cut) looked through for an int too long to show.
    bool node(PyObject* x, long level) {
        ++t_value_text_work;
        if (full()) return look(x, level);
        if (PyList_CheckExact(x)) return sequence(x, level, "[", "]", false);
        if (PyTuple_CheckExact(x)) return sequence(x, level, "(", ")", true);
        if (PyDict_CheckExact(x)) return dict(x, level);
        if (PyAnySet_CheckExact(x)) return set(x, level);
        return leaf(x, level);
    }

    bool leaf(PyObject* x, long level) {
        if (x == Py_None || PyBool_Check(x)) {
            put(x == Py_None ? "None" : x == Py_True ? "True" : "False");
            return true;
        }
        if (PyLong_CheckExact(x)) {
            int overflow = 0;
            long long v = PyLong_AsLongLongAndOverflow(x, &overflow);
            if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
                put(std::to_string(v));  // at most 20 characters: under `maxlong`
                return true;
            }
            PyErr_Clear();
        }
        py::Ref level_obj = py::Ref::steal(PyLong_FromLong(level));
        if (!level_obj) return false;
        py::Ref text = py::Ref::steal(
            PyObject_CallMethodObjArgs(inst_, TS_INTERNED("repr1"), x, level_obj.get(), nullptr));
        if (!text) return false;
        if (!PyUnicode_Check(text.get())) {
            PyErr_SetString(PyExc_TypeError, "reprlib piece is not a str");
            return false;
        }
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
        if (!utf8) return false;  // lone surrogates: the whole text cannot be encoded
        put(std::string_view(utf8, static_cast<std::size_t>(len)));
        return true;
    }

    // `_repr_iterable` over a list or tuple (live: a list is read by index
    // while its size allows, as its iterator reads it).
    bool sequence(PyObject* x, long level, const char* left, const char* right, bool trail) {
        const Py_ssize_t n = sequence_size(x);
        put(left);
        if (level <= 0 && n) {
            put("...");
        } else {
            Py_ssize_t i = 0;
            for (; i < kMaxItems && i < sequence_size(x); ++i) {
                if (i) put(", ");
                py::Ref item = py::Ref::borrow(PyList_CheckExact(x) ? PyList_GET_ITEM(x, i) : PyTuple_GET_ITEM(x, i));
                if (!node(item.get(), level - 1)) return false;
            }
            if (n > kMaxItems) put(i ? ", ..." : "...");
            if (n == 1 && trail) put(",");
        }
        put(right);
        return true;
    }

    bool set(PyObject* x, long level) {
        const bool frozen = PyFrozenSet_CheckExact(x);
        if (PySet_GET_SIZE(x) == 0) {
            put(frozen ? "frozenset()" : "set()");
            return true;
        }
        const Py_ssize_t n = PySet_GET_SIZE(x);
        put(frozen ? "frozenset({" : "{");
        if (level <= 0) {
            put("...");
        } else {
            py::Ref items = possibly_sorted(x);
            if (!items) return false;
            Py_ssize_t i = 0;
            for (; i < kMaxItems && i < PyList_GET_SIZE(items.get()); ++i) {
                if (i) put(", ");
                py::Ref item = py::Ref::borrow(PyList_GET_ITEM(items.get(), i));
                if (!node(item.get(), level - 1)) return false;
            }
            if (n > kMaxItems) put(i ? ", ..." : "...");
        }
        put(frozen ? "})" : "}");
        return true;
    }

    bool dict(PyObject* x, long level) {
        const Py_ssize_t n = PyDict_GET_SIZE(x);
        if (n == 0) {
            put("{}");
            return true;
        }
        if (level <= 0) {
            put("{...}");
            return true;
        }
        put("{");
        py::Ref keys = possibly_sorted(x);
        if (!keys) return false;
        Py_ssize_t i = 0;
        for (; i < kMaxItems && i < PyList_GET_SIZE(keys.get()); ++i) {
            if (i) put(", ");
            py::Ref key = py::Ref::borrow(PyList_GET_ITEM(keys.get(), i));
            if (!node(key.get(), level - 1)) return false;
            py::Ref value = lookup(x, key.get());
            if (!value) return false;
            put(": ");
            if (!node(value.get(), level - 1)) return false;
        }
        if (n > kMaxItems) put(i ? ", ..." : "...");
        put("}");
        return true;
    }

    // `x[key]`, KeyError when missing.
    static py::Ref lookup(PyObject* x, PyObject* key) {
        PyObject* value = PyDict_GetItemWithError(x, key);
        if (!value && !PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key);
        return py::Ref::borrow(value);
    }

    // `sorted(x)`, or `list(x)` when sorting raised an `Exception`.
    static py::Ref possibly_sorted(PyObject* x) {
        py::Ref list = py::Ref::steal(PySequence_List(x));
        if (list && PyList_Sort(list.get()) == 0) return list;
        if (!PyErr_ExceptionMatches(PyExc_Exception)) return py::Ref();
        PyErr_Clear();
        return py::Ref::steal(PySequence_List(x));
    }

    // Past the cut: raises as the instance would when an exact int it
    // reaches is too long for `repr()`; true otherwise.  Each container is
    // looked through at most once per level.
    bool look(PyObject* x, long level) {
        if (PyLong_CheckExact(x)) {
            int overflow = 0;
            (void)PyLong_AsLongLongAndOverflow(x, &overflow);
            if (!overflow) return !PyErr_Occurred();
            py::Ref text = py::Ref::steal(PyObject_Repr(x));
            return static_cast<bool>(text);
        }
        const bool list = PyList_CheckExact(x), tuple = PyTuple_CheckExact(x);
        const bool dict = PyDict_CheckExact(x), set = PyAnySet_CheckExact(x);
        if (!(list || tuple || dict || set) || level <= 0) return true;
        const Py_ssize_t n = list || tuple ? sequence_size(x) : set ? PySet_GET_SIZE(x) : PyDict_GET_SIZE(x);
        if (n == 0) return true;
        auto [it, fresh] = looked_.try_emplace(x, level);
        if (!fresh) {
            if (it->second >= level) return true;
            it->second = level;
        } else {
            kept_.push_back(py::Ref::borrow(x));
        }
        if (list || tuple) {
            for (Py_ssize_t i = 0; i < kMaxItems && i < sequence_size(x); ++i) {
                py::Ref item = py::Ref::borrow(list ? PyList_GET_ITEM(x, i) : PyTuple_GET_ITEM(x, i));
                if (!node(item.get(), level - 1)) return false;
            }
            return true;
        }
        // A set or dict of at most 32 is read whole, in any order; a larger
        // one in the instance's order.
        py::Ref items = n > kMaxItems ? possibly_sorted(x) : py::Ref::steal(PySequence_List(x));
        if (!items) return false;
        for (Py_ssize_t i = 0; i < kMaxItems && i < PyList_GET_SIZE(items.get()); ++i) {
            py::Ref item = py::Ref::borrow(PyList_GET_ITEM(items.get(), i));
            if (!node(item.get(), level - 1)) return false;
            if (dict) {
                py::Ref value = lookup(x, item.get());
                if (!value || !node(value.get(), level - 1)) return false;
            }
        }
        return true;
    }

    PyObject* inst_;
    std::string out_;
    std::size_t chars_ = 0;
    std::size_t cut_at_ = 0;
    std::unordered_map<PyObject*, long> looked_;
    std::vector<py::Ref> kept_;
};

enum class ContainerText { Done, Fallback, Unrepresentable, Fatal };

// True when every node reachable from `obj` is an exact builtin whose
// `repr()` runs no user code and never yields lone surrogates.  Each
// container is read once however many paths reach it, so the answer costs
// the value's distinct containers and their items, not its paths.  False
// with an exception set when a set could not be read.
bool only_builtins(PyObject* obj) {
    std::unordered_set<PyObject*> seen;
    std::vector<PyObject*> todo{obj};
    while (!todo.empty()) {
        PyObject* x = todo.back();
        todo.pop_back();
        if (x == Py_None || PyBool_Check(x) || PyLong_CheckExact(x) || PyFloat_CheckExact(x) ||
            PyComplex_CheckExact(x) || PyUnicode_CheckExact(x) || PyBytes_CheckExact(x))
            continue;
        const bool list = PyList_CheckExact(x), tuple = PyTuple_CheckExact(x);
        const bool dict = PyDict_CheckExact(x), set = PyAnySet_CheckExact(x);
        if (!(list || tuple || dict || set)) return false;
        if (!seen.insert(x).second) continue;
        if (list || tuple) {
            for (Py_ssize_t i = 0; i < sequence_size(x); ++i)
                todo.push_back(list ? PyList_GET_ITEM(x, i) : PyTuple_GET_ITEM(x, i));
        } else if (dict) {
            Py_ssize_t pos = 0;
            PyObject *key, *value;
            while (PyDict_Next(x, &pos, &key, &value)) {
                todo.push_back(key);
                todo.push_back(value);
            }
        } else {
            // Elements stay alive while the set does: `seen` holds sets
            // only by address, and the value outlives this walk.
            py::Ref it = py::Ref::steal(PyObject_GetIter(x));
            if (!it) return false;
            while (PyObject* key = PyIter_Next(it.get())) {
                todo.push_back(key);
                Py_DECREF(key);
            }
            if (PyErr_Occurred()) return false;
        }
    }
    return true;
}

// The reprlib text of a container.  Fallback (exception cleared) when the
// shared instance cannot be made or the rendering raised; Fatal (exception
// set) when a fatal exception was raised on the way, which must not be
// swallowed.
ContainerText container_text(PyObject* obj, std::string& out) {
    auto fall_back = []() { return py::clear_unless_fatal() ? ContainerText::Fallback : ContainerText::Fatal; };
    const py::Ref* inst = g_repr_instance.get_or_init(init_repr_limits);
    if (!inst) return fall_back();
    ContainerWriter writer(inst->get());
    if (!writer.write(obj)) {
        // Only an int too long to show makes the rendering of exact builtins
        // raise, and plain `repr()` of the value then raises too: the text
        // is known without following every path of a shared value to it.
        const bool too_long = PyErr_ExceptionMatches(PyExc_ValueError);
        const ContainerText fallback = fall_back();
        if (fallback != ContainerText::Fallback || !too_long) return fallback;
        if (only_builtins(obj)) return ContainerText::Unrepresentable;
        return fall_back();
    }
    out = writer.take_text();
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

const char kValueTextWorkDoc[] =
    "_value_text_work()\n--\n\n"
    "The nodes of values that container texts visited in this thread, shown or\n"
    "looked through past the kept text: a work counter for tests, not part of\n"
    "the public interface.";

PyObject* value_text_work_function(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(t_value_text_work); }

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
            case ContainerText::Unrepresentable:
                PyErr_SetString(PyExc_ValueError, "value too long to show");
                return false;
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
