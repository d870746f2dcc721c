// Classes given as specs.
//
// `build_class` maps a class to a node by a fixed order of tests:
//   * the exact builtin scalar and container classes to their kinds
//     (`list` is a list of anything, `dict` a mapping with the one clause
//     (anything, anything), ...), `object` to anything; a subclass of a
//     builtin is an ordinary class;
//   * a typed dict (a class with `__required_keys__`) to a record over its
//     type hints, the required flag of each key read from a `Required` /
//     `NotRequired` qualifier when the hint carries one (looking through
//     `ReadOnly`), otherwise from `__required_keys__`; extra keys are
//     closed, typed by `__extra_items__` (a str there is a forward
//     reference, refused like one in a type argument), or open to any str
//     key, as the class sets them or else as the first base that sets them
//     does;
//   * an enumeration to its instance atom;
//   * a dataclass or a named tuple to the intersection of its instance atom
//     and the shape of its hinted fields: an object node of required
//     attributes for a dataclass, a fixed-length tuple for a named tuple;
//   * a protocol that is not runtime-checkable is refused; every other class
//     is an instance atom (the class pooled by identity).
// A typed dict's keys and a dataclass's field names are read through
// `str()`; two that give one text (`1` beside "1", a field renamed after
// the class) are refused, as a record literal's are (record_names.h).
// Field types are built through `build_node`, so a class whose own type
// appears in its fields never bottoms out and meets the builder's nesting
// limit (a recursive class is written with `recursive(...)`).
//
// The typing objects are recognised by identity (typing_names.h).  A typed
// dict made by the `typing_extensions` backport carries that module's "no
// extra items" sentinel, which this interpreter's `typing` may lack; it is
// recognised through `sys.modules` (never imported here), so that it is not
// taken for an extra-items type.
#include <string>
#include <utility>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/sharing.h"
#include "python/binding/intern.h"
#include "python/build/builder.h"
#include "python/build/dict_entries.h"
#include "python/build/record_names.h"
#include "python/build/refusal.h"
#include "python/build/typing_names.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

// How deep a typed-dict hint is searched for a Required/NotRequired
// qualifier under ReadOnly wrappers.
constexpr int kQualifierLevels = 129;

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// The builtin classes, by identity; false when `cls` is none of them.
bool builtin_class_node(PyObject* cls, ir::Node& out) {
    if (cls == as_object(&PyBool_Type)) {
        out = ir::Node::scalar(ir::NodeKind::Bool);
    } else if (cls == as_object(&PyLong_Type)) {
        out = ir::Node::scalar(ir::NodeKind::Int);
    } else if (cls == as_object(&PyFloat_Type)) {
        out = ir::Node::scalar(ir::NodeKind::Float);
    } else if (cls == as_object(&PyUnicode_Type)) {
        out = ir::Node::scalar(ir::NodeKind::Str);
    } else if (cls == as_object(&PyBytes_Type)) {
        out = ir::Node::scalar(ir::NodeKind::Bytes);
    } else if (cls == as_object(Py_TYPE(Py_None))) {
        out = ir::Node::scalar(ir::NodeKind::None);
    } else if (cls == as_object(&PyList_Type)) {
        out = homogeneous_shape(ir::kFlavourList, ir::Node::anything());
    } else if (cls == as_object(&PyTuple_Type)) {
        out = homogeneous_shape(ir::kFlavourTuple, ir::Node::anything());
    } else if (cls == as_object(&PySet_Type)) {
        out = ir::make_set(ir::kFlavourSet, ir::Node::anything());
    } else if (cls == as_object(&PyFrozenSet_Type)) {
        out = ir::make_set(ir::kFlavourFrozenset, ir::Node::anything());
    } else if (cls == as_object(&PyDict_Type)) {
        std::vector<ir::Clause> clauses;
        clauses.push_back(ir::Clause{ir::Node::anything(), ir::Node::anything()});
        out = ir::make_record({}, std::move(clauses));
    } else {
        return false;
    }
    return true;
}

// A class attribute that is a str (`__qualname__`, `__module__`), or else
// `fallback`; empty only with a fatal exception (or no memory) set.
py::Ref class_text(PyObject* cls, PyObject* attr, const char* fallback) {
    py::Ref text = py::Ref::steal(PyObject_GetAttr(cls, attr));
    if (text && PyUnicode_Check(text.get())) return text;
    if (!py::clear_unless_fatal()) return {};
    return py::Ref::steal(PyUnicode_FromString(fallback));
}

// The pending `NameError` of an annotation that does not resolve stays what
// it is (callers may catch it); on CPython 3.11 and later, where exceptions
// take notes (`add_note`), it gains one that names the class and says what
// to do.  Failing to add the note leaves the error as it was.  On PyPy the
// error is left untouched: taking it out of the indicator and putting it
// back keeps its traceback's frames alive there (tests/test_leaks.py sees
// the resident memory grow with each raise).
void note_unresolved_annotation(PyObject* cls) {
    if (py::kPyPy || PY_VERSION_HEX < 0x030B0000) return;
    if (!PyErr_ExceptionMatches(PyExc_NameError)) return;
    py::SavedError err = py::SavedError::fetch();
    py::Ref add_note = py::Ref::steal(PyObject_GetAttrString(err.get(), "add_note"));
    if (add_note) {
        const char* type_name = PyType_Check(cls) ? reinterpret_cast<PyTypeObject*>(cls)->tp_name : "?";
        py::Ref qualname = class_text(cls, TS_INTERNED("__qualname__"), type_name);
        py::Ref module = qualname ? class_text(cls, TS_INTERNED("__module__"), "?") : py::Ref();
        py::Ref note;
        if (qualname && module)
            note = py::Ref::steal(PyUnicode_FromFormat(
                "tessaron read the annotations of the class %U (module %U) with typing.get_type_hints, "
                "which resolves each name in that module's globals: define the referenced class at "
                "module level, or write the annotation as a string naming a type the module can resolve",
                qualname.get(), module.get()));
        if (note) py::Ref::steal(PyObject_CallOneArg(add_note.get(), note.get()));
    }
    if (!py::clear_unless_fatal()) return;
    err.restore();
}

// `typing.get_type_hints(cls, include_extras=True)`, which must be a dict;
// an annotation that names nothing raises `NameError` with a note.
py::Ref type_hints(const TypingNames& names, PyObject* cls) {
    py::Ref args = py::Ref::steal(PyTuple_Pack(1, cls));
    if (!args) return {};
    py::Ref kwargs = py::Ref::steal(PyDict_New());
    if (!kwargs || PyDict_SetItem(kwargs.get(), TS_INTERNED("include_extras"), Py_True) < 0) return {};
    py::Ref hints = py::Ref::steal(PyObject_Call(names.get_type_hints.get(), args.get(), kwargs.get()));
    if (!hints) note_unresolved_annotation(cls);
    if (hints && !PyDict_Check(hints.get())) {
        not_an_instance(hints.get(), "dict");
        return {};
    }
    return hints;
}

// The field names of a dataclass (`dataclasses.fields(cls)`, each item's
// `name`) or else of a named tuple (the items of `_fields`), in order.
bool dataclass_fields(PyObject* cls, std::vector<py::Ref>& names) {
    names.clear();
    py::Ref dataclasses = py::Ref::steal(PyImport_ImportModule("dataclasses"));
    if (!dataclasses) return false;
    py::Ref is_dataclass = py::Ref::steal(PyObject_GetAttrString(dataclasses.get(), "is_dataclass"));
    if (!is_dataclass) return false;
    py::Ref answer = py::Ref::steal(PyObject_CallOneArg(is_dataclass.get(), cls));
    if (!answer) return false;
    const int truth = PyObject_IsTrue(answer.get());
    if (truth < 0) return false;
    py::Ref items;
    if (truth) {
        py::Ref fields = py::Ref::steal(PyObject_GetAttrString(dataclasses.get(), "fields"));
        if (!fields) return false;
        items = py::Ref::steal(PyObject_CallOneArg(fields.get(), cls));
    } else {
        items = py::Ref::steal(PyObject_GetAttr(cls, TS_INTERNED("_fields")));
    }
    if (!items) return false;
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(items.get()));
    if (!iterator) return false;
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        if (truth) {
            item = py::Ref::steal(PyObject_GetAttr(item.get(), TS_INTERNED("name")));
            if (!item) return false;
        }
        names.push_back(std::move(item));
    }
    return !PyErr_Occurred();
}

// The truth of a class attribute; false when reading it or its truth raises
// (the exception is discarded).
bool class_flag(PyObject* cls, const char* name) {
    py::Ref value = py::Ref::steal(PyObject_GetAttrString(cls, name));
    if (!value) {
        PyErr_Clear();
        return false;
    }
    const int truth = PyObject_IsTrue(value.get());
    if (truth < 0) {
        PyErr_Clear();
        return false;
    }
    return truth != 0;
}

bool is_qualifier(const TypingNames& names, PyObject* origin) {
    return TypingNames::is(names.Required, origin) || TypingNames::is(names.NotRequired, origin) ||
           TypingNames::is(names.ReadOnly, origin);
}

// 1 when `cls` is a named tuple (a tuple subclass with `_fields`), 0 when
// not, -1 with an exception set.
int is_named_tuple(PyObject* cls) {
    const int tuple_subclass = PyObject_IsSubclass(cls, as_object(&PyTuple_Type));
    if (tuple_subclass <= 0) return tuple_subclass;
    py::Ref fields;
    return read_optional_attr(cls, TS_INTERNED("_fields"), fields);
}

// The required flag of a typed-dict key from its hint: a Required or
// NotRequired qualifier decides, looking through other qualifiers
// (ReadOnly); otherwise membership in `__required_keys__`.
int typed_dict_key_required(const TypingNames& names, PyObject* hint, PyObject* key, PyObject* required_keys) {
    py::Ref subject = py::Ref::borrow(hint);
    for (int level = 0; level < kQualifierLevels; ++level) {
        py::Ref origin;
        const int found = read_optional_attr(subject.get(), TS_INTERNED("__origin__"), origin);
        if (found < 0) return -1;
        if (found == 0 || origin.get() == Py_None) break;
        if (TypingNames::is(names.Required, origin.get())) return 1;
        if (TypingNames::is(names.NotRequired, origin.get())) return 0;
        if (!is_qualifier(names, origin.get())) break;
        py::Ref args;
        const int has_args = read_optional_attr(subject.get(), TS_INTERNED("__args__"), args);
        if (has_args < 0) return -1;
        if (has_args == 0) break;
        py::Ref first = py::Ref::steal(PySequence_GetItem(args.get(), 0));
        if (!first) {
            PyErr_Clear();
            break;
        }
        subject = std::move(first);
    }
    return PySequence_Contains(required_keys, key);
}

// The "no extra items" sentinel of the `typing_extensions` backport, when
// that module is already loaded: a borrowed-for-the-call new reference, or
// null (no error) when there is none.
py::Ref backport_no_extra_items() {
    py::Ref module = py::Ref::steal(PyImport_GetModule(TS_INTERNED("typing_extensions")));
    if (!module) {
        PyErr_Clear();
        return {};
    }
    py::Ref sentinel = py::Ref::steal(PyObject_GetAttrString(module.get(), "NoExtraItems"));
    if (!sentinel) PyErr_Clear();
    return sentinel;
}

// Whether the module that made `cls` (its metaclass's) has a "no extra
// items" sentinel.  Where it has, an `__extra_items__` of None declares
// None as the type of the extra values; where it has not, None is the
// older "no extra items declared".  Looked up through `sys.modules`; any
// error reads as "has not".
bool maker_has_no_extra_items(PyObject* cls) {
    py::Ref name = py::Ref::steal(PyObject_GetAttr(as_object(Py_TYPE(cls)), TS_INTERNED("__module__")));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return false;
    }
    py::Ref module = py::Ref::steal(PyImport_GetModule(name.get()));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    py::Ref sentinel;
    const int found = read_optional_attr(module.get(), TS_INTERNED("NoExtraItems"), sentinel);
    if (found < 0) PyErr_Clear();
    return found > 0;
}

// The extra-keys setting of a typed dict: closed, or the declared type of
// the extra values (empty: none declared).
struct ExtraItems {
    bool closed = false;
    py::Ref type;
};

// The setting a class makes itself: 1 when it sets `closed` (True or False)
// or `extra_items`, 0 when it sets neither (`__closed__` None or absent,
// `__extra_items__` absent or the "no extra items" sentinel), -1 with an
// exception set.
int own_extra_items(const TypingNames& names, PyObject* cls, ExtraItems& out) {
    py::Ref closed;
    int found = read_optional_attr(cls, TS_INTERNED("__closed__"), closed);
    if (found < 0) return -1;
    bool sets = false;
    if (found > 0 && closed.get() != Py_None) {
        const int truth = PyObject_IsTrue(closed.get());
        if (truth < 0) return -1;
        out.closed = truth != 0;
        if (out.closed) return 1;  // closed: no extra items of any type
        sets = true;
    }
    py::Ref extra;
    found = read_optional_attr(cls, TS_INTERNED("__extra_items__"), extra);
    if (found < 0) return -1;
    if (found == 0 || TypingNames::is(names.NoExtraItems, extra.get())) return sets;
    if (extra.get() == Py_None && !maker_has_no_extra_items(cls)) return sets;
    py::Ref backport = backport_no_extra_items();
    if (backport && backport.get() == extra.get()) return sets;
    out.type = std::move(extra);
    return 1;
}

// At most this many bases are looked at for an inherited setting.
constexpr int kMaxBasesVisited = 1024;

// Pushes the classes `cls` was declared with (`__orig_bases__`), the first
// on top; none when it has no such tuple.  False with an exception set.
bool push_declared_bases(PyObject* cls, std::vector<py::Ref>& pending) {
    py::Ref bases;
    const int found = read_optional_attr(cls, TS_INTERNED("__orig_bases__"), bases);
    if (found < 0) return false;
    if (found == 0 || !PyTuple_Check(bases.get())) return true;
    for (Py_ssize_t i = PyTuple_GET_SIZE(bases.get()); i-- > 0;)
        pending.push_back(py::Ref::borrow(PyTuple_GET_ITEM(bases.get(), i)));
    return true;
}

// The setting a class inherits when it sets none: that of the first base
// that sets one, depth first, left to right over the declared bases (a
// generic base by its origin class).  The two attributes are one setting:
// a class that sets only `extra_items` shows `__closed__` None, and does
// not inherit a base's `closed`.  1 found, 0 none (also past the budget of
// bases), -1 with an exception set.
int inherited_extra_items(const TypingNames& names, PyObject* cls, ExtraItems& out) {
    std::vector<py::Ref> pending;
    if (!push_declared_bases(cls, pending)) return -1;
    for (int visited = 0; !pending.empty() && visited < kMaxBasesVisited; ++visited) {
        py::Ref base = std::move(pending.back());
        pending.pop_back();
        if (!PyType_Check(base.get())) {
            base = py::Ref::steal(PyObject_CallOneArg(names.get_origin.get(), base.get()));
            if (!base) return -1;
            if (!PyType_Check(base.get())) continue;  // no class: `TypedDict` itself, a special form
        }
        const int sets = own_extra_items(names, base.get(), out);
        if (sets != 0) return sets;
        if (!push_declared_bases(base.get(), pending)) return -1;
    }
    return 0;
}

// The clause list of a typed dict: none when closed, (str, extra-items
// type) when it declares one, else (str, anything).  The setting is the
// class's own, or else the one it inherits.
bool typed_dict_extra_items(const TypingNames& names, PyObject* cls, BuildTarget target,
                            std::vector<ir::Clause>& clauses) {
    ExtraItems setting;
    int found = own_extra_items(names, cls, setting);
    if (found == 0) found = inherited_extra_items(names, cls, setting);
    if (found < 0) return false;
    if (setting.closed) return true;
    ir::Node value = ir::Node::anything();
    // The extra-items type is a type argument: a str there names a type.
    if (setting.type && !reject_forward_reference(setting.type.get(), target, value)) return false;
    clauses.push_back(ir::Clause{ir::Node::scalar(ir::NodeKind::Str), std::move(value)});
    return true;
}

bool build_typed_dict(const TypingNames& names, PyObject* cls, BuildTarget target, ir::Node& out) {
    py::Ref hints = type_hints(names, cls);
    if (!hints) return false;
    py::Ref required_keys = py::Ref::steal(PyObject_GetAttr(cls, TS_INTERNED("__required_keys__")));
    if (!required_keys) return false;

    std::vector<ir::RecordEntry> entries;
    bool names_may_repeat = false;  // only keys that are no exact str can
    DictEntries items(hints.get());
    py::Ref key;
    py::Ref hint;
    for (;;) {
        const int more = items.next(key, hint);
        if (more < 0) return false;
        if (more == 0) break;
        if (!PyUnicode_CheckExact(key.get())) names_may_repeat = true;
        py::Ref key_str = py::Ref::steal(PyObject_Str(key.get()));
        if (!key_str) return false;
        std::string text;
        if (!key_text(key_str.get(), text)) return false;
        ir::Node value;
        if (!build_node(hint.get(), target, value)) return false;
        const int required = typed_dict_key_required(names, hint.get(), key.get(), required_keys.get());
        if (required < 0) return false;
        entries.push_back(ir::RecordEntry{ir::make_text(text), required != 0, std::move(value)});
    }
    if (names_may_repeat &&
        !check_names_once(entries, "key", "typed dict",
                          "its keys are read as their str, so two keys with one text are one field; declare it once "
                          "with the type and the optionality it has"))
        return false;
    std::vector<ir::Clause> clauses;
    if (!typed_dict_extra_items(names, cls, target, clauses)) return false;
    out = ir::make_record(std::move(entries), std::move(clauses));
    return true;
}

// A dataclass or a named tuple: its instance atom, met with the shape of
// its hinted fields.
bool build_record_like(const TypingNames& names, PyObject* cls, BuildTarget target, ir::Node& out) {
    py::Ref hints = type_hints(names, cls);
    if (!hints) return false;
    const ir::Node atom = ir::Node::instance(intern_pool_value(target.pool, cls));
    std::vector<py::Ref> field_names;
    if (!dataclass_fields(cls, field_names)) return false;

    // Each hinted field is built once; a named tuple reuses the nodes as its
    // elements (a field without a hint is then `anything`).
    std::vector<ir::RecordEntry> entries;
    std::vector<ir::Node> elements;
    elements.reserve(field_names.size());
    for (const py::Ref& name : field_names) {
        py::Ref hint = py::Ref::borrow(PyDict_GetItemWithError(hints.get(), name.get()));
        if (!hint) {
            if (PyErr_Occurred()) return false;
            elements.push_back(ir::Node::anything());
            continue;
        }
        py::Ref name_str = py::Ref::steal(PyObject_Str(name.get()));
        if (!name_str) return false;
        std::string text;
        if (!key_text(name_str.get(), text)) return false;
        ir::Node value;
        if (!build_node(hint.get(), target, value)) return false;
        elements.push_back(value);
        entries.push_back(ir::RecordEntry{ir::make_text(text), true, std::move(value)});
    }

    const int named_tuple = is_named_tuple(cls);
    if (named_tuple < 0) return false;
    ir::Node shape;
    if (named_tuple) {
        shape = fixed_shape(ir::kFlavourTuple, elements);
    } else if (!entries.empty()) {
        // Attributes are named (a named tuple's fields above are positions).
        if (!check_names_once(entries, "field", "dataclass",
                              "its fields are read by the str of their names, so two fields with one name are one "
                              "attribute; declare it once"))
            return false;
        shape = ir::make_object(std::move(entries));
    } else {
        out = atom;
        return true;
    }
    out = ir::intersect_pair(atom, std::move(shape), target.definitions);
    return true;
}

}  // namespace

bool key_text(PyObject* str, std::string& out) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (!utf8) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError,
                        "a record key must be valid Unicode; a field name cannot contain a lone surrogate");
        return false;
    }
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

bool build_class(PyObject* cls, BuildTarget target, ir::Node& out) {
    if (builtin_class_node(cls, out)) return true;
    const TypingNames* names = typing_names();
    if (!names) return false;
    if (cls == names->object.get()) {
        out = ir::Node::anything(false);
        return true;
    }
    if (cls == names->Union.get() || cls == names->Optional.get())
        return not_implemented(safe_repr(cls) +
                               " is a typing special form, not a value; write a concrete type (for a union, X | Y or "
                               "Union[X, Y])");

    py::Ref required_keys;
    const int typed_dict = read_optional_attr(cls, TS_INTERNED("__required_keys__"), required_keys);
    if (typed_dict < 0) return false;
    if (typed_dict) return build_typed_dict(*names, cls, target, out);

    const int enumeration = PyObject_IsSubclass(cls, names->Enum.get());
    if (enumeration < 0) return false;
    if (enumeration) {
        out = ir::Node::instance(intern_pool_value(target.pool, cls));
        return true;
    }

    PyObject* is_dataclass = is_dataclass_function();
    if (!is_dataclass) return false;
    py::Ref answer = py::Ref::steal(PyObject_CallOneArg(is_dataclass, cls));
    if (!answer) return false;
    const int dataclass = PyObject_IsTrue(answer.get());
    if (dataclass < 0) return false;
    if (dataclass) return build_record_like(*names, cls, target, out);

    const int named_tuple = is_named_tuple(cls);
    if (named_tuple < 0) return false;
    if (named_tuple) return build_record_like(*names, cls, target, out);

    if (class_flag(cls, "_is_protocol") && !class_flag(cls, "_is_runtime_protocol"))
        return not_implemented("a Protocol must be @runtime_checkable to be used as a schema");
    out = ir::Node::instance(intern_pool_value(target.pool, cls));
    return true;
}

}  // namespace tessaron::python
