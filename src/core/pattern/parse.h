// The pattern parser: pattern text in the dialect -> Hir, or an Error.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

#include "core/pattern/error.h"
#include "core/pattern/hir.h"

namespace tessaron::pattern {

struct ParseOptions {
    // When set, a pattern that could match bytes that are not UTF-8 (a
    // byte class or byte literal at or above 0x80, (?-u:\B)) is refused.
    bool utf8 = true;
    std::uint32_t nest_limit = 250;
};

std::variant<Hir, Error> parse(std::string_view pattern, const ParseOptions& options);

}  // namespace tessaron::pattern
