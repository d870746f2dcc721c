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
//   * An enumeration class stands for the members its iteration lists only
//     when no `_missing_` hook of its own (a Flag's, a user's) can make
//     pseudo-members; otherwise its members can refute an inclusion but
//     never prove one.  Likewise, of a class derived from a builtin type,
//     `class_info` tells the builtin contents of the instances exactly
//     only for an enumeration whose instances are its listed members, and
//     otherwise as "at least" those of the members it can tell: an
//     ordinary class has instances of any content.
//   * Class ids are dense, numbered in the order classes are first met, and
//     meaningful only within this oracle's answers.  The table holds
//     addresses, no references: the classes stay alive through the pool.
//
// Budget: one or a few Python calls per question; an enumeration is walked
// member by member, at most 512 of them (a larger one is declined without
// walking); the literal-set test hashes the shorter list and probes with
// the longer one.  Membership walks spend the call's step budget (one step
// each) and share one table of compiled patterns: a pattern is compiled at
// most once per oracle (one step per byte of its text), or not at all when
// the receiver's validator has compiled it already; the tree a walk starts
// from is looked over for patterns first, each shared list of it once per
// oracle (and held, so that its address stays its own), the definitions
// once.  A pattern compiled here is kept by the validator it belongs to
// (pattern_cache.h) for later calls.  The walks match through the call's
// own matcher of each pattern, whose lazy DFA keeps the states the
// literals share, and their matches spend the automaton work of the
// call's scope (kMatchWorkWeight units per NFA state visited): a walk that
// spends it is stopped (declined), and later walks are declined.
#include "python/oracle.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/descr/values/text_memo.h"
#include "python/binding/intern.h"
#include "python/binding/once_cell.h"
#include "python/check/entry.h"

namespace tessaron::python {

using ir::Answer;
using ir::Kind;
using ir::LeafInfo;
using ir::Order;

namespace {

// The largest enumeration tested member by member.
constexpr std::size_t kMaxEnumerationMembers = 512;
// The bytes the lazy DFA of a call's own matcher of a pattern may hold:
// room for the states of a few thousand literals over a large alternation
// (sets of tens of thousands of NFA states near its start), released with
// the call.
constexpr std::size_t kCallMatcherCache = std::size_t{16} << 20;
// Automaton work units per NFA state a walk's pattern match visits: a new
// lazy DFA state also orders, keys and hashes its set and asks whether it
// accepts, which costs about as much again as the step that made it (7 to
// 8 ns a state visited in all, against about 5 ns a unit of the scope's
// other work).
constexpr std::uint64_t kMatchWorkWeight = 2;

struct MathRounding {
    py::Ref floor;
    py::Ref ceil;
};
struct EnumTypes {
    py::Ref enum_meta;
    py::Ref flag;
    py::Ref default_missing;  // the function behind `enum.Enum._missing_`
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

// `enum.EnumMeta`, `enum.Flag` and the function of `enum.Enum._missing_`,
// loaded once; nullptr when they cannot be.
const EnumTypes* enum_types() {
    const EnumTypes* e = g_enum_types.get_or_init([](std::optional<EnumTypes>& out) {
        EnumTypes r;
        if (!load_pair("enum", "EnumMeta", "Flag", r.enum_meta, r.flag)) return false;
        py::Ref m = py::Ref::steal(PyImport_ImportModule("enum"));
        py::Ref base = m ? py::Ref::steal(PyObject_GetAttrString(m.get(), "Enum")) : py::Ref();
        py::Ref hook = base ? py::Ref::steal(PyObject_GetAttrString(base.get(), "_missing_")) : py::Ref();
        r.default_missing = hook ? py::Ref::steal(PyObject_GetAttrString(hook.get(), "__func__")) : py::Ref();
        if (!r.default_missing) return false;
        out.emplace(std::move(r));
        return true;
    });
    if (!e) PyErr_Clear();
    return e;
}

// Whether the `_missing_` that the enumeration `cls` finds through its MRO is
// `enum.Enum`'s own (compared by the underlying function); false when the
// lookup fails or the hook is no bound method.
bool uses_default_missing(PyObject* cls, PyObject* default_missing) {
    py::Ref hook = py::Ref::steal(PyObject_GetAttr(cls, TS_INTERNED("_missing_")));
    py::Ref func = hook ? py::Ref::steal(PyObject_GetAttr(hook.get(), TS_INTERNED("__func__"))) : py::Ref();
    if (!func) {
        PyErr_Clear();
        return false;
    }
    return func.get() == default_missing;
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

// `==`, then `<`, then `>`, each by its truth value: equal, less, greater;
// declined when all three are false or one raises.  Leaves no exception
// set.
Order three_way(PyObject* a, PyObject* b) {
    static constexpr int kOps[3] = {Py_EQ, Py_LT, Py_GT};
    static constexpr Order kAnswers[3] = {Order::Equal, Order::Less, Order::Greater};
    for (int k = 0; k < 3; ++k) {
        const int t = truth_of(PyObject_RichCompare(a, b, kOps[k]));
        if (t < 0) {
            PyErr_Clear();
            return Order::Declined;
        }
        if (t) return kAnswers[k];
    }
    return Order::Declined;
}

// Whether `metaclass.name` is `type.name` itself: 1, 0, -1 on failure.
int keeps_type_method(PyObject* metaclass, PyObject* name) {
    py::Ref own = py::Ref::steal(PyObject_GetAttr(metaclass, name));
    if (!own) return -1;
    py::Ref base = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyType_Type), name));
    if (!base) return -1;
    return own.get() == base.get();
}

// The builtin type of a kind; null for None (NoneType is no class to ask
// about) and Other.
PyObject* builtin_type_of_kind(Kind kind) {
    switch (kind) {
        case Kind::None: return nullptr;
        case Kind::Bool: return reinterpret_cast<PyObject*>(&PyBool_Type);
        case Kind::Int: return reinterpret_cast<PyObject*>(&PyLong_Type);
        case Kind::Float: return reinterpret_cast<PyObject*>(&PyFloat_Type);
        case Kind::Str: return reinterpret_cast<PyObject*>(&PyUnicode_Type);
        case Kind::Bytes: return reinterpret_cast<PyObject*>(&PyBytes_Type);
        case Kind::List: return reinterpret_cast<PyObject*>(&PyList_Type);
        case Kind::Tuple: return reinterpret_cast<PyObject*>(&PyTuple_Type);
        case Kind::Set: return reinterpret_cast<PyObject*>(&PySet_Type);
        case Kind::Frozenset: return reinterpret_cast<PyObject*>(&PyFrozenSet_Type);
        case Kind::Dict: return reinterpret_cast<PyObject*>(&PyDict_Type);
        case Kind::Other: return nullptr;
    }
    return nullptr;
}

// The builtin content of a value of a class derived from `kind`'s builtin
// type, as the walk reads it (the int, the float, the str's UTF-8 text,
// the bytes), not through methods the class may override; none for
// another kind, a value of another type, an int outside 64 bits or a str
// that has no UTF-8 form.  Leaves no exception set.
std::optional<LeafInfo> builtin_content(PyObject* value, Kind kind) {
    LeafInfo out;
    switch (kind) {
        case Kind::Int: {
            if (!PyLong_Check(value)) return std::nullopt;
            int overflow = 0;
            const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (overflow || (v == -1 && PyErr_Occurred())) {
                PyErr_Clear();
                return std::nullopt;
            }
            out.tag = LeafInfo::Tag::Int;
            out.int_value = v;
            return out;
        }
        case Kind::Float:
            if (!PyFloat_Check(value)) return std::nullopt;
            out.tag = LeafInfo::Tag::Float;
            out.float_value = PyFloat_AS_DOUBLE(value);
            return out;
        case Kind::Str: {
            if (!PyUnicode_Check(value)) return std::nullopt;
            Py_ssize_t n = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(value, &n);
            if (!utf8) {
                PyErr_Clear();
                return std::nullopt;
            }
            out.tag = LeafInfo::Tag::Text;
            out.text.assign(utf8, static_cast<std::size_t>(n));
            out.text_kind = Kind::Str;
            return out;
        }
        case Kind::Bytes:
            if (!PyBytes_Check(value)) return std::nullopt;
            out.tag = LeafInfo::Tag::Text;
            out.text.assign(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
            out.text_kind = Kind::Bytes;
            return out;
        default: return std::nullopt;
    }
}

// Which builtin contents the instances of a class derived from a builtin
// type have (LeafInfo::Instances).  Any class but an enumeration: any.  An
// enumeration has instances beyond its members when it is a Flag (its
// pseudo-members), has no member (the members of its subclasses are its
// instances), has a `_missing_` of its own (which may make new ones) or a
// metaclass other than `enum.EnumMeta` itself (whose call may); of those
// it lists, the contents of up to `kMaxEnumerationMembers` are told.  Only
// when every instance is a listed member and every member's content is
// told are they exactly its instances.  Anything that fails leaves the
// answer "at least" the members told so far.
void describe_instances(PyObject* cls, LeafInfo& info) {
    if (info.builtin_kind == Kind::Other) return;  // no builtin content
    const EnumTypes* e = enum_types();
    if (!e) {
        info.instances = LeafInfo::Instances::AtLeast;
        return;
    }
    const int is_enum = PyObject_IsInstance(cls, e->enum_meta.get());
    if (is_enum == 0) return;
    info.instances = LeafInfo::Instances::AtLeast;
    if (is_enum < 0) {
        PyErr_Clear();
        return;
    }
    bool closed = reinterpret_cast<PyObject*>(Py_TYPE(cls)) == e->enum_meta.get();
    const int flag = PyObject_IsSubclass(cls, e->flag.get());
    if (flag != 0) {
        PyErr_Clear();
        closed = false;
    }
    closed = closed && uses_default_missing(cls, e->default_missing.get());
    py::Ref it = py::Ref::steal(PyObject_GetIter(cls));
    if (!it) {
        PyErr_Clear();
        return;
    }
    while (py::Ref m = py::Ref::steal(PyIter_Next(it.get()))) {
        if (info.members.size() == kMaxEnumerationMembers) {
            closed = false;
            break;
        }
        std::optional<LeafInfo> content = builtin_content(m.get(), info.builtin_kind);
        if (content)
            info.members.push_back(std::move(*content));
        else
            closed = false;
    }
    if (PyErr_Occurred()) {
        PyErr_Clear();
        closed = false;
    }
    if (closed && !info.members.empty()) info.instances = LeafInfo::Instances::Exactly;
}

}  // namespace

std::optional<Kind> literal_kind(PyObject* obj) {
    if (obj == Py_None) return Kind::None;
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyBool_Type) return Kind::Bool;
    if (t == &PyLong_Type) return Kind::Int;
    if (t == &PyFloat_Type) return Kind::Float;
    if (t == &PyUnicode_Type) return Kind::Str;
    if (t == &PyBytes_Type) return Kind::Bytes;
    return std::nullopt;
}

Answer class_is_plain(PyObject* cls) {
    PyObject* metaclass = reinterpret_cast<PyObject*>(Py_TYPE(cls));
    const int a = keeps_type_method(metaclass, TS_INTERNED("__instancecheck__"));
    if (a < 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    if (!a) return Answer::No;
    const int b = keeps_type_method(metaclass, TS_INTERNED("__subclasscheck__"));
    if (b < 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    return b ? Answer::Yes : Answer::No;
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
    static constexpr Kind kKinds[9] = {Kind::Int,   Kind::Str,       Kind::Bytes, Kind::Float, Kind::Tuple,
                                       Kind::Frozenset, Kind::List, Kind::Set,   Kind::Dict};
    for (std::uint32_t k = 0; k < 9; ++k) {
        const int r = PyObject_IsSubclass(cls, reinterpret_cast<PyObject*>(kOrder[k]));
        if (r < 0) {
            PyErr_Clear();
            continue;
        }
        if (r) return BuiltinBase{kKinds[k]};
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
    if (class_is_plain(cls) != Answer::Yes) return LeafInfo::declined();
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
    info.tag = LeafInfo::Tag::Class;
    info.builtin_kind = base.kind;
    return info;
}

LeafInfo PoolOracle::leaf_info_at(std::uint64_t index) {
    PyObject* obj = object(index);
    if (!obj) return LeafInfo::declined();
    LeafInfo info;
    if (obj == Py_None) {
        info.tag = LeafInfo::Tag::None;
        return info;
    }
    if (PyType_Check(obj)) return class_leaf_info(obj);
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyBool_Type) {
        info.tag = LeafInfo::Tag::Bool;
        info.bool_value = obj == Py_True;
    } else if (t == &PyLong_Type) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow || (v == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return LeafInfo::declined();
        }
        info.tag = LeafInfo::Tag::Int;
        info.int_value = v;
    } else if (t == &PyFloat_Type) {
        info.tag = LeafInfo::Tag::Float;
        info.float_value = PyFloat_AS_DOUBLE(obj);
    } else if (t == &PyUnicode_Type) {
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!utf8) {
            PyErr_Clear();
            return LeafInfo::declined();
        }
        info.tag = LeafInfo::Tag::Text;
        info.text.assign(utf8, static_cast<std::size_t>(n));
        info.text_kind = Kind::Str;
    } else if (t == &PyBytes_Type) {
        info.tag = LeafInfo::Tag::Text;
        info.text.assign(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        info.text_kind = Kind::Bytes;
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
    LeafInfo info = class_leaf_info(obj);
    if (info.is_class()) describe_instances(obj, info);
    return info;
}

// --- leaf relation --------------------------------------------------------

bool PoolOracle::prepare_pattern(const ir::Constraint& c) {
    const void* address = static_cast<const void*>(&c.pattern);
    auto it = matchers_.find(c.pattern);
    if (it == matchers_.end()) {
        std::shared_ptr<const pattern::FullMatcher> matcher;
        bool found = false;
        if (receiver_tables_) {
            // The receiver's table is keyed by the addresses of its own
            // constraints, alive and unchanged for the whole call.
            auto r = receiver_tables_->patterns.find(address);
            if (r != receiver_tables_->patterns.end()) {
                matcher = r->second;
                found = true;
            }
        }
        for (std::size_t i = 0; !found && i < pattern_caches_.size(); ++i) {
            matcher = pattern_caches_[i].cache->find(*pattern_caches_[i].schema, c.pattern);
            found = matcher != nullptr;
        }
        if (!found) {
            if (budget_ && !budget_->take(std::uint64_t{1} + c.pattern.size())) return false;
            auto compiled = pattern::compile_full_match(c.pattern, pattern::TextKind::Str);
            if (auto* m = std::get_if<std::shared_ptr<const pattern::FullMatcher>>(&compiled)) matcher = std::move(*m);
            for (const PatternSource& source : pattern_caches_) source.cache->offer(*source.schema, c.pattern, matcher);
        }
        // The call's own matcher of the pattern: the validator's is shared
        // and its lazy DFA small, so the states of many literals would not
        // stay in it; this one's keep the prefixes they share built once.
        std::shared_ptr<const pattern::FullMatcher> own;
        if (matcher) {
            own = matcher->with_cache(kCallMatcherCache);
            own_matchers_.push_back(own.get());
        }
        it = matchers_.emplace(c.pattern, std::move(own)).first;
    }
    walk_tables_->patterns.insert_or_assign(address, it->second);
    return true;
}

bool PoolOracle::prepare_tree(const ir::Node& root) {
    // Each shared list (and child) is looked over once per oracle: it is
    // held from then on, so its address names it for the whole call.
    auto first_time = [this](const auto& shared) {
        return shared && prepared_lists_.try_emplace(static_cast<const void*>(shared.get()), shared).second;
    };
    std::vector<const ir::Node*> stack{&root};
    return ir::for_each_constraint_once(stack, first_time, [this](const ir::Constraint& c) {
        return c.kind != ir::ConstraintKind::Regex || prepare_pattern(c);
    });
}

bool PoolOracle::prepare_patterns(const ir::Node& node) {
    if (!walk_tables_) walk_tables_ = std::make_unique<check::Precompute>();
    if (!definitions_prepared_) {
        for (const ir::Node& d : definitions_)
            if (!prepare_tree(d)) return false;
        definitions_prepared_ = true;
    }
    return prepare_tree(node);
}

std::uint64_t PoolOracle::take_matcher_work() {
    std::uint64_t total = 0;
    for (const pattern::FullMatcher* m : own_matchers_) total += m->stats().nfa_work;
    const std::uint64_t work = total - matcher_work_;
    matcher_work_ = total;
    return work;
}

namespace {

thread_local std::uint64_t t_match_work = 0;
thread_local std::uint64_t t_match_stops = 0;

// What the poll of one walk knows: the oracle, its matchers' work when the
// walk began, and the automaton work the scope had left then.
struct WalkAllowance {
    std::uint64_t start;
    std::uint64_t allowance;
    const std::vector<const pattern::FullMatcher*>* matchers;
    // Set when the hook stopped the walk (the walk holds a copy of the poll).
    bool stopped = false;
};

bool allowance_hook(void* data) {
    auto* a = static_cast<WalkAllowance*>(data);
    std::uint64_t total = 0;
    for (const pattern::FullMatcher* m : *a->matchers) total += m->stats().nfa_work;
    const std::uint64_t done = total - a->start;
    // Goes on while the work is within the allowance (with none left, while
    // no pattern work was done).
    a->stopped = done != 0 && done >= a->allowance / kMatchWorkWeight;
    return !a->stopped;
}

}  // namespace

Answer PoolOracle::walk_verdict(const ir::Node& node, PyObject* value) {
    if (match_work_spent_) return Answer::Declined;
    if (budget_ && !budget_->take()) return Answer::Declined;
    if (!prepare_patterns(node)) return Answer::Declined;
    // The pattern matches of the walk spend the automaton work of the
    // decision's scope, kMatchWorkWeight units per NFA state visited.  The walk's poll
    // asks first when its units (never fewer than the NFA states the
    // matches visited: a new DFA state ticks the most it can cost) reach
    // what is left, then every interval: a walk overruns the allowance by
    // at most an interval and one state's or byte's step.
    WalkAllowance allowance{matcher_work_, descr::scope_work_left(), &own_matchers_, false};
    util::Poll poll(&allowance_hook, &allowance);
    poll.tick(util::Poll::kInterval -
              std::clamp<std::uint64_t>(allowance.allowance / kMatchWorkWeight, 1, util::Poll::kInterval));
    const Membership m = walk_is_member(pool_, definitions_, node, value, *walk_tables_, poll);
    PyErr_Clear();
    const std::uint64_t work = take_matcher_work();
    t_match_work += work;
    descr::charge_scope_work(work * kMatchWorkWeight);
    if (allowance.stopped) {
        ++t_match_stops;
        match_work_spent_ = true;
        return Answer::Declined;
    }
    switch (m) {
        case Membership::Member: return Answer::Yes;
        case Membership::NonMember: return Answer::No;
        default: return Answer::Declined;
    }
}

const char kPatternMatchesDoc[] =
    "_pattern_matches()\n--\n\n"
    "The pattern matches of the membership walks of decisions on the calling\n"
    "thread so far, as a tuple (work, stopped): the NFA states they visited\n"
    "(charged to the decisions' automaton work), and the walks stopped because\n"
    "that work was spent.  A work counter for tests, not part of the public\n"
    "interface.";

PyObject* pattern_matches_function(PyObject*, PyObject*) {
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(t_match_work),
                         static_cast<unsigned long long>(t_match_stops));
}

Answer PoolOracle::literal_in_node(PyObject* constant, const ir::Node& node) {
    // The literal admits the values of the constant's exact type equal to
    // it; the constant stands for all of them only when that equality is
    // value identity.
    const std::optional<Kind> kind = literal_kind(constant);
    if (!kind && !has_default_eq(Py_TYPE(constant))) return Answer::Declined;
    Answer verdict = walk_verdict(node, constant);
    if (verdict == Answer::Yes && kind == Kind::Float && PyFloat_AS_DOUBLE(constant) == 0.0) {
        py::Ref other_zero = py::Ref::steal(PyFloat_FromDouble(-PyFloat_AS_DOUBLE(constant)));
        if (!other_zero) {
            PyErr_Clear();
            return Answer::Declined;
        }
        verdict = walk_verdict(node, other_zero.get());
    }
    return verdict;
}

Answer PoolOracle::enumeration_in_node(PyObject* cls, const ir::Node& node) {
    const EnumTypes* e = enum_types();
    if (!e) return Answer::Declined;
    if (PyObject_IsInstance(cls, e->enum_meta.get()) != 1) {
        PyErr_Clear();
        return Answer::Declined;
    }
    if (PyObject_IsSubclass(cls, e->flag.get()) != 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    if (!has_default_eq(reinterpret_cast<PyTypeObject*>(cls))) return Answer::Declined;
    // Iteration lists every instance only when no `_missing_` hook makes
    // pseudo-members; otherwise a listed member outside the node still
    // refutes, but all of them inside proves nothing.
    const bool listed_are_all = uses_default_missing(cls, e->default_missing.get());
    py::Ref it = py::Ref::steal(PyObject_GetIter(cls));
    if (!it) {
        PyErr_Clear();
        return Answer::Declined;
    }
    std::vector<py::Ref> members;
    while (py::Ref m = py::Ref::steal(PyIter_Next(it.get()))) {
        members.push_back(std::move(m));
        if (members.size() > kMaxEnumerationMembers) break;
    }
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return Answer::Declined;
    }
    if (members.empty() || members.size() > kMaxEnumerationMembers) return Answer::Declined;
    bool aborted = false;
    for (const py::Ref& m : members) {
        const Answer v = walk_verdict(node, m.get());
        if (v == Answer::No) return Answer::No;
        if (v == Answer::Declined) aborted = true;
    }
    return aborted || !listed_are_all ? Answer::Declined : Answer::Yes;
}

Answer PoolOracle::leaf_relation(const ir::Node& leaf, const ir::Node& node) {
    if (leaf.kind == ir::NodeKind::Literal) {
        PyObject* constant = object(leaf.pool_index());
        return constant ? literal_in_node(constant, node) : Answer::Declined;
    }
    if (leaf.kind != ir::NodeKind::Instance) return Answer::Declined;
    PyObject* cls = object(leaf.pool_index());
    if (!cls) return Answer::Declined;
    if (node.kind == ir::NodeKind::Instance) {
        PyObject* target = object(node.pool_index());
        if (!target) return Answer::Declined;
        if (class_is_plain(cls) != Answer::Yes || class_is_plain(target) != Answer::Yes) return Answer::Declined;
        if (!PyType_Check(cls)) return Answer::Declined;
        const int r = PyObject_IsSubclass(cls, target);
        if (r < 0) {
            PyErr_Clear();
            return Answer::Declined;
        }
        return r ? Answer::Yes : Answer::No;
    }
    if (!PyType_Check(cls)) return Answer::Declined;
    return enumeration_in_node(cls, node);
}

// --- order, equality, arithmetic ------------------------------------------

Order PoolOracle::compare(std::uint64_t i, std::uint64_t j) {
    PyObject* a = object(i);
    PyObject* b = object(j);
    if (!a || !b || !has_builtin_order(a) || !has_builtin_order(b)) return Order::Declined;
    return three_way(a, b);
}

Answer PoolOracle::literal_sets_disjoint(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) {
    std::span<const std::uint64_t> hashed = a.size() <= b.size() ? a : b;
    std::span<const std::uint64_t> probed = a.size() <= b.size() ? b : a;
    // An object of a user type takes part only when its equality is
    // identity; otherwise set membership would run its `__eq__`.
    auto usable = [this](std::uint64_t index) -> PyObject* {
        PyObject* obj = object(index);
        if (!obj) return nullptr;
        if (!literal_kind(obj) && !has_default_eq(Py_TYPE(obj))) return nullptr;
        return obj;
    };
    py::Ref set = py::Ref::steal(PySet_New(nullptr));
    if (!set) {
        PyErr_Clear();
        return Answer::Declined;
    }
    for (std::uint64_t index : hashed) {
        PyObject* obj = usable(index);
        if (!obj) return Answer::Declined;
        if (PySet_Add(set.get(), obj) < 0) {
            PyErr_Clear();
            return Answer::Declined;
        }
    }
    for (std::uint64_t index : probed) {
        PyObject* obj = usable(index);
        if (!obj) return Answer::Declined;
        const int found = PySet_Contains(set.get(), obj);
        if (found < 0) {
            PyErr_Clear();
            return Answer::Declined;
        }
        if (found) return Answer::No;
    }
    return Answer::Yes;
}

Answer PoolOracle::integer_interval_empty(std::uint64_t lower, bool lower_exclusive, std::uint64_t upper,
                                          bool upper_exclusive) {
    PyObject* lo = object(lower);
    PyObject* hi = object(upper);
    if (!lo || !hi || !is_builtin_number(lo) || !is_builtin_number(hi)) return Answer::Declined;
    const MathRounding* m = math_rounding();
    if (!m) return Answer::Declined;
    py::Ref one = py::Ref::steal(PyLong_FromLong(1));
    if (!one) {
        PyErr_Clear();
        return Answer::Declined;
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
        return Answer::Declined;
    }
    const Order order = three_way(least.get(), greatest.get());
    if (order == Order::Declined) return Answer::Declined;
    return order == Order::Greater ? Answer::Yes : Answer::No;
}

Answer PoolOracle::divides(std::uint64_t divisor, std::uint64_t dividend) {
    PyObject* d = object(divisor);
    PyObject* n = object(dividend);
    if (!d || !n) return Answer::Declined;
    // An exact text's `__mod__` formats it: a text or an error, never 0.
    if (Py_IS_TYPE(n, &PyUnicode_Type) || Py_IS_TYPE(n, &PyBytes_Type) || Py_IS_TYPE(n, &PyByteArray_Type))
        return Answer::No;
    py::Ref rem = py::Ref::steal(PyObject_CallMethodOneArg(n, TS_INTERNED("__mod__"), d));
    if (!rem || rem.get() == Py_NotImplemented) {
        PyErr_Clear();
        return Answer::Declined;
    }
    py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
    const int t = zero ? truth_of(PyObject_CallMethodOneArg(rem.get(), TS_INTERNED("__eq__"), zero.get())) : -1;
    if (t < 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    return t ? Answer::Yes : Answer::No;
}

Answer PoolOracle::literals_distinct(std::uint64_t i, std::uint64_t j) {
    PyObject* a = object(i);
    PyObject* b = object(j);
    if (!a || !b) return Answer::Declined;
    if (Py_TYPE(a) != Py_TYPE(b)) return Answer::Yes;
    if (!literal_kind(a) && !has_default_eq(Py_TYPE(a))) return Answer::Declined;
    const int t = truth_of(PyObject_RichCompare(a, b, Py_EQ));
    if (t < 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    return t ? Answer::No : Answer::Yes;
}

// --- classes and kinds ----------------------------------------------------

Answer PoolOracle::class_atom_is_plain(const ir::Node& instance) {
    if (instance.kind != ir::NodeKind::Instance) return Answer::Declined;
    PyObject* cls = object(instance.pool_index());
    return cls ? class_is_plain(cls) : Answer::Declined;
}

std::optional<Kind> PoolOracle::constant_kind(std::uint64_t index) {
    PyObject* obj = object(index);
    return obj ? literal_kind(obj) : std::nullopt;
}

Answer PoolOracle::class_kind_answer(std::uint64_t class_index, Kind kind, bool plain_none_is_no) {
    PyObject* cls = object(class_index);
    if (!cls || !PyType_Check(cls) || class_is_plain(cls) != Answer::Yes) return Answer::Declined;
    const BuiltinBase base = builtin_base_kind(cls);
    if (base.kind == Kind::Other) return plain_none_is_no ? Answer::No : Answer::Declined;
    return (kind == base.kind || (kind == Kind::Bool && base.kind == Kind::Int)) ? Answer::Yes : Answer::No;
}

Answer PoolOracle::class_overlaps_kind(std::uint64_t class_index, Kind kind) {
    return class_kind_answer(class_index, kind, false);
}

Answer PoolOracle::class_produces_kind(std::uint64_t class_index, Kind kind) {
    return class_kind_answer(class_index, kind, true);
}

Answer PoolOracle::kind_within_class(Kind kind, std::uint64_t class_index) {
    PyObject* cls = object(class_index);
    if (!cls || !PyType_Check(cls) || class_is_plain(cls) != Answer::Yes) return Answer::Declined;
    PyObject* type = builtin_type_of_kind(kind);
    if (!type) return Answer::Declined;
    const int r = PyObject_IsSubclass(type, cls);
    if (r < 0) {
        PyErr_Clear();
        return Answer::Declined;
    }
    return r ? Answer::Yes : Answer::No;
}

}  // namespace tessaron::python
