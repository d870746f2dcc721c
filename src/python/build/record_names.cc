// The names of a record's entries, quoted for messages and declared once.
//
// What it computes: the quoted form of a name (valid UTF-8, as every key
// text is), and the first name two entries of one builder's list share.
// Budget: one pass over the name's bytes; one hash-set insertion per entry.
#include "python/build/record_names.h"

#include <cstdio>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/util/fxhash.h"

namespace tessaron::python {

namespace {

// Decodes one code point of valid UTF-8 at `i`, advancing `i`.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        i += 1;
        return lead;
    }
    if (lead < 0xE0) {
        const char32_t c = (char32_t(lead & 0x1F) << 6) | (byte(i + 1) & 0x3F);
        i += 2;
        return c;
    }
    if (lead < 0xF0) {
        const char32_t c = (char32_t(lead & 0x0F) << 12) | (char32_t(byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
        i += 3;
        return c;
    }
    const char32_t c = (char32_t(lead & 0x07) << 18) | (char32_t(byte(i + 1) & 0x3F) << 12) |
                       (char32_t(byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F);
    i += 4;
    return c;
}

}  // namespace

std::string quoted_name(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t c = next_code_point(utf8, i);
        switch (c) {
            case U'"': out += "\\\""; continue;
            case U'\\': out += "\\\\"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\r': out += "\\r"; continue;
            case U'\n': out += "\\n"; continue;
            case U'\0': out += "\\0"; continue;
            default: break;
        }
        if (Py_UNICODE_ISPRINTABLE(static_cast<Py_UCS4>(c))) {
            out.append(utf8.substr(start, i - start));
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    out += '"';
    return out;
}

bool check_names_once(const std::vector<ir::RecordEntry>& entries, const char* noun, const char* record,
                      const char* reason) {
    boost::unordered_flat_set<std::string_view, util::FxHash> seen;
    seen.reserve(entries.size());
    for (const ir::RecordEntry& entry : entries) {
        if (seen.insert(entry.key_view()).second) continue;
        const std::string message = std::string("the ") + noun + " " + quoted_name(entry.key_view()) +
                                    " is declared twice in this " + record + ": " + reason;
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    return true;
}

}  // namespace tessaron::python
