// The value source of a parsed JSON document (`is_valid_json`).
//
// A `JsonSource` names one value of a JSON value tree (core/json/tree.h)
// without owning it; the document outlives the walk.  Its identity is the
// value's address.  The scalar tests read the value's kind: a JSON true or
// false is a bool and also an int, a number written with a fraction or
// exponent is a float, no JSON value is bytes.  A check that must hand the
// value to Python gets a new Python object for it (`json_value_to_python`).
#pragma once

#include "python/binding/capi.h"

#include <cstdint>

#include "core/json/tree.h"
#include "python/binding/ref.h"
#include "python/check/source.h"
#include "python/json/to_python.h"

namespace tessaron::python::check {

struct JsonSource {
    static constexpr bool is_json = true;

    const json::Document* doc;
    const json::Value* value;

    std::uint64_t identity() const {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(value));
    }

    bool is_none() const { return value->kind == json::Kind::Null; }
    bool is_exact_bool() const { return value->kind == json::Kind::False || value->kind == json::Kind::True; }
    bool is_int() const {
        switch (value->kind) {
            case json::Kind::False:
            case json::Kind::True:
            case json::Kind::Int:
            case json::Kind::BigInt:
                return true;
            default:
                return false;
        }
    }
    bool is_float() const { return value->kind == json::Kind::Float; }
    bool is_str() const { return value->kind == json::Kind::String; }
    bool is_bytes() const { return false; }

    // A new Python object for the value, kept in `holder`; nullptr when the
    // conversion raised (the exception is set).
    PyObject* as_python(py::Ref& holder) const {
        holder = py::Ref::steal(json_value_to_python(*doc, *value));
        return holder.get();
    }

    JsonSource child(const json::Value& v) const { return JsonSource{doc, &v}; }
};
static_assert(ValueSource<JsonSource>);

}  // namespace tessaron::python::check
