// The list of value sources the walk is instantiated for.
//
// Each translation unit of the walk defines its templates and ends with
// `TS_FOR_EACH_SOURCE(its instantiation macro)`, so adding a source type is
// one line here plus the per-source overloads of the shape-dependent checks.
#pragma once

#include "python/check/json_source.h"
#include "python/check/source.h"

#define TS_FOR_EACH_SOURCE(X) \
    X(::tessaron::python::check::PySource) X(::tessaron::python::check::JsonSource)
