// `Regex(pattern)`: the pattern marker a validator's repr writes.
//
// A validator shows a pattern constraint as `Regex('...')`, with the flags
// already written into the text as inline flags; this class is that name,
// so that the repr evaluates back into an equal validator.  An instance
// carries one str, `pattern`, which the builder reads as it reads any
// marker's (build/marker_pattern.cc); it is immutable and compares and
// hashes by that text.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

// The class, created once per process; borrowed, or nullptr with an
// exception set.
PyObject* regex_marker_type();

}  // namespace tessaron::python
