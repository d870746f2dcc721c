// What the refined-constraint check shares with the builder.
#pragma once

#include <string>
#include <string_view>

namespace tessaron::python::check {

// A pattern as a double-quoted string literal: a backslash before each
// backslash and double quote; tab, carriage return, line feed and NUL as
// \t, \r, \n and \0; other control, non-printable and combining characters
// as \u{...} (lower-case hex); every other character as it is.  A lone
// surrogate in its three-byte form shows as \u{d800} and any other byte
// that is not UTF-8 as \x{ff}, so the result is always valid UTF-8.
// Failure messages and the builder's pattern refusals show patterns this
// way.
std::string quote_pattern(std::string_view text);

}  // namespace tessaron::python::check
