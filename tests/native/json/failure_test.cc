// What a refused JSON document reports: our reason and its location.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/json/failure.h"
#include "core/json/tree.h"

namespace {

using tessaron::json::Document;
using tessaron::json::ParseFailure;

struct FailureCase {
    std::string_view input;
    const char* expected;
};

std::string refusal(std::string_view input) {
    Document doc;
    ParseFailure failure;
    if (doc.parse(input, failure)) return "accepted";
    EXPECT_EQ(failure.kind, ParseFailure::Kind::Malformed);
    return failure_text(input, failure);
}

TEST(JsonFailure, DescribesEachRefusalWithLineAndColumn) {
    using namespace std::literals;
    const FailureCase cases[] = {
        {""sv, "expected a JSON value, found end of input at line 1 column 0"},
        {"  \n "sv, "expected a JSON value, found end of input at line 2 column 2"},
        {"1 2"sv, "trailing characters after the JSON value at line 1 column 3"},
        {"{\"a\": 1} x"sv, "trailing characters after the JSON value at line 1 column 10"},
        {"[1]]"sv, "trailing characters after the JSON value at line 1 column 4"},
        {"01"sv, "invalid number at line 1 column 2"},
        {"[01]"sv, "invalid number at line 1 column 3"},
        {"[1.]"sv, "invalid number at line 1 column 4"},
        {"-"sv, "unexpected end of input at line 1 column 2"},
        {"[1e+]"sv, "invalid number at line 1 column 5"},
        {"1e400"sv, "number out of range (too large for a float) at line 1 column 1"},
        {"[0, -1.8e308]"sv, "number out of range (too large for a float) at line 1 column 5"},
        {"NaN"sv, "NaN and Infinity are not allowed at line 1 column 1"},
        {"[Infinity]"sv, "NaN and Infinity are not allowed at line 1 column 2"},
        {"-Infinity"sv, "NaN and Infinity are not allowed at line 1 column 2"},
        {"[\n  1,\n  tru]"sv, "invalid literal (expected true, false or null) at line 3 column 3"},
        {"truex"sv, "invalid literal (expected true, false or null) at line 1 column 5"},
        {"[1 2]"sv, "expected ',' or ']' after an array item at line 1 column 4"},
        {"[1,]"sv, "trailing comma before ']' at line 1 column 4"},
        {"[,1]"sv, "expected a JSON value at line 1 column 2"},
        {"{\"a\":1]"sv, "expected ',' or '}' after an object value at line 1 column 7"},
        {"{\"a\" 1}"sv, "expected ':' after an object key at line 1 column 6"},
        {"{1:2}"sv, "expected a double-quoted string as object key at line 1 column 2"},
        {"{\"a\":1,}"sv, "trailing comma before '}' at line 1 column 8"},
        {"{'a':1}"sv, "expected a double-quoted string as object key at line 1 column 2"},
        {"\"abc"sv, "unexpected end of input inside a string at line 1 column 5"},
        {"[1,"sv, "unexpected end of input at line 1 column 4"},
        {"\"\\x\""sv, "invalid escape sequence in a string at line 1 column 3"},
        {"\"\\u12g4\""sv, "invalid \\u escape in a string (expected four hex digits) at line 1 column 6"},
        {"\"\\ud800\""sv, "lone surrogate in a \\u escape at line 1 column 8"},
        {"\"\\udc00\""sv, "lone surrogate in a \\u escape at line 1 column 8"},
        {"\"\\ud800\\u0041\""sv, "lone surrogate in a \\u escape at line 1 column 10"},
        {"{\"a\\ud800\":1}"sv, "lone surrogate in a \\u escape at line 1 column 10"},
        {"\"a\x01\""sv, "control character in a string (it must be escaped) at line 1 column 3"},
        {"\"a\nb\""sv, "control character in a string (it must be escaped) at line 1 column 3"},
        {"\"\xff\""sv, "invalid UTF-8 in a string at line 1 column 2"},
        {"[\"ok\", \"\xed\xa0\x80\"]"sv, "invalid UTF-8 in a string at line 1 column 9"},
        {"\xef\xbb\xbf" "1"sv, "expected a JSON value, found a non-ASCII byte at line 1 column 1"},
        {"[1]\0"sv, "trailing characters after the JSON value at line 1 column 4"},
        {"/* c */ 1"sv, "expected a JSON value at line 1 column 1"},
    };
    for (const FailureCase& c : cases) EXPECT_EQ(refusal(c.input), c.expected) << c.input;
}

TEST(JsonFailure, ColumnsCountBytesWithinTheLine) {
    EXPECT_EQ(tessaron::json::location_text("ab\ncd\r\nef", 8), " at line 3 column 2");
    EXPECT_EQ(tessaron::json::location_text("\xc3\xa9x", 2), " at line 1 column 3");
    EXPECT_EQ(tessaron::json::location_text("", 0), " at line 1 column 0");
}

}  // namespace
