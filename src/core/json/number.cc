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
// `rewrite_long_exponents` applies the same classification to the numbers
// whose exponents the parser cannot hold, keeping every byte's position.
// Budget: linear in the text.
#include "core/json/number.h"

#include <charconv>
#include <cstdint>
#include <cstring>
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

namespace {

bool number_byte(char c) { return digit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

// The replacement of one number token, or nothing when its exponent is
// short enough for the parser.
// Where the exponent's digits start when `token` is exactly one JSON
// number with an exponent (-?(0|[1-9][0-9]*)(.[0-9]+)?[eE][+-]?[0-9]+);
// npos otherwise.
std::size_t exponent_digits(std::string_view token) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < token.size() && digit(token[i])) ++i;
        return i - from;
    };
    if (i < token.size() && token[i] == '-') ++i;
    const std::size_t first = i;
    const std::size_t int_digits = digits();
    if (int_digits == 0 || (int_digits > 1 && token[first] == '0')) return std::string_view::npos;
    if (i < token.size() && token[i] == '.') {
        ++i;
        if (digits() == 0) return std::string_view::npos;
    }
    if (i >= token.size() || (token[i] != 'e' && token[i] != 'E')) return std::string_view::npos;
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    const std::size_t start = i;
    if (digits() == 0 || i != token.size()) return std::string_view::npos;
    return start;
}

bool rewrite_number(std::string_view token, std::string& out, std::size_t at) {
    // Only a well-formed number: anything else is left for the parser to
    // refuse where it stands.
    std::size_t i = exponent_digits(token);
    if (i == std::string_view::npos) return false;
    const std::size_t e = token.find_first_of("eE");
    while (i < token.size() && token[i] == '0') ++i;
    if (token.size() - i <= 9) return false;
    bool zero_digits = true;
    for (std::size_t k = 0; k < e; ++k)
        if (token[k] >= '1' && token[k] <= '9') zero_digits = false;
    const bool negative = token.front() == '-';
    const std::size_t sign = negative ? 1 : 0;
    char* p = out.data() + at;
    if (negative) *p = '-';
    if (!zero_digits && magnitude_is_large(token)) {
        // "1e" then zeros then "999": far beyond the largest double.
        p[sign] = '1';
        p[sign + 1] = 'e';
        for (std::size_t k = sign + 2; k + 3 < token.size(); ++k) p[k] = '0';
        std::memcpy(p + token.size() - 3, "999", 3);
    } else {
        p[sign] = '0';
        p[sign + 1] = 'e';
        for (std::size_t k = sign + 2; k < token.size(); ++k) p[k] = '0';
    }
    return true;
}

}  // namespace

std::string rewrite_long_exponents(std::string_view input) {
    std::string out(input);
    std::size_t i = 0;
    while (i < input.size()) {
        const char c = input[i];
        if (c == '"') {
            // Skip the string, escapes included.
            ++i;
            while (i < input.size() && input[i] != '"') i += input[i] == '\\' ? 2 : 1;
            ++i;
        } else if (c == '-' || digit(c)) {
            std::size_t j = i + 1;
            while (j < input.size() && number_byte(input[j])) ++j;
            rewrite_number(input.substr(i, j - i), out, i);
            i = j;
        } else {
            ++i;
        }
    }
    return out;
}

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
