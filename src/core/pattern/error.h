// A pattern error: what is wrong and where.  Errors are plain values; no
// part of the pattern engine throws.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaron::pattern {

struct Error {
    std::string message;  // e.g. "unclosed group"
    std::size_t offset = 0;  // byte offset into the pattern where the fault starts

    bool operator==(const Error&) const = default;
};

// "unclosed group at position 3": the message with the position counted in
// characters (code points) of the pattern, the way a person reads it.
std::string format_error(const Error& error, std::string_view pattern);

}  // namespace tessaron::pattern
