// The JSON value tree: structure, numbers, strings, duplicate keys, limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/json/tree.h"

namespace {

using tessaron::json::Document;
using tessaron::json::Kind;
using tessaron::json::ParseFailure;
using tessaron::json::Value;

// A compact rendering of a tree: the test's own serialiser, independent of
// the parser (floats with 17 significant digits, big ints marked with n).
void render(const Document& doc, const Value& v, std::string& out) {
    switch (v.kind) {
        case Kind::Null: out += "null"; return;
        case Kind::False: out += "false"; return;
        case Kind::True: out += "true"; return;
        case Kind::Int: out += std::to_string(v.as_int()); return;
        case Kind::BigInt: out += std::string(doc.text(v)) + "n"; return;
        case Kind::Float: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", v.as_float());
            out += buf;
            out += 'f';
            return;
        }
        case Kind::String: out += '"' + std::string(doc.text(v)) + '"'; return;
        case Kind::Array: {
            out += '[';
            bool first = true;
            for (const Value& item : doc.items(v)) {
                if (!first) out += ',';
                first = false;
                render(doc, item, out);
            }
            out += ']';
            return;
        }
        case Kind::Object: {
            out += '{';
            const auto members = doc.members(v);
            for (std::size_t i = 0; i < members.size(); i += 2) {
                if (i) out += ',';
                render(doc, members[i], out);
                out += ':';
                render(doc, members[i + 1], out);
            }
            out += '}';
            return;
        }
    }
}

std::string parsed(std::string_view input) {
    Document doc;
    ParseFailure failure;
    if (!doc.parse(input, failure)) return "FAIL: " + failure_text(input, failure);
    std::string out;
    render(doc, doc.root(), out);
    return out;
}

struct TreeCase {
    const char* input;
    const char* expected;
};

TEST(JsonTree, BuildsEveryKindInDocumentOrder) {
    const TreeCase cases[] = {
        {"null", "null"},
        {" true ", "true"},
        {"[false, null]", "[false,null]"},
        {"-0", "0"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"9223372036854775807", "9223372036854775807"},
        {"9223372036854775808", "9223372036854775808n"},
        {"-9223372036854775809", "-9223372036854775809n"},
        {"123456789012345678901234567890", "123456789012345678901234567890n"},
        {"1.0", "1f"},
        {"1E2", "100f"},
        {"-0.0", "-0f"},
        {"1e-400", "0f"},
        {"-1e-400", "-0f"},
        {"\"\"", "\"\""},
        {"[]", "[]"},
        {"{}", "{}"},
        {"[[],[[]],{}]", "[[],[[]],{}]"},
        {R"({"a": [1, {"b": null}], "c": "d"})", R"({"a":[1,{"b":null}],"c":"d"})"},
        {"\"\\u00e9\\ud83d\\ude00\\n\"", "\"\xc3\xa9\xf0\x9f\x98\x80\n\""},
        {"\r\n\t[1]\n", "[1]"},
    };
    for (const TreeCase& c : cases) EXPECT_EQ(parsed(c.input), c.expected) << c.input;
}

TEST(JsonTree, LaterDuplicateKeyWinsAtTheFirstPosition) {
    EXPECT_EQ(parsed(R"({"a":1,"b":2,"a":3})"), R"({"a":3,"b":2})");
    EXPECT_EQ(parsed(R"({"a":1,"a":{"x":1,"x":2},"a":[]})"), R"({"a":[]})");
    EXPECT_EQ(parsed(R"({"x":{"k":1,"k":2},"y":0})"), R"({"x":{"k":2},"y":0})");
    // Enough members for the hashed merge: k0..k19, then k3 and k17 again,
    // and one key spelled with an escape that equals a plain one.
    std::string doc = "{";
    std::string want = "{";
    for (int i = 0; i < 20; ++i) {
        doc += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
        const int v = i == 3 ? 103 : i == 17 ? 117 : i == 5 ? 105 : i;
        want += (i ? "," : "") + ("\"k" + std::to_string(i) + "\":" + std::to_string(v));
    }
    doc += R"("k3":103,"k17":117,"\u006b5":105})";
    want += "}";
    EXPECT_EQ(parsed(doc), want);
}

TEST(JsonTree, StringsWithoutEscapesAreSlicesOfTheInput) {
    const std::string input = R"(["plain", "esc\"aped"])";
    Document doc;
    ParseFailure failure;
    ASSERT_TRUE(doc.parse(input, failure));
    const auto items = doc.items(doc.root());
    const std::string_view plain = doc.text(items[0]);
    EXPECT_EQ(plain, "plain");
    EXPECT_EQ(plain.data(), input.data() + 2);
    EXPECT_EQ(doc.text(items[1]), "esc\"aped");
}

TEST(JsonTree, LongStringsAndManyEscapesArriveWhole) {
    std::string input = "[\"";
    std::string want;
    for (int i = 0; i < 5000; ++i) {
        input += "ab\\n\\u0041";
        want += "ab\nA";
    }
    input += "\", \"" + std::string(100000, 'z') + "\"]";
    Document doc;
    ParseFailure failure;
    ASSERT_TRUE(doc.parse(input, failure)) << failure.reason;
    const auto items = doc.items(doc.root());
    EXPECT_EQ(doc.text(items[0]), want);
    EXPECT_EQ(doc.text(items[1]), std::string(100000, 'z'));
}

TEST(JsonTree, FloatsAreCorrectlyRounded) {
    // Decimal texts of many shapes, compared with the C library's correctly
    // rounded strtod.
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int n = 0; n < 3000; ++n) {
        std::string text = std::to_string(next() % 100000000000000000ULL);
        text += "." + std::to_string(next() % 1000000000000ULL);
        const int exponent = static_cast<int>(next() % 640) - 330;
        text += "e" + std::to_string(exponent);
        Document doc;
        ParseFailure failure;
        const bool ok = doc.parse(text, failure);
        const double want = std::strtod(text.c_str(), nullptr);
        if (std::isinf(want)) {
            EXPECT_FALSE(ok) << text;
            continue;
        }
        ASSERT_TRUE(ok) << text << ": " << failure.reason;
        ASSERT_EQ(doc.root().kind, Kind::Float);
        EXPECT_EQ(doc.root().as_float(), want) << text;
    }
}

TEST(JsonTree, NestingLimitIs200Containers) {
    for (int depth : {199, 200, 201, 202}) {
        std::string input = std::string(depth, '[') + "1" + std::string(depth, ']');
        Document doc;
        ParseFailure failure;
        EXPECT_EQ(doc.parse(input, failure), depth <= 200) << depth;
    }
    std::string mixed;
    for (int i = 0; i < 100; ++i) mixed += "{\"a\":[";
    mixed += "0";
    for (int i = 0; i < 100; ++i) mixed += "]}";
    EXPECT_EQ(parsed(mixed).substr(0, 6), "{\"a\":[");
    EXPECT_EQ(parsed("{\"a\":" + mixed + "}"),
              "FAIL: nesting too deep (at most 200 nested containers) at line 1 column 605");
}

TEST(JsonTree, RememberMostBigIntDigits) {
    Document doc;
    ParseFailure failure;
    const std::string input = "[1, -" + std::string(50, '9') + ", " + std::string(30, '8') + "]";
    ASSERT_TRUE(doc.parse(input, failure));
    EXPECT_EQ(doc.max_big_int_digits(), 50u);
}

TEST(JsonTree, ReparseReplacesThePreviousDocument) {
    Document doc;
    ParseFailure failure;
    ASSERT_TRUE(doc.parse("[1,2,3]", failure));
    ASSERT_TRUE(doc.parse("\"x\"", failure));
    EXPECT_EQ(doc.root().kind, Kind::String);
    ParseFailure refused;
    EXPECT_FALSE(doc.parse("[", refused));
    EXPECT_EQ(refused.kind, ParseFailure::Kind::Malformed);
    // Buffers are kept for the next parse until given back.
    ASSERT_TRUE(doc.parse("[\"a\\n\", [1, 2], {\"k\": 3}]", failure));
    EXPECT_GT(doc.retained_bytes(), 0u);
    doc.release_memory();
    EXPECT_LT(doc.retained_bytes(), 64u);  // at most an empty string's own storage
    ASSERT_TRUE(doc.parse("[4]", failure));
    EXPECT_EQ(doc.items(doc.root())[0].as_int(), 4);
}

}  // namespace
