// Parsing a JSON document into a sink of ours.
//
// Boost.JSON's `basic_parser` reads the text and calls a handler; `Handler`
// adapts those calls to a small sink interface and does what every sink
// needs: it joins strings and numbers that arrive in pieces, reads float
// texts with correct rounding (`read_float`), passes integers beyond 64 bits
// on as their text, and refuses a float too large for a double.
// `parse_with` runs the parser under our settings (at most 200 nested
// containers, no comments, no trailing commas, strict UTF-8, no NaN or
// Infinity), requires the whole input to be one value with only blanks
// around it, and describes every refusal in our words.
//
// A sink provides (each answering false to stop, after recording why in the
// `ParseFailure` it was given):
//   null(), boolean(bool), integer(int64), big_integer(text, offset),
//   floating(double), string(text), key(text),
//   begin_array(), end_array(count), begin_object(), end_object(count)
// and a `static constexpr std::size_t kMaxCount`: the largest string length
// and container count it can hold (the parser refuses larger ones).  A
// document with an exponent too long for the parser is parsed twice: before
// the second parse, `restart(text)` drops what the sink holds and keeps the
// rewritten text alive for the values that refer to it, answering a view of
// it.
// Texts handed over are valid UTF-8 and live only for the call.
//
// The parser recurses once per nested container, whatever the sink does
// with it (a sink that only skips a settled subtree still goes down with
// it), so the handler itself refuses to open a container with less than
// half the native-stack reserve left: the document is refused as nested
// too deep for the thread, instead of overflowing a small thread stack.
// Half, because a sink's own recursive work (the walk of a buffered value)
// checks against the whole reserve and must meet its limit first.
//
// A `util::Poll` given to `parse_with` is ticked once per value (strings,
// numbers, keys, containers); when it stops the work, the parse ends with
// a `Stopped` failure.
//
// Include this header only where a sink is instantiated: it pulls in the
// parser's template definitions.
#pragma once

#include <boost/json/basic_parser_impl.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/json/failure.h"
#include "core/json/number.h"
#include "core/util/native_stack.h"
#include "core/util/poll.h"

namespace tessaron::json {

template <class Sink>
class Handler {
public:
    using error_code = boost::json::error_code;
    using string_view = boost::json::string_view;

    static constexpr std::size_t max_object_size = Sink::kMaxCount;
    static constexpr std::size_t max_array_size = Sink::kMaxCount;
    static constexpr std::size_t max_key_size = Sink::kMaxCount;
    static constexpr std::size_t max_string_size = Sink::kMaxCount;

    Handler(std::string_view input, Sink& sink, ParseFailure& failure, util::Poll* poll)
        : input_(input), sink_(sink), failure_(failure), poll_(poll) {
        if (const std::uintptr_t floor = util::native_stack_floor(util::current_frame()))
            stack_floor_ = floor - util::kNativeStackReserve / 2;
    }

    bool on_document_begin(error_code&) { return true; }
    bool on_document_end(error_code&) { return true; }

    bool on_object_begin(error_code& ec) { return stack_left(ec) && check(sink_.begin_object(), ec); }
    bool on_object_end(std::size_t n, error_code& ec) { return check(sink_.end_object(n), ec); }
    bool on_array_begin(error_code& ec) { return stack_left(ec) && check(sink_.begin_array(), ec); }
    bool on_array_end(std::size_t n, error_code& ec) { return check(sink_.end_array(n), ec); }

    bool on_key_part(string_view s, std::size_t, error_code&) {
        append(s);
        return true;
    }
    bool on_key(string_view s, std::size_t, error_code& ec) { return check(sink_.key(finish(s)), ec) && reset(); }
    bool on_string_part(string_view s, std::size_t, error_code&) {
        append(s);
        return true;
    }
    bool on_string(string_view s, std::size_t, error_code& ec) {
        return check(sink_.string(finish(s)), ec) && reset();
    }

    bool on_number_part(string_view s, error_code&) {
        if (!parts_) number_start_ = s.data();
        append(s);
        return true;
    }
    bool on_int64(std::int64_t i, string_view, error_code& ec) {
        reset();
        return check(sink_.integer(i), ec);
    }
    bool on_uint64(std::uint64_t, string_view s, error_code& ec) {
        // Beyond the signed range: an integer kept as its text.
        const std::size_t at = number_offset(s);
        return check(sink_.big_integer(finish(s), at), ec) && reset();
    }
    bool on_double(double, string_view s, error_code& ec) {
        const std::size_t at = number_offset(s);
        const std::string_view text = finish(s);
        if (!is_float_text(text)) return check(sink_.big_integer(text, at), ec) && reset();
        double value = 0.0;
        if (read_float(text, value) == FloatRead::Overflow) {
            failure_.malformed("number out of range (too large for a float)", at);
            return check(false, ec);
        }
        reset();
        return check(sink_.floating(value), ec);
    }

    bool on_bool(bool b, error_code& ec) { return check(sink_.boolean(b), ec); }
    bool on_null(error_code& ec) { return check(sink_.null(), ec); }
    bool on_comment_part(string_view, error_code&) { return true; }
    bool on_comment(string_view, error_code&) { return true; }

private:
    bool stack_left(error_code& ec) {
        if (util::current_frame() >= stack_floor_) [[likely]]
            return true;
        failure_.malformed("nesting too deep for this thread's native stack", kOffsetOfStop);
        ec = boost::json::error::exception;
        return false;
    }

    // Values handed to the sink between two ticks of the poll, and the
    // units of poll work each counts for.
    static constexpr std::uint32_t kValuesPerTick = 4096;
    static constexpr std::uint64_t kValueUnits = 32;

    bool check(bool ok, error_code& ec) {
        if (!ok) {
            if (!failure_) failure_.kind = ParseFailure::Kind::Sink;
            ec = boost::json::error::exception;
            return false;
        }
        if (--values_left_ == 0) [[unlikely]]
            return tick(ec);
        return true;
    }
    [[gnu::noinline]] bool tick(error_code& ec) {
        values_left_ = kValuesPerTick;
        if (!poll_ || poll_->tick(kValuesPerTick * kValueUnits)) return true;
        failure_.kind = ParseFailure::Kind::Stopped;
        ec = boost::json::error::exception;
        return false;
    }
    void append(string_view s) {
        scratch_.append(s.data(), s.size());
        parts_ = true;
    }
    // The whole text: the final piece alone, or all pieces joined.
    std::string_view finish(string_view s) {
        if (!parts_) return std::string_view(s.data(), s.size());
        scratch_.append(s.data(), s.size());
        return scratch_;
    }
    bool reset() {
        scratch_.clear();
        parts_ = false;
        return true;
    }
    std::size_t number_offset(string_view last) const {
        const char* start = parts_ ? number_start_ : last.data();
        const auto p = reinterpret_cast<std::uintptr_t>(start);
        const auto base = reinterpret_cast<std::uintptr_t>(input_.data());
        if (p >= base && p - base <= input_.size()) return static_cast<std::size_t>(p - base);
        return 0;
    }

    std::string_view input_;
    Sink& sink_;
    ParseFailure& failure_;
    util::Poll* poll_;
    std::uint32_t values_left_ = kValuesPerTick;
    std::string scratch_;
    bool parts_ = false;
    const char* number_start_ = nullptr;
    std::uintptr_t stack_floor_ = 0;
};

inline bool is_json_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Parses `input` into `sink`.  False with `failure` filled when the document
// is refused or the sink stopped.
template <class Sink>
std::size_t run_parser(std::string_view input, Sink& sink, ParseFailure& failure, util::Poll* poll,
                       boost::json::error_code& ec) {
    boost::json::parse_options options;
    options.max_depth = kMaxNesting;
    boost::json::basic_parser<Handler<Sink>> parser(options, input, sink, failure, poll);
    return parser.write_some(false, input.data(), input.size(), ec);
}

template <class Sink>
bool parse_with(std::string_view input, Sink& sink, ParseFailure& failure, util::Poll* poll = nullptr) {
    boost::json::error_code ec;
    std::size_t used = run_parser(input, sink, failure, poll, ec);
    if (failure.offset == kOffsetOfStop) failure.offset = used;
    if (ec == boost::json::error::exponent_overflow && !failure) {
        // A number with an exponent too long for the parser: parse again
        // with such numbers rewritten to the same length, so the values
        // are read and every position stays as in `input`.
        const std::string_view rewritten = sink.restart(rewrite_long_exponents(input));
        ec = {};
        used = run_parser(rewritten, sink, failure, poll, ec);
        if (failure.offset == kOffsetOfStop) failure.offset = used;
    }
    if (failure) return false;
    if (ec) {
        failure.malformed(describe_syntax_error(input, ec, used), used);
        return false;
    }
    std::size_t rest = used;
    while (rest < input.size() && is_json_blank(input[rest])) ++rest;
    if (rest < input.size()) {
        failure.malformed(describe_trailing(input, rest), rest);
        return false;
    }
    return true;
}

}  // namespace tessaron::json
