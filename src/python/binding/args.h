// Argument parsing for fast-call methods and module functions.
//
// The wording of every argument error is fixed (callers and tests match it
// exactly):
//   "{f} takes {n} positional arguments but {m} {was|were} given"
//   "{f} takes from {a} to {b} positional arguments but {m} {was|were} given"
//   "{f} missing {n} required positional {argument|arguments}: 'a', 'b', and 'c'"
//   "{f} missing {n} required keyword {argument|arguments}: ..."
//   "{f} got an unexpected keyword argument '{k}'"
//   "{f} got multiple values for argument '{k}'"
//   "{f} got some positional-only arguments passed as keyword arguments: ..."
// where {f} is the callable's full name with parentheses, e.g.
// "Validator.validate()".
#pragma once

#include "python/binding/capi.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace tessaron::py {

struct ArgSpec {
    const char* full_name = nullptr;             // "Validator.validate()"
    std::vector<const char*> positional = {};    // positional parameters, in order
    std::size_t required_positional = 0;         // the first n of them are required
    std::size_t positional_only = 0;             // the first n of them are positional-only
    std::vector<const char*> keyword_only = {};  // keyword-only parameters
    std::size_t required_keyword_only = 0;       // the first n of those are required
    bool var_positional = false;                 // *args: extra positionals are allowed
};

// Fills `out` (size positional.size() + keyword_only.size()) with borrowed
// references, null where a parameter was not given.  Returns false with the
// TypeError set on an argument error.
bool parse_fastcall(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out);

// "'a', 'b', and 'c'" as the argument errors list parameter names.
std::string quoted_name_list(const std::vector<std::string>& names);

}  // namespace tessaron::py
