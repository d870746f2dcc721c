// Class-set operators: where this engine and Python's `re` read one
// pattern text as two different sets.
//
// Inside a bracketed class, `&&`, `--` and `~~` are set operations to this
// engine (intersection, difference, symmetric difference) but literal
// characters to `re`, and a nested `[` opens a nested set here but is a
// literal there.  A pattern written for `re` that contains one of them
// would be matched differently, so the schema builder refuses it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tessaron::pattern {

struct ClassSetOperator {
    // "nested set", "set intersection", "set difference" or
    // "set symmetric difference".
    const char* name;
    // Where it starts, in code points from 0.
    std::size_t position;
};

// The first class-set operator of the pattern text, or none.  Any bytes are
// accepted: a malformed UTF-8 sequence counts as one code point per byte.
std::optional<ClassSetOperator> find_class_set_operator(std::string_view text);

}  // namespace tessaron::pattern
