// Interned strings for attribute names and dictionary keys.
//
// `TS_INTERNED("name")` yields a borrowed, immortal-for-our-purposes
// reference to the interned str "name", created once per call site.  The
// initialisation runs under the interpreter lock and never releases it, so
// the function-local static guard cannot deadlock against it.
#pragma once

#include "python/binding/capi.h"

#define TS_INTERNED(literal)                                              \
    ([]() -> PyObject* {                                                  \
        static PyObject* const interned_ = PyUnicode_InternFromString(literal); \
        return interned_;                                                 \
    }())
