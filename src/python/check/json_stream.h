// Checking a JSON document while it is parsed (`is_valid_json`).
//
// See json_stream.cc.  `runs_only_builtin_checks` decides, once per
// validator (with its lookup tables), whether a schema may be checked this
// way; `stream_json_verdict` parses and checks in one pass.
#pragma once

#include "python/binding/capi.h"

#include <span>
#include <string_view>

#include "core/ir/node.h"
#include "core/json/failure.h"
#include "core/json/tree.h"
#include "python/binding/ref.h"
#include "python/check/context.h"

namespace tessaron::python::check {

// Whether no check of the schema (its root and its definitions) can run
// code we do not control, or depend on the order in which the values of a
// document are checked: no predicate, no object attribute, no instance
// check of a class with a metaclass of its own, no literal or bound of a
// type with an equality or order of its own.  A schema past a size budget
// answers false.
bool runs_only_builtin_checks(const ir::Node& root, std::span<const ir::Node> definitions,
                              std::span<const py::Ref> pool);

// Parses `text` and checks it against `root` in the same pass: 1 member,
// 0 not a member or not a document, -1 with an exception set (a fatal one
// stored by a check).  `doc` is scratch space for the subtrees checked by
// the general walk; `st` is a fresh state of the validator.  Only for a
// schema of which `runs_only_builtin_checks` holds.  With `release_lock`,
// the interpreter lock is given up while the text is parsed and checked,
// and taken back for good at the first general walk that may need Python
// (native_checks.h says which need none), so `text` must be immutable and
// kept alive by the caller.
int stream_json_verdict(const ir::Node& root, std::string_view text, json::Document& doc, WalkState& st,
                        bool release_lock);

// `load`'s parse: the document's Python object (new reference), built and
// checked in one pass; `member` tells the verdict.  nullptr when the
// document is refused (`failure` says why; no exception set) or with an
// exception set.  The whole text is always read, so a malformed document
// is refused whatever the verdict.  Only for a schema of which
// `runs_only_builtin_checks` holds, and a text of at most
// `json::Document::kMaxCount` bytes.
PyObject* load_in_one_pass(const ir::Node& root, std::string_view text, json::Document& doc, WalkState& st,
                           json::ParseFailure& failure, bool& member);

// `_tessaron._json_key_work()`: the work the checks above spent on object
// keys on the calling thread so far: one for each lookup of a key among a
// record's declared names, among the keys counted for a bounded length, or
// among the keys whose value failed, and one for each group of 16 slots
// emptied when a set of failed keys is reused.  A work counter for tests.
PyObject* json_key_work_function(PyObject* module, PyObject* unused);
extern const char kJsonKeyWorkDoc[];

}  // namespace tessaron::python::check
