// The schema builder: one Python schema spec into one `Node`.
//
// `build_node` is the single entry; the form builders (classes, generic
// forms, literals, aliases, Annotated) re-enter it for every nested spec.
// All of them share one shape: the object to build, the pool and the
// definitions of the schema being compiled (both only appended to), and an
// out-parameter for the node.  They return false with a Python exception set
// when they refuse the spec; the caller then discards pool and definitions.
#pragma once

#include "python/binding/capi.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/limits.h"
#include "core/ir/node.h"
#include "python/pattern_cache.h"
#include "python/pool.h"

namespace tessaron::python {

struct BuildTarget {
    Pool& pool;
    std::vector<ir::Node>& definitions;
};

// The dispatcher: fixed order of tests, nesting bounded per thread.
bool build_node(PyObject* spec, BuildTarget target, ir::Node& out);

// The constants of an exact builtin scalar type (str, int, bool, bytes,
// float) at `args[begin..]` (a tuple), up to the first other argument, each
// as `build_node` builds it -- a literal node over the pooled value, one
// builder step -- without the dispatcher's tests, none of which such a value
// can match (each is a type test or an attribute the builtin types do not
// have).  Appends the nodes and answers the index of the first argument not
// built: `begin` when that one is not such a constant or is a case
// `build_node` must handle itself (the nesting limit, no compilation open);
// -1 with the exception set (no native stack left, the step budget spent).
Py_ssize_t build_plain_constants(PyObject* args, Py_ssize_t begin, BuildTarget target, std::vector<ir::Node>& out);

// Whether `spec` is a `typing.ForwardRef`; false with no error when the
// typing module has none.  Returns -1 with an exception set on failure.
int is_forward_ref(PyObject* spec);

// The form builders the dispatcher hands specs to.
bool build_class(PyObject* cls, BuildTarget target, ir::Node& out);
bool build_annotated(PyObject* origin, PyObject* metadata, BuildTarget target, ir::Node& out);
bool build_generic(PyObject* spec, PyObject* origin, PyObject* args, BuildTarget target, ir::Node& out);
bool build_type_alias(PyObject* alias, BuildTarget target, ir::Node& out);
bool build_list_literal(PyObject* list, BuildTarget target, ir::Node& out);
bool build_record_literal(PyObject* dict, BuildTarget target, ir::Node& out);

// --- Annotated metadata (annotated.cc, markers.cc, marker_pattern.cc) -------

// Reads one metadata item as a marker at group `depth` (0 for an item of the
// Annotated form itself), appending the constraints it carries.
bool read_marker(PyObject* item, std::vector<ir::Constraint>& constraints, BuildTarget target, int depth);
// Reads each element of a grouped marker at `depth + 1`; refuses a group
// deeper than 7 and one that yields more than MAX_SCHEMA_NODES constraints.
bool build_marker_group(PyObject* item, std::vector<ir::Constraint>& constraints, BuildTarget target, int depth);
// The ValueError of a group (or Annotated form) that yields more than
// MAX_SCHEMA_NODES constraints; always false.
bool constraint_limit_exceeded(PyObject* group);
// Whether the object says it is grouped metadata (errors count as no; a
// fatal one is left set).
bool is_grouped_metadata(PyObject* obj);
// Whether the type is a marker of `annotated_types` other than DocInfo.
bool is_unchecked_marker_type(PyTypeObject* type);
// False with the ValueError set when a divisor is not a `numbers.Number`.
bool check_divisor_is_number(PyObject* value);
// `numbers.Number`, looked up once for the process; nullptr with the
// exception set when the lookup fails.
PyObject* number_class();
// The text of a marker's pattern; false with NotImplementedError set when
// it is not a str.
bool read_pattern_text(PyObject* pattern_value, std::string& text);
// Appends the Regex constraint of a pattern text, with the marker's "flags"
// value applied (nullptr: none); false with the exception set when the
// flags, a class-set operator or the pattern itself is refused.
bool add_pattern_constraint(std::string text, PyObject* flags, std::vector<ir::Constraint>& constraints);

// Carries another validator's tree into the schema being built.
bool merge_validator(PyObject* validator, BuildTarget target, ir::Node& out);

// The nesting limit of the builder: 129 nested `build_node` calls pass.
inline constexpr std::size_t kFrontendDepthLimit = 129;

// --- the step budget of one compilation ----------------------------------
//
// A spec may share a part many times (`x = tuple[x, x]`, repeated), and the
// builder rebuilds a shared part at every occurrence, so the work can grow
// exponentially before any size bound of the finished schema is checked.
// Every compilation therefore gets a budget of builder steps (`build_node`
// calls), and the step past it fails with a ValueError.

inline constexpr std::uint64_t kBuildStepBudget = 10 * ir::kMaxSchemaNodes;

// The type aliases a compilation sees (aliases.cc): each compilation gets a
// serial number of its own, and a type alias being built is visible only to
// the builds of the compilation that started it.  A compilation nested
// inside another (user code in a lazily evaluated `__value__` calling
// Validator(...)) thus never meets the outer compilation's aliases.  Opened
// by every `CompilationBudget`; restores the enclosing serial when it ends.
class AliasScope {
public:
    AliasScope() noexcept;
    ~AliasScope();
    AliasScope(const AliasScope&) = delete;
    AliasScope& operator=(const AliasScope&) = delete;

private:
    std::uint64_t saved_;
};

// Opens a fresh budget for one compilation on this thread and gives the
// enclosing compilation's budget back when it ends, so that a compilation
// nested inside another (user code run by a build calling Validator(...))
// neither shares nor resets the outer one's count.  Every entry point that
// compiles a spec (Validator.__new__, the combinators, `|`, the compilation
// of `other` in the decisions) holds one around its builds; a `build_node`
// called with no budget open opens one for its own duration.
class CompilationBudget {
public:
    CompilationBudget() noexcept;
    ~CompilationBudget();
    CompilationBudget(const CompilationBudget&) = delete;
    CompilationBudget& operator=(const CompilationBudget&) = delete;

private:
    std::uint64_t saved_used_;
    bool saved_open_;
    AliasScope aliases_;  // the compilation's own view of the alias stack
    BuiltPatternsScope patterns_;  // what it compiled, for the validators it makes
};

// Counts one builder step against the open budget.  False with the
// "schema is too large to compile" ValueError set once the budget is spent
// (and at every later step of the same compilation).
bool charge_build_step();

// Whether `steps` more steps fit in what is left of the budget, without
// counting them; false with the same ValueError set when they do not.  For
// work that precedes the builder calls it stands for.
bool build_steps_available(std::uint64_t steps);

// --- shared rules of the form builders ------------------------------------

// The refusal of a str or `typing.ForwardRef` where a type is expected
// (always returns false, with the NotImplementedError set).
bool refuse_forward_reference(PyObject* arg);

// A type argument of a typing form: a str or a `typing.ForwardRef` is
// refused with the forward-reference message, anything else is built.
bool reject_forward_reference(PyObject* arg, BuildTarget target, ir::Node& out);

// Identity with `builtins.Ellipsis`; false when the typing names cannot be
// loaded (that error is discarded).
bool is_ellipsis(PyObject* obj);

// The only item of `args` (borrowed), or nullptr with the NotImplementedError
// "{spec} takes exactly one type argument, and this one is written with
// {n}: {hint}" set.
PyObject* single_type_argument(PyObject* args, PyObject* spec, const char* hint);

// True when the node is a refined node with at least one constraint, or
// reaches one through union and intersection members and complement inners.
bool has_refinement(const ir::Node& node);

// The map-key rule: a key schema may not narrow the keys it governs.  False
// with the NotImplementedError set (showing `key_spec`) when it does.
bool check_map_key(const ir::Node& key, PyObject* key_spec);

// Sequence payloads: exactly `elements`; `prefix` then any number of
// `tail`; any number of `element`.  The flavour is list or tuple.
ir::Node fixed_shape(std::uint8_t flavour, std::span<const ir::Node> elements);
ir::Node prefix_tail_shape(std::uint8_t flavour, std::span<const ir::Node> prefix, ir::Node tail);
ir::Node homogeneous_shape(std::uint8_t flavour, ir::Node element);

// The UTF-8 text of a str (or str subclass) used as a record key or field
// name; false with the lone-surrogate ValueError set when it has none.
bool key_text(PyObject* str, std::string& out);

}  // namespace tessaron::python
