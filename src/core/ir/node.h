// The compiled schema tree.
//
// A schema is a tree of immutable `Node` values over a constant pool that
// lives elsewhere (the Python layer owns it; nodes only hold pool indices).
// Children are never held by value: a child is a `SharedNode`, an atomically
// reference-counted pointer to an immutable node, and a list of children or
// records is a shared, immutable vector that carries its own length.  Two
// children are identical when they are the same allocation; the per-thread
// sharing tables (sharing.h) make structurally equal children identical as
// far as they reach, so identity short-cuts most deep comparisons.
//
// Invariants every producer keeps (the constructors in construct.h establish
// them, the rewrites preserve them):
//   * union and intersection members are sorted in the canonical order
//     (order.h), free of structural duplicates, at least two of them, none
//     anything or nothing, none of the node's own kind;
//   * a refined node has at least one constraint, sorted and deduplicated,
//     and its constraint list is its own allocation (never shared through
//     the sharing tables);
//   * record entries are sorted by key bytes, no key twice (the builders
//     refuse a name declared twice); clauses are sorted by key then value,
//     without duplicates;
//   * pool indices, definition indices and placeholder ids are meaningful
//     only together with the schema the node belongs to.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaron::ir {

enum class NodeKind : std::uint8_t {
    Anything = 0,
    Nothing = 1,
    None = 2,
    Bool = 3,
    Int = 4,
    Float = 5,
    Str = 6,
    Bytes = 7,
    Literal = 8,
    Sequence = 9,
    Set = 10,
    Mapping = 11,
    Union = 12,
    Intersection = 13,
    Complement = 14,
    Instance = 15,
    Object = 16,
    Refined = 17,
    BackEdge = 18,
    Placeholder = 19,
};

inline constexpr int kNodeKindCount = 20;

// Flavours of the two container kinds that carry one.
inline constexpr std::uint8_t kFlavourList = 0;
inline constexpr std::uint8_t kFlavourTuple = 1;
inline constexpr std::uint8_t kFlavourSet = 0;
inline constexpr std::uint8_t kFlavourFrozenset = 1;

struct Node;
struct RecordEntry;
struct Clause;
struct Constraint;

using SharedNode = std::shared_ptr<const Node>;
using WeakNode = std::weak_ptr<const Node>;
template <class T>
using SharedList = std::shared_ptr<const std::vector<T>>;
using NodeList = SharedList<Node>;
using EntryList = SharedList<RecordEntry>;
using ClauseList = SharedList<Clause>;
using ConstraintList = SharedList<Constraint>;
using SharedText = std::shared_ptr<const std::string>;

// One node.  Which fields are meaningful depends on `kind`:
//
//   kind          flag               index             child    nodes    entries  clauses  constraints
//   anything      Any flag (1: Any)  -                 -        -        -        -        -
//   literal       -                  pool index        -        -        -        -        -
//   sequence      flavour            -                 tail?    prefix   -        -        -
//   set           flavour            -                 element  -        -        -        -
//   mapping       -                  -                 -        -        entries  clauses  -
//   union/inter.  -                  -                 -        members  -        -        -
//   complement    -                  -                 inner    -        -        -        -
//   instance      -                  pool index        -        -        -        -        -
//   object        -                  -                 -        -        entries  -        -
//   refined       -                  -                 inner    -        -        -        list
//   back edge     -                  definition index  -        -        -        -        -
//   placeholder   -                  placeholder id    -        -        -        -        -
//
// Fields a kind does not use are empty (null pointers, zero).  The flag is a
// field of anything, sequence and set only; elsewhere it is zero and never
// compared, hashed or rendered.
struct Node {
    NodeKind kind = NodeKind::Nothing;
    std::uint8_t flag = 0;
    std::uint64_t index = 0;
    SharedNode child;
    NodeList nodes;
    EntryList entries;
    ClauseList clauses;
    ConstraintList constraints;

    // --- leaf factories -------------------------------------------------
    static Node anything(bool written_as_any = false) {
        Node n;
        n.kind = NodeKind::Anything;
        n.flag = written_as_any ? 1 : 0;
        return n;
    }
    static Node nothing() { return Node{}; }
    static Node scalar(NodeKind k) {  // None, bool, int, float, str, bytes
        Node n;
        n.kind = k;
        return n;
    }
    static Node literal(std::uint64_t pool_index) { return indexed(NodeKind::Literal, pool_index); }
    static Node instance(std::uint64_t pool_index) { return indexed(NodeKind::Instance, pool_index); }
    static Node back_edge(std::uint64_t definition) { return indexed(NodeKind::BackEdge, definition); }
    static Node placeholder(std::uint64_t id) { return indexed(NodeKind::Placeholder, id); }
    static Node indexed(NodeKind k, std::uint64_t i) {
        Node n;
        n.kind = k;
        n.index = i;
        return n;
    }

    // --- accessors named after the payload they read ---------------------
    bool any_flag() const { return kind == NodeKind::Anything && flag != 0; }
    std::uint8_t flavour() const { return flag; }
    const NodeList& prefix() const { return nodes; }        // sequence
    const SharedNode& tail() const { return child; }        // sequence (may be null)
    const SharedNode& element() const { return child; }     // set
    const SharedNode& inner() const { return child; }       // complement, refined
    const NodeList& members() const { return nodes; }       // union, intersection
    std::uint64_t pool_index() const { return index; }      // literal, instance
    std::uint64_t definition() const { return index; }      // back edge
    std::uint64_t placeholder_id() const { return index; }  // placeholder
};

// A declared key of a mapping or a declared attribute of an object node.
struct RecordEntry {
    SharedText key;
    bool required = true;
    Node value;

    std::string_view key_view() const { return key ? std::string_view(*key) : std::string_view(); }
};

// One catch-all clause of a mapping: keys admitted by `key` map to values
// admitted by `value`.
struct Clause {
    Node key;
    Node value;
};

enum class ConstraintKind : std::uint8_t {
    Ge = 0,
    Gt = 1,
    Le = 2,
    Lt = 3,
    MinLen = 4,
    MaxLen = 5,
    MultipleOf = 6,
    Predicate = 7,
    Regex = 8,
};

// The greatest length any value has: the largest Py_ssize_t, which `len()`
// cannot exceed (no str, bytes, list or tuple is longer).  A MinLen above
// it admits no value; a MaxLen at or above it limits nothing a length
// check admits.
inline constexpr std::uint64_t kMaxLength = static_cast<std::uint64_t>(PTRDIFF_MAX);

// One refinement of a refined node.  `value` is a pool index for Ge, Gt, Le,
// Lt, MultipleOf and Predicate, a count for MinLen and MaxLen; `pattern` is
// the pattern text of a Regex.
struct Constraint {
    ConstraintKind kind = ConstraintKind::Ge;
    std::uint64_t value = 0;
    std::string pattern;

    bool names_pool_object() const {
        return kind != ConstraintKind::MinLen && kind != ConstraintKind::MaxLen &&
               kind != ConstraintKind::Regex;
    }
};

inline SharedText make_text(std::string_view s) { return std::make_shared<const std::string>(s); }

// The elements of a shared list as a span; a null list reads as empty.
template <class T>
std::span<const T> as_span(const SharedList<T>& list) {
    return list ? std::span<const T>(*list) : std::span<const T>();
}

// The kinds without children of their own (a back edge is a leaf too: the
// definition it names is not a child).
inline bool is_leaf_kind(NodeKind k) {
    switch (k) {
        case NodeKind::Sequence:
        case NodeKind::Set:
        case NodeKind::Mapping:
        case NodeKind::Union:
        case NodeKind::Intersection:
        case NodeKind::Complement:
        case NodeKind::Object:
        case NodeKind::Refined:
            return false;
        default:
            return true;
    }
}

// Process-wide shared empty lists and the catch-all clause list
// [(anything, anything)].  Each is created once, thread-safely, and every
// call hands out a new reference to the same allocation.
const NodeList& empty_node_slice();
const EntryList& empty_entry_slice();
const ClauseList& empty_clause_slice();
const ClauseList& open_clause_list();

// Appends pointers to the node's direct children, in the canonical
// enumeration order, to a caller-owned stack.  A back edge is a leaf here:
// traversals that follow recursion look the definition up themselves.
void push_children(const Node& node, std::vector<const Node*>& stack);

// Calls `on_constraint` on the constraints of the nodes reachable from those
// on `stack`, reading each shared list (and child) once, so that a schema
// whose lists are shared costs its distinct lists, not its paths.
// `first_time(list)` answers whether a list (a `std::shared_ptr`, possibly
// null) is met for the first time; a caller that keeps its answers across
// walks reads each list once in all of them.  Back edges are leaves, as in
// `push_children`.  False as soon as `on_constraint` answers false.
template <class FirstTime, class OnConstraint>
bool for_each_constraint_once(std::vector<const Node*>& stack, FirstTime&& first_time, OnConstraint&& on_constraint) {
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (first_time(n->constraints))
            for (const Constraint& c : *n->constraints)
                if (!on_constraint(c)) return false;
        if (first_time(n->nodes))
            for (const Node& m : *n->nodes) stack.push_back(&m);
        if (first_time(n->entries))
            for (const RecordEntry& e : *n->entries) stack.push_back(&e.value);
        if (first_time(n->clauses))
            for (const Clause& c : *n->clauses) {
                stack.push_back(&c.key);
                stack.push_back(&c.value);
            }
        if (first_time(n->child)) stack.push_back(n->child.get());
    }
    return true;
}

// The short wording of what a node's kind expects ("int", "list", ...).
std::string_view expected_kind_text(const Node& node);

}  // namespace tessaron::ir
