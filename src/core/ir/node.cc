// Process-wide shared lists, child enumeration and the expected wording of
// each node kind.
//
// The four shared lists are function-local statics: C++ guarantees their
// one-time, thread-safe initialisation (a thread that asks while another
// initialises waits), and they live until the process ends.  Every caller
// copies the returned reference, taking one more count on the allocation.
//
// `push_children` is the single place that knows which fields of a node are
// children and in which order every non-recursive traversal visits them; it
// pushes pointers into the node's own storage, never copies.
#include "core/ir/node.h"

namespace tessaron::ir {

const NodeList& empty_node_slice() {
    static const NodeList list = std::make_shared<const std::vector<Node>>();
    return list;
}

const EntryList& empty_entry_slice() {
    static const EntryList list = std::make_shared<const std::vector<RecordEntry>>();
    return list;
}

const ClauseList& empty_clause_slice() {
    static const ClauseList list = std::make_shared<const std::vector<Clause>>();
    return list;
}

const ClauseList& open_clause_list() {
    static const ClauseList list = [] {
        std::vector<Clause> clauses;
        clauses.push_back(Clause{Node::anything(false), Node::anything(false)});
        return std::make_shared<const std::vector<Clause>>(std::move(clauses));
    }();
    return list;
}

void push_children(const Node& node, std::vector<const Node*>& stack) {
    switch (node.kind) {
        case NodeKind::Sequence:
            for (const Node& n : as_span(node.nodes)) stack.push_back(&n);
            if (node.child) stack.push_back(node.child.get());
            break;
        case NodeKind::Set:
        case NodeKind::Complement:
        case NodeKind::Refined:
            if (node.child) stack.push_back(node.child.get());
            break;
        case NodeKind::Mapping:
            for (const RecordEntry& e : as_span(node.entries)) stack.push_back(&e.value);
            for (const Clause& c : as_span(node.clauses)) {
                stack.push_back(&c.key);
                stack.push_back(&c.value);
            }
            break;
        case NodeKind::Union:
        case NodeKind::Intersection:
            for (const Node& n : as_span(node.nodes)) stack.push_back(&n);
            break;
        case NodeKind::Object:
            for (const RecordEntry& e : as_span(node.entries)) stack.push_back(&e.value);
            break;
        default:
            break;
    }
}

std::string_view expected_kind_text(const Node& node) {
    const Node* n = &node;
    while (n->kind == NodeKind::Refined && n->child) n = n->child.get();
    switch (n->kind) {
        case NodeKind::Anything: return "anything";
        case NodeKind::Nothing: return "nothing";
        case NodeKind::None: return "None";
        case NodeKind::Bool: return "bool";
        case NodeKind::Int: return "int";
        case NodeKind::Float: return "float";
        case NodeKind::Str: return "str";
        case NodeKind::Bytes: return "bytes";
        case NodeKind::Literal: return "literal";
        case NodeKind::Sequence: return n->flag == kFlavourTuple ? "tuple" : "list";
        case NodeKind::Set: return n->flag == kFlavourFrozenset ? "frozenset" : "set";
        case NodeKind::Mapping: return "dict";
        case NodeKind::Union: return "union";
        case NodeKind::Intersection: return "intersection";
        case NodeKind::Complement: return "complement";
        case NodeKind::Instance: return "instance";
        case NodeKind::Object: return "object";
        case NodeKind::Refined: return "refined";  // only without an inner node, which no producer makes
        case NodeKind::BackEdge: return "value";
        case NodeKind::Placeholder: return "recursive value";
    }
    return "value";
}

}  // namespace tessaron::ir
