// Fuzz entry for the JSON front end's native half: the parser handler, the
// number reader and the compact value tree (libFuzzer style; not part of the
// library).  The Python-object sink is fuzzed from Python by
// fuzz/json_fuzz.py.
//
// The input is the document.  What must hold for any input:
//   - a refusal is `Malformed`, has a reason, and points inside the input;
//   - an accepted document's strings are valid UTF-8 and its object keys
//     unique;
//   - the document written back out as JSON (floats with 17 significant
//     digits) parses again into the same tree, and writing that gives the
//     same text (a fixed point);
//   - parsing again into the same, reused Document gives the same tree;
//   - a document that is a single float reads as the correctly rounded
//     double that strtod gives.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "core/json/failure.h"
#include "core/json/number.h"
#include "core/json/tree.h"

namespace {

using tessaron::json::Document;
using tessaron::json::Kind;
using tessaron::json::ParseFailure;
using tessaron::json::Value;

[[noreturn]] void fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "json fuzz: %s for document [%.*s]\n", what, static_cast<int>(input.size()), input.data());
    std::abort();
}

bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

void write_string(std::string& out, std::string_view s) {
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    out += '"';
}

// Writes `v` as JSON, checking the tree's invariants on the way.  Depth is
// bounded by the parser's nesting limit, so recursion is fine here.
void write(std::string& out, const Document& doc, const Value& v, std::string_view input) {
    switch (v.kind) {
        case Kind::Null: out += "null"; return;
        case Kind::False: out += "false"; return;
        case Kind::True: out += "true"; return;
        case Kind::Int: out += std::to_string(v.as_int()); return;
        case Kind::BigInt: out += doc.text(v); return;
        case Kind::Float: {
            const double d = v.as_float();
            if (!std::isfinite(d)) fail("a float that is not finite", input);
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", d);
            out += buf;
            if (!std::strpbrk(buf, ".eE")) out += ".0";
            return;
        }
        case Kind::String: {
            const std::string_view s = doc.text(v);
            if (!valid_utf8(s)) fail("a string that is not valid UTF-8", input);
            write_string(out, s);
            return;
        }
        case Kind::Array: {
            out += '[';
            bool first = true;
            for (const Value& item : doc.items(v)) {
                if (!first) out += ',';
                first = false;
                write(out, doc, item, input);
            }
            out += ']';
            return;
        }
        case Kind::Object: {
            out += '{';
            std::set<std::string_view> keys;
            const auto members = doc.members(v);
            for (std::size_t i = 0; i < members.size(); i += 2) {
                if (members[i].kind != Kind::String) fail("an object key that is not a string", input);
                if (!keys.insert(doc.text(members[i])).second) fail("a duplicate object key", input);
                if (i) out += ',';
                write(out, doc, members[i], input);
                out += ':';
                write(out, doc, members[i + 1], input);
            }
            out += '}';
            return;
        }
    }
    fail("a value of no known kind", input);
}

std::string written(const Document& doc, std::string_view input) {
    std::string out;
    write(out, doc, doc.root(), input);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Document doc;
    ParseFailure failure;
    if (!doc.parse(input, failure)) {
        if (failure.kind != ParseFailure::Kind::Malformed) fail("a refusal that is not Malformed", input);
        if (failure.reason.empty()) fail("a refusal without a reason", input);
        if (failure.offset > size) fail("a refusal offset past the input", input);
        (void)tessaron::json::failure_text(input, failure);
        return 0;
    }
    const std::string text = written(doc, input);

    // Round trip: what we wrote is JSON that parses into the same tree.
    Document again;
    ParseFailure failure2;
    if (!again.parse(text, failure2)) fail(("our own output refused: " + failure2.reason).c_str(), text);
    if (written(again, text) != text) fail("the written document is not a fixed point", input);

    // A reused document parses the same input into the same tree.
    ParseFailure failure3;
    if (!doc.parse(input, failure3) || written(doc, input) != text) fail("reparsing changed the tree", input);

    // A lone float agrees with the C library's correctly rounded reading.
    if (doc.root().kind == Kind::Float) {
        const std::string number(input);
        const double expected = std::strtod(number.c_str(), nullptr);
        if (std::memcmp(&expected, &doc.root().bits, sizeof expected) != 0)
            fail("a float read differently from strtod", input);
    }
    return 0;
}
