// UTF-8 encoding, decoding and range splitting.
//
// split_range follows the classic construction: a range is first cut where
// the encoded length changes (0x7F, 0x7FF, 0xFFFF), then recursively where
// a continuation byte would not run over its full 0x80..0xBF span, until
// every piece is a "rectangle": a product of one byte range per position.
// The pieces come out in ascending code point order, which for UTF-8 is
// ascending byte order, as the suffix-sharing compiler requires.
#include "core/pattern/utf8.h"

namespace tessaron::pattern::utf8 {

void encode(std::uint32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::uint32_t decode(std::string_view s, std::size_t i, std::size_t& len) {
    len = 1;
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    std::uint8_t b0 = b(i);
    if (b0 < 0x80) return b0;
    std::size_t n;
    std::uint32_t c, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, c = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, c = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return kInvalid;
    }
    if (i + n > s.size()) return kInvalid;
    for (std::size_t k = 1; k < n; ++k) {
        std::uint8_t bk = b(i + k);
        if ((bk & 0xC0) != 0x80) return kInvalid;
        c = (c << 6) | (bk & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kInvalid;
    len = n;
    return c;
}

std::uint32_t decode_last(std::string_view s, std::size_t end) {
    if (end == 0) return kInvalid;
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<std::uint8_t>(s[start]) & 0xC0) == 0x80) --start;
    std::size_t len;
    std::uint32_t c = decode(s, start, len);
    return (c != kInvalid && start + len == end) ? c : kInvalid;
}

std::size_t first_invalid(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        if (static_cast<std::uint8_t>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        if (decode(s, i, len) == kInvalid) return i;
        i += len;
    }
    return s.size();
}

namespace {

// Writes the UTF-8 form of c into out (room for 4 bytes).
void encode_to(std::uint32_t c, std::uint8_t* out) {
    if (c < 0x80) {
        out[0] = static_cast<std::uint8_t>(c);
    } else if (c < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    } else {
        out[0] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
        out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    }
}

std::size_t encoded_len(std::uint32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void split_rect(std::uint32_t lo, std::uint32_t hi, std::vector<Sequence>& out) {
    const std::size_t n = encoded_len(lo);
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint32_t m = (1u << (6 * i)) - 1;
        if ((lo & ~m) != (hi & ~m)) {
            if ((lo & m) != 0) {
                split_rect(lo, lo | m, out);
                split_rect((lo | m) + 1, hi, out);
                return;
            }
            if ((hi & m) != m) {
                split_rect(lo, (hi & ~m) - 1, out);
                split_rect(hi & ~m, hi, out);
                return;
            }
        }
    }
    std::uint8_t a[4], b[4];
    encode_to(lo, a);
    encode_to(hi, b);
    Sequence seq{};
    seq.len = static_cast<std::uint8_t>(n);
    for (std::size_t k = 0; k < n; ++k) seq.ranges[k] = ByteRange{a[k], b[k]};
    out.push_back(seq);
}

}  // namespace

void split_range(std::uint32_t lo, std::uint32_t hi, std::vector<Sequence>& out) {
    static constexpr std::uint32_t kLimits[] = {0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
    for (std::uint32_t limit : kLimits) {
        if (lo > hi) return;
        if (lo > limit) continue;
        const std::uint32_t top = hi < limit ? hi : limit;
        split_rect(lo, top, out);
        lo = top + 1;
    }
}

}  // namespace tessaron::pattern::utf8
