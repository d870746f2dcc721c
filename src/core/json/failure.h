// Why a JSON document was refused, and where.
//
// Every parse of ours (into Python objects or into the value tree) reports a
// refusal the same way: a reason in our own words ("unexpected end of
// input", "invalid number", "lone surrogate in a \u escape", ...) and the
// byte offset it refers to.  `failure_text` adds the location as
// " at line {} column {}": the line counted from 1, the column counted in
// bytes from 1 within that line, and column 0 for an empty document.
//
// The parser itself only reports generic codes ("syntax error", "incomplete
// JSON") with the offset of the offending byte; `describe_syntax_error`
// rescans the (valid) prefix before that byte to say what was expected
// there.
#pragma once

#include <boost/json/error.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaron::json {

// Arrays and objects nested deeper than this are refused: 200 nested
// containers pass, the 201st fails.
inline constexpr std::size_t kMaxNesting = 200;

// The offset a handler records for a refusal met where it cannot see the
// text's position; `parse_with` puts the parser's stopping point in.
inline constexpr std::size_t kOffsetOfStop = static_cast<std::size_t>(-1);

struct ParseFailure {
    enum class Kind : unsigned char {
        None,       // no failure
        Malformed,  // the document is not JSON we accept: `reason` says why
        Sink,       // the sink gave up for its own reason (it keeps the details)
        Stopped,    // the caller's poll stopped the parse (util/poll.h)
    };
    Kind kind = Kind::None;
    std::string reason;
    std::size_t offset = 0;

    explicit operator bool() const { return kind != Kind::None; }
    void malformed(std::string why, std::size_t at) {
        kind = Kind::Malformed;
        reason = std::move(why);
        offset = at;
    }
};

// Our description of a parser error code `ec` met at byte `offset`.
std::string describe_syntax_error(std::string_view input, const boost::json::error_code& ec, std::size_t offset);

// The description of bytes left after a complete value, the first of which
// is at `offset`.
std::string describe_trailing(std::string_view input, std::size_t offset);

// " at line {} column {}" for `offset` in `input`.
std::string location_text(std::string_view input, std::size_t offset);

// The reason followed by its location.
inline std::string failure_text(std::string_view input, const ParseFailure& failure) {
    return failure.reason + location_text(input, failure.offset);
}

}  // namespace tessaron::json
