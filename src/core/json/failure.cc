// Describing why a JSON document was refused.
//
// What it computes: from the parser's generic error code and the offset of
// the offending byte, a reason a reader can act on.  The prefix before the
// offset is well-formed JSON (the parser got that far), so one forward scan
// over it recovers the context the parser was in: inside a string (after a
// backslash, inside a \u escape, right after a high-surrogate escape), inside
// a number or a literal, or between tokens expecting a value, a key, a colon,
// a comma or the end.  The offending byte is then read in that context.
//
// Invariants: the scan never reads past `offset` and tolerates any input
// (it is only a classifier; an unexpected state falls back to a generic
// reason).  Budget: linear in the offset, run once per refused document;
// the container stack holds at most `kMaxNesting` + 1 entries because the
// parser stops at the first container past the limit.
#include "core/json/failure.h"

#include <boost/json/error.hpp>

#include <cstdint>
#include <vector>

namespace tessaron::json {

namespace {

namespace bj = boost::json;

bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_number_char(unsigned char c) { return is_digit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }
bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int hex_value(unsigned char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class Expect : std::uint8_t {
    Value,         // a value (top level, after ':' or after ',' in an array)
    ValueOrClose,  // right after '['
    KeyOrClose,    // right after '{'
    Key,           // after ',' in an object
    Colon,         // after a key
    CommaOrClose,  // after a value inside a container
    End,           // after the top-level value
};

enum class Token : std::uint8_t { None, Number, Literal };

struct Context {
    bool seen_token = false;     // anything but blanks before the offset
    bool in_string = false;
    bool string_is_key = false;
    bool escape_pending = false;  // a backslash was the last byte
    int unicode_left = 0;         // hex digits still due in a \u escape
    bool high_surrogate = false;  // the last thing in the string was a \uD800-\uDBFF escape
    Token token = Token::None;
    std::size_t token_start = 0;
    Expect expect = Expect::Value;
    std::vector<bool> stack;  // true: object
    bool after_comma = false;

    bool in_object() const { return !stack.empty() && stack.back(); }
    void value_done() {
        expect = stack.empty() ? Expect::End : Expect::CommaOrClose;
        after_comma = false;
    }
};

Context scan(std::string_view input, std::size_t offset) {
    Context cx;
    std::uint32_t escape_value = 0;
    const std::size_t end = offset < input.size() ? offset : input.size();
    for (std::size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(input[i]);
        if (cx.in_string) {
            if (cx.escape_pending) {
                cx.escape_pending = false;
                if (c == 'u') {
                    cx.unicode_left = 4;
                    escape_value = 0;
                } else {
                    cx.high_surrogate = false;
                }
            } else if (cx.unicode_left > 0) {
                const int h = hex_value(c);
                escape_value = escape_value * 16 + static_cast<std::uint32_t>(h < 0 ? 0 : h);
                if (--cx.unicode_left == 0) cx.high_surrogate = escape_value >= 0xD800 && escape_value <= 0xDBFF;
            } else if (c == '\\') {
                cx.escape_pending = true;
            } else if (c == '"') {
                cx.in_string = false;
                cx.high_surrogate = false;
                if (cx.string_is_key) {
                    cx.expect = Expect::Colon;
                    cx.after_comma = false;
                } else {
                    cx.value_done();
                }
            } else {
                cx.high_surrogate = false;
            }
            continue;
        }
        if (cx.token != Token::None) {
            if (is_number_char(c) || is_letter(c)) continue;
            cx.token = Token::None;
            cx.value_done();
        }
        if (is_blank(c)) continue;
        cx.seen_token = true;
        switch (c) {
            case '"':
                cx.in_string = true;
                cx.string_is_key = cx.expect == Expect::Key || cx.expect == Expect::KeyOrClose;
                break;
            case '[':
                cx.stack.push_back(false);
                cx.expect = Expect::ValueOrClose;
                cx.after_comma = false;
                break;
            case '{':
                cx.stack.push_back(true);
                cx.expect = Expect::KeyOrClose;
                cx.after_comma = false;
                break;
            case ']':
            case '}':
                if (!cx.stack.empty()) cx.stack.pop_back();
                cx.value_done();
                break;
            case ',':
                cx.expect = cx.in_object() ? Expect::Key : Expect::Value;
                cx.after_comma = true;
                break;
            case ':':
                cx.expect = Expect::Value;
                cx.after_comma = false;
                break;
            default:
                cx.token = (c == '-' || is_digit(c)) ? Token::Number : Token::Literal;
                cx.token_start = i;
                break;
        }
    }
    return cx;
}

// A number token is complete unless it ends in a sign, a point or an
// exponent mark.
bool number_incomplete(std::string_view token) {
    if (token.empty()) return true;
    const auto last = static_cast<unsigned char>(token.back());
    return !is_digit(last);
}

std::string describe_at(std::string_view input, const Context& cx, std::size_t offset) {
    const bool at_end = offset >= input.size();
    const auto c = at_end ? 0u : static_cast<unsigned char>(input[offset]);

    if (cx.in_string) {
        if (at_end) return "unexpected end of input inside a string";
        if (cx.high_surrogate) return "lone surrogate in a \\u escape";
        if (cx.escape_pending) return "invalid escape sequence in a string";
        if (cx.unicode_left > 0) return "invalid \\u escape in a string (expected four hex digits)";
        if (c < 0x20) return "control character in a string (it must be escaped)";
        if (c >= 0x80) return "invalid UTF-8 in a string";
        return "invalid string";
    }
    if (at_end) return cx.seen_token ? "unexpected end of input" : "expected a JSON value, found end of input";

    if (cx.token == Token::Number) {
        const std::string_view token = input.substr(cx.token_start, offset - cx.token_start);
        if (token == "-" && (c == 'I' || c == 'i')) return "NaN and Infinity are not allowed";
        if (number_incomplete(token) || is_number_char(c) || is_letter(c)) return "invalid number";
    } else if (cx.token == Token::Literal) {
        return "invalid literal (expected true, false or null)";
    }
    // Between tokens (a number that ended cleanly counts as a value).
    Expect expect = cx.expect;
    if (cx.token != Token::None) expect = cx.stack.empty() ? Expect::End : Expect::CommaOrClose;
    switch (expect) {
        case Expect::Value:
        case Expect::ValueOrClose:
            if (c == 'N' || c == 'I') return "NaN and Infinity are not allowed";
            if (is_letter(c)) return "invalid literal (expected true, false or null)";
            if (cx.after_comma && c == ']') return "trailing comma before ']'";
            if (c >= 0x80) return "expected a JSON value, found a non-ASCII byte";
            return "expected a JSON value";
        case Expect::KeyOrClose:
        case Expect::Key:
            if (cx.after_comma && c == '}') return "trailing comma before '}'";
            return "expected a double-quoted string as object key";
        case Expect::Colon:
            return "expected ':' after an object key";
        case Expect::CommaOrClose:
            return cx.in_object() ? "expected ',' or '}' after an object value" : "expected ',' or ']' after an array item";
        case Expect::End:
            return "trailing characters after the JSON value";
    }
    return "invalid JSON";
}

}  // namespace

std::string describe_syntax_error(std::string_view input, const bj::error_code& ec, std::size_t offset) {
    if (ec == bj::error::too_deep)
        return "nesting too deep (at most " + std::to_string(kMaxNesting) + " nested containers)";
    if (ec == bj::error::illegal_leading_surrogate || ec == bj::error::illegal_trailing_surrogate)
        return "lone surrogate in a \\u escape";
    if (ec == bj::error::string_too_large || ec == bj::error::key_too_large) return "string too long";
    if (ec == bj::error::array_too_large) return "array too long";
    if (ec == bj::error::object_too_large) return "object too long";
    if (ec == bj::error::exponent_overflow) return "number out of range";
    const Context cx = scan(input, offset);
    if (ec == bj::error::expected_hex_digit) return "invalid \\u escape in a string (expected four hex digits)";
    return describe_at(input, cx, offset);
}

std::string describe_trailing(std::string_view input, std::size_t offset) {
    return describe_at(input, scan(input, offset), offset);
}

std::string location_text(std::string_view input, std::size_t offset) {
    if (offset > input.size()) offset = input.size();
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (input[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    const std::size_t column = input.empty() ? 0 : offset - line_start + 1;
    return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace tessaron::json
