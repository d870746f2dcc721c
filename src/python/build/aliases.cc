// Type aliases (`type Tree = list[Tree]`): the builder of a
// `typing.TypeAliasType` and the per-thread stack of the aliases being
// built.
//
// Building an alias builds its `__value__`.  While that runs, the alias
// stands on the thread's alias stack with a fresh placeholder id (drawn from
// the counter `recursive(...)` uses, so no two placeholders of the process
// share an id).  A nested build that meets the same alias again answers the
// placeholder and marks the entry used.  When the value is built and the
// entry was used, the placeholders become back edges to the definition the
// value is about to take (in every definition already present too: a
// mutually recursive alias built inside this one may have left some there),
// the value is refused when it reaches itself without passing a structural
// constructor, and it is appended as that definition; the alias builds to a
// back edge to it.  An alias that never met itself builds to its value
// inline and adds no definition.  Each occurrence of a recursive alias
// outside its own value is built anew, with its own id and definition.
//
// Invariants: every build pops exactly the entry it pushed, whatever its
// outcome, so after every build the stack is as it was before it.  The
// stack is borrowed only for a search, a push or a pop, never across a
// nested build.  An entry holds the alias by identity without a reference:
// it never outlives the build of its alias, which keeps the alias alive.
//
// Compilation scope: user code run by a build (a lazily evaluated
// `__value__`) may compile another validator on the same thread.  That
// compilation must not see the aliases of the one it runs inside: a
// placeholder of the outer alias would land in a schema that can never
// resolve it.  So every entry records the compilation that pushed it, every
// compilation (`CompilationBudget`) opens a fresh `AliasScope` with a new
// serial number, and the search looks only at the entries of the current
// compilation.
#include <cstdint>
#include <optional>
#include <vector>

#include "core/ir/per_thread.h"
#include "core/ir/placeholder_stack.h"
#include "core/ir/resolve.h"
#include "python/binding/intern.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"

namespace tessaron::python {

namespace {

struct AliasEntry {
    PyObject* alias;           // by identity, no reference held
    std::uint64_t id;          // the placeholder id of this build
    std::uint64_t compilation;  // the serial of the compilation that pushed it
    bool used;                 // a nested build met the alias
};

struct AliasStack {
    std::vector<AliasEntry> entries;
    std::int32_t borrow = 0;
};

// The compilation in progress on this thread, and the last serial handed
// out.  Plain integers: readable at any point of the thread's life.
constinit thread_local std::uint64_t t_compilation = 0;
constinit thread_local std::uint64_t t_last_compilation = 0;

bool internal_error(const char* what) {
    PyErr_Format(PyExc_SystemError, "type alias stack: %s", what);
    return false;
}

// The id of this compilation's entry for `alias`, marked used; nothing when
// there is none.  Bottom first.
std::optional<std::uint64_t> find_and_mark(AliasStack& stack, PyObject* alias) {
    for (AliasEntry& e : stack.entries) {
        if (e.alias == alias && e.compilation == t_compilation) {
            e.used = true;
            return e.id;
        }
    }
    return std::nullopt;
}

const char kNotContractive[] =
    "recursive type alias is not contractive: the alias names itself outside any structural constructor, so it "
    "denotes no set. Put the self-reference under a list, tuple, set, dict, record, or object";

}  // namespace

AliasScope::AliasScope() noexcept : saved_(t_compilation) { t_compilation = ++t_last_compilation; }

AliasScope::~AliasScope() { t_compilation = saved_; }

bool build_type_alias(PyObject* alias, BuildTarget target, ir::Node& out) {
    AliasStack* stack = ir::PerThread<AliasStack>::get();
    if (stack == nullptr) return internal_error("used while its thread is ending");

    // 1-2: a self-reference answers the placeholder; otherwise push a new
    // entry.
    std::uint64_t id = 0;
    {
        ir::BorrowGuard guard(stack->borrow);
        if (!guard) return internal_error("re-entrant access");
        if (std::optional<std::uint64_t> found = find_and_mark(*stack, alias)) {
            out = ir::Node::placeholder(*found);
            return true;
        }
        id = ir::next_placeholder_id();
        stack->entries.push_back(AliasEntry{alias, id, t_compilation, false});
    }

    // 3-4: read and build the value; the entry is popped whatever happens.
    ir::Node node;
    bool built = false;
    {
        py::Ref value = py::Ref::steal(PyObject_GetAttr(alias, TS_INTERNED("__value__")));
        if (value) built = build_node(value.get(), target, node);
    }

    // 5: pop this build's entry (every nested build has popped its own).
    bool used = false;
    {
        ir::BorrowGuard guard(stack->borrow);
        if (!guard || stack->entries.empty() || stack->entries.back().id != id) {
            if (!built) return false;  // keep the build's own error
            return internal_error("entry lost");
        }
        used = stack->entries.back().used;
        stack->entries.pop_back();
    }

    // 6-7: a failure, or a value that never met its alias.
    if (!built) return false;
    if (!used) {
        out = std::move(node);
        return true;
    }

    // 8: the value becomes definition n.
    const std::uint64_t n = target.definitions.size();
    ir::resolve_placeholder_in_schema(node, target.definitions, id, n);
    if (ir::has_unguarded_recursion(node, n, target.definitions)) {
        PyErr_SetString(PyExc_ValueError, kNotContractive);
        return false;
    }
    target.definitions.push_back(std::move(node));
    out = ir::Node::back_edge(n);
    return true;
}

}  // namespace tessaron::python
