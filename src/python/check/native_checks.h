// Native copies of the checks a JSON value can pass without a Python object.
//
// See native_checks.cc.  `build_native_checks` copies, once per validator
// and with the interpreter lock held, the constants of literals and the
// bounds, lengths, divisors and patterns of refinements into plain C++
// values; the answers below read only those copies and the value, so they
// run on any thread, the interpreter lock held or not.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/node.h"
#include "core/json/tree.h"
#include "core/pattern/pattern.h"
#include "core/util/fxhash.h"
#include "core/util/poll.h"
#include "python/binding/ref.h"

namespace tessaron::python::check {

// A bound or divisor: an exact int within 64 bits, or an exact float.
struct NativeNumber {
    bool is_float = false;
    std::int64_t integer = 0;
    double real = 0.0;
};

struct NativeConstraint {
    ir::ConstraintKind kind = ir::ConstraintKind::Ge;
    NativeNumber number;       // Ge, Gt, Le, Lt: the bound; MultipleOf: the divisor
    std::uint64_t count = 0;   // MinLen, MaxLen
    std::shared_ptr<const pattern::FullMatcher> matcher;  // Regex
};

// The constraints of a refined node whose every constraint has a native
// copy, in the node's order.
struct NativeRefinement {
    std::vector<NativeConstraint> constraints;
    // Every constraint is MinLen or MaxLen; the lengths they admit.
    bool lengths_only = true;
    std::uint64_t min_length = 0;
    std::uint64_t max_length = std::numeric_limits<std::uint64_t>::max();
};

// A literal's constant as a JSON value meets it.  `Never`: no JSON value
// has the constant's exact type (bytes, a tuple, an enumeration member, a
// str with a lone surrogate, an int beyond 64 bits against any but a big
// int ...), or `Unknown`: only Python can tell (a list or dict constant, an
// int beyond 64 bits against a big int).
struct NativeConstant {
    enum class Kind : std::uint8_t { Unknown, Never, None, Bool, Int, BigInt, Float, Str, Container };
    Kind kind = Kind::Unknown;
    bool truth = false;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string text;
};

struct NativeChecks {
    // By the address of a refined node's constraint list.
    boost::unordered_flat_map<const void*, NativeRefinement, util::FxHash> refinements;
    // By pool index, for every literal node.
    boost::unordered_flat_map<std::uint64_t, NativeConstant, util::FxHash> constants;
    // The walk of a JSON value against any node of the schema makes no
    // Python object and calls no Python API, in verdict-only mode: every
    // literal and refinement has a native copy that answers every value,
    // and no node checks a class or attributes.
    bool json_walk_without_python = false;

    const NativeRefinement* refinement(const ir::Node& refined) const;
    const NativeConstant* constant(std::uint64_t pool_index) const;
};

// Fills `out` from a finished schema: every refined node whose constraints
// all have native copies (bounds and divisors that are exact ints within 64
// bits or exact floats, lengths, patterns found in `patterns`, keyed by the
// address of the constraint's pattern text), and the constant of every
// literal node.  Reads the pool: the interpreter lock must be held.  False
// with a Python exception set only when the interpreter fails (memory).
bool build_native_checks(
    const ir::Node& root, std::span<const ir::Node> definitions, std::span<const py::Ref> pool,
    const boost::unordered_flat_map<const void*, std::shared_ptr<const pattern::FullMatcher>, util::FxHash>& patterns,
    NativeChecks& out);

// A JSON value as the native checks read it.
struct NativeValue {
    json::Kind kind = json::Kind::Null;
    std::int64_t integer = 0;   // Int
    double real = 0.0;          // Float
    std::string_view text;      // String: its UTF-8 text; BigInt: its decimal digits
    std::uint64_t length = 0;   // Array: its items; Object: its distinct keys
};

// The value of a tree's node (its objects' keys are distinct already).
NativeValue native_value(const json::Document& doc, const json::Value& value);

// Whether a value that passed the refined node's base passes every
// constraint, as the Python operations on the value's Python object would
// answer: 1 yes, 0 no, -1 only Python can tell (a str against a divisor)
// whether the constraints from that one on hold.  A pattern ticks `poll`;
// when the poll stops the work the answer means nothing (the caller looks
// at the poll).
int native_refinement_answer(const NativeRefinement& refinement, const NativeValue& value, util::Poll* poll);

// Whether the value equals the literal's constant as the walk's literal
// test answers (the same exact type, then `==`): 1, 0, or -1 (only Python
// can tell).
int native_literal_answer(const NativeConstant& constant, const NativeValue& value);

}  // namespace tessaron::python::check
