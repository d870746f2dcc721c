// The repr of a validator.
//
// What it computes: the annotation expression of a compiled schema, written
// left to right into one output string.  Kinds map to their spelling
// (`int`, `list[T]`, `tuple[A, B]`, `{'k': V}`, `dict[K, V]`, `A | B`,
// `intersection(...)`, `complement(...)`, `object(a=V)`,
// `Annotated[T, Ge(0)]`, `Literal[c]`); an instance node is its class name,
// an intersection that a class builder made (one instance member beside one
// sequence or object member) is the class name followed by any further
// members.  The literal members of a union, which stand together in pool
// order, are shown sorted by their texts so that the repr does not depend
// on the order in which the constants were pooled.  Record keys go through
// `repr()` of the str, so any key (quotes, backslashes, control characters)
// comes out as a valid Python literal.
//
// Recursion: a back edge to definition i outside the rendering of i opens
// a fixpoint `recursive(lambda X: body)`, binding i to a name that depends
// only on how many fixpoints are already open ("X", "Y", "Z", "T3", ...);
// inside the body the back edge is that name.  A definition is therefore
// expanded afresh at every back edge reached from outside its own body,
// which keeps the text self-contained but can repeat a body exponentially
// often (a chain of fixpoints each naming the previous one twice).
//
// Invariants: the renderer never follows a back edge into a definition that
// is already open on the current path, so every path from the root passes
// through each definition at most once; the open binders form a stack that
// mirrors the fixpoints being written.
//
// Budget: three cut-offs, each writing "<...>" for a node without looking at
// it: depth (a node more than 200 levels below the root), rendered nodes
// (100,000 per call) and output size (64 MiB).  Work is thus linear in the
// budget plus, after it runs out, one "<...>" per pending sibling on the
// current path, itself bounded by the size of the schema.  The traversal is
// an explicit task stack rather than native recursion, so neither deep
// schemas nor `repr()` of a constant that re-enters this renderer can
// exhaust the native stack.
#include "python/render.h"

#include <algorithm>
#include <optional>
#include <string>
#include <span>
#include <utility>
#include <vector>

#include "core/ir/construct.h"
#include "python/binding/entry.h"
#include "python/binding/stack_guard.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

using ir::ClauseList;
using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;
using ir::RecordEntry;

constexpr std::string_view kElided = "<...>";
constexpr std::string_view kUnknown = "<unknown>";
constexpr std::string_view kUnionSeparator = " | ";

// "\u{..}" with the code point in lower-case hexadecimal.
void append_unicode_escape(std::string& out, unsigned code) {
    static const char kHex[] = "0123456789abcdef";
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kHex[code & 0xF];
        code >>= 4;
    } while (code != 0);
    out += "\\u{";
    while (n > 0) out += digits[--n];
    out += '}';
}

// The text in double quotes, escaping `"`, `\` and the C0 and C1 control
// characters; every other byte, valid UTF-8 or not, is copied.
std::string debug_quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        switch (b) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if (b < 0x20 || b == 0x7F) {
            append_unicode_escape(out, b);
        } else if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            append_unicode_escape(out, static_cast<unsigned char>(text[i + 1]));  // U+0080..U+009F
            ++i;
        } else {
            out += static_cast<char>(b);
        }
    }
    out += '"';
    return out;
}

// One step of the traversal.  Tasks are pushed in reverse so that they pop
// in output order; the text that opens a node is written when its `Node`
// task pops, only what follows a child needs a task of its own.
struct Task {
    enum class Op : std::uint8_t {
        Node,         // render `node` at `depth`
        Text,         // write `text`
        EntryKey,     // write a record key: repr of key (+ "?"), then ": "
        AttrName,     // write an object attribute: name (+ "?"), then "="
        Constraints,  // write ", " and each constraint text of refined `node`, then "]"
        MarkStart,    // remember where a sorted union member starts
        MarkEnd,      // ... and where it ends
        SortRun,      // sort the marked members of the innermost open run
        PopBinder,    // close the innermost fixpoint
    };
    Op op;
    std::size_t depth = 0;
    const Node* node = nullptr;
    const RecordEntry* entry = nullptr;
    std::string_view text;

    static Task render(const Node* n, std::size_t d) { return Task{Op::Node, d, n, nullptr, {}}; }
    static Task write(std::string_view t) { return Task{Op::Text, 0, nullptr, nullptr, t}; }
    static Task key(const RecordEntry* e) { return Task{Op::EntryKey, 0, nullptr, e, {}}; }
    static Task attr(const RecordEntry* e) { return Task{Op::AttrName, 0, nullptr, e, {}}; }
    static Task constraints(const Node* n) { return Task{Op::Constraints, 0, n, nullptr, {}}; }
    static Task of(Op op) { return Task{op, 0, nullptr, nullptr, {}}; }
};

class Renderer {
public:
    explicit Renderer(const CompiledSchema& schema) : schema_(schema) {}

    std::string run() {
        stack_.push_back(Task::render(&schema_.root, 0));
        while (!stack_.empty()) {
            Task task = stack_.back();
            stack_.pop_back();
            step(task);
        }
        return std::move(out_);
    }

private:
    void step(const Task& task) {
        switch (task.op) {
            case Task::Op::Node: node(task.node, task.depth); break;
            case Task::Op::Text: out_ += task.text; break;
            case Task::Op::EntryKey: {
                std::string key(task.entry->key_view());
                if (!task.entry->required) key += '?';
                out_ += str_literal_text(key);
                out_ += ": ";
                break;
            }
            case Task::Op::AttrName:
                out_ += task.entry->key_view();
                if (!task.entry->required) out_ += '?';
                out_ += '=';
                break;
            case Task::Op::Constraints:
                for (const Constraint& c : ir::as_span(task.node->constraints)) {
                    out_ += ", ";
                    constraint(c);
                }
                out_ += ']';
                break;
            case Task::Op::MarkStart: runs_.back().emplace_back(out_.size(), 0); break;
            case Task::Op::MarkEnd: runs_.back().back().second = out_.size(); break;
            case Task::Op::SortRun: sort_run(); break;
            case Task::Op::PopBinder: binders_.pop_back(); break;
        }
    }

    // Pushes `tasks` so that the first of them runs next.
    void schedule(std::vector<Task>& tasks) {
        stack_.insert(stack_.end(), tasks.rbegin(), tasks.rend());
        tasks.clear();
    }

    bool cut_off(std::size_t depth) const {
        return depth > kRenderMaxDepth || nodes_left_ == 0 || out_.size() >= kRenderByteBudget;
    }

    void node(const Node* n, std::size_t depth) {
        if (n == nullptr || cut_off(depth)) {
            out_ += kElided;
            return;
        }
        --nodes_left_;
        const std::size_t below = depth + 1;
        switch (n->kind) {
            case NodeKind::Anything: out_ += n->any_flag() ? "Any" : "anything"; return;
            case NodeKind::Nothing: out_ += "nothing"; return;
            case NodeKind::None: out_ += "None"; return;
            case NodeKind::Bool: out_ += "bool"; return;
            case NodeKind::Int: out_ += "int"; return;
            case NodeKind::Float: out_ += "float"; return;
            case NodeKind::Str: out_ += "str"; return;
            case NodeKind::Bytes: out_ += "bytes"; return;
            case NodeKind::Literal:
                out_ += "Literal[";
                constant(n->pool_index());
                out_ += ']';
                return;
            case NodeKind::Sequence: sequence(*n, below); return;
            case NodeKind::Set:
                out_ += n->flavour() == ir::kFlavourFrozenset ? "frozenset[" : "set[";
                tasks_.push_back(Task::render(n->element().get(), below));
                tasks_.push_back(Task::write("]"));
                schedule(tasks_);
                return;
            case NodeKind::Mapping: mapping(*n, below); return;
            case NodeKind::Union: union_of(*n, below); return;
            case NodeKind::Intersection: intersection(*n, below); return;
            case NodeKind::Complement:
                out_ += "complement(";
                tasks_.push_back(Task::render(n->inner().get(), below));
                tasks_.push_back(Task::write(")"));
                schedule(tasks_);
                return;
            case NodeKind::Instance: class_name(n->pool_index()); return;
            case NodeKind::Object:
                out_ += "object(";
                for (const RecordEntry& e : ir::as_span(n->entries)) {
                    if (&e != ir::as_span(n->entries).data()) tasks_.push_back(Task::write(", "));
                    tasks_.push_back(Task::attr(&e));
                    tasks_.push_back(Task::render(&e.value, below));
                }
                tasks_.push_back(Task::write(")"));
                schedule(tasks_);
                return;
            case NodeKind::Refined:
                out_ += "Annotated[";
                tasks_.push_back(Task::render(n->inner().get(), below));
                tasks_.push_back(Task::constraints(n));
                schedule(tasks_);
                return;
            case NodeKind::BackEdge: back_edge(n->definition(), below); return;
            case NodeKind::Placeholder: break;
        }
        out_ += kElided;
    }

    // list[T] / tuple[T, ...]; [A, B, T, ...] / tuple[A, B, T, ...];
    // [A, B] / tuple[A, B]; [] / tuple[()].
    void sequence(const Node& n, std::size_t below) {
        const bool list = n.flavour() == ir::kFlavourList;
        const std::span<const Node> prefix = ir::as_span(n.prefix());
        const Node* tail = n.tail().get();
        if (tail != nullptr && prefix.empty()) {
            out_ += list ? "list[" : "tuple[";
            tasks_.push_back(Task::render(tail, below));
            tasks_.push_back(Task::write(list ? "]" : ", ...]"));
            schedule(tasks_);
            return;
        }
        if (!list && prefix.empty()) {
            out_ += "tuple[()]";
            return;
        }
        out_ += list ? "[" : "tuple[";
        for (const Node& item : prefix) {
            if (&item != prefix.data()) tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::render(&item, below));
        }
        if (tail != nullptr) {
            tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::render(tail, below));
            tasks_.push_back(Task::write(", ..."));
        }
        tasks_.push_back(Task::write("]"));
        schedule(tasks_);
    }

    // dict[K, V] for a lone clause; otherwise {'key': V, ..., K: V, ...}.
    void mapping(const Node& n, std::size_t below) {
        const std::span<const RecordEntry> entries = ir::as_span(n.entries);
        const std::span<const ir::Clause> clauses = ir::as_span(n.clauses);
        if (entries.empty() && clauses.size() == 1) {
            out_ += "dict[";
            tasks_.push_back(Task::render(&clauses[0].key, below));
            tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::render(&clauses[0].value, below));
            tasks_.push_back(Task::write("]"));
            schedule(tasks_);
            return;
        }
        out_ += '{';
        bool first = true;
        for (const RecordEntry& e : entries) {
            if (!std::exchange(first, false)) tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::key(&e));
            tasks_.push_back(Task::render(&e.value, below));
        }
        for (const ir::Clause& c : clauses) {
            if (!std::exchange(first, false)) tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::render(&c.key, below));
            tasks_.push_back(Task::write(": "));
            tasks_.push_back(Task::render(&c.value, below));
        }
        tasks_.push_back(Task::write("}"));
        schedule(tasks_);
    }

    // Members joined by " | "; the run of literal members starting at the
    // first literal is sorted by text once all of it is written.  A member
    // written as a dict or list literal ({...} or [...]) does not combine
    // with `|` (`{} | {"a": int}` merges the dicts, `list[int] | {}` raises),
    // so such a union is written union(A, B, ...) to stay an expression that
    // rebuilds it.
    void union_of(const Node& n, std::size_t below) {
        const std::span<const Node> members = ir::as_span(n.members());
        std::size_t run_begin = members.size();
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (members[k].kind == NodeKind::Literal) {
                run_begin = k;
                break;
            }
        }
        std::size_t run_end = run_begin;
        while (run_end < members.size() && members[run_end].kind == NodeKind::Literal) ++run_end;
        const bool sorted_run = run_end - run_begin >= 2;
        const bool call_form =
            std::any_of(members.begin(), members.end(), [](const Node& m) { return written_as_literal_container(m); });
        const std::string_view separator = call_form ? std::string_view(", ") : kUnionSeparator;
        if (call_form) tasks_.push_back(Task::write("union("));
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (k > 0) tasks_.push_back(Task::write(separator));
            const bool marked = sorted_run && k >= run_begin && k < run_end;
            if (marked) tasks_.push_back(Task::of(Task::Op::MarkStart));
            tasks_.push_back(Task::render(&members[k], below));
            if (marked) tasks_.push_back(Task::of(Task::Op::MarkEnd));
            if (sorted_run && k + 1 == run_end) tasks_.push_back(Task::of(Task::Op::SortRun));
        }
        if (call_form) tasks_.push_back(Task::write(")"));
        if (sorted_run) runs_.emplace_back();
        schedule(tasks_);
    }

    // Whether a node renders as a dict literal (a mapping other than the
    // dict[K, V] form) or a list literal (a list with a prefix).
    static bool written_as_literal_container(const Node& n) {
        if (n.kind == NodeKind::Mapping)
            return !(ir::as_span(n.entries).empty() && ir::as_span(n.clauses).size() == 1);
        if (n.kind == NodeKind::Sequence && n.flavour() == ir::kFlavourList)
            return !(n.tail() && ir::as_span(n.prefix()).empty());
        return false;
    }

    // Rewrites the marked members of the innermost run in sorted order.  The
    // members stand next to each other, separated by one separator, so the
    // sorted texts fill exactly the same bytes.
    void sort_run() {
        std::vector<std::pair<std::size_t, std::size_t>> spans = std::move(runs_.back());
        runs_.pop_back();
        std::vector<std::string> texts;
        texts.reserve(spans.size());
        for (const auto& [begin, end] : spans) texts.emplace_back(out_, begin, end - begin);
        // Bytewise (char_traits<char> compares as unsigned char), a prefix
        // first; stable, so equal texts keep their member order.
        std::stable_sort(texts.begin(), texts.end());
        const std::string separator =
            spans.size() > 1 ? out_.substr(spans[0].second, spans[1].first - spans[0].second) : std::string();
        std::size_t at = spans.front().first;
        for (std::size_t k = 0; k < texts.size(); ++k) {
            if (k > 0) {
                out_.replace(at, separator.size(), separator);
                at += separator.size();
            }
            out_.replace(at, texts[k].size(), texts[k]);
            at += texts[k].size();
        }
    }

    // A class-shaped intersection shows its class name, followed by the
    // members that are not part of the class's own shape; any other
    // intersection is intersection(A, B, ...).
    void intersection(const Node& n, std::size_t below) {
        const std::span<const Node> members = ir::as_span(n.members());
        const std::optional<std::uint64_t> cls = ir::spelled_as_class(n);
        if (!cls) {
            out_ += "intersection(";
            for (const Node& m : members) {
                if (&m != members.data()) tasks_.push_back(Task::write(", "));
                tasks_.push_back(Task::render(&m, below));
            }
            tasks_.push_back(Task::write(")"));
            schedule(tasks_);
            return;
        }
        for (const Node& m : members) {
            if (m.kind == NodeKind::Sequence || m.kind == NodeKind::Instance || m.kind == NodeKind::Object) continue;
            tasks_.push_back(Task::write(", "));
            tasks_.push_back(Task::render(&m, below));
        }
        if (tasks_.empty()) {
            class_name(*cls);
            return;
        }
        out_ += "intersection(";
        class_name(*cls);
        tasks_.push_back(Task::write(")"));
        schedule(tasks_);
    }

    void back_edge(std::uint64_t definition, std::size_t below) {
        for (const auto& [index, name] : binders_) {
            if (index == definition) {
                out_ += name;
                return;
            }
        }
        binders_.emplace_back(definition, binder_name(binders_.size()));
        out_ += "recursive(lambda ";
        out_ += binders_.back().second;
        out_ += ": ";
        if (definition < schema_.definitions.size()) {
            tasks_.push_back(Task::render(&schema_.definitions[definition], below));
        } else {
            tasks_.push_back(Task::write(kElided));
        }
        tasks_.push_back(Task::write(")"));
        tasks_.push_back(Task::of(Task::Op::PopBinder));
        schedule(tasks_);
    }

    void constraint(const Constraint& c) {
        switch (c.kind) {
            case ConstraintKind::Ge: return bound("Ge(", c.value);
            case ConstraintKind::Gt: return bound("Gt(", c.value);
            case ConstraintKind::Le: return bound("Le(", c.value);
            case ConstraintKind::Lt: return bound("Lt(", c.value);
            case ConstraintKind::MultipleOf: return bound("MultipleOf(", c.value);
            case ConstraintKind::MinLen: out_ += "MinLen(" + std::to_string(c.value) + ')'; return;
            case ConstraintKind::MaxLen: out_ += "MaxLen(" + std::to_string(c.value) + ')'; return;
            case ConstraintKind::Predicate: out_ += "Predicate(...)"; return;
            case ConstraintKind::Regex: out_ += "Regex(" + str_literal_text(c.pattern) + ')'; return;
        }
        out_ += kElided;
    }

    void bound(std::string_view name, std::uint64_t index) {
        out_ += name;
        constant(index);
        out_ += ')';
    }

    void constant(std::uint64_t index) {
        if (index < schema_.pool.size()) {
            out_ += safe_repr(schema_.pool[index].get());
        } else {
            out_ += kUnknown;
        }
    }

    void class_name(std::uint64_t index) {
        if (index < schema_.pool.size()) {
            out_ += class_name_text(schema_.pool[index].get());
        } else {
            out_ += kUnknown;
        }
    }

    const CompiledSchema& schema_;
    std::string out_;
    std::uint64_t nodes_left_ = kRenderNodeBudget;
    std::vector<Task> stack_;
    std::vector<Task> tasks_;  // the tasks of the node being opened, in order
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> runs_;
    std::vector<std::pair<std::uint64_t, std::string>> binders_;
};

}  // namespace

std::string binder_name(std::size_t open) {
    switch (open) {
        case 0: return "X";
        case 1: return "Y";
        case 2: return "Z";
        default: return "T" + std::to_string(open);
    }
}

std::string str_literal_text(std::string_view utf8) {
    py::Ref str = py::Ref::steal(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), nullptr));
    if (str) {
        py::Ref r = py::Ref::steal(PyObject_Repr(str.get()));
        std::string text;
        if (r && str_text_lossy(r.get(), text)) return text;
    }
    PyErr_Clear();
    return debug_quoted(utf8);
}

std::string render_schema(const CompiledSchema& schema) { return Renderer(schema).run(); }

PyObject* validator_repr(PyObject* self) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        if (!py::native_stack_available("render this validator")) return nullptr;
        const std::string text = render_schema(v->schema);
        // Every piece is UTF-8 read from Python strs; "replace" only guards
        // against a key or pattern that was stored otherwise.
        return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    });
}

}  // namespace tessaron::python
