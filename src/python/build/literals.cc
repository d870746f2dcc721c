// Dict and list literals given as specs.
//
// A dict is a record: a str key names a field (a trailing `?` makes it
// optional and is not part of the name), any other key is a key schema whose
// value schema governs the keys it admits (a clause; the map-key rule of the
// generic forms applies).  Entries and clauses keep the dict's order until
// `make_record` sorts and shares them.  Two entries may end up with one
// name: "a" beside "a?", or two keys of str subclasses that are distinct
// dict keys with equal text.  Such a record is refused, so the test runs
// whenever a key carried a `?` or was not an exact str; a record of plain
// str keys without `?` cannot repeat a name and skips it.
//
// A list is a list schema: `[]` the empty list, `[T]` any number of `T`,
// `[A, B]` exactly those positions, and a trailing `...` repeats the element
// before it (`[A, B, ...]` is A followed by any number of B).  Elements are
// read by index when they are needed, so a list shortened by user code
// during a nested build fails with the interpreter's IndexError; the dict
// is read as the interpreter's iterator would (dict_entries.h).
//
// Elements, keys and values are built through `build_node`: a str there is
// a constant (`["a"]` is the list of strings equal to "a"), never a forward
// reference.
#include <string>
#include <utility>
#include <vector>

#include "core/ir/construct.h"
#include "python/build/builder.h"
#include "python/build/dict_entries.h"
#include "python/build/record_names.h"
#include "python/build/refusal.h"

namespace tessaron::python {

namespace {

constexpr const char kMisplacedEllipsis[] = "`...` may appear only as the last element of a list schema";

// Element `i` of the list as it is now (a new reference), or null with the
// IndexError set when the list has become shorter.
py::Ref list_item(PyObject* list, Py_ssize_t i) { return py::Ref::borrow(PyList_GetItem(list, i)); }

}  // namespace

bool build_record_literal(PyObject* dict, BuildTarget target, ir::Node& out) {
    std::vector<ir::RecordEntry> entries;
    std::vector<ir::Clause> clauses;
    bool names_may_repeat = false;
    DictEntries items(dict);
    py::Ref key;
    py::Ref value_spec;
    for (;;) {
        const int more = items.next(key, value_spec);
        if (more < 0) return false;
        if (more == 0) break;
        if (PyUnicode_Check(key.get())) {
            std::string text;
            if (!key_text(key.get(), text)) return false;
            const bool optional = !text.empty() && text.back() == '?';
            if (optional) text.pop_back();
            if (optional || !PyUnicode_CheckExact(key.get())) names_may_repeat = true;
            ir::Node value;
            if (!build_node(value_spec.get(), target, value)) return false;
            entries.push_back(ir::RecordEntry{ir::make_text(text), !optional, std::move(value)});
        } else {
            ir::Node key_node;
            if (!build_node(key.get(), target, key_node)) return false;
            if (!check_map_key(key_node, key.get())) return false;
            ir::Node value;
            if (!build_node(value_spec.get(), target, value)) return false;
            clauses.push_back(ir::Clause{std::move(key_node), std::move(value)});
        }
    }
    if (names_may_repeat &&
        !check_names_once(entries, "key", "record",
                          "a name and the same name with a trailing `?` are one field, so write it once with the type "
                          "and the optionality it has"))
        return false;
    out = ir::make_record(std::move(entries), std::move(clauses));
    return true;
}

bool build_list_literal(PyObject* list, BuildTarget target, ir::Node& out) {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    if (n == 0) {
        out = fixed_shape(ir::kFlavourList, {});
        return true;
    }
    // Builds elements [0, count) in order, refusing an `...` among them.
    std::vector<ir::Node> elements;
    const auto build_elements = [&](Py_ssize_t count) {
        elements.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            py::Ref element_spec = list_item(list, i);
            if (!element_spec) return false;
            if (is_ellipsis(element_spec.get())) return not_implemented(kMisplacedEllipsis);
            ir::Node element;
            if (!build_node(element_spec.get(), target, element)) return false;
            elements.push_back(std::move(element));
        }
        return true;
    };

    py::Ref last = list_item(list, n - 1);
    if (!last) return false;
    const bool repeats = is_ellipsis(last.get());
    if (n == 1 && !repeats) {
        ir::Node element;
        if (!build_node(last.get(), target, element)) return false;
        out = homogeneous_shape(ir::kFlavourList, std::move(element));
        return true;
    }
    if (n >= 2 && repeats) {
        if (!build_elements(n - 1)) return false;
        ir::Node tail = std::move(elements.back());
        elements.pop_back();
        out = elements.empty() ? homogeneous_shape(ir::kFlavourList, std::move(tail))
                               : prefix_tail_shape(ir::kFlavourList, elements, std::move(tail));
        return true;
    }
    if (!build_elements(n)) return false;
    out = fixed_shape(ir::kFlavourList, elements);
    return true;
}

}  // namespace tessaron::python
