// Unicode lookups for the pattern parser: `\p{...}` queries by name, the
// Unicode `\w`, `\d` and `\s` sets, word characters for `\b`, and simple
// case folding.  All data comes from the generated tables (unicode_data.h).
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

#include "core/pattern/interval_set.h"

namespace tessaron::pattern::unicode {

// The version of the Unicode Character Database the tables hold.
std::string_view version();

// A `\p{name}` query: a binary property, a general category (or "Any",
// "Assigned", "ASCII") or a script, tried in that order.  On failure the
// error message of the dialect.
std::variant<IntervalSet, const char*> property_class(std::string_view name);

// A `\p{name=value}` query: general category, script or script extensions.
std::variant<IntervalSet, const char*> property_value_class(std::string_view name, std::string_view value);

const IntervalSet& perl_word();
const IntervalSet& perl_digit();
const IntervalSet& perl_space();

bool is_word_char(std::uint32_t c);

// Calls fn(p) for every code point p != c that is case-equivalent to some
// c in [lo, hi] (possibly repeating points that lie in the range itself).
template <class F>
void for_each_case_partner(std::uint32_t lo, std::uint32_t hi, F&& fn);

namespace detail {
std::size_t first_orbit_entry(std::uint32_t lo);
std::size_t orbit_entry_count();
std::uint32_t orbit_char(std::size_t i);
std::uint32_t orbit_next(std::size_t i);
std::size_t orbit_find(std::uint32_t c);
}  // namespace detail

template <class F>
void for_each_case_partner(std::uint32_t lo, std::uint32_t hi, F&& fn) {
    const std::size_t n = detail::orbit_entry_count();
    for (std::size_t i = detail::first_orbit_entry(lo); i < n && detail::orbit_char(i) <= hi; ++i) {
        const std::uint32_t start = detail::orbit_char(i);
        std::size_t j = i;
        for (int guard = 0; guard < 8; ++guard) {
            std::uint32_t next = detail::orbit_next(j);
            if (next == start) break;
            fn(next);
            j = detail::orbit_find(next);
            if (j == n) break;
        }
    }
}

}  // namespace tessaron::pattern::unicode
