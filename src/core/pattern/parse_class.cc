// Pattern parser, part 2: escapes and bracketed character classes.
//
// A bracketed class is parsed into one IntervalSet: code points when
// Unicode mode is on, bytes when it is off.  Inside brackets, juxtaposed
// items form a union, nested brackets are unions too, and the operators
// `&&` (intersection), `--` (difference) and `~~` (symmetric difference)
// combine the unions on either side, all at one precedence, left to right.
// At a class's first member (after `[` or `[^`) the pairs are read as
// Python's `re` reads them: `&&` and `~~` as two literal characters, `--`
// as a literal '-' whose second dash may make it a range's start ([--a] is
// '-'..'a').  Elsewhere `re` reads them literally too, which is why the
// schema builder refuses them there (class_set.h).
// Under (?i) every operand is closed under simple case folding before an
// operator is applied and the result is folded again; negation comes last.
// A class parse recurses once per nested bracket, bounded by the nesting
// limit.
//
// A str pattern's classes hold scalar values only: a range whose ends lie
// on either side of the surrogate block (U+D800..U+DFFF) leaves the block
// out, as the dot, negation and the Unicode tables already do.  A str that
// holds a lone surrogate has no UTF-8 form and so matches no str pattern;
// the automaton built from the same parse must accept none of the
// surrogates' three-byte encodings either.  Ranges are the only way into a
// class for a surrogate (escapes and pattern text name scalars only, and
// case folding never pairs a scalar with a surrogate), so every operator,
// fold and negation after them keeps the block out.  Bytes patterns keep
// their ranges whole.
#include <string>

#include "core/pattern/parser.h"
#include "core/pattern/unicode.h"
#include "core/util/native_stack.h"

namespace tessaron::pattern::detail {

namespace {

bool is_meta(std::uint32_t c) {
    switch (c) {
        case '\\': case '.': case '+': case '*': case '?': case '(': case ')': case '|': case '[': case ']':
        case '{': case '}': case '^': case '$': case '#': case '&': case '-': case '~':
            return true;
        default:
            return false;
    }
}

bool is_escapeable(std::uint32_t c) {
    if (is_meta(c)) return true;
    if (c >= 0x80) return false;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return false;
    return c != '<' && c != '>';
}

int hex_value(std::uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

constexpr std::uint32_t kSurrogateLo = 0xD800;
constexpr std::uint32_t kSurrogateHi = 0xDFFF;

bool is_scalar(std::uint64_t v) { return v <= 0x10FFFF && !(v >= kSurrogateLo && v <= kSurrogateHi); }

IntervalSet ascii_set(std::string_view name, bool& found) {
    found = true;
    if (name == "alnum") return IntervalSet({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}});
    if (name == "alpha") return IntervalSet({{'A', 'Z'}, {'a', 'z'}});
    if (name == "ascii") return IntervalSet({{0, 0x7F}});
    if (name == "blank") return IntervalSet({{'\t', '\t'}, {' ', ' '}});
    if (name == "cntrl") return IntervalSet({{0, 0x1F}, {0x7F, 0x7F}});
    if (name == "digit") return IntervalSet({{'0', '9'}});
    if (name == "graph") return IntervalSet({{'!', '~'}});
    if (name == "lower") return IntervalSet({{'a', 'z'}});
    if (name == "print") return IntervalSet({{' ', '~'}});
    if (name == "punct") return IntervalSet({{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}});
    if (name == "space") return IntervalSet({{'\t', '\r'}, {' ', ' '}});
    if (name == "upper") return IntervalSet({{'A', 'Z'}});
    if (name == "word") return IntervalSet({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {'_', '_'}});
    if (name == "xdigit") return IntervalSet({{'0', '9'}, {'A', 'F'}, {'a', 'f'}});
    found = false;
    return {};
}

}  // namespace

bool Parser::parse_hex(std::size_t start, int digits, Escape& out) {
    if (eof()) return fail(msg::kEscapeEof, start);
    std::uint64_t value = 0;
    if (cur() == '{') {
        bump();
        int count = 0;
        for (;;) {
            if (eof()) return fail(msg::kEscapeEof, start);
            if (cur() == '}') break;
            int d = hex_value(cur());
            if (d < 0) return fail(msg::kHexInvalidDigit, pos_);
            if (++count <= 8) value = value * 16 + static_cast<std::uint64_t>(d);
            bump();
        }
        bump();
        if (count == 0) return fail(msg::kHexEmpty, start);
        if (count > 8 || !is_scalar(value)) return fail(msg::kHexInvalid, start);
        out.kind = Escape::Kind::Char;
        out.c = static_cast<std::uint32_t>(value);
        return true;
    }
    for (int k = 0; k < digits; ++k) {
        if (eof()) return fail(msg::kEscapeEof, start);
        int d = hex_value(cur());
        if (d < 0) return fail(msg::kHexInvalidDigit, pos_);
        value = value * 16 + static_cast<std::uint64_t>(d);
        bump();
    }
    if (!is_scalar(value)) return fail(msg::kHexInvalid, start);
    out.kind = Escape::Kind::Char;
    out.c = static_cast<std::uint32_t>(value);
    out.hex_byte = digits == 2;
    return true;
}

bool Parser::parse_unicode_class(std::size_t start, bool negated, Escape& out) {
    if (eof()) return fail(msg::kEscapeEof, start);
    std::string name;
    if (cur() == '{') {
        bump();
        skip_space();
        for (;;) {
            if (eof()) return fail(msg::kEscapeEof, start);
            if (cur() == '}') break;
            const std::size_t at = pos_;
            bump();
            name.append(pat_.substr(at, pos_ - at));
            skip_space();
        }
        bump();
    } else {
        const std::size_t at = pos_;
        bump();
        name.assign(pat_.substr(at, pos_ - at));
    }
    if (!flags_.u) return fail(msg::kUnicodeNotAllowed, start);
    std::variant<IntervalSet, const char*> result;
    if (std::size_t ne = name.find("!="); ne != std::string::npos) {
        negated = !negated;
        result = unicode::property_value_class(std::string_view(name).substr(0, ne),
                                               std::string_view(name).substr(ne + 2));
    } else if (std::size_t eq = name.find_first_of(":="); eq != std::string::npos) {
        result = unicode::property_value_class(std::string_view(name).substr(0, eq),
                                               std::string_view(name).substr(eq + 1));
    } else {
        result = unicode::property_class(name);
    }
    if (const char* const* err = std::get_if<const char*>(&result)) return fail(*err, start);
    IntervalSet set = std::move(std::get<IntervalSet>(result));
    if (flags_.i) set.case_fold_unicode();
    if (negated) set.negate_unicode();
    out.kind = Escape::Kind::Set;
    out.set = std::move(set);
    return true;
}

bool Parser::parse_perl_class(std::uint32_t letter, Escape& out) {
    const std::size_t start = pos_ - 2;
    const bool negated = letter >= 'A' && letter <= 'Z';
    const std::uint32_t lower = negated ? letter + 32 : letter;
    IntervalSet set;
    if (flags_.u) {
        set = lower == 'd' ? unicode::perl_digit() : lower == 's' ? unicode::perl_space() : unicode::perl_word();
        if (negated) set.negate_unicode();
    } else {
        bool found;
        set = ascii_set(lower == 'd' ? "digit" : lower == 's' ? "space" : "word", found);
        if (negated) {
            if (opts_.utf8) return fail(msg::kInvalidUtf8, start);
            set.negate_bytes();
        }
    }
    out.kind = Escape::Kind::Set;
    out.set = std::move(set);
    return true;
}

bool Parser::parse_special_word_boundary(std::size_t start, std::optional<Look>& out) {
    // At '{' after \b: a special boundary when letters or '-' follow,
    // otherwise a counted repetition of \b, left for the caller.
    const std::size_t brace = pos_;
    bump();
    skip_space();
    if (eof()) return fail(msg::kSpecialWordOrRepetitionEof, start);
    auto valid = [](std::uint32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'; };
    if (!valid(cur())) {
        pos_ = brace;
        return true;
    }
    std::string name;
    while (!eof() && valid(cur())) {
        name.push_back(static_cast<char>(cur()));
        bump();
        skip_space();
    }
    if (eof() || cur() != '}') return fail(msg::kSpecialWordUnclosed, start);
    bump();
    const bool u = flags_.u;
    if (name == "start") {
        out = u ? Look::WordStartUnicode : Look::WordStartAscii;
    } else if (name == "end") {
        out = u ? Look::WordEndUnicode : Look::WordEndAscii;
    } else if (name == "start-half") {
        out = u ? Look::WordStartHalfUnicode : Look::WordStartHalfAscii;
    } else if (name == "end-half") {
        out = u ? Look::WordEndHalfUnicode : Look::WordEndHalfAscii;
    } else {
        return fail(msg::kSpecialWordUnrecognized, start);
    }
    return true;
}

bool Parser::parse_escape(bool in_class, Escape& out) {
    const std::size_t start = pos_;
    bump();  // '\\'
    if (eof()) return fail(msg::kEscapeEof, start);
    const std::uint32_t c = cur();
    out = Escape{};
    if (is_escapeable(c)) {
        bump();
        out.c = c;
        return true;
    }
    const bool u = flags_.u;
    auto assertion = [&](Look l) {
        bump();
        if (in_class) return fail(msg::kClassEscapeInvalid, start);
        out.kind = Escape::Kind::Assert;
        out.look = l;
        return true;
    };
    switch (c) {
        case 'x': bump(); return parse_hex(start, 2, out);
        case 'u': bump(); return parse_hex(start, 4, out);
        case 'U': bump(); return parse_hex(start, 8, out);
        case 'p':
        case 'P': bump(); return parse_unicode_class(start, c == 'P', out);
        case 'd': case 's': case 'w': case 'D': case 'S': case 'W': bump(); return parse_perl_class(c, out);
        case 'a': bump(); out.c = 0x07; return true;
        case 'f': bump(); out.c = 0x0C; return true;
        case 't': bump(); out.c = '\t'; return true;
        case 'n': bump(); out.c = '\n'; return true;
        case 'r': bump(); out.c = '\r'; return true;
        case 'v': bump(); out.c = 0x0B; return true;
        case 'A': return assertion(Look::Start);
        case 'z': return assertion(Look::End);
        case '<': return assertion(u ? Look::WordStartUnicode : Look::WordStartAscii);
        case '>': return assertion(u ? Look::WordEndUnicode : Look::WordEndAscii);
        case 'B':
            if (!u && opts_.utf8 && !in_class) {
                bump();
                return fail(msg::kInvalidUtf8, start);
            }
            return assertion(u ? Look::NotWordUnicode : Look::NotWordAscii);
        case 'b': {
            if (!assertion(u ? Look::WordUnicode : Look::WordAscii)) return false;
            if (!eof() && cur() == '{') {
                std::optional<Look> special;
                if (!parse_special_word_boundary(start, special)) return false;
                if (special) out.look = *special;
            }
            return true;
        }
        default:
            if (c >= '0' && c <= '9') return fail(msg::kUnsupportedBackreference, start);
            return fail(msg::kEscapeUnrecognized, start);
    }
}

bool Parser::class_char(std::uint32_t c, bool hex_byte, std::size_t offset, std::uint32_t& out) {
    if (flags_.u || c <= 0x7F || (hex_byte && c <= 0xFF)) {
        out = c;
        return true;
    }
    return fail(msg::kUnicodeNotAllowed, offset);
}

bool Parser::parse_class_primitive(Escape& out, std::size_t& offset) {
    offset = pos_;
    if (cur() == '\\') return parse_escape(true, out);
    out = Escape{};
    out.c = cur();
    bump();
    return true;
}

bool Parser::parse_class_range(IntervalSet& set) {
    Escape first;
    std::size_t first_at;
    if (!parse_class_primitive(first, first_at)) return false;
    skip_space();
    if (eof()) return fail(msg::kClassUnclosed, class_open_);
    std::optional<std::uint32_t> after;
    if (cur() == '-') after = peek_after_space();
    if (cur() != '-' || after == std::uint32_t{']'} || after == std::uint32_t{'-'}) {
        if (first.kind == Escape::Kind::Set) {
            set.union_with(first.set);
            return true;
        }
        std::uint32_t c = 0;
        if (!class_char(first.c, first.hex_byte, first_at, c)) return false;
        set.add(c, c);
        return true;
    }
    bump();  // '-'
    skip_space();
    if (eof()) return fail(msg::kClassUnclosed, class_open_);
    Escape second;
    std::size_t second_at;
    if (!parse_class_primitive(second, second_at)) return false;
    if (first.kind != Escape::Kind::Char) return fail(msg::kClassRangeLiteral, first_at);
    if (second.kind != Escape::Kind::Char) return fail(msg::kClassRangeLiteral, second_at);
    if (first.c > second.c) return fail(msg::kClassRangeInvalid, first_at);
    std::uint32_t lo = 0, hi = 0;
    if (!class_char(first.c, first.hex_byte, first_at, lo) || !class_char(second.c, second.hex_byte, second_at, hi))
        return false;
    // Both ends are scalar values, so a range that reaches the block spans it.
    if (opts_.utf8 && lo < kSurrogateLo && hi > kSurrogateHi) {
        set.add(lo, kSurrogateLo - 1);
        set.add(kSurrogateHi + 1, hi);
        return true;
    }
    set.add(lo, hi);
    return true;
}

bool Parser::try_posix_class(IntervalSet& set) {
    // "[:name:]" or "[:^name:]"; anything else is a nested class.
    const std::size_t start = pos_;
    std::size_t p = pos_ + 1;
    if (p >= pat_.size() || pat_[p] != ':') return false;
    ++p;
    bool negated = false;
    if (p < pat_.size() && pat_[p] == '^') {
        negated = true;
        ++p;
    }
    const std::size_t name_start = p;
    while (p < pat_.size() && pat_[p] != ':') ++p;
    if (p >= pat_.size() || pat_.substr(p, 2) != ":]") return false;
    bool found;
    IntervalSet cls = ascii_set(pat_.substr(name_start, p - name_start), found);
    if (!found) return false;
    pos_ = p + 2;
    (void)start;
    if (flags_.i) {
        if (flags_.u) {
            cls.case_fold_unicode();
        } else {
            cls.case_fold_ascii();
        }
    }
    if (negated) {
        if (flags_.u) {
            cls.negate_unicode();
        } else {
            cls.negate_bytes();
        }
    }
    set.union_with(cls);
    return true;
}

bool Parser::parse_class(std::uint32_t depth, IntervalSet& out, std::uint32_t& height) {
    util::ensure_native_stack();
    const std::size_t start = pos_;
    if (!check_height(depth, start)) return false;
    const std::size_t outer_open = class_open_;
    class_open_ = start;
    bump();  // '['
    skip_space();
    if (eof()) return fail(msg::kClassUnclosed, start);
    bool negated = false;
    if (cur() == '^') {
        negated = true;
        bump();
        skip_space();
        if (eof()) return fail(msg::kClassUnclosed, start);
    }
    IntervalSet items;
    if (starts_with("&&") || starts_with("~~")) {
        // At the first member, `re` reads the pair as two literal
        // characters, and so does this dialect: the first is taken here,
        // the second as any member (it may open a range, as in `re`).
        items.add(cur(), cur());
        bump();
    } else if (starts_with("--")) {
        // `re` reads a first `-` as a literal that may open a range with
        // the second as its dash: [--a] is '-'..'a', [--] is '-'.
        if (!parse_class_range(items)) return false;
        skip_space();
        if (eof()) return fail(msg::kClassUnclosed, start);
    }
    while (cur() == '-') {
        items.add('-', '-');
        bump();
        skip_space();
        if (eof()) return fail(msg::kClassUnclosed, start);
    }
    if (items.empty() && cur() == ']') {
        items.add(']', ']');
        bump();
        skip_space();
        if (eof()) return fail(msg::kClassUnclosed, start);
    }
    const bool u = flags_.u;
    auto fold = [&](IntervalSet& s) {
        if (!flags_.i) return;
        if (u) {
            s.case_fold_unicode();
        } else {
            s.case_fold_ascii();
        }
    };
    std::optional<IntervalSet> acc;
    char op = 0;
    auto combine = [&]() {
        if (!acc) {
            acc = std::move(items);
        } else {
            fold(*acc);
            fold(items);
            if (op == '&') {
                acc->intersect_with(items);
            } else if (op == '-') {
                acc->subtract(items);
            } else {
                acc->symmetric_difference_with(items);
            }
        }
        items = IntervalSet();
    };
    std::uint32_t inner = 0;
    for (;;) {
        skip_space();
        if (eof()) return fail(msg::kClassUnclosed, start);
        const std::uint32_t c = cur();
        if (c == '[') {
            if (try_posix_class(items)) continue;
            IntervalSet nested;
            std::uint32_t h = 0;
            if (!parse_class(depth + 1, nested, h)) return false;
            items.union_with(nested);
            inner = std::max(inner, h);
            continue;
        }
        if (c == ']') {
            bump();
            break;
        }
        if ((c == '&' && starts_with("&&")) || (c == '-' && starts_with("--")) || (c == '~' && starts_with("~~"))) {
            pos_ += 2;
            combine();
            op = static_cast<char>(c);
            continue;
        }
        if (!parse_class_range(items)) return false;
    }
    combine();
    IntervalSet result = std::move(*acc);
    fold(result);
    if (negated) {
        if (u) {
            result.negate_unicode();
        } else {
            result.negate_bytes();
        }
    }
    out = std::move(result);
    height = inner + 1;
    class_open_ = outer_open;
    return true;
}

}  // namespace tessaron::pattern::detail
