// Building, reaching and guarding a validator's lookup tables.
//
// What it computes: the `Precompute` tables of a finished schema, in
// one pass over the root and then each definition (a back edge is never
// followed; each definition is visited by the pass itself):
//   - `record_keys`: for each mapping node with entries, the interned name of
//     every entry, a map from key text to its (last) position, and the
//     number of required entries;
//   - `attribute_names`: for each object node with entries, the interned
//     name of every entry;
//   - `literal_sets`: for each union made only of literals, the values of
//     its exact-int members that fit in 64 bits and the texts of its
//     exact-str members;
//   - `patterns`: every pattern of a refined node, compiled for whole-text
//     matching;
//   - `native`: native copies of every literal's constant and of every
//     refinement whose constraints need no Python object, for JSON values
//     (native_checks.h).
//
// Invariants: every table is keyed by the address of the shared list (or
// pattern text) it describes; shared lists never change and live as long as
// the tree, so one address names one list for the validator's life.  A node
// reached through several parents is visited once (the pass remembers the
// nodes it has seen), so a schema that shares a part many times costs its
// distinct nodes only, and an existing entry is never rebuilt.  A pattern
// text compiles once per validator even when several constraints carry it.
// Building never fails on the schema's content: a constant that does not
// convert is left out of the sets, and the readers fall back to the nodes.
//
// The once-lock: the first validating call builds the tables under the
// cell's mutex; a thread that arrives meanwhile waits for the mutex without
// the interpreter lock, so the two locks are always taken mutex first.  The
// build itself gives the interpreter lock up while it compiles patterns
// (pure native work), taking it back now and then to run pending signal
// handlers; a handler that raises fails the build with its exception, and
// the next call builds again.  Once `ready_` is published the tables never
// change, so readers on any thread use them without a lock.
//
// Budget: one pass over the distinct nodes; one interned str per declared
// key; one compilation per distinct pattern text.
#include "python/check/precompute.h"

#include <vector>

#include "python/binding/signals.h"
#include "python/check/json_stream.h"
#include "python/validator.h"

namespace tessaron::python::check {

namespace {

// A new interned str of a key text; nullptr with an exception set.
py::Ref interned_name(std::string_view text) {
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    if (!s) return py::Ref();
    PyUnicode_InternInPlace(&s);
    return py::Ref::steal(s);
}

// Drops a conversion error, unless the interpreter is out of memory (which
// fails the build).  True when the error was dropped.
bool drop_conversion_error() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
    PyErr_Clear();
    return true;
}

class TableBuilder {
public:
    TableBuilder(std::span<const py::Ref> pool, Precompute& out, const CompiledSchema& schema, PatternCache* patterns)
        : pool_(pool), out_(out), schema_(schema), patterns_(patterns) {}

    // Adds what `root` and its descendants contribute.  False with a Python
    // exception set when the interpreter fails (memory) or a signal
    // handler raised while patterns compiled.
    bool add(const ir::Node& root) {
        stack_.push_back(&root);
        while (!stack_.empty()) {
            const ir::Node* node = stack_.back();
            stack_.pop_back();
            if (!visit(*node)) return false;
        }
        return true;
    }

private:
    void push(const ir::Node& node) {
        if (ir::is_leaf_kind(node.kind)) return;
        if (seen_.insert(&node).second) stack_.push_back(&node);
    }
    void push(const ir::SharedNode& node) {
        if (node) push(*node);
    }

    bool visit(const ir::Node& node) {
        switch (node.kind) {
            case ir::NodeKind::Sequence:
                for (const ir::Node& element : ir::as_span(node.prefix())) push(element);
                push(node.tail());
                return true;
            case ir::NodeKind::Set:
            case ir::NodeKind::Complement:
                push(node.child);
                return true;
            case ir::NodeKind::Mapping:
                if (!add_record_keys(node)) return false;
                for (const ir::RecordEntry& entry : ir::as_span(node.entries)) push(entry.value);
                for (const ir::Clause& clause : ir::as_span(node.clauses)) {
                    push(clause.key);
                    push(clause.value);
                }
                return true;
            case ir::NodeKind::Union:
                if (!add_literal_sets(node)) return false;
                for (const ir::Node& member : ir::as_span(node.members())) push(member);
                return true;
            case ir::NodeKind::Intersection:
                for (const ir::Node& member : ir::as_span(node.members())) push(member);
                return true;
            case ir::NodeKind::Object:
                if (!add_attribute_names(node)) return false;
                for (const ir::RecordEntry& entry : ir::as_span(node.entries)) push(entry.value);
                return true;
            case ir::NodeKind::Refined:
                push(node.inner());
                return add_patterns(node);
            default:
                return true;
        }
    }

    bool add_record_keys(const ir::Node& node) {
        const void* key = Precompute::key_of(node.entries);
        if (!key || out_.record_keys.contains(key)) return true;
        const auto entries = ir::as_span(node.entries);
        RecordKeys record;
        record.names.reserve(entries.size());
        record.texts.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ir::RecordEntry& entry = entries[i];
            record.positions.insert_or_assign(entry.key_view(), static_cast<std::uint64_t>(i));
            if (entry.required) ++record.required;
            record.texts.push_back(entry.key);
            py::Ref name = interned_name(entry.key_view());
            // A key text that is not UTF-8 leaves the record without an
            // entry: the check then works from the node's entries.
            if (!name) return drop_conversion_error();
            record.names.push_back(std::move(name));
        }
        out_.record_keys.emplace(key, std::move(record));
        records_.emplace_back(key, entries);
        return true;
    }

public:
    // The plain tests of the records' values, once the literal sets they
    // may point into are all built (the map never changes afterwards).
    void add_plain_tests() {
        for (const auto& [key, entries] : records_) {
            RecordKeys& record = out_.record_keys.find(key)->second;
            record.plain.reserve(entries.size());
            for (const ir::RecordEntry& entry : entries) record.plain.push_back(plain_test(entry.value, out_));
        }
    }

private:

    bool add_attribute_names(const ir::Node& node) {
        const void* key = Precompute::key_of(node.entries);
        if (!key || out_.attribute_names.contains(key)) return true;
        std::vector<py::Ref> names;
        names.reserve(node.entries->size());
        for (const ir::RecordEntry& entry : ir::as_span(node.entries)) {
            py::Ref name = interned_name(entry.key_view());
            if (!name) return drop_conversion_error();
            names.push_back(std::move(name));
        }
        out_.attribute_names.emplace(key, std::move(names));
        return true;
    }

    bool add_literal_sets(const ir::Node& node) {
        const void* key = Precompute::key_of(node.members());
        if (!key || out_.literal_sets.contains(key)) return true;
        LiteralSets sets;
        sets.strs.reserve(node.members()->size());
        for (const ir::Node& member : ir::as_span(node.members())) {
            if (member.kind != ir::NodeKind::Literal || member.pool_index() >= pool_.size()) return true;
            PyObject* constant = pool_[member.pool_index()].get();
            if (PyLong_CheckExact(constant)) {
                int overflow = 0;
                const long long value = PyLong_AsLongLongAndOverflow(constant, &overflow);
                if (overflow == 0 && !(value == -1 && PyErr_Occurred())) {
                    sets.ints.insert(static_cast<std::int64_t>(value));
                } else if (PyErr_Occurred() && !drop_conversion_error()) {
                    return false;
                }
            } else if (PyUnicode_CheckExact(constant)) {
#ifndef PYPY_VERSION
                sets.str_objects.insert(constant);
#endif
                Py_ssize_t size = 0;
                const char* utf8 = PyUnicode_AsUTF8AndSize(constant, &size);
                if (utf8)
                    sets.strs.emplace(utf8, static_cast<std::size_t>(size));
                else if (!drop_conversion_error())
                    return false;
            }
        }
        out_.literal_sets.emplace(key, std::move(sets));
        return true;
    }

    // Compiles each pattern of a refined node, once per distinct text,
    // with the interpreter lock given up.  False with the exception of a
    // signal handler set when one raised meanwhile.
    bool add_patterns(const ir::Node& node) {
        for (const ir::Constraint& c : ir::as_span(node.constraints)) {
            if (c.kind != ir::ConstraintKind::Regex) continue;
            const void* key = static_cast<const void*>(&c.pattern);
            if (out_.patterns.contains(key)) continue;
            auto known = compiled_.find(std::string_view(c.pattern));
            if (known != compiled_.end()) {
                out_.patterns.emplace(key, known->second);
                continue;
            }
            // Compiled when the validator was built, or by a decision.
            std::shared_ptr<const pattern::FullMatcher> matcher =
                patterns_ ? patterns_->find(schema_, c.pattern) : nullptr;
            if (!matcher) {
                // Taken back at the end of the block, also when the
                // compilation throws (memory, native stack).
                struct Retake {
                    py::LockRelease& lock;
                    ~Retake() { lock.take(); }
                } retake{unlocked_};
                unlocked_.release();
                auto compiled = pattern::compile_full_match(c.pattern, pattern::TextKind::Str, &poll_);
                if (auto* m = std::get_if<std::shared_ptr<const pattern::FullMatcher>>(&compiled))
                    matcher = std::move(*m);
            }
            if (poll_.stopped()) return false;
            // A pattern that does not compile (only schemas assembled
            // without the builder hold one) gets no entry: the check then
            // compiles it at each test and fails.
            if (!matcher) continue;
            if (patterns_) patterns_->offer(schema_, c.pattern, matcher);
            compiled_.emplace(std::string_view(c.pattern), matcher);
            out_.patterns.emplace(key, std::move(matcher));
        }
        return true;
    }

    std::span<const py::Ref> pool_;
    Precompute& out_;
    const CompiledSchema& schema_;
    PatternCache* patterns_;  // the validator's, or nullptr
    // Patterns compile with the interpreter lock given up; the poll takes it
    // back now and then to run pending signal handlers (signals.h), counting
    // its questions over every pattern of the build.  A handler may validate
    // with this validator again: it gets the empty tables (PrecomputeCell).
    py::LockRelease unlocked_;
    util::Poll poll_ = unlocked_.signal_poll();
    std::vector<std::pair<const void*, std::span<const ir::RecordEntry>>> records_;
    std::vector<const ir::Node*> stack_;
    boost::unordered_flat_set<const ir::Node*, util::FxHash> seen_;
    // Compiled matchers by pattern text (views into the constraints).
    boost::unordered_flat_map<std::string_view, std::shared_ptr<const pattern::FullMatcher>, TextHash, TextEq>
        compiled_;
};

}  // namespace

const Precompute& empty_precompute() {
    static const Precompute* const empty = new Precompute();
    return *empty;
}

bool build_precompute(const CompiledSchema& schema, Precompute& out, PatternCache* patterns) {
    TableBuilder builder(std::span<const py::Ref>(schema.pool), out, schema, patterns);
    if (!builder.add(schema.root)) return false;
    for (const ir::Node& definition : schema.definitions)
        if (!builder.add(definition)) return false;
    out.json_in_one_pass = runs_only_builtin_checks(schema.root, std::span<const ir::Node>(schema.definitions),
                                                    std::span<const py::Ref>(schema.pool));
    builder.add_plain_tests();
    if (!build_native_checks(schema.root, std::span<const ir::Node>(schema.definitions),
                             std::span<const py::Ref>(schema.pool), out.patterns, out.native))
        return false;
    out.root = plain_root(schema.root, out);
    return true;
}

int visit_precompute(const Precompute& tables, visitproc visit, void* arg) {
    for (const auto& [key, record] : tables.record_keys)
        for (const py::Ref& name : record.names) Py_VISIT(name.get());
    for (const auto& [key, names] : tables.attribute_names)
        for (const py::Ref& name : names) Py_VISIT(name.get());
    return 0;
}

const Precompute* PrecomputeCell::build_slow(const CompiledSchema& schema, PatternCache* patterns) {
    const unsigned long me = PyThread_get_thread_ident();
    // Re-entered on the building thread (a finalizer run by an allocation of
    // the build validates with this validator): the tables are not there
    // yet, and every reader works without them.
    if (builder_.load(std::memory_order_relaxed) == me) return &empty_precompute();
    // Never wait for the mutex while holding the interpreter lock: the
    // builder needs the interpreter lock, so the order is mutex first.
    PyThreadState* ts = PyEval_SaveThread();
    mutex_.lock();
    PyEval_RestoreThread(ts);
    std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
    if (!ready_.load(std::memory_order_relaxed)) {
        struct BuilderMark {
            std::atomic<unsigned long>& slot;
            ~BuilderMark() { slot.store(0, std::memory_order_relaxed); }
        } mark{builder_};
        builder_.store(me, std::memory_order_relaxed);
        Precompute fresh;
        if (!build_precompute(schema, fresh, patterns)) return nullptr;
        value_.emplace(std::move(fresh));
        ready_.store(true, std::memory_order_release);
    }
    return &*value_;
}

}  // namespace tessaron::python::check
