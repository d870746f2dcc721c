// The class-set operator scan: a pure text scan over the code points of a
// pattern, tracking only whether it is inside a bracketed class.
//
// What it computes: the first position, inside a class, of a nested `[`
// (other than a POSIX `[:name:]`) or of a doubled `&`, `-` or `~` that is
// not the class's first member.  Escapes skip the escaped code point; a
// `]` right after the opening `[` (or `[^`) is a literal member and does
// not close the class.
//
// Invariants: it never reads past the text, whatever its bytes; it answers
// none for a pattern `re` and this engine read alike as far as these
// operators go.  Budget: one decoding pass and one scan, linear in the
// text.
#include "core/pattern/class_set.h"

#include <cstdint>
#include <vector>

#include "core/pattern/utf8.h"

namespace tessaron::pattern {

std::optional<ClassSetOperator> find_class_set_operator(std::string_view text) {
    std::vector<std::uint32_t> cps;
    cps.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        cps.push_back(utf8::decode(text, i, len));
        i += len == 0 ? 1 : len;
    }
    const std::size_t n = cps.size();
    bool in_class = false;
    std::size_t first = 0;  // position of the open class's first member
    std::size_t i = 0;
    while (i < n) {
        const std::uint32_t c = cps[i];
        const bool has_next = i + 1 < n;
        const std::uint32_t next = has_next ? cps[i + 1] : 0;
        if (c == '\\') {
            i += 2;
            continue;
        }
        if (!in_class) {
            if (c == '[') {
                in_class = true;
                std::size_t j = i + 1;
                if (j < n && cps[j] == '^') ++j;
                first = j;
                if (j < n && cps[j] == ']') ++j;  // a literal ']' as the first member
                i = j;
                continue;
            }
            ++i;
            continue;
        }
        if (c == '[') {
            if (!has_next || next != ':') return ClassSetOperator{"nested set", i};
            std::size_t j = i + 2;
            while (j + 1 < n && !(cps[j] == ':' && cps[j + 1] == ']')) ++j;
            i = j + 1 < n ? j + 2 : n;
            continue;
        }
        if (c == ']') {
            in_class = false;
            ++i;
            continue;
        }
        if (has_next && next == c && i != first) {
            if (c == '&') return ClassSetOperator{"set intersection", i};
            if (c == '-') return ClassSetOperator{"set difference", i};
            if (c == '~') return ClassSetOperator{"set symmetric difference", i};
        }
        ++i;
    }
    return std::nullopt;
}

}  // namespace tessaron::pattern
