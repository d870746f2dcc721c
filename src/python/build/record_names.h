// The names of a record's entries: how messages quote them, and the rule
// that a record or object node declares each name once.
//
// A name reaches an entry as text: a record literal's str key without its
// trailing `?`, a typed dict's key or a dataclass's field name through
// `str()`.  Two keys the builder reads as distinct (a name and the same
// name with `?`, `1` beside "1", two str subclass objects with one text)
// can give one text; such a record would answer differently by the path
// that reads it (every entry of the name, or only one), so every builder
// of entries refuses it, and the nodes never hold a name twice.
#pragma once

#include "python/binding/capi.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::python {

// A field name in double quotes, as messages show it: `"` and `\` escaped,
// tab, carriage return, line feed and NUL by their letters, every other
// character that does not print as \u{hex}.
std::string quoted_name(std::string_view utf8);

// The first name two entries share, refused with the ValueError "the
// {noun} {quoted name} is declared twice in this {record}: {reason}".  True
// when every name is declared once.
bool check_names_once(const std::vector<ir::RecordEntry>& entries, const char* noun, const char* record,
                      const char* reason);

}  // namespace tessaron::python
