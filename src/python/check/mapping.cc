// Mapping (record and dict) and object-attribute checks.
//
// What it computes: a dict matches a mapping node when every required
// declared key is present, every declared key present has a matching value,
// and every other key with its value is admitted by some catch-all clause;
// any object matches an object node when its declared attributes are
// present when required and match.
//
// A mapping is checked in two passes.  The verdict pass stops at the first
// problem and records nothing; for records with a lookup-table entry and a
// simple clause list it looks each declared key up directly (one dict
// lookup per key, no allocation).  Only when the verdict is false and
// failures are recorded does the explaining pass run, starting where the
// verdict pass stopped (`ResumePoint`) when the dict has not changed size.
//
// Invariants: dicts are read with the dict API (no `__getitem__` or
// `__missing__` of a subclass runs); each key and value is held by a strong
// reference while it is walked; items are read through `py::DictItems`,
// safe when user code runs between two of them; a dict whose size changes
// while it is read is not a member, and the change is reported as
// "mutated_during_validation"; so is one whose version changes (a key
// swapped for another keeps the size, and iterating such a dict may skip a
// key it now holds).  PyPy's dicts carry no version: there the items are
// read from a snapshot, so none is skipped, and a change that keeps the
// size goes unseen.  A lookup in a dict holding a key whose type compares by
// code of its own may call that code: once the walk's memo is on, such a
// lookup counts as user code for it (context.h).  An attribute read counts
// as user code unless it is known to call nothing: the type reads
// attributes the generic way, the dicts of the type, its bases and the
// instance hold plain keys only, and the name is no descriptor's but a
// slot's (`object_reads_plain`, `name_read_plain`).  Budget: each pass reads
// every declared key
// once and each dict item at most once (the keys' types once more while the
// memo is on, and again after user code ran); undeclared items are tried
// against each clause verdict-only.  An object's dict is looked at once per
// object and user-code epoch (its keys only when it is not split), the
// dicts of its type and bases once per run of objects of one type.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python/binding/dict_items.h"
#include "python/check/declared_keys.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"

namespace tessaron::python::check {

namespace {

// The dict's version: the interpreter gives every change of a dict a new
// one.  The field is deprecated for other uses; reading it is the only way
// to see a change that keeps the size.
std::uint64_t dict_version(PyObject* dict) {
#ifdef PYPY_VERSION
    (void)dict;
    return 0;
#else
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#endif
}

// A dict as a pass found it: a pass that sees it changed stops.
class DictSnapshot {
public:
    explicit DictSnapshot(PyObject* dict)
        : dict_(dict), size_(PyDict_GET_SIZE(dict)), version_(dict_version(dict)) {}
    Py_ssize_t size() const { return size_; }
    bool changed() const { return PyDict_GET_SIZE(dict_) != size_ || dict_version(dict_) != version_; }

private:
    PyObject* dict_;
    Py_ssize_t size_;
    std::uint64_t version_;
};

// Whether some key of `dict` compares by code we do not control: only keys
// of the builtin scalar types (whose comparisons with a str are builtin and
// call nothing) are known not to.
[[gnu::cold]] bool holds_foreign_keys(PyObject* dict) {
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &position, &key, &value)) {
        PyTypeObject* type = Py_TYPE(key);
        if (!has_plain_equality(type) && type != &PyFloat_Type) return true;
    }
    return false;
}

// Lookups of declared keys in a value's dict.  A lookup compares the key
// sought with each stored key of the same hash, calling the stored key's
// `__eq__` when its type has one of its own, so a lookup in a dict holding
// such a key counts as user code for the memo (it cannot tell which
// lookups met that key).  Called before a lookup that may follow the
// making of what the memo holds: before the first, and after each walk
// between two.  The dict's keys are read only while the memo is on
// (before, nothing remembered can go stale), and read again after user
// code ran (which may have added such a key).  `plain_at` is the epoch at
// which the keys were last read and found plain (kUnread before); the new
// value is returned.
constexpr std::uint64_t kUnread = ~std::uint64_t{0};

[[gnu::noinline, gnu::cold]] std::uint64_t note_dict_lookup(PyObject* dict, WalkState& st, std::uint64_t plain_at) {
    if (plain_at == st.user_code) return plain_at;
    if (!holds_foreign_keys(dict)) return st.user_code;
    st.note_user_code();
    return kUnread;
}

struct ResumePoint {
    bool valid = false;
    std::size_t entry_index = 0;
    std::size_t present = 0;
    Py_ssize_t dict_size = 0;
    // A failing predicate failed the walk of entry `miss_entry` (the
    // state's `predicate_miss`).
    bool missed = false;
    std::size_t miss_entry = 0;
};

// After the verdict walk of entry `index` failed: notes whether it met a
// failing predicate (`misses` the state's count before it).
void keep_predicate_miss(ResumePoint& resume, std::size_t index, WalkState& st, std::uint64_t misses) {
    if (st.predicate_misses == misses) return;
    resume.missed = true;
    resume.miss_entry = index;
}

enum class SimpleClauses { None, AnyAny, StrAny, Other };

SimpleClauses classify_clauses(std::span<const ir::Clause> clauses) {
    if (clauses.empty()) return SimpleClauses::None;
    if (clauses.size() != 1) return SimpleClauses::Other;
    const ir::Clause& c = clauses.front();
    if (c.value.kind != ir::NodeKind::Anything) return SimpleClauses::Other;
    if (c.key.kind == ir::NodeKind::Anything) return SimpleClauses::AnyAny;
    if (c.key.kind == ir::NodeKind::Str) return SimpleClauses::StrAny;
    return SimpleClauses::Other;
}

// The text of a dict key that may stand for a declared name: an exact str,
// or a str subclass instance that hashes and compares like the plain str of
// its text.  Exceptions on the way follow the walk's rule; they give no
// text.
std::optional<std::string_view> str_key_text(PyObject* key, WalkState& st) {
    if (!PyUnicode_Check(key)) return std::nullopt;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
    if (!utf8) {
        absorb_error(st);
        return std::nullopt;
    }
    const std::string_view text(utf8, static_cast<std::size_t>(len));
    if (PyUnicode_CheckExact(key)) return text;
    st.note_user_code();  // the subclass's __hash__ and __eq__
    py::Ref plain = py::Ref::steal(PyUnicode_FromStringAndSize(utf8, len));
    if (!plain) {
        absorb_error(st);
        return std::nullopt;
    }
    const Py_hash_t key_hash = PyObject_Hash(key);
    if (key_hash == -1 && PyErr_Occurred()) {
        absorb_error(st);
        return std::nullopt;
    }
    if (key_hash != PyObject_Hash(plain.get())) return std::nullopt;
    py::Ref eq = py::Ref::steal(PyObject_RichCompare(key, plain.get(), Py_EQ));
    if (!eq) {
        absorb_error(st);
        return std::nullopt;
    }
    const int truth = PyObject_IsTrue(eq.get());
    if (truth <= 0) {
        if (truth < 0) absorb_error(st);
        return std::nullopt;
    }
    // The UTF-8 buffer belongs to `key`, which the caller holds.
    return text;
}

// The places of a dict's items (source.h): the value of a declared key at
// the key's index, any other key and its value by the key's identity, the
// keys one past the dict's identity.
PySource declared_value(PyObject* value, PyObject* dict, std::size_t index) {
    return PySource{value, PySource::identity_of(dict), index};
}
std::uint64_t key_slot(PyObject* key) { return PySource::identity_of(key) | (std::uint64_t{1} << 63); }
PySource extra_key(PyObject* key, PyObject* dict) {
    return PySource{key, PySource::identity_of(dict) + 1, key_slot(key)};
}
PySource extra_value(PyObject* key, PyObject* value, PyObject* dict) {
    return PySource{value, PySource::identity_of(dict), key_slot(key)};
}

// Whether some clause admits the key and then the value (verdict-only).
bool match_extra_pair(std::span<const ir::Clause> clauses, PyObject* dict, PyObject* key, PyObject* value,
                      WalkContext& ctx) {
    std::vector<Violation> none;
    WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly);
    // The next clause, or the explaining pass, walks the pair again.
    RevisitScope scope(*ctx.state, ctx.recording() || clauses.size() > 1);
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        if (i != 0) scope.again();
        if (walk(clauses[i].key, extra_key(key, dict), sub) && walk(clauses[i].value, extra_value(key, value, dict), sub))
            return true;
        if (ctx.state->stop) return false;
    }
    return false;
}

// 0 every key is a str; 1 some key is not; 2 the dict changed size; 3 the
// items could not be read (the error absorbed), or a signal handler raised.
int dict_keys_all_str(PyObject* dict, WalkState& st) {
    const DictSnapshot snapshot(dict);
    py::DictItems items;
    if (!items.open(dict)) {
        absorb_error(st);
        return 3;
    }
    Py_ssize_t taken = 0;
    PyObject *key, *value;
    while (taken < snapshot.size()) {
        if (snapshot.changed()) return 2;
        if (!items.next(key, value)) break;
        ++taken;
        if (!PyUnicode_Check(key)) return 1;
        if (!st.tick(kScanItemUnits)) return 3;  // a signal handler raised
    }
    return snapshot.changed() ? 2 : 0;
}

// The verdict pass over a Python dict.  `fast` is set when the direct
// lookup variant may be used.  `Fill` (when recording) fills `resume` for
// the explaining pass; without it the pass keeps nothing, at no cost to
// `is_valid`.
template <bool Fill>
bool mapping_verdict(const ir::Node& node, PyObject* dict, WalkContext& ctx, ResumePoint& resume) {
    WalkState& st = *ctx.state;
    const auto entries = ir::as_span(node.entries);
    const auto clauses = ir::as_span(node.clauses);
    const RecordKeys* table = record_table(node, st);
    const DeclaredKeys keys(entries, table);
    std::vector<Violation> none;
    WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly);
    constexpr bool fill = Fill;
    const SimpleClauses simple = classify_clauses(clauses);

    if (table && table->names.size() == entries.size() && table->plain.size() == entries.size() &&
        simple != SimpleClauses::Other) {
        const DictSnapshot snapshot(dict);
        const Py_ssize_t start = snapshot.size();
        std::size_t present = 0;
        bool fall_back = false;
        // What the memo holds can go stale by a lookup only when it was
        // made before the loop or by the walks in it: the dict is looked at
        // before the loop and after each walk.
        std::uint64_t plain_at = kUnread;
        if (st.memo_on) [[unlikely]]
            plain_at = note_dict_lookup(dict, st, plain_at);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            PyObject* item = PyDict_GetItemWithError(dict, table->names[i].get());
            if (!item) {
                if (PyErr_Occurred()) {
                    absorb_error(st);
                    if (st.stop) return false;
                    fall_back = true;
                    break;
                }
                if (!entries[i].required) continue;
                if (fill) resume = ResumePoint{true, i, present, start};
                return false;
            }
            // A plain value is answered by its test where the walk of it
            // would not cross the nesting limit, the levels of that walk
            // noted as reached (plain_scan.h).
            const PlainTest& plain = table->plain[i];
            int answer = -1;
            if (plain && st.depth + plain.levels() <= kMaxWalkDepth) {
                st.reached(st.depth + plain.levels_above_tests());
                answer = plain_answer(plain, item);
            }
            if (answer == 0) {
                if (fill) resume = ResumePoint{true, i, present, start};
                return false;
            }
            if (answer < 0) {
                py::Ref held = py::Ref::borrow(item);
                const std::uint64_t misses = fill ? st.predicate_misses : 0;
                if (!walk(entries[i].value, declared_value(held.get(), dict, i), sub)) {
                    if (fill) {
                        resume = ResumePoint{true, i, present, start};
                        keep_predicate_miss(resume, i, st, misses);
                    }
                    return false;
                }
                if (st.memo_on) [[unlikely]]
                    plain_at = note_dict_lookup(dict, st, plain_at);
            }
            ++present;
        }
        if (!fall_back) {
            if (fill) resume = ResumePoint{true, entries.size(), present, start};
            if (snapshot.changed()) return false;
            if (static_cast<Py_ssize_t>(present) == start) return true;
            switch (simple) {
                case SimpleClauses::None: return false;
                case SimpleClauses::AnyAny: return true;
                case SimpleClauses::StrAny: return dict_keys_all_str(dict, st) == 0;
                case SimpleClauses::Other: break;
            }
            return false;
        }
    }

    const DictSnapshot snapshot(dict);
    const Py_ssize_t start = snapshot.size();
    std::size_t left = keys.required_count();
    py::DictItems items;
    if (!items.open(dict)) {
        absorb_error(st);
        return false;
    }
    Py_ssize_t taken = 0;
    PyObject *key_b, *value_b;
    while (taken < start) {
        if (snapshot.changed()) return false;
        if (!items.next(key_b, value_b)) break;
        ++taken;
        py::Ref key = py::Ref::borrow(key_b);
        py::Ref value = py::Ref::borrow(value_b);
        std::optional<std::size_t> index;
        if (auto text = str_key_text(key.get(), st)) index = keys.find(*text);
        if (st.stop) return false;
        if (index) {
            const std::uint64_t misses = fill ? st.predicate_misses : 0;
            if (!walk(entries[*index].value, declared_value(value.get(), dict, *index), sub)) {
                if (fill) keep_predicate_miss(resume, *index, st, misses);
                return false;
            }
            if (entries[*index].required) --left;
        } else if (!match_extra_pair(clauses, dict, key.get(), value.get(), ctx)) {
            return false;
        }
    }
    return !snapshot.changed() && left == 0;
}

// `changed_before`: the dict changed while the verdict pass read it, which
// is reported after what this pass finds in the dict as it is now.
void explain_mapping(const ir::Node& node, const PySource& src, WalkContext& ctx, const ResumePoint& resume,
                     bool changed_before) {
    WalkState& st = *ctx.state;
    PyObject* dict = src.obj;
    if (!PyDict_Check(dict)) {
        push_violation("dict_type", "dict", src, ctx);
        return;
    }
    const auto entries = ir::as_span(node.entries);
    const auto clauses = ir::as_span(node.clauses);
    const DeclaredKeys keys(entries, record_table(node, st));
    const std::size_t recorded_before = ctx.recorded();
    auto recorded = [&] { return ctx.recorded() > recorded_before; };
    const DictSnapshot snapshot(dict);
    const Py_ssize_t start = snapshot.size();
    std::size_t first = 0, present = 0;
    if (resume.valid && resume.dict_size == start) {
        first = resume.entry_index;
        present = resume.present;
    }
    std::uint64_t plain_at = kUnread;
    for (std::size_t i = first; i < entries.size(); ++i) {
        const ir::RecordEntry& entry = entries[i];
        py::Ref name = py::Ref::steal(keys.name(i));
        if (st.memo_on) [[unlikely]]
            plain_at = note_dict_lookup(dict, st, plain_at);
        PyObject* item = name ? PyDict_GetItemWithError(dict, name.get()) : nullptr;
        if (item) {
            py::Ref held = py::Ref::borrow(item);
            ctx.path->push(PathKey{entry.key});
            walk(entry.value, declared_value(held.get(), dict, i), ctx);
            ctx.path->pop();
            ++present;
        } else {
            if (PyErr_Occurred()) {
                absorb_error(st);
                if (st.stop) return;
            }
            if (entry.required && !st.stop && !profiled_failure("missing_key", ctx, 1)) {
                ctx.violations->push_back(make_keyed_violation(*ctx.path, PathKey{entry.key}, "missing_key",
                                                               "required key " + std::string(entry.key_view()),
                                                               "missing"));
            }
        }
        if (st.stop) return;
        if (ctx.mode == WalkMode::FailFast && recorded()) return;
    }
    if (static_cast<Py_ssize_t>(present) == start && !snapshot.changed()) {
        if (changed_before) report_mutated(src, ctx);
        return;
    }

    bool mutated = false;
    py::DictItems items;
    if (!items.open(dict)) {
        absorb_error(st);
        return;
    }
    Py_ssize_t taken = 0;
    PyObject *key_b, *value_b;
    while (taken < start) {
        if (snapshot.changed()) {
            mutated = true;
            break;
        }
        if (!items.next(key_b, value_b)) break;
        ++taken;
        py::Ref key = py::Ref::borrow(key_b);
        py::Ref value = py::Ref::borrow(value_b);
        if (auto text = str_key_text(key.get(), st); text && keys.find(*text)) continue;
        if (st.stop) return;
        if (match_extra_pair(clauses, dict, key.get(), value.get(), ctx)) continue;
        if (st.stop) return;
        if (!clauses.empty()) {
            // A key shown by its safe text may share its segment with
            // another key: its walks are in a place of its own.
            std::optional<PlaceScope> place;
            if (!PyUnicode_CheckExact(key.get()) && !PyLong_CheckExact(key.get()))
                place.emplace(st, PySource::identity_of(key.get()));
            // A profiling walk needs only the path's length.
            ctx.path->push(ctx.profile ? PathSegment(PathIndex{0}) : key_segment(key.get(), st));
            walk(clauses.front().key, extra_key(key.get(), dict), ctx);
            if (ctx.mode == WalkMode::CollectAll || !recorded())
                walk(clauses.front().value, extra_value(key.get(), value.get(), dict), ctx);
            ctx.path->pop();
        } else if (!profiled_failure("extra_forbidden", ctx, 1)) {
            PathSegment segment = key_segment(key.get(), st);
            std::string shown = violation_value_text(PySource{key.get()}, st);
            if (st.stop) return;
            ctx.violations->push_back(make_keyed_violation(*ctx.path, std::move(segment), "extra_forbidden",
                                                           "no unexpected key", std::move(shown)));
        }
        if (st.stop) return;
        if (ctx.mode == WalkMode::FailFast && recorded()) return;
    }
    if (mutated || changed_before || snapshot.changed()) report_mutated(src, ctx);
}

}  // namespace

// After a failed verdict pass, when recording: the explaining pass, and
// what to report when it finds nothing.  Kept out of line so that the
// verdict pass, called once below, is inlined into the check.
[[gnu::noinline]] static void explain_failed_mapping(const ir::Node& node, const PySource& src, WalkContext& ctx,
                                                     const ResumePoint& resume, bool changed,
                                                     const RevisitScope& scope) {
    WalkState& st = *ctx.state;
    if (st.stop) return;
    PredicateMiss miss;
    if (resume.missed) miss = std::move(st.predicate_miss);
    scope.again();
    const std::size_t before = ctx.recorded();
    const RepeatScope repeats(st);  // failures in the report already count as found
    explain_mapping(node, src, ctx, resume, changed);
    if (ctx.recorded() == before && repeats.gathered().count == 0 && !st.stop) {
        // The explaining pass found nothing, and no read of the dict saw it
        // change: if the verdict pass failed an entry by a predicate, that
        // predicate answered otherwise the second time (it raised or
        // refused once), and its failure is the report.  Else the value
        // changed where no read can see it.
        if (miss.code) push_predicate_miss(miss, PathKey{ir::as_span(node.entries)[resume.miss_entry].key}, ctx);
        if (ctx.recorded() == before && !st.stop) report_mutated(src, ctx);
    }
}

bool check_mapping(const ir::Node& node, const PySource& src, WalkContext& ctx) {
    ResumePoint resume;
    if (!ctx.recording()) return PyDict_Check(src.obj) && mapping_verdict<false>(node, src.obj, ctx, resume);
    std::optional<DictSnapshot> snapshot;
    // The explaining pass walks again what the verdict pass walked: what
    // the verdict pass walked through back edges is remembered for it, so
    // each level of a recursive value is not walked again by the verdict
    // pass of every level above it.
    const RevisitScope scope(*ctx.state);
    if (PyDict_Check(src.obj)) {
        snapshot.emplace(src.obj);
        if (mapping_verdict<true>(node, src.obj, ctx, resume)) return true;
    }
    explain_failed_mapping(node, src, ctx, resume, snapshot && snapshot->changed(), scope);
    return false;
}

// The dict `obj` keeps its attributes in, if it has made one, without
// making it; nullptr if it has none yet.  An object whose type manages its
// dict holds it three words before its header, or (until something asks
// for the dict, which is the common case) only the values, under the
// type's shared keys: all exact strs (on 3.12 that word then holds the
// values' address with its low bit set).  Any other finds it at its dict
// offset.
#ifndef PYPY_VERSION
PyObject* made_instance_dict(PyObject* obj, PyTypeObject* type) {
    if (PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT)) {
        PyObject* dict = reinterpret_cast<PyObject**>(obj)[-3];
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
        if (reinterpret_cast<std::uintptr_t>(dict) & 1) return nullptr;
#endif
        return dict;
    }
    if (type->tp_dictoffset == 0) return nullptr;
    PyObject** slot = _PyObject_GetDictPtr(obj);
    return slot ? *slot : nullptr;
}

// Whether looking an exact str up in `dict` (a dict of attributes) calls
// no code we do not control: a split table's keys are the type's shared
// keys, which are exact strs; a combined table's keys are looked at
// (`holds_foreign_keys`).
bool attribute_lookups_plain(PyObject* dict) {
    if (reinterpret_cast<PyDictObject*>(dict)->ma_values) return true;
    return !holds_foreign_keys(dict);
}

// Whether the dicts of `type` and its bases hold only keys whose
// comparison with a str calls nothing (a lookup of a name in them, made on
// a miss of the interpreter's attribute cache, may call such a key's
// `__eq__`).  Builtin static types hold exact strs.  The walk remembers the
// last type found plain for as long as no user code runs (no dict of a
// type changes meanwhile).
bool type_dicts_plain(PyTypeObject* type, WalkState& st) {
    if (reinterpret_cast<PyObject*>(type) == st.plain_type.get() && st.plain_type_at == st.user_code) return true;
    PyObject* mro = type->tp_mro;
    if (!mro || !PyTuple_Check(mro)) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        if (!PyType_Check(base)) return false;
        auto* base_type = reinterpret_cast<PyTypeObject*>(base);
        if (!PyType_HasFeature(base_type, Py_TPFLAGS_HEAPTYPE)) continue;
        PyObject* dict = base_type->tp_dict;
        if (!dict || !PyDict_Check(dict) || holds_foreign_keys(dict)) return false;
    }
    st.plain_type = py::Ref::borrow(reinterpret_cast<PyObject*>(type));
    st.plain_type_at = st.user_code;
    return true;
}
#endif

// Whether reading attributes of `obj` runs no code we do not control, as
// far as the object goes: its type reads attributes the generic way (no
// `__getattribute__` or `__getattr__` of its own), the dicts of the type
// and its bases compare a name with plain keys only, and so does the
// instance's dict, if it has made one.  On PyPy every read counts.
bool object_reads_plain(PyObject* obj, WalkState& st) {
#ifdef PYPY_VERSION
    (void)obj;
    (void)st;
    return false;
#else
    PyTypeObject* type = Py_TYPE(obj);
    if (type->tp_getattro != PyObject_GenericGetAttr || !type_dicts_plain(type, st)) return false;
    PyObject* dict = made_instance_dict(obj, type);
    return !dict || attribute_lookups_plain(dict);
#endif
}

// Whether reading attribute `name` of an object that `object_reads_plain`
// admits runs no code we do not control: the class attribute of that name,
// if any, is no descriptor but a builtin slot's (a property, or any other
// `__get__`, runs code).  The value then comes from the instance's dict,
// its slot, or the class.
bool name_read_plain(PyObject* obj, PyObject* name) {
    PyObject* found = _PyType_Lookup(Py_TYPE(obj), name);
    return !found || Py_TYPE(found)->tp_descr_get == nullptr || Py_IS_TYPE(found, &PyMemberDescr_Type);
}

template <ValueSource Source>
bool check_object_attributes(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    py::Ref holder;
    PyObject* obj = src.as_python(holder);
    if (!obj) {
        absorb_error(st);
        return false;
    }
    const auto entries = ir::as_span(node.entries);
    if (entries.empty()) return true;
    const std::vector<py::Ref>* names = nullptr;
    if (!st.tables->attribute_names.empty()) {
        auto it = st.tables->attribute_names.find(Precompute::key_of(node.entries));
        if (it != st.tables->attribute_names.end() && it->second.size() == entries.size()) names = &it->second;
    }
    bool verdict = true;
    // The user-code epoch in which the object was last found to read its
    // attributes plainly (kUnread before): it is looked at again only after
    // user code ran, which may have given its dict a key of its own kind.
    std::uint64_t plain_at = kUnread;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ir::RecordEntry& entry = entries[i];
        py::Ref name;
        if (names) {
            name = (*names)[i];
        } else {
            const std::string_view text = entry.key_view();
            name = py::Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        }
        if (plain_at != st.user_code && object_reads_plain(obj, st)) plain_at = st.user_code;
        if (plain_at != st.user_code || !name || !name_read_plain(obj, name.get())) st.note_user_code();
        py::Ref attr = name ? py::Ref::steal(PyObject_GetAttr(obj, name.get())) : py::Ref();
        if (!attr) {
            absorb_error(st);
            if (st.stop) return false;
            if (!entry.required) continue;
            if (!ctx.recording()) return false;
            if (!profiled_failure("missing_attribute", ctx, 1))
                ctx.violations->push_back(make_keyed_violation(*ctx.path, PathKey{entry.key}, "missing_attribute",
                                                               "attribute " + std::string(entry.key_view()),
                                                               "missing"));
            if (ctx.mode == WalkMode::FailFast) return false;
            verdict = false;
            continue;
        }
        bool member;
        // An attribute's place is its object and its index among the
        // node's declared attributes.
        const PySource child{attr.get(), PySource::identity_of(obj), i};
        if (ctx.recording()) {
            ctx.path->push(PathKey{entry.key});
            member = walk(entry.value, child, ctx);
            ctx.path->pop();
        } else {
            member = walk(entry.value, child, ctx);
        }
        if (!member) {
            if (ctx.mode != WalkMode::CollectAll || st.stop) return false;
            verdict = false;
        }
    }
    return verdict;
}

#define TS_INSTANTIATE_OBJECT(S) \
    template bool check_object_attributes<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_OBJECT)
#undef TS_INSTANTIATE_OBJECT

}  // namespace tessaron::python::check
