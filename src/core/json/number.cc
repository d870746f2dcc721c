// Correctly rounded reading of JSON float texts.
//
// What it computes: the double nearest to a decimal text that the JSON
// grammar admits (optional minus, digits, optional fraction, optional
// exponent), through `std::from_chars`.  When that reports the value out of
// range the text's order of magnitude decides between underflow (the value
// is below the smallest subnormal: a signed zero, as `float()` gives) and
// overflow (refused by the caller).
//
// Invariant: the order of magnitude is computed with a saturated exponent,
// so any exponent text, however long, is classified without overflow.
// Budget: linear in the text.
#include "core/json/number.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace tessaron::json {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// The power of ten of the leading non-zero digit plus one (0.05 -> -1,
// 5 -> 1, 500 -> 3), with the exponent applied; saturated far beyond any
// double's range.  Only called on texts with a non-zero digit.
bool magnitude_is_large(std::string_view text) {
    constexpr std::int64_t kCap = 1'000'000'000;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    std::int64_t order = 0;
    bool found = false;
    std::size_t int_start = i;
    while (i < text.size() && digit(text[i])) ++i;
    for (std::size_t k = int_start; k < i; ++k) {
        if (text[k] != '0') {
            order = static_cast<std::int64_t>(i - k);
            found = true;
            break;
        }
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::int64_t zeros = 0;
        while (i < text.size() && digit(text[i])) {
            if (!found) {
                if (text[i] == '0') {
                    if (zeros < kCap) ++zeros;
                } else {
                    order = -zeros;
                    found = true;
                }
            }
            ++i;
        }
    }
    std::int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        while (i < text.size() && digit(text[i])) {
            if (exponent < kCap) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (negative) exponent = -exponent;
    }
    return order + exponent > 0;
}

}  // namespace

FloatRead read_float(std::string_view text, double& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    double value = 0.0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc()) {
        out = value;
        return FloatRead::Ok;
    }
    // Out of range (the grammar was checked, so nothing else can fail).
    if (magnitude_is_large(text)) return FloatRead::Overflow;
    out = (!text.empty() && text.front() == '-') ? -0.0 : 0.0;
    return FloatRead::Ok;
}

}  // namespace tessaron::json
