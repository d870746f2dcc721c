// Failure records of a validation walk and how they read.
//
// A `Violation` is one failure: where in the value (a path of
// `PathSegment`s, outermost first), what was expected, how the value looked
// (its value text) and a static failure code.  The walk appends them; a
// raised `ValidationError` carries them in a `Failures` object and builds
// its Python attributes from them only when they are first read.
//
// A path is a persistent list: each `PathNode` holds one segment and points
// at the node of its prefix, so failures recorded under the same prefix
// share it and the memory of many failures is linear in their number plus
// the distinct segments, however deep they lie.
//
// Message line of a violation:
//   [at <path>: ]expected <expected>, got <value> [<code>]
// where the path shows a `Key` bare when first and as ".key" after, and the
// other segments in brackets: `at items[0].name: `.
#pragma once

#include "python/binding/capi.h"

#include <boost/container/small_vector.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::python {

// One step of a path.  `Key` is a record field, attribute name, str dict key
// or the safe text of any other key; its text is UTF-8, except that a str
// key holding lone surrogates keeps them encoded as the "surrogatepass"
// codec does, so the `path` tuple gives the key back unchanged.
struct PathKey {
    ir::SharedText text;
};
struct PathInt {
    std::int64_t value;
};
struct PathBigInt {
    ir::SharedText digits;  // str() of an int key beyond 64 bits
};
struct PathIndex {
    std::uint64_t value;
};
using PathSegment = std::variant<PathKey, PathInt, PathBigInt, PathIndex>;

// A path as a failure keeps it: its innermost node, or null for the empty
// path.  Nodes are immutable once shared.
struct PathNode;
using Path = std::shared_ptr<const PathNode>;

struct PathNode {
    // Mutable only so that the destructor can unlink a chain it solely
    // owns one node at a time instead of recursing through it.
    mutable Path parent;
    PathSegment segment;
    std::size_t length;  // segments from the outermost to this one

    PathNode(Path p, PathSegment s) : parent(std::move(p)), segment(std::move(s)), length(parent ? parent->length + 1 : 1) {}
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;
    ~PathNode();
};

inline std::size_t path_length(const Path& path) { return path ? path->length : 0; }

// `path` followed by one more segment.
inline Path path_append(Path path, PathSegment segment) {
    return std::make_shared<const PathNode>(std::move(path), std::move(segment));
}

// The nodes of a path, outermost first.
using PathNodes = boost::container::small_vector<const PathNode*, 16>;
PathNodes path_nodes(const Path& path);

struct Violation {
    Path path;
    std::string expected;
    std::string value;
    const char* code = "validation_error";  // static text
};

// The violation that stands in for an empty vector: empty path, expected
// "a member of the schema's set", empty value text, code "validation_error".
const Violation& default_violation();

// Appends the violation's message line.
void render_error_line(const Violation& violation, std::string& out);

// The summary message of a raise: the single line, or "{n} validation
// errors:" followed by one line per violation.
std::string render_summary(const std::vector<Violation>& violations);

// The path as a Python tuple (str, int segments); nullptr with an exception
// set on failure.
PyObject* path_to_tuple(const Path& path);

// The Python object of one segment in a `path` tuple: a str, or an int.
PyObject* segment_to_python(const PathSegment& segment);

// UTF-8 text as a Python str; invalid sequences become U+FFFD.
PyObject* text_to_str(const std::string& text);

// --- the Failures carrier -------------------------------------------------

// A new `Failures` owning `violations`; nullptr with an exception set (the
// violations are then released).
PyObject* new_failures(std::vector<Violation>&& violations);

// The violations of a `Failures` instance, or nullptr when `obj` is not
// one.  Never raises.
const std::vector<Violation>* failures_violations(PyObject* obj);

}  // namespace tessaron::python
