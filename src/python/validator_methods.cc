// The Validator method table, in its documented order.
#include "python/validator_methods.h"

#include "python/check/entry.h"
#include "python/check/json_entry.h"
#include "python/decide.h"
#include "python/value_semantics.h"

namespace tessaron::python {

PyMethodDef* validator_method_table() {
    static PyMethodDef methods[] = {
        {"validate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(validate_method)),
         METH_FASTCALL | METH_KEYWORDS, kValidateDoc},
        {"is_valid", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_valid_method)),
         METH_FASTCALL | METH_KEYWORDS, kIsValidDoc},
        {"ensure", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ensure_method)),
         METH_FASTCALL | METH_KEYWORDS, kEnsureDoc},
        {"validate_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(validate_json_method)),
         METH_FASTCALL | METH_KEYWORDS, kValidateJsonDoc},
        {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_method)),
         METH_FASTCALL | METH_KEYWORDS, kLoadDoc},
        {"is_valid_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_valid_json_method)),
         METH_FASTCALL | METH_KEYWORDS, kIsValidJsonDoc},
        {"is_empty", is_empty_method, METH_NOARGS, kIsEmptyDoc},
        {"is_subtype_of", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_subtype_of_method)),
         METH_FASTCALL | METH_KEYWORDS, kIsSubtypeOfDoc},
        {"relation_to", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(relation_to_method)),
         METH_FASTCALL | METH_KEYWORDS, kRelationToDoc},
        {"is_equivalent", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_equivalent_method)),
         METH_FASTCALL | METH_KEYWORDS, kIsEquivalentDoc},
        {"__reduce__", reduce_method, METH_NOARGS, kReduceDoc},
        {"__copy__", copy_method, METH_NOARGS, kCopyDoc},
        {"__deepcopy__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(deepcopy_method)),
         METH_FASTCALL | METH_KEYWORDS, kDeepcopyDoc},
        {"open", open_method, METH_NOARGS, kOpenDoc},
        {"close", close_method, METH_NOARGS, kCloseDoc},
        {"simplify", simplify_method, METH_NOARGS, kSimplifyDoc},
        {nullptr, nullptr, 0, nullptr},
    };
    return methods;
}

}  // namespace tessaron::python
