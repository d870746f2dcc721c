// Checking a JSON document while it is parsed.
//
// What it computes: the verdict that parsing the whole document into the
// compact tree and walking the tree verdict-only would give, in one pass
// over the text that stops at the first failure that settles the answer
// and keeps no more of the document than its open containers.
//
// How: the parser's events arrive at a sink that knows, for each value, the
// schema node the walk would check it against.  A stack of frames mirrors
// the open arrays and objects that are checked as they arrive (a list node,
// a record or a dict with a str key, under refinements of their lengths);
// each frame keeps what the walk's check of that container counts (items
// so far; for an object, which declared keys were seen, how many distinct
// keys where a length is bounded, and which members failed).  A scalar is
// checked on arrival: by a type test for the scalar kinds, by the native
// copies of literals and refinements (native_checks.h) through unions,
// intersections, complements and back edges, else by the general walk of a
// one-value tree.  A container whose node is none of those (an
// intersection, a refinement, a union in which more than one member may
// take it, ...) is built into a tree (`TreeBuilder`) and walked by the
// general walk when it closes; its tree is then dropped.  Anything a
// failure has made irrelevant, and every value under `Any`, is only
// parsed.
//
// Why the answers are the same: the walk's counters are reproduced -- the
// nesting depth (every node entered counts one level, back edges and
// union members included) and the recursion guard (one entry per
// definition entered) -- so a limit fails the same value at the same node,
// and the general walk of a subtree starts from the counters it would have
// had.  A union is followed into a member without walking it only when
// that member is the only one that can take a container of the kind met,
// where the union's verdict is that member's.  Repeated keys: the walk sees
// each key once, with its last value; here each occurrence is checked, a
// failed member stays pending in its object until a later occurrence of the
// same key passes, and the object's verdict waits for its close.  A
// declared key's failure is a flag of its entry; the failed undeclared keys
// of an object are kept in a hash set, so each later key is looked up among
// them once, whatever their number.  A failed
// array item fails the array at once, and so up to the nearest enclosing
// object (pending there) or to the root, where the parse stops: False.
// Checking in document order instead of the walk's order, and checking
// values the walk would skip, is sound only because no check can run code
// we do not control (`runs_only_builtin_checks` gates this path), so the
// order in which values are checked changes nothing -- but for the limits
// a walk meets, which a complement reads: a complement's container is
// walked as a tree (json_checks.cc takes an object's members in the walk's
// order), and its scalar answered natively only within the limits.
//
// The interpreter lock: a large document is parsed and checked without it.
// The native copies and the compiled patterns are immutable once the
// validator's tables are built, and a pattern's lazy DFA is made to be
// shared by threads, so the checks made here need no lock.  The general
// walk needs it only where the schema has a check that makes a Python
// object (`NativeChecks::json_walk_without_python`); there the lock is
// taken back once and kept to the end of the document, since taking it
// back may mean waiting for another thread to give it up, which once per
// value would make threads slower than one.  Signal handlers run through
// the lock's poll, which keeps the lock when a handler raised.
//
// `load` runs the same check beside the sink that builds the document's
// Python objects (`CheckedPythonSink`): it must read the whole text anyway
// (a malformed document is refused before any verdict), so a failure only
// stops the checking.  A member is returned without a walk; a non-member is
// walked as a Python object for its report.
//
// The sink's larger steps are kept out of line: the parser recurses once
// per nesting level, and inlined into it they would grow every one of its
// frames (200 nested arrays must parse on a small thread's stack, in the
// sanitizer builds too).
//
// Budget: one pass over the text, stopped early on a settled failure; a
// key costs a bounded number of lookups (`_json_key_work` counts them);
// memory is a frame per open container, a byte per declared key of the
// open records, the failed undeclared keys of the open objects, and the
// tree of one buffered subtree at a time.
#include "python/check/json_stream.h"

#include <boost/unordered/unordered_flat_set.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/json/parse.h"
#include "core/util/keyed_hash.h"
#include "core/util/native_stack.h"
#include "python/binding/signals.h"
#include "python/check/builtins.h"
#include "python/check/declared_keys.h"
#include "python/check/json_source.h"
#include "python/check/native_checks.h"
#include "python/check/walk.h"
#include "python/json/python_sink.h"
#include "python/json/to_python.h"

namespace tessaron::python::check {

// --- which schemas -----------------------------------------------------------

namespace {

bool builtin_constant(PyObject* obj) {
    return obj && (has_plain_equality(Py_TYPE(obj)) || Py_IS_TYPE(obj, &PyFloat_Type));
}

class BuiltinChecks {
public:
    explicit BuiltinChecks(std::span<const py::Ref> pool) : pool_(pool) {}

    bool node(const ir::Node& n) {
        if (--budget_ < 0) return false;
        switch (n.kind) {
            case ir::NodeKind::Anything:
            case ir::NodeKind::Nothing:
            case ir::NodeKind::None:
            case ir::NodeKind::Bool:
            case ir::NodeKind::Int:
            case ir::NodeKind::Float:
            case ir::NodeKind::Str:
            case ir::NodeKind::Bytes:
            case ir::NodeKind::BackEdge:
            case ir::NodeKind::Placeholder:
                return true;
            case ir::NodeKind::Literal:
                return builtin_constant(pooled(n.pool_index()));
            case ir::NodeKind::Instance: {
                // A class whose metaclass is `type` has no `__instancecheck__`
                // of its own, and every value the walk asks about here is a
                // builtin one made from the document.
                PyObject* cls = pooled(n.pool_index());
                return cls && PyType_CheckExact(cls);
            }
            case ir::NodeKind::Object:
                return false;
            case ir::NodeKind::Refined:
                for (const ir::Constraint& c : ir::as_span(n.constraints)) {
                    switch (c.kind) {
                        case ir::ConstraintKind::Predicate:
                            return false;
                        case ir::ConstraintKind::MinLen:
                        case ir::ConstraintKind::MaxLen:
                        case ir::ConstraintKind::Regex:
                            break;
                        default: {
                            PyObject* bound = pooled(c.value);
                            if (!bound || !(Py_IS_TYPE(bound, &PyLong_Type) || Py_IS_TYPE(bound, &PyFloat_Type)))
                                return false;
                        }
                    }
                }
                return !n.inner() || shared(*n.inner());
            case ir::NodeKind::Sequence:
                if (!list(ir::as_span(n.prefix()))) return false;
                return !n.tail() || shared(*n.tail());
            case ir::NodeKind::Set:
                return !n.element() || shared(*n.element());
            case ir::NodeKind::Mapping:
                for (const ir::RecordEntry& e : ir::as_span(n.entries))
                    if (!node(e.value)) return false;
                for (const ir::Clause& c : ir::as_span(n.clauses))
                    if (!node(c.key) || !node(c.value)) return false;
                return true;
            case ir::NodeKind::Union:
            case ir::NodeKind::Intersection:
                return list(ir::as_span(n.members()));
            case ir::NodeKind::Complement:
                return !n.inner() || shared(*n.inner());
        }
        return false;
    }

private:
    PyObject* pooled(std::uint64_t i) const { return i < pool_.size() ? pool_[i].get() : nullptr; }

    bool list(std::span<const ir::Node> nodes) {
        for (const ir::Node& m : nodes)
            if (!node(m)) return false;
        return true;
    }
    // A shared child: visited once however often the schema shares it.
    bool shared(const ir::Node& n) {
        if (!seen_.insert(&n).second) return true;
        return node(n);
    }

    std::span<const py::Ref> pool_;
    boost::unordered_flat_set<const void*> seen_;
    long budget_ = 200000;
};

}  // namespace

bool runs_only_builtin_checks(const ir::Node& root, std::span<const ir::Node> definitions,
                              std::span<const py::Ref> pool) {
    BuiltinChecks checks(pool);
    if (!checks.node(root)) return false;
    for (const ir::Node& d : definitions)
        if (!checks.node(d)) return false;
    return true;
}

// --- the streaming check -----------------------------------------------------

namespace {

[[gnu::always_inline]] inline bool scalar_matches(ir::NodeKind node, json::Kind value) {
    switch (node) {
        case ir::NodeKind::None: return value == json::Kind::Null;
        case ir::NodeKind::Bool: return value == json::Kind::False || value == json::Kind::True;
        case ir::NodeKind::Int:
            return value == json::Kind::False || value == json::Kind::True || value == json::Kind::Int ||
                   value == json::Kind::BigInt;
        case ir::NodeKind::Float: return value == json::Kind::Float;
        case ir::NodeKind::Str: return value == json::Kind::String;
        default: return false;  // Nothing, bytes
    }
}

// The interpreter lock, given up while the parser runs on an immutable
// text, and taken back for every general walk, to run signal handlers and
// at the end (also when an exception unwinds).
using py::LockRelease;

// Whether two texts are equal; keys are short, so up to 16 bytes they are
// compared by (overlapping) word loads in place instead of a call.
inline bool same_text(std::string_view a, std::string_view b) {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const char* p = a.data();
    const char* q = b.data();
    if (n >= 8 && n <= 16) {
        std::uint64_t x0, y0, x1, y1;
        std::memcpy(&x0, p, 8);
        std::memcpy(&y0, q, 8);
        std::memcpy(&x1, p + n - 8, 8);
        std::memcpy(&y1, q + n - 8, 8);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    if (n >= 4 && n < 8) {
        std::uint32_t x0, y0, x1, y1;
        std::memcpy(&x0, p, 4);
        std::memcpy(&y0, q, 4);
        std::memcpy(&x1, p + n - 4, 4);
        std::memcpy(&y1, q + n - 4, 4);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    if (n < 4) {
        for (std::size_t i = 0; i < n; ++i)
            if (p[i] != q[i]) return false;
        return true;
    }
    return std::memcmp(p, q, n) == 0;
}

// Entry flags of a record being streamed.
constexpr std::uint8_t kSeen = 1;
constexpr std::uint8_t kFailed = 2;

class StreamCheck {
public:
    static constexpr std::size_t kMaxCount = json::Document::kMaxCount;

    // `stop_on_failure`: a failure of the root stops the parse (else the
    // rest of the document is parsed, unchecked).
    // `poll`: the parse's, ticked by the patterns matched here.
    StreamCheck(const ir::Node& root, json::Document& doc, WalkState& st, std::string_view input, LockRelease& lock,
                util::Poll* poll, bool stop_on_failure)
        : root_(root),
          builder_(doc),
          doc_(doc),
          st_(st),
          native_(st.tables->native),
          lock_(lock),
          poll_(poll),
          stop_on_failure_(stop_on_failure) {
        builder_.start(input);
        st_.stack_floor = util::native_stack_floor(util::current_frame());
    }

    // The native values of the parser's scalars (the fields a kind does
    // not use keep their defaults).
    static NativeValue native_scalar(json::Kind kind) {
        NativeValue v;
        v.kind = kind;
        return v;
    }
    static NativeValue native_int(std::int64_t i) {
        NativeValue v = native_scalar(json::Kind::Int);
        v.integer = i;
        return v;
    }
    static NativeValue native_float(double d) {
        NativeValue v = native_scalar(json::Kind::Float);
        v.real = d;
        return v;
    }
    static NativeValue native_text(json::Kind kind, std::string_view text) {
        NativeValue v = native_scalar(kind);
        v.text = text;
        return v;
    }

    // --- the sink interface (parse.h) ---
    // Each scalar event names its kind, how its native value is made (only
    // when a check needs more than the kind), and how it is pushed into a
    // tree (when it is buffered, or walked as a one-value tree).
    bool null() {
        return scalar(json::Kind::Null, [] { return native_scalar(json::Kind::Null); }, [&] { builder_.null(); });
    }
    bool boolean(bool b) {
        const json::Kind kind = b ? json::Kind::True : json::Kind::False;
        return scalar(kind, [kind] { return native_scalar(kind); }, [&] { builder_.boolean(b); });
    }
    bool integer(std::int64_t i) {
        return scalar(json::Kind::Int, [i] { return native_int(i); }, [&] { builder_.integer(i); });
    }
    bool floating(double d) {
        return scalar(json::Kind::Float, [d] { return native_float(d); }, [&] { builder_.floating(d); });
    }
    bool big_integer(std::string_view text, std::size_t at) {
        const std::size_t digits = text.size() - (text.front() == '-' ? 1 : 0);
        if (digits > max_big_int_digits_) max_big_int_digits_ = digits;
        return scalar(json::Kind::BigInt, [text] { return native_text(json::Kind::BigInt, text); },
                      [&] { builder_.big_integer(text, at); });
    }
    bool string(std::string_view text) {
        return scalar(json::Kind::String, [text] { return native_text(json::Kind::String, text); },
                      [&] { builder_.string(text); });
    }

    bool key(std::string_view text) {
        if (buffering_) return builder_.key(text);
        if (skipping_) return true;
        return member_key(text);
    }

    bool begin_array() { return begin(true); }
    bool begin_object() { return begin(false); }

    [[gnu::noinline]] bool end_array(std::size_t n) {
        if (buffering_) {
            builder_.end_array(n);
            return --buffering_ == 0 ? finish_buffer() : true;
        }
        if (skipping_) {
            --skipping_;
            return true;
        }
        const Frame& f = frames_.back();
        const std::size_t prefix = f.node->prefix() ? f.node->prefix()->size() : 0;
        const bool ok = (f.node->tail() ? f.count >= prefix : f.count == prefix) && f.count >= f.min_length &&
                        f.count <= f.max_length;
        pop();
        return complete(ok);
    }

    [[gnu::noinline]] bool end_object(std::size_t n) {
        if (buffering_) {
            builder_.end_object(n);
            return --buffering_ == 0 ? finish_buffer() : true;
        }
        if (skipping_) {
            --skipping_;
            return true;
        }
        const Frame& f = frames_.back();
        const bool ok = f.pending == 0 && f.left == 0 && f.distinct >= f.min_length && f.distinct <= f.max_length;
        pop();
        return complete(ok);
    }

    std::string_view restart(std::string text) {
        frames_.clear();
        flags_.clear();
        keys_.clear();
        for (std::size_t i = 0; i < pending_sets_used_; ++i) pending_sets_[i].clear();
        pending_sets_used_ = 0;
        key_sets_.clear();
        skipping_ = 0;
        buffering_ = 0;
        root_done_ = false;
        verdict_ = false;
        max_big_int_digits_ = 0;
        st_.depth = 0;
        st_.recursion_guard.clear();
        return builder_.restart(std::move(text));
    }

    // Whether the root value was checked, and its verdict.
    bool root_done() const { return root_done_; }
    bool verdict() const { return verdict_; }
    std::size_t max_big_int_digits() const { return max_big_int_digits_; }
    std::uint64_t key_work() const { return key_work_; }

private:
    // The objects of one record usually list the same keys in the same
    // order: a record's shape remembers, for its last object, the entry
    // each key named by position, so the next object's keys are matched by
    // one comparison each instead of a search.  It also keeps the record's
    // lookup table and required count.  A guess is taken only when the key
    // text equals the entry's name, and the entries a search answers are
    // the last of their name, so a guess answers what the search would.
    static constexpr std::size_t kShapeKeys = 64;
    static constexpr unsigned kShapeBits = 4;  // 16 shapes
    static constexpr std::size_t kShapeProbes = 4;
    struct Shape {
        const void* entries = nullptr;
        const RecordKeys* table = nullptr;
        std::size_t required = 0;
        // The entries the last object's first keys named, in its order (held
        // in place: a shape is made for every call).
        std::uint32_t known = 0;
        std::array<std::uint32_t, kShapeKeys> order;
    };

    struct Frame {
        const ir::Node* node = nullptr;        // list or mapping node
        std::uint64_t depth = 0;               // the walk's depth inside the node's check
        std::uint32_t guard = 0;               // the recursion guard's size there
        bool object = false;
        std::size_t count = 0;         // array: items checked so far
        // object:
        const ir::Node* value_node = nullptr;  // the current member's node
        const RecordKeys* table = nullptr;
        std::size_t left = 0;                  // required entries not seen yet
        std::size_t pending = 0;               // members failed so far (and not overridden)
        std::size_t flags_at = 0;              // where the entry flags start in flags_
        std::size_t keys_at = 0;               // where the current key starts in keys_
        std::uint32_t pending_set = kNoSet;    // its failed undeclared keys: pending_sets_[pending_set]
        std::int64_t member = -1;              // the current member's entry, -1 undeclared
        bool member_failed = false;            // an earlier occurrence of its key failed
        Shape* shape = nullptr;           // what the record's last object looked like
        std::size_t nth = 0;                   // keys met so far
        // The lengths a refinement of the container admits: an array's
        // items, an object's distinct keys (counted only when bounded).
        std::uint64_t min_length = 0;
        std::uint64_t max_length = kUnbounded;
        std::uint64_t distinct = 0;
        bool key_set = false;                  // its undeclared keys are in key_sets_.back()
    };

    static constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();
    static constexpr std::uint32_t kNoSet = std::numeric_limits<std::uint32_t>::max();
    static constexpr std::size_t kKeptPendingCapacity = 256;
    // Filled with the document's keys: hashed under the process's key, so
    // that crafted keys do not collide (core/util/keyed_hash.h).
    using PendingSet = boost::unordered_flat_set<std::string, util::KeyedTextHash, TextEq>;

    enum class Route { Fail, Accept, Array, Object, Buffer };

    // A record's shape: found among a few slots from the one its entries'
    // address picks, so that the records of one schema keep a shape each
    // wherever their entries were allocated; when those slots hold other
    // records, the first of them is taken over.
    Shape& shape_of(const ir::Node& node) {
        const void* key = Precompute::key_of(node.entries);
        const std::size_t home =
            static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(key) * 0x9E3779B97F4A7C15u) >> (64 - kShapeBits));
        Shape* taken = &shapes_[home];
        for (std::size_t i = 0; i < kShapeProbes && key; ++i) {
            Shape& shape = shapes_[(home + i) % shapes_.size()];
            if (shape.entries == key) return shape;
            if (!shape.entries) {
                taken = &shape;
                break;
            }
        }
        taken->entries = key;
        taken->table = record_table(node, st_);
        taken->required = DeclaredKeys(ir::as_span(node.entries), taken->table).required_count();
        taken->known = 0;
        return *taken;
    }

    // The entry a key names, as `DeclaredKeys::find` answers it.
    std::optional<std::size_t> declared_entry(Frame& f, std::span<const ir::RecordEntry> entries,
                                              std::string_view text) {
        Shape& shape = *f.shape;
        const std::size_t nth = f.nth++;
        if (nth < shape.known) {
            const std::uint32_t guess = shape.order[nth];
            if (guess < entries.size() && same_text(entries[guess].key_view(), text)) return guess;
        }
        const auto index = DeclaredKeys(entries, f.table).find(text);
        if (index && nth <= shape.known && nth < kShapeKeys) {
            shape.order[nth] = static_cast<std::uint32_t>(*index);
            if (nth == shape.known) ++shape.known;
        }
        return index;
    }

    // The node the walk would check the next value against, with the
    // walk's counters set as they would stand there; nullptr: no node (an
    // array item past the positions of a tuple-like list).
    const ir::Node* next_node() {
        if (frames_.empty()) {
            st_.depth = 0;
            st_.recursion_guard.clear();
            return &root_;
        }
        const Frame& f = frames_.back();
        st_.depth = f.depth;
        while (st_.recursion_guard.size() > f.guard) st_.recursion_guard.pop_back();
        if (f.object) return f.value_node;
        const auto prefix = ir::as_span(f.node->prefix());
        return f.count < prefix.size() ? &prefix[f.count] : f.node->tail().get();
    }

    // The walk refuses to enter a level with less than its reserve of
    // native stack left.  This pass does not recurse, so it is only short
    // of stack where the walk would be at its first level; a deep value
    // may pass here on a thread whose stack the walk would exhaust.
    bool stack_short() {
        if (util::current_frame() >= st_.stack_floor) [[likely]]
            return false;
        st_.decline();
        return true;
    }

    // A scalar met: its type test where its node is of a scalar kind, else
    // (out of line) the native answer or the general walk.
    template <class Native, class Push>
    bool scalar(json::Kind kind, Native native, Push push) {
        if (buffering_) {
            push();
            return true;
        }
        if (skipping_) return true;
        const ir::Node* node = next_node();
        if (!node || stack_short()) return complete(false);
        if (st_.depth + 1 <= kMaxWalkDepth) {
            if (node->kind == ir::NodeKind::Anything) return complete(true);
            if (is_scalar_kind(node->kind)) return complete(scalar_matches(node->kind, kind));
        }
        if (node->kind == ir::NodeKind::Union && st_.depth + 2 <= kMaxWalkDepth) {
            const NativeValue value = native();
            const int known = union_answer(*node, value);
            if (known >= 0) return complete(known == 1);
            return checked_scalar(*node, value, push);
        }
        return checked_scalar(*node, native(), push);
    }

    // The common unions answered without the native answer's recursion: by
    // a union's literal sets (an int or a string), or by the type tests of
    // members that are all of scalar kinds; as `native_answer` answers
    // them.  1, 0, or -1 (not such a union).  The caller makes sure the
    // members are within the nesting limit.
    int union_answer(const ir::Node& node, const NativeValue& value) const {
        const int known = literal_set_answer(node, value);
        if (known >= 0) return known;
        bool admitted = false;
        for (const ir::Node& m : ir::as_span(node.members())) {
            if (!is_scalar_kind(m.kind)) return -1;
            admitted = admitted || m.kind == ir::NodeKind::Anything || scalar_matches(m.kind, value.kind);
        }
        return admitted ? 1 : 0;
    }

    // A union's verdict from its literal sets, for an int or a string: 1,
    // 0, or -1 (no sets, or another kind of value).
    [[gnu::always_inline]] int literal_set_answer(const ir::Node& node, const NativeValue& value) const {
        const auto& table = st_.tables->literal_sets;
        if (table.empty() || (value.kind != json::Kind::String && value.kind != json::Kind::Int)) return -1;
        auto it = table.find(Precompute::key_of(node.members()));
        if (it == table.end()) return -1;
        return value.kind == json::Kind::String ? it->second.strs.contains(value.text)
                                                : it->second.ints.contains(value.integer);
    }

    template <class Push>
    [[gnu::noinline]] bool checked_scalar(const ir::Node& node, const NativeValue& value, Push push) {
        if (st_.depth + kNativeLevels + 2 <= kMaxWalkDepth) {
            const int known = native_answer(node, value, st_.recursion_guard.size(), 0);
            if (poll_ && poll_->stopped()) return false;  // a signal handler raised
            if (known >= 0) return complete(known == 1);
        }
        const json::TreeBuilder::Mark mark = builder_.mark();
        push();
        return walk_scalar(node, mark);
    }

    // The general walk of the one-value tree just pushed.
    [[gnu::noinline]] bool walk_scalar(const ir::Node& node, json::TreeBuilder::Mark mark) {
        const json::Value value = builder_.take();
        const bool ok = walk_value(node, value);
        builder_.rewind(mark);
        if (st_.stop) return false;
        return complete(ok);
    }

    [[gnu::noinline]] bool begin(bool array) {
        if (buffering_) {
            ++buffering_;
            return true;
        }
        if (skipping_) {
            ++skipping_;
            return true;
        }
        const ir::Node* node = next_node();
        const Route route = node && !stack_short() ? resolve(node, array) : Route::Fail;
        switch (route) {
            case Route::Fail:
            case Route::Accept:
                // Settled at once: the rest of the container is only parsed.
                skipping_ = 1;
                return complete(route == Route::Accept);
            case Route::Buffer:
                buffer_node_ = node;
                buffer_depth_ = st_.depth;
                buffer_mark_ = builder_.mark();
                buffering_ = 1;
                return true;
            case Route::Array:
            case Route::Object:
                break;
        }
        // Made in place: a frame built aside and copied in is written and
        // read back through memory in pieces of different sizes, which
        // stalls the processor on every container.
        Frame& f = frames_.emplace_back();
        f.node = node;
        f.depth = st_.depth;
        f.guard = static_cast<std::uint32_t>(st_.recursion_guard.size());
        f.object = !array;
        f.min_length = min_length_;
        f.max_length = max_length_;
        if (!array) {
            const auto entries = ir::as_span(node->entries);
            f.shape = &shape_of(*node);
            f.table = f.shape->table;
            f.left = f.shape->required;
            f.flags_at = flags_.size();
            flags_.resize(flags_.size() + entries.size(), 0);
            f.keys_at = keys_.size();
            if ((f.min_length > 0 || f.max_length != kUnbounded) && !ir::as_span(node->clauses).empty()) {
                key_sets_.emplace_back();
                f.key_set = true;
            }
        }
        return true;
    }

    // Levels the native answer of a scalar may enter below its node.
    static constexpr unsigned kNativeLevels = 16;

    // The walk's verdict for a scalar at `node`, answered from the kinds
    // and the native copies of literals and refinements (native_checks.h),
    // without a Python object or the interpreter lock: 1, 0, or -1 (walk
    // it).  `guard`: the recursion guard's size; `level`: the levels
    // entered above `node`.  The caller makes sure that kNativeLevels more
    // levels stay within the nesting limit, so no limit is met here; a
    // member or constraint that only Python can answer leaves the whole
    // answer to the walk, which checks them in the same order.
    int native_answer(const ir::Node& node, const NativeValue& value, std::size_t guard, unsigned level) const {
        if (level >= kNativeLevels) return -1;
        switch (node.kind) {
            case ir::NodeKind::Anything:
                return 1;
            case ir::NodeKind::Nothing:
            case ir::NodeKind::None:
            case ir::NodeKind::Bool:
            case ir::NodeKind::Int:
            case ir::NodeKind::Float:
            case ir::NodeKind::Str:
            case ir::NodeKind::Bytes:
                return scalar_matches(node.kind, value.kind) ? 1 : 0;
            case ir::NodeKind::Sequence:
            case ir::NodeKind::Set:
            case ir::NodeKind::Mapping:
                return 0;  // a scalar is no container
            case ir::NodeKind::Literal: {
                const NativeConstant* c = native_.constant(node.pool_index());
                return c ? native_literal_answer(*c, value) : -1;
            }
            case ir::NodeKind::Refined: {
                if (!node.inner()) return 0;
                const int inner = native_answer(*node.inner(), value, guard, level + 1);
                if (inner != 1 || ir::as_span(node.constraints).empty()) return inner;
                const NativeRefinement* r = native_.refinement(node);
                return r ? native_refinement_answer(*r, value, poll_) : -1;
            }
            case ir::NodeKind::Union: {
                const int known = literal_set_answer(node, value);
                if (known >= 0) return known;
                for (const ir::Node& m : ir::as_span(node.members())) {
                    const int answer = native_answer(m, value, guard, level + 1);
                    if (answer != 0) return answer;
                }
                return 0;
            }
            case ir::NodeKind::Intersection:
                for (const ir::Node& m : ir::as_span(node.members())) {
                    const int answer = native_answer(m, value, guard, level + 1);
                    if (answer != 1) return answer;
                }
                return 1;
            case ir::NodeKind::Complement: {
                if (!node.inner()) return 1;
                const int inner = native_answer(*node.inner(), value, guard, level + 1);
                return inner < 0 ? -1 : inner == 0 ? 1 : 0;
            }
            case ir::NodeKind::BackEdge: {
                const std::uint64_t definition = node.definition();
                if (guard >= kMaxRecursionEntries || definition >= st_.definitions.size()) return -1;
                return native_answer(st_.definitions[definition], value, guard + 1, level + 1);
            }
            default:
                return -1;  // an instance check, a placeholder
        }
    }

    // Follows the node a container arrives at the way the walk would enter
    // it, up to the check that takes the container's items.
    //
    // A refinement whose constraints are all lengths is followed into its
    // base, its lengths kept for the container's frame (`min_length_`,
    // `max_length_`); one with a native bound, divisor or pattern refuses
    // any container (none is ordered against a number, divisible, or a
    // str).  A container that must be buffered below a refinement is
    // buffered at the outermost refinement, which the general walk checks
    // whole.
    [[gnu::noinline]] Route resolve(const ir::Node*& node, bool array) {
        // An identity of our own for the recursion guard: odd, so never the
        // address of a tree value.
        const std::uint64_t identity = (++values_ << 1) | 1;
        min_length_ = 0;
        max_length_ = kUnbounded;
        const ir::Node* refined = nullptr;
        std::uint64_t refined_depth = 0;
        std::size_t refined_guard = 0;
        // The node met is walked as a tree when the container closes (or
        // the outermost refinement above it), from the depth and guard the
        // walk would have there.
        const auto buffer = [&] {
            if (refined) {
                node = refined;
                st_.depth = refined_depth;
                while (st_.recursion_guard.size() > refined_guard) st_.recursion_guard.pop_back();
            } else {
                --st_.depth;
            }
            return Route::Buffer;
        };
        for (;;) {
            if (st_.depth + 1 > kMaxWalkDepth) {
                st_.decline();
                return Route::Fail;
            }
            ++st_.depth;
            ++st_.steps;
            switch (node->kind) {
                case ir::NodeKind::Anything:
                    return refined ? buffer() : Route::Accept;
                case ir::NodeKind::Refined: {
                    const NativeRefinement* r = native_.refinement(*node);
                    if (!r || !node->inner()) return buffer();
                    if (!r->lengths_only) return Route::Fail;
                    if (!refined) {
                        refined = node;
                        refined_depth = st_.depth - 1;
                        refined_guard = st_.recursion_guard.size();
                    }
                    if (r->min_length > min_length_) min_length_ = r->min_length;
                    if (r->max_length < max_length_) max_length_ = r->max_length;
                    node = node->inner().get();
                    continue;
                }
                case ir::NodeKind::BackEdge: {
                    const std::uint64_t definition = node->definition();
                    for (const GuardEntry& e : st_.recursion_guard)
                        if (e.identity == identity && e.definition == definition) {
                            st_.decline();
                            return Route::Fail;
                        }
                    if (st_.recursion_guard.size() >= kMaxRecursionEntries || definition >= st_.definitions.size()) {
                        st_.decline();
                        return Route::Fail;
                    }
                    ++st_.edges;
                    st_.recursion_guard.push_back(GuardEntry{identity, definition, 0});
                    node = &st_.definitions[definition];
                    continue;
                }
                case ir::NodeKind::Union: {
                    const ir::Node* only = nullptr;
                    int candidates = 0;
                    for (const ir::Node& m : ir::as_span(node->members()))
                        if (may_take(m, array, 0)) {
                            only = &m;
                            if (++candidates > 1) break;
                        }
                    if (candidates == 0) return Route::Fail;
                    if (candidates == 1) {
                        node = only;
                        continue;
                    }
                    return buffer();
                }
                case ir::NodeKind::Sequence:
                    return array && node->flavour() == ir::kFlavourList ? Route::Array : Route::Fail;
                case ir::NodeKind::Mapping: {
                    if (array) return Route::Fail;
                    const auto clauses = ir::as_span(node->clauses);
                    if (clauses.empty() || (clauses.size() == 1 && (clauses[0].key.kind == ir::NodeKind::Str ||
                                                                    clauses[0].key.kind == ir::NodeKind::Anything)))
                        return Route::Object;
                    return buffer();
                }
                case ir::NodeKind::Nothing:
                case ir::NodeKind::None:
                case ir::NodeKind::Bool:
                case ir::NodeKind::Int:
                case ir::NodeKind::Float:
                case ir::NodeKind::Str:
                case ir::NodeKind::Bytes:
                case ir::NodeKind::Set:
                    return Route::Fail;
                default:
                    return buffer();
            }
        }
    }

    // Whether a member of a union may admit a JSON array (or object); false
    // only where the walk of that member surely refuses it.
    bool may_take(const ir::Node& n, bool array, unsigned hops) const {
        switch (n.kind) {
            case ir::NodeKind::Nothing:
            case ir::NodeKind::None:
            case ir::NodeKind::Bool:
            case ir::NodeKind::Int:
            case ir::NodeKind::Float:
            case ir::NodeKind::Str:
            case ir::NodeKind::Bytes:
            case ir::NodeKind::Set:
                return false;
            case ir::NodeKind::Sequence:
                return array && n.flavour() == ir::kFlavourList;
            case ir::NodeKind::Mapping:
                return !array;
            case ir::NodeKind::Literal: {
                // Only a constant of the exact type the container becomes
                // (a list or a dict) can equal it; read from the native
                // copy, since the lock may be given up here.
                const NativeConstant* c = native_.constant(n.pool_index());
                return !c || c->kind == NativeConstant::Kind::Container || c->kind == NativeConstant::Kind::Unknown;
            }
            case ir::NodeKind::Union:
                for (const ir::Node& m : ir::as_span(n.members()))
                    if (may_take(m, array, hops)) return true;
                return false;
            case ir::NodeKind::BackEdge:
                if (hops >= 8 || n.definition() >= st_.definitions.size()) return true;
                return may_take(st_.definitions[n.definition()], array, hops + 1);
            case ir::NodeKind::Refined:
                return n.inner() && may_take(*n.inner(), array, hops);
            default:
                return true;
        }
    }

    [[gnu::noinline]] bool member_key(std::string_view text) {
        Frame& f = frames_.back();
        const auto entries = ir::as_span(f.node->entries);
        ++key_work_;
        if (auto index = declared_entry(f, entries, text)) {
            std::uint8_t& flags = flags_[f.flags_at + *index];
            if (!(flags & kSeen)) {
                flags |= kSeen;
                if (entries[*index].required) --f.left;
                ++f.distinct;
            }
            f.member = static_cast<std::int64_t>(*index);
            f.member_failed = (flags & kFailed) != 0;
            f.value_node = &entries[*index].value;
            return true;
        }
        const auto clauses = ir::as_span(f.node->clauses);
        if (clauses.empty()) return fail_frame();  // an unexpected key
        if (f.key_set) {
            ++key_work_;
            if (key_sets_.back().emplace(text).second) ++f.distinct;
        }
        f.member = -1;
        f.value_node = &clauses[0].value;
        keys_.resize(f.keys_at);
        keys_.append(text);
        f.member_failed = false;
        if (f.pending_set != kNoSet) {
            ++key_work_;
            f.member_failed = pending_sets_[f.pending_set].contains(text);
        }
        return true;
    }

    // A value at the top frame (or the root) was checked.  False stops the
    // parse: a settled failure of the root, or a stored fatal exception.
    bool complete(bool ok) {
        // A failed item fails its array, and that array fails in its own
        // parent: a loop, since the open arrays can be nested 200 deep.
        while (!ok && !frames_.empty() && !frames_.back().object) {
            pop();
            ++skipping_;
        }
        if (frames_.empty()) {
            root_done_ = true;
            verdict_ = ok;
            return ok || !stop_on_failure_;
        }
        Frame& f = frames_.back();
        if (!f.object) {
            ++f.count;
            return true;
        }
        if (ok == !f.member_failed) return true;  // nothing changes
        const std::string_view key(keys_.data() + f.keys_at, keys_.size() - f.keys_at);
        if (!ok) {
            // Failed: pending until a later occurrence of the key passes.
            ++f.pending;
            if (f.member >= 0) {
                flags_[f.flags_at + static_cast<std::size_t>(f.member)] |= kFailed;
            } else {
                if (f.pending_set == kNoSet) {
                    // The objects holding a set are nested in one another,
                    // so the sets in use are the first ones, innermost last.
                    if (pending_sets_used_ == pending_sets_.size()) pending_sets_.emplace_back();
                    f.pending_set = static_cast<std::uint32_t>(pending_sets_used_++);
                }
                ++key_work_;
                pending_sets_[f.pending_set].emplace(key);
            }
            return true;
        }
        --f.pending;
        if (f.member >= 0) {
            flags_[f.flags_at + static_cast<std::size_t>(f.member)] &= static_cast<std::uint8_t>(~kFailed);
        } else {
            ++key_work_;
            pending_sets_[f.pending_set].erase(key);
        }
        return true;
    }

    // The container of the top frame fails, whatever follows in it: the
    // rest of it is only parsed, and its own value fails in its parent.
    bool fail_frame() {
        pop();
        ++skipping_;
        return complete(false);
    }

    void pop() {
        const Frame& f = frames_.back();
        if (f.object) {
            flags_.resize(f.flags_at);
            keys_.resize(f.keys_at);
            if (f.pending_set != kNoSet) release_pending_set();
            if (f.key_set) key_sets_.pop_back();
        }
        frames_.pop_back();
    }

    // Gives the innermost set of failed keys back for the next object.  A
    // large one is dropped rather than emptied: emptying costs its capacity,
    // which objects with a few failed keys would pay again and again.
    [[gnu::noinline]] void release_pending_set() {
        PendingSet& set = pending_sets_[--pending_sets_used_];
        if (set.bucket_count() > kKeptPendingCapacity) {
            set = PendingSet{};
        } else {
            key_work_ += set.bucket_count() / 16;  // the groups it empties
            set.clear();
        }
    }

    [[gnu::noinline]] bool finish_buffer() {
        const json::Value value = builder_.take();
        st_.depth = buffer_depth_;
        const bool ok = walk_value(*buffer_node_, value);
        builder_.rewind(buffer_mark_);
        if (st_.stop) return false;
        return complete(ok);
    }

    // The general walk of one tree value, from the counters as they stand.
    // Where it may hand values to Python it runs with the interpreter lock,
    // and the lock is then kept to the end of the document: a document
    // whose checks need Python takes it once, not once per value (taking
    // it back may wait for another thread to give it up).  Where it needs
    // no Python (`json_walk_without_python`), it runs as the parse does,
    // the lock given up or not, its poll asking through the lock's.
    [[gnu::noinline]] bool walk_value(const ir::Node& node, const json::Value& value) {
        if (!native_.json_walk_without_python) lock_.take();
        struct PollSwap {
            util::Poll& slot;
            util::Poll saved;
            ~PollSwap() { slot = saved; }
        } swap{st_.poll, st_.poll};
        if (lock_.released()) st_.poll = lock_.signal_poll();
        std::vector<Violation> none;
        WalkContext ctx{&st_, &path_, &none, WalkMode::VerdictOnly};
        const bool ok = walk(node, JsonSource{&doc_, &value}, ctx);
        if (st_.memo_on) {
            // The memo knows tree values by address, and the arena is
            // reused for the next subtree.
            st_.memo_on = false;
            st_.memo = WalkMemo{};
        }
        return ok;
    }

    const ir::Node& root_;
    json::TreeBuilder builder_;
    json::Document& doc_;
    WalkState& st_;
    const NativeChecks& native_;
    LockRelease& lock_;
    util::Poll* poll_;
    PathStack path_;
    std::vector<Frame> frames_;
    std::array<Shape, std::size_t{1} << kShapeBits> shapes_;
    std::vector<std::uint8_t> flags_;
    std::string keys_;
    // The undeclared keys whose last value failed, for each open object
    // that has any (`Frame::pending_set`); the first `pending_sets_used_`
    // are in use.
    std::vector<PendingSet> pending_sets_;
    std::size_t pending_sets_used_ = 0;
    // The undeclared keys met so far in each open object whose length is
    // bounded and which has clauses, innermost last.
    std::vector<boost::unordered_flat_set<std::string, util::KeyedTextHash, TextEq>> key_sets_;
    // The lengths the refinements met by `resolve` admit.
    std::uint64_t min_length_ = 0;
    std::uint64_t max_length_ = kUnbounded;
    // Open containers inside a skipped (or buffered) subtree, the subtree's
    // own included; 0 when not in one.
    std::size_t skipping_ = 0;
    std::size_t buffering_ = 0;
    const ir::Node* buffer_node_ = nullptr;
    std::uint64_t buffer_depth_ = 0;
    json::TreeBuilder::Mark buffer_mark_;
    std::uint64_t values_ = 0;
    std::size_t max_big_int_digits_ = 0;
    // The work spent on member keys (`_json_key_work`).
    std::uint64_t key_work_ = 0;
    bool stop_on_failure_;
    bool root_done_ = false;
    bool verdict_ = false;
};

// The events of one parse handed to a `PythonSink` and a `StreamCheck`:
// `load` builds the document and checks it in the same pass.
class CheckedPythonSink {
public:
    // The tree's counts are 32 bits; the caller keeps larger documents off
    // this path.
    static constexpr std::size_t kMaxCount = json::Document::kMaxCount;

    CheckedPythonSink(PythonSink& objects, StreamCheck& check) : objects_(objects), check_(check) {}

    bool null() { return objects_.null() && check_.null(); }
    bool boolean(bool b) { return objects_.boolean(b) && check_.boolean(b); }
    bool integer(std::int64_t i) { return objects_.integer(i) && check_.integer(i); }
    bool floating(double d) { return objects_.floating(d) && check_.floating(d); }
    bool big_integer(std::string_view text, std::size_t at) {
        return objects_.big_integer(text, at) && check_.big_integer(text, at);
    }
    bool string(std::string_view text) { return objects_.string(text) && check_.string(text); }
    bool key(std::string_view text) { return objects_.key(text) && check_.key(text); }
    bool begin_array() { return objects_.begin_array() && check_.begin_array(); }
    bool begin_object() { return objects_.begin_object() && check_.begin_object(); }
    bool end_array(std::size_t n) { return objects_.end_array(n) && check_.end_array(n); }
    bool end_object(std::size_t n) { return objects_.end_object(n) && check_.end_object(n); }
    std::string_view restart(std::string text) {
        const std::string_view kept = objects_.restart(std::move(text));
        check_.restart(std::string(kept));
        return kept;
    }

private:
    PythonSink& objects_;
    StreamCheck& check_;
};

}  // namespace

namespace {
thread_local std::uint64_t t_json_key_work = 0;
}  // namespace

const char kJsonKeyWorkDoc[] =
    "_json_key_work()\n--\n\n"
    "The work that checking JSON documents while they were parsed has spent on\n"
    "object keys on the calling thread so far (lookups among declared and failed\n"
    "keys): a work counter for tests, not part of the public interface.";

PyObject* json_key_work_function(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(t_json_key_work); }

int stream_json_verdict(const ir::Node& root, std::string_view text, json::Document& doc, WalkState& st,
                        bool release_lock) {
    json::ParseFailure failure;
    LockRelease lock;
    util::Poll poll = lock.signal_poll();
    StreamCheck sink(root, doc, st, text, lock, &poll, true);
    if (release_lock) lock.release();
    const bool parsed = json::parse_with(text, sink, failure, &poll);
    lock.take();
    t_json_key_work += sink.key_work();
    st.depth = 0;
    st.recursion_guard.clear();
    if (st.error_cell) {
        st.error_cell.restore();
        return -1;
    }
    // A signal handler raised, in the parse or in a pattern's match.
    if (failure.kind == json::ParseFailure::Kind::Stopped || poll.stopped()) return -1;
    if (!parsed || !sink.root_done() || !sink.verdict()) return 0;
    // `load` refuses an integer text past the interpreter's digit limit;
    // so does this.
    bool allowed = true;
    if (!int_digits_allowed(sink.max_big_int_digits(), allowed)) return -1;
    return allowed ? 1 : 0;
}

PyObject* load_in_one_pass(const ir::Node& root, std::string_view text, json::Document& doc, WalkState& st,
                           json::ParseFailure& failure, bool& member) {
    member = false;
    CollectorPause pause;
    LockRelease lock;  // kept: Python objects are made all along
    util::Poll poll = lock.signal_poll();
    PythonSink objects(failure);
    StreamCheck check(root, doc, st, text, lock, &poll, false);
    CheckedPythonSink sink(objects, check);
    const bool parsed = json::parse_with(text, sink, failure, &poll);
    t_json_key_work += check.key_work();
    st.depth = 0;
    st.recursion_guard.clear();
    if (st.error_cell) {
        st.error_cell.restore();
        return nullptr;
    }
    if (!parsed) {
        // A sink failure, or a stop by a signal handler, has the Python
        // exception set; a malformed document never does.
        if (failure.kind == json::ParseFailure::Kind::Sink && !PyErr_Occurred()) PyErr_NoMemory();
        return nullptr;
    }
    PyObject* obj = objects.take_root();
    if (!obj) {
        PyErr_SetString(PyExc_SystemError, "internal error in tessaron: JSON parse left no value");
        return nullptr;
    }
    member = check.root_done() && check.verdict();
    return obj;
}

}  // namespace tessaron::python::check
