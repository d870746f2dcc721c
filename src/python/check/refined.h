// What the refined-constraint check shares with the builder.
#pragma once

#include <string>
#include <string_view>

namespace tessaron::python::check {

// A pattern as a double-quoted string literal: a backslash before each
// backslash and double quote; tab, carriage return, line feed and NUL as
// \t, \r, \n and \0; other control, non-printable and combining characters
// as \u{...} (lower-case hex); every other character as it is.  Failure
// messages and the builder's pattern refusals show patterns this way.
std::string quote_pattern(std::string_view text);

}  // namespace tessaron::python::check
