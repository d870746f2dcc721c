// The Python-backed oracle: leaf facts about pooled objects, asked of
// Python.
//
// What it computes: the fourteen answers of the Oracle interface for the
// objects of one pool, each "yes", "no" or "declined" (or an order, or a
// LeafInfo).  A question about an index outside the pool is declined.
//
// Invariants:
//   * No Python exception leaves an operation: every failure (an
//     exception, `NotImplemented` where a value is needed, an object of the
//     wrong sort) is the declined answer, and the error indicator is clear
//     on return.  Membership walks drop the exception they stored, fatal
//     ones included, and a walk that aborted (a fatal exception, a
//     placeholder, a limit) is declined, never read as "not a member".
//   * Claims rest on builtin behaviour only.  Order and integer questions
//     are answered only for objects of the exact builtin types whose
//     comparisons are a fixed, transitive order (bool, int, float, str,
//     bytes, set, frozenset); a user object's `__lt__` or `__floor__` could
//     say anything.  A literal of a user type is walked only when its type
//     keeps `object`'s equality, so the constant itself stands for every
//     value the literal admits; a float zero is walked with both signs,
//     since -0.0 == 0.0 and a predicate may tell them apart.
//   * Class ids are dense, numbered in the order classes are first met, and
//     meaningful only within this oracle's answers.  The table holds
//     addresses, no references: the classes stay alive through the pool.
//
// Budget: one or a few Python calls per question; an enumeration is walked
// member by member, at most 512 of them (a larger one is declined without
// walking); the literal-set test hashes the shorter list and probes with
// the longer one.
#include "python/oracle.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "python/binding/intern.h"
#include "python/binding/once_cell.h"
#include "python/check/entry.h"

namespace tessaron::python {

using decide::kDeclined;
using decide::kNo;
using decide::kYes;
using decide::LeafInfo;

namespace {

// The largest enumeration tested member by member.
constexpr std::size_t kMaxEnumerationMembers = 512;

struct MathRounding {
    py::Ref floor;
    py::Ref ceil;
};
struct EnumTypes {
    py::Ref enum_meta;
    py::Ref flag;
};

py::OnceCell<MathRounding> g_math_rounding;
py::OnceCell<EnumTypes> g_enum_types;

bool load_pair(const char* module, const char* first, const char* second, py::Ref& a, py::Ref& b) {
    py::Ref m = py::Ref::steal(PyImport_ImportModule(module));
    if (!m) return false;
    a = py::Ref::steal(PyObject_GetAttrString(m.get(), first));
    if (!a) return false;
    b = py::Ref::steal(PyObject_GetAttrString(m.get(), second));
    return static_cast<bool>(b);
}

// `math.floor` and `math.ceil`, loaded once; nullptr (no exception set) when
// they cannot be loaded.
const MathRounding* math_rounding() {
    const MathRounding* m = g_math_rounding.get_or_init([](std::optional<MathRounding>& out) {
        MathRounding r;
        if (!load_pair("math", "floor", "ceil", r.floor, r.ceil)) return false;
        out.emplace(std::move(r));
        return true;
    });
    if (!m) PyErr_Clear();
    return m;
}

// `enum.EnumMeta` and `enum.Flag`, loaded once; nullptr when they cannot be.
const EnumTypes* enum_types() {
    const EnumTypes* e = g_enum_types.get_or_init([](std::optional<EnumTypes>& out) {
        EnumTypes r;
        if (!load_pair("enum", "EnumMeta", "Flag", r.enum_meta, r.flag)) return false;
        out.emplace(std::move(r));
        return true;
    });
    if (!e) PyErr_Clear();
    return e;
}

// The truth value of a result (consumed): 1, 0, or -1 when the result is
// missing, is `NotImplemented`, or its truth test raises.
int truth_of(PyObject* result) {
    if (!result) return -1;
    py::Ref owned = py::Ref::steal(result);
    if (result == Py_True) return 1;
    if (result == Py_False) return 0;
    if (result == Py_NotImplemented) return -1;
    return PyObject_IsTrue(result);
}

// Bool, int, float, str, bytes, set and frozenset by exact type: the
// objects whose comparisons are builtin and transitive.
bool has_builtin_order(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    return t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type || t == &PyUnicode_Type ||
           t == &PyBytes_Type || t == &PySet_Type || t == &PyFrozenSet_Type;
}

bool is_builtin_number(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    return t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type;
}

// `==`, then `<`, then `>`, each by its truth value: 0, -1, 1; -2 when all
// three are false or one raises.  Leaves no exception set.
std::int8_t three_way(PyObject* a, PyObject* b) {
    static constexpr int kOps[3] = {Py_EQ, Py_LT, Py_GT};
    static constexpr std::int8_t kAnswers[3] = {0, -1, 1};
    for (int k = 0; k < 3; ++k) {
        const int t = truth_of(PyObject_RichCompare(a, b, kOps[k]));
        if (t < 0) {
            PyErr_Clear();
            return decide::kCompareDeclined;
        }
        if (t) return kAnswers[k];
    }
    return decide::kCompareDeclined;
}

// Whether `metaclass.name` is `type.name` itself: 1, 0, -1 on failure.
int keeps_type_method(PyObject* metaclass, PyObject* name) {
    py::Ref own = py::Ref::steal(PyObject_GetAttr(metaclass, name));
    if (!own) return -1;
    py::Ref base = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyType_Type), name));
    if (!base) return -1;
    return own.get() == base.get();
}

PyObject* builtin_type_of_kind(std::uint8_t kind) {
    static PyTypeObject* const kTypes[11] = {nullptr,         &PyBool_Type,  &PyLong_Type,    &PyFloat_Type,
                                             &PyUnicode_Type, &PyBytes_Type, &PyList_Type,    &PyTuple_Type,
                                             &PySet_Type,     &PyFrozenSet_Type, &PyDict_Type};
    return kind < 11 ? reinterpret_cast<PyObject*>(kTypes[kind]) : nullptr;
}

}  // namespace

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

std::uint8_t class_is_plain(PyObject* cls) {
    PyObject* metaclass = reinterpret_cast<PyObject*>(Py_TYPE(cls));
    const int a = keeps_type_method(metaclass, TS_INTERNED("__instancecheck__"));
    if (a < 0) {
        PyErr_Clear();
        return kDeclined;
    }
    if (!a) return kNo;
    const int b = keeps_type_method(metaclass, TS_INTERNED("__subclasscheck__"));
    if (b < 0) {
        PyErr_Clear();
        return kDeclined;
    }
    return b ? kYes : kNo;
}

bool has_default_eq(PyTypeObject* type) {
    py::Ref own = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), TS_INTERNED("__eq__")));
    py::Ref base =
        own ? py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyBaseObject_Type), TS_INTERNED("__eq__")))
            : py::Ref();
    if (!own || !base) {
        PyErr_Clear();
        return false;
    }
    return own.get() == base.get();
}

BuiltinBase builtin_base_kind(PyObject* cls) {
    static PyTypeObject* const kOrder[9] = {&PyLong_Type,  &PyUnicode_Type,   &PyBytes_Type,
                                            &PyFloat_Type, &PyTuple_Type,     &PyFrozenSet_Type,
                                            &PyList_Type,  &PySet_Type,       &PyDict_Type};
    static constexpr std::uint8_t kKinds[9] = {2, 4, 5, 3, 7, 9, 6, 8, 10};
    for (std::uint32_t k = 0; k < 9; ++k) {
        const int r = PyObject_IsSubclass(cls, reinterpret_cast<PyObject*>(kOrder[k]));
        if (r < 0) {
            PyErr_Clear();
            continue;
        }
        if (r) return BuiltinBase{k + 1, kKinds[k]};
    }
    return BuiltinBase{};
}

// --- class ids and leaf information ---------------------------------------

std::uint32_t PoolOracle::intern_class_id(PyObject* cls) {
    borrow_ = -1;
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(cls));
    const std::size_t next = class_ids_.size();
    const std::uint32_t fresh =
        next >= UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(next);
    const std::uint32_t id = class_ids_.try_emplace(address, fresh).first->second;
    borrow_ = 0;
    return id;
}

LeafInfo PoolOracle::class_leaf_info(PyObject* cls) {
    if (class_is_plain(cls) != kYes) return LeafInfo::declined();
    py::Ref mro = py::Ref::steal(PyObject_GetAttr(cls, TS_INTERNED("__mro__")));
    py::Ref it = mro ? py::Ref::steal(PyObject_GetIter(mro.get())) : py::Ref();
    if (!it) {
        PyErr_Clear();
        return LeafInfo::declined();
    }
    LeafInfo info;
    while (py::Ref entry = py::Ref::steal(PyIter_Next(it.get()))) {
        if (!PyType_Check(entry.get())) {
            PyErr_Clear();
            return LeafInfo::declined();
        }
        if (entry.get() != cls) info.ancestor_ids.push_back(intern_class_id(entry.get()));
    }
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return LeafInfo::declined();
    }
    const BuiltinBase base = builtin_base_kind(cls);
    info.class_id = intern_class_id(cls);
    info.ancestor_ids.push_back(info.class_id);
    std::sort(info.ancestor_ids.begin(), info.ancestor_ids.end());
    info.ancestor_ids.erase(std::unique(info.ancestor_ids.begin(), info.ancestor_ids.end()), info.ancestor_ids.end());
    info.base_position = base.position;
    info.tag = base.kind;
    return info;
}

LeafInfo PoolOracle::leaf_info_at(std::uint64_t index) {
    PyObject* obj = object(index);
    if (!obj) return LeafInfo::declined();
    LeafInfo info;
    if (obj == Py_None) {
        info.tag = LeafInfo::kNone;
        return info;
    }
    if (PyType_Check(obj)) return class_leaf_info(obj);
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyBool_Type) {
        info.tag = LeafInfo::kBool;
        info.bool_value = obj == Py_True;
    } else if (t == &PyLong_Type) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow || (v == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return LeafInfo::declined();
        }
        info.tag = LeafInfo::kInt;
        info.int_value = v;
    } else if (t == &PyFloat_Type) {
        info.tag = LeafInfo::kFloat;
        info.float_value = PyFloat_AS_DOUBLE(obj);
    } else if (t == &PyUnicode_Type) {
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!utf8) {
            PyErr_Clear();
            return LeafInfo::declined();
        }
        info.tag = LeafInfo::kText;
        info.text.assign(utf8, static_cast<std::size_t>(n));
        info.text_kind = decide::kKindStr;
    } else if (t == &PyBytes_Type) {
        info.tag = LeafInfo::kText;
        info.text.assign(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        info.text_kind = decide::kKindBytes;
    } else {
        return LeafInfo::declined();
    }
    return info;
}

LeafInfo PoolOracle::bound_info(std::uint64_t index) { return leaf_info_at(index); }
LeafInfo PoolOracle::literal_info(std::uint64_t index) { return leaf_info_at(index); }

LeafInfo PoolOracle::class_info(std::uint64_t index) {
    PyObject* obj = object(index);
    if (!obj || !PyType_Check(obj)) return LeafInfo::declined();
    return class_leaf_info(obj);
}

// --- leaf relation --------------------------------------------------------

std::uint8_t PoolOracle::walk_verdict(const ir::Node& node, PyObject* value) {
    const Membership m = walk_is_member(pool_, definitions_, node, value);
    PyErr_Clear();
    switch (m) {
        case Membership::Member: return kYes;
        case Membership::NonMember: return kNo;
        default: return kDeclined;
    }
}

std::uint8_t PoolOracle::literal_in_node(PyObject* constant, const ir::Node& node) {
    // The literal admits the values of the constant's exact type equal to
    // it; the constant stands for all of them only when that equality is
    // value identity.
    const std::uint8_t kind = literal_kind(constant);
    if (kind == 255 && !has_default_eq(Py_TYPE(constant))) return kDeclined;
    std::uint8_t verdict = walk_verdict(node, constant);
    if (verdict == kYes && kind == 3 && PyFloat_AS_DOUBLE(constant) == 0.0) {
        py::Ref other_zero = py::Ref::steal(PyFloat_FromDouble(-PyFloat_AS_DOUBLE(constant)));
        if (!other_zero) {
            PyErr_Clear();
            return kDeclined;
        }
        verdict = walk_verdict(node, other_zero.get());
    }
    return verdict;
}

std::uint8_t PoolOracle::enumeration_in_node(PyObject* cls, const ir::Node& node) {
    const EnumTypes* e = enum_types();
    if (!e) return kDeclined;
    if (PyObject_IsInstance(cls, e->enum_meta.get()) != 1) {
        PyErr_Clear();
        return kDeclined;
    }
    if (PyObject_IsSubclass(cls, e->flag.get()) != 0) {
        PyErr_Clear();
        return kDeclined;
    }
    if (!has_default_eq(reinterpret_cast<PyTypeObject*>(cls))) return kDeclined;
    py::Ref it = py::Ref::steal(PyObject_GetIter(cls));
    if (!it) {
        PyErr_Clear();
        return kDeclined;
    }
    std::vector<py::Ref> members;
    while (py::Ref m = py::Ref::steal(PyIter_Next(it.get()))) {
        members.push_back(std::move(m));
        if (members.size() > kMaxEnumerationMembers) break;
    }
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return kDeclined;
    }
    if (members.empty() || members.size() > kMaxEnumerationMembers) return kDeclined;
    bool aborted = false;
    for (const py::Ref& m : members) {
        const std::uint8_t v = walk_verdict(node, m.get());
        if (v == kNo) return kNo;
        if (v == kDeclined) aborted = true;
    }
    return aborted ? kDeclined : kYes;
}

std::uint8_t PoolOracle::leaf_relation(const ir::Node& leaf, const ir::Node& node) {
    if (leaf.kind == ir::NodeKind::Literal) {
        PyObject* constant = object(leaf.pool_index());
        return constant ? literal_in_node(constant, node) : kDeclined;
    }
    if (leaf.kind != ir::NodeKind::Instance) return kDeclined;
    PyObject* cls = object(leaf.pool_index());
    if (!cls) return kDeclined;
    if (node.kind == ir::NodeKind::Instance) {
        PyObject* target = object(node.pool_index());
        if (!target) return kDeclined;
        if (class_is_plain(cls) != kYes || class_is_plain(target) != kYes) return kDeclined;
        if (!PyType_Check(cls)) return kDeclined;
        const int r = PyObject_IsSubclass(cls, target);
        if (r < 0) {
            PyErr_Clear();
            return kDeclined;
        }
        return r ? kYes : kNo;
    }
    if (!PyType_Check(cls)) return kDeclined;
    return enumeration_in_node(cls, node);
}

// --- order, equality, arithmetic ------------------------------------------

std::int8_t PoolOracle::compare(std::uint64_t i, std::uint64_t j) {
    PyObject* a = object(i);
    PyObject* b = object(j);
    if (!a || !b || !has_builtin_order(a) || !has_builtin_order(b)) return decide::kCompareDeclined;
    return three_way(a, b);
}

std::uint8_t PoolOracle::literal_sets_disjoint(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) {
    std::span<const std::uint64_t> hashed = a.size() <= b.size() ? a : b;
    std::span<const std::uint64_t> probed = a.size() <= b.size() ? b : a;
    // An object of a user type takes part only when its equality is
    // identity; otherwise set membership would run its `__eq__`.
    auto usable = [this](std::uint64_t index) -> PyObject* {
        PyObject* obj = object(index);
        if (!obj) return nullptr;
        if (literal_kind(obj) == 255 && !has_default_eq(Py_TYPE(obj))) return nullptr;
        return obj;
    };
    py::Ref set = py::Ref::steal(PySet_New(nullptr));
    if (!set) {
        PyErr_Clear();
        return kDeclined;
    }
    for (std::uint64_t index : hashed) {
        PyObject* obj = usable(index);
        if (!obj) return kDeclined;
        if (PySet_Add(set.get(), obj) < 0) {
            PyErr_Clear();
            return kDeclined;
        }
    }
    for (std::uint64_t index : probed) {
        PyObject* obj = usable(index);
        if (!obj) return kDeclined;
        const int found = PySet_Contains(set.get(), obj);
        if (found < 0) {
            PyErr_Clear();
            return kDeclined;
        }
        if (found) return kNo;
    }
    return kYes;
}

std::uint8_t PoolOracle::integer_interval_empty(std::uint64_t lower, bool lower_exclusive, std::uint64_t upper,
                                                bool upper_exclusive) {
    PyObject* lo = object(lower);
    PyObject* hi = object(upper);
    if (!lo || !hi || !is_builtin_number(lo) || !is_builtin_number(hi)) return kDeclined;
    const MathRounding* m = math_rounding();
    if (!m) return kDeclined;
    py::Ref one = py::Ref::steal(PyLong_FromLong(1));
    if (!one) {
        PyErr_Clear();
        return kDeclined;
    }
    // The least integer above (or at) the lower bound, the greatest below
    // (or at) the upper bound.
    py::Ref least = py::Ref::steal(PyObject_CallOneArg(lower_exclusive ? m->floor.get() : m->ceil.get(), lo));
    if (least && lower_exclusive) least = py::Ref::steal(PyNumber_Add(least.get(), one.get()));
    py::Ref greatest = least ? py::Ref::steal(PyObject_CallOneArg(upper_exclusive ? m->ceil.get() : m->floor.get(), hi))
                             : py::Ref();
    if (greatest && upper_exclusive) greatest = py::Ref::steal(PyNumber_Subtract(greatest.get(), one.get()));
    if (!least || !greatest) {
        PyErr_Clear();
        return kDeclined;
    }
    const std::int8_t order = three_way(least.get(), greatest.get());
    if (order == decide::kCompareDeclined) return kDeclined;
    return order > 0 ? kYes : kNo;
}

std::uint8_t PoolOracle::divides(std::uint64_t divisor, std::uint64_t dividend) {
    PyObject* d = object(divisor);
    PyObject* n = object(dividend);
    if (!d || !n) return kDeclined;
    py::Ref rem = py::Ref::steal(PyObject_CallMethodOneArg(n, TS_INTERNED("__mod__"), d));
    if (!rem || rem.get() == Py_NotImplemented) {
        PyErr_Clear();
        return kDeclined;
    }
    py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
    const int t = zero ? truth_of(PyObject_CallMethodOneArg(rem.get(), TS_INTERNED("__eq__"), zero.get())) : -1;
    if (t < 0) {
        PyErr_Clear();
        return kDeclined;
    }
    return t ? kYes : kNo;
}

std::uint8_t PoolOracle::literals_distinct(std::uint64_t i, std::uint64_t j) {
    PyObject* a = object(i);
    PyObject* b = object(j);
    if (!a || !b) return kDeclined;
    if (Py_TYPE(a) != Py_TYPE(b)) return kYes;
    if (literal_kind(a) == 255 && !has_default_eq(Py_TYPE(a))) return kDeclined;
    const int t = truth_of(PyObject_RichCompare(a, b, Py_EQ));
    if (t < 0) {
        PyErr_Clear();
        return kDeclined;
    }
    return t ? kNo : kYes;
}

// --- classes and kinds ----------------------------------------------------

std::uint8_t PoolOracle::class_atom_is_plain(const ir::Node& instance) {
    if (instance.kind != ir::NodeKind::Instance) return kDeclined;
    PyObject* cls = object(instance.pool_index());
    return cls ? class_is_plain(cls) : kDeclined;
}

std::uint8_t PoolOracle::constant_kind(std::uint64_t index) {
    PyObject* obj = object(index);
    return obj ? literal_kind(obj) : decide::kNoKind;
}

std::uint8_t PoolOracle::class_kind_answer(std::uint64_t class_index, std::uint8_t kind, bool plain_none_is_no) {
    PyObject* cls = object(class_index);
    if (!cls || !PyType_Check(cls) || class_is_plain(cls) != kYes) return kDeclined;
    const BuiltinBase base = builtin_base_kind(cls);
    if (base.kind == decide::kNoKind) return plain_none_is_no ? kNo : kDeclined;
    return (kind == base.kind || (kind == decide::kKindBool && base.kind == decide::kKindInt)) ? kYes : kNo;
}

std::uint8_t PoolOracle::class_overlaps_kind(std::uint64_t class_index, std::uint8_t kind) {
    return class_kind_answer(class_index, kind, false);
}

std::uint8_t PoolOracle::class_produces_kind(std::uint64_t class_index, std::uint8_t kind) {
    return class_kind_answer(class_index, kind, true);
}

std::uint8_t PoolOracle::kind_within_class(std::uint8_t kind, std::uint64_t class_index) {
    PyObject* cls = object(class_index);
    if (!cls || !PyType_Check(cls) || class_is_plain(cls) != kYes) return kDeclined;
    PyObject* type = builtin_type_of_kind(kind);
    if (!type) return kDeclined;
    const int r = PyObject_IsSubclass(type, cls);
    if (r < 0) {
        PyErr_Clear();
        return kDeclined;
    }
    return r ? kYes : kNo;
}

}  // namespace tessaron::python
