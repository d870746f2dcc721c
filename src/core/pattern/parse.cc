// Pattern parser, part 1: the structure of a pattern.
//
// One left-to-right pass over the pattern turns it into a Hir.  Groups are
// handled with an explicit stack of frames (the concatenation and the
// finished alternatives of each open group, and the flags to restore when it
// closes), so the parser itself never recurses on group nesting; bracketed
// classes recurse, one level per nested bracket, under the same nesting
// limit.  Flags are applied while parsing: (?x) changes how the rest of the
// pattern is read, (?i) folds the literals and classes that follow.
//
// The nesting limit counts the height of the tree the dialect builds
// (groups, repetitions, alternations and concatenations of two or more
// items, bracketed classes), and the parser stops at the first node that
// exceeds it, so the later passes (NFA compilation) recurse at most that
// deep.  Errors carry the byte offset where the faulty construct starts.
#include "core/pattern/parse.h"

#include <algorithm>
#include <string>

#include "core/pattern/parser.h"
#include "core/pattern/unicode.h"
#include "core/pattern/utf8.h"

namespace tessaron::pattern {

namespace detail {

namespace {

bool is_white_space(std::uint32_t c) {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return unicode::perl_space().contains(c);
}

bool is_capture_char(std::uint32_t c, bool first) {
    if (c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (!first && ((c >= '0' && c <= '9') || c == '.' || c == '[' || c == ']')) return true;
    return c >= 0x80 && unicode::is_word_char(c) && !unicode::perl_digit().contains(c);
}

}  // namespace

std::uint32_t Parser::char_at(std::size_t at, std::size_t* len) const {
    std::size_t n = 1;
    std::uint32_t c = utf8::decode(pat_, at, n);
    if (len != nullptr) *len = n;
    return c;
}

std::uint32_t Parser::cur() const { return char_at(pos_, nullptr); }

void Parser::bump() {
    if (eof()) return;
    std::size_t n;
    char_at(pos_, &n);
    pos_ += n;
}

bool Parser::bump_if(std::string_view prefix) {
    if (!starts_with(prefix)) return false;
    pos_ += prefix.size();
    return true;
}

void Parser::skip_space() {
    if (!flags_.x) return;
    while (!eof()) {
        std::uint32_t c = cur();
        if (is_white_space(c)) {
            bump();
        } else if (c == '#') {
            while (!eof() && cur() != '\n') bump();
            bump();
        } else {
            break;
        }
    }
}

std::optional<std::uint32_t> Parser::peek_after_space() const {
    Parser probe = *this;
    probe.bump();
    probe.skip_space();
    if (probe.eof()) return std::nullopt;
    return probe.cur();
}

bool Parser::fail(const char* message, std::size_t offset) {
    if (!error_) error_ = Error{message, offset};
    return false;
}

bool Parser::check_height(std::uint32_t height, std::size_t offset) {
    if (height <= opts_.nest_limit) return true;
    std::string m = "exceed the maximum number of nested parentheses/brackets (" + std::to_string(opts_.nest_limit) + ")";
    if (!error_) error_ = Error{std::move(m), offset};
    return false;
}

Look Parser::line_start() const {
    if (!flags_.m) return Look::Start;
    return flags_.R ? Look::StartCRLF : Look::StartLF;
}

Look Parser::line_end() const {
    if (!flags_.m) return Look::End;
    return flags_.R ? Look::EndCRLF : Look::EndLF;
}

Parser::Item Parser::finish_concat(std::vector<Item>& concat) {
    std::vector<Hir> subs;
    std::uint32_t height = 0;
    for (Item& it : concat) {
        if (!it.hir) continue;
        height = std::max(height, it.height);
        subs.push_back(std::move(*it.hir));
    }
    concat.clear();
    if (subs.size() >= 2) height += 1;
    return Item{Hir::concat(std::move(subs)), height};
}

Parser::Item Parser::finish_alternation(Frame& frame) {
    frame.branches.push_back(finish_concat(frame.concat));
    if (frame.branches.size() == 1) {
        Item only = std::move(frame.branches[0]);
        frame.branches.clear();
        return only;
    }
    std::vector<Hir> subs;
    std::uint32_t height = 0;
    for (Item& it : frame.branches) {
        height = std::max(height, it.height);
        subs.push_back(std::move(*it.hir));
    }
    frame.branches.clear();
    return Item{Hir::alternate(std::move(subs)), height + 1};
}

bool Parser::literal_item(std::uint32_t c, bool hex_byte, std::size_t offset, Item& out) {
    if (flags_.u) {
        if (flags_.i) {
            IntervalSet s = IntervalSet::single(c);
            s.case_fold_unicode();
            if (s.ranges().size() != 1 || s.ranges()[0].lo != s.ranges()[0].hi) {
                out = Item{Hir::unicode_class(std::move(s)), 0};
                return true;
            }
        }
        std::string b;
        utf8::encode(c, b);
        out = Item{Hir::literal(std::move(b)), 0};
        return true;
    }
    if (hex_byte && c >= 0x80 && c <= 0xFF) {
        if (opts_.utf8) return fail(msg::kInvalidUtf8, offset);
        out = Item{Hir::literal(std::string(1, static_cast<char>(c))), 0};
        return true;
    }
    if (c > 0x7F) return fail(msg::kUnicodeNotAllowed, offset);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (flags_.i && letter) {
        IntervalSet s = IntervalSet::single(c);
        s.case_fold_ascii();
        out = Item{Hir::byte_class(std::move(s)), 0};
        return true;
    }
    out = Item{Hir::literal(std::string(1, static_cast<char>(c))), 0};
    return true;
}

bool Parser::dot_item(std::size_t offset, Item& out) {
    IntervalSet set;
    if (flags_.u) {
        set = IntervalSet({{0, 0x10FFFF}});
        set.subtract(IntervalSet({{0xD800, 0xDFFF}}));
    } else {
        set = IntervalSet({{0, 0xFF}});
    }
    if (!flags_.s) {
        set.subtract(IntervalSet::single('\n'));
        if (flags_.R) set.subtract(IntervalSet::single('\r'));
    }
    if (!flags_.u) {
        if (opts_.utf8) return fail(msg::kInvalidUtf8, offset);
        out = Item{Hir::byte_class(std::move(set)), 0};
        return true;
    }
    out = Item{Hir::unicode_class(std::move(set)), 0};
    return true;
}

Parser::Item Parser::class_item(IntervalSet set, std::uint32_t height) {
    const auto& rs = set.ranges();
    if (rs.size() == 1 && rs[0].lo == rs[0].hi) {
        std::string b;
        if (flags_.u) {
            utf8::encode(rs[0].lo, b);
        } else {
            b.push_back(static_cast<char>(rs[0].lo));
        }
        return Item{Hir::literal(std::move(b)), height};
    }
    return Item{flags_.u ? Hir::unicode_class(std::move(set)) : Hir::byte_class(std::move(set)), height};
}

bool Parser::parse_flags(Flags& flags, bool& any) {
    bool negate = false, last_was_negation = false;
    std::uint32_t seen = 0;
    for (;;) {
        if (eof()) return fail(msg::kFlagEof, pos_);
        std::uint32_t c = cur();
        if (c == ':' || c == ')') break;
        if (c == '-') {
            if (negate) return fail(msg::kFlagRepeatedNegation, pos_);
            negate = true;
            last_was_negation = true;
        } else {
            bool* target = nullptr;
            int bit = 0;
            switch (c) {
                case 'i': target = &flags.i, bit = 0; break;
                case 'm': target = &flags.m, bit = 1; break;
                case 's': target = &flags.s, bit = 2; break;
                case 'x': target = &flags.x, bit = 3; break;
                case 'u': target = &flags.u, bit = 4; break;
                case 'U': target = &flags.U, bit = 5; break;
                case 'R': target = &flags.R, bit = 6; break;
                default: return fail(msg::kFlagUnrecognized, pos_);
            }
            if (seen & (1u << bit)) return fail(msg::kFlagDuplicate, pos_);
            seen |= 1u << bit;
            *target = !negate;
            last_was_negation = false;
            any = true;
        }
        bump();
    }
    if (last_was_negation) return fail(msg::kFlagDanglingNegation, pos_ - 1);
    return true;
}

bool Parser::parse_group_name() {
    const std::size_t start = pos_;
    std::string name;
    for (;;) {
        if (eof()) return fail(msg::kGroupNameEof, start);
        std::uint32_t c = cur();
        if (c == '>') break;
        if (!is_capture_char(c, pos_ == start)) return fail(msg::kGroupNameInvalid, pos_);
        bump();
    }
    name.assign(pat_.substr(start, pos_ - start));
    bump();  // '>'
    if (name.empty()) return fail(msg::kGroupNameEmpty, start);
    for (const std::string& n : names_) {
        if (n == name) return fail(msg::kGroupNameDuplicate, start);
    }
    names_.push_back(std::move(name));
    return true;
}

bool Parser::parse_group_open(std::vector<Frame>& stack, Frame& frame) {
    const std::size_t start = pos_;
    if (starts_with("(?=") || starts_with("(?!") || starts_with("(?<=") || starts_with("(?<!"))
        return fail(msg::kUnsupportedLookAround, start);
    if (starts_with("(?>")) return fail(msg::kUnsupportedAtomicGroup, start);
    if (starts_with("(?#")) return fail(msg::kUnsupportedComment, start);
    bump();  // '('
    Flags inner = flags_;
    if (bump_if("?P<") || bump_if("?<")) {
        if (!parse_group_name()) return false;
    } else if (bump_if("?")) {
        if (eof()) return fail(msg::kGroupUnclosed, start);
        bool any = false;
        if (!parse_flags(inner, any)) return false;
        if (cur() == ')') {
            bump();
            if (!any) return fail(msg::kRepetitionMissing, start + 1);
            flags_ = inner;
            frame.concat.push_back(Item{std::nullopt, 0});
            return true;
        }
        bump();  // ':'
    }
    if (++open_groups_ > opts_.nest_limit) return check_height(open_groups_, start);
    Frame nf;
    nf.saved = flags_;
    nf.open = start;
    stack.push_back(std::move(frame));
    frame = std::move(nf);
    flags_ = inner;
    return true;
}

bool Parser::apply_repeat(Frame& frame, std::size_t start, std::uint32_t min, std::uint32_t max) {
    Item& last = frame.concat.back();
    last.hir = Hir::repeat(std::move(*last.hir), min, max);
    last.height += 1;
    last.quantified = true;
    return check_height(last.height, start);
}

bool Parser::parse_decimal(std::uint32_t& out, const char* empty_message) {
    skip_space();
    const std::size_t start = pos_;
    std::uint64_t value = 0;
    bool overflow = false, any = false;
    while (!eof() && cur() >= '0' && cur() <= '9') {
        value = value * 10 + (cur() - '0');
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;
        }
        any = true;
        bump();
    }
    if (!any) return fail(empty_message, pos_);
    if (overflow) return fail(msg::kDecimalInvalid, start);
    skip_space();
    // 2^32 - 1 written out would read as the unbounded mark; one below it
    // denotes the same refusal (any repetition that large exceeds the size
    // limit) without becoming `x{0,}`.
    out = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, kUnbounded - 1));
    return true;
}

bool Parser::parse_counted(Frame& frame, std::size_t start) {
    bump();  // '{'
    skip_space();
    if (eof()) return fail(msg::kRepetitionUnclosed, start);
    std::uint32_t min = 0, max = 0;
    if (cur() != ',' && !parse_decimal(min, msg::kRepetitionDecimalEmpty)) return false;
    max = min;
    if (eof()) return fail(msg::kRepetitionUnclosed, start);
    if (cur() == ',') {
        bump();
        skip_space();
        if (eof()) return fail(msg::kRepetitionUnclosed, start);
        if (cur() != '}') {
            if (!parse_decimal(max, msg::kRepetitionDecimalEmpty)) return false;
        } else {
            max = kUnbounded;
        }
    }
    if (eof() || cur() != '}') return fail(msg::kRepetitionUnclosed, start);
    bump();
    if (frame.concat.back().quantified) return fail(msg::kUnsupportedMultipleRepeat, start);
    if (!eof() && cur() == '+') return fail(msg::kUnsupportedPossessive, start);
    if (!eof() && cur() == '?') bump();
    if (min > max) return fail(msg::kRepetitionCountInvalid, start);
    return apply_repeat(frame, start, min, max);
}

bool Parser::parse_repetition(Frame& frame) {
    const std::size_t start = pos_;
    if (frame.concat.empty() || !frame.concat.back().hir) return fail(msg::kRepetitionMissing, start);
    const std::uint32_t op = cur();
    if (op == '{') return parse_counted(frame, start);
    // `re` refuses a quantifier right after another ("multiple repeat":
    // `a**`, `a{2}{3}`, `a+?+`), where nesting would read `a{2}{3}` as
    // `a{6}`: refused too.  A group in between is what repeats a
    // repetition, `(?:a*)*`.  (A counted one is told once its braces
    // close: `a*{` is no repetition.)
    if (frame.concat.back().quantified) return fail(msg::kUnsupportedMultipleRepeat, start);
    bump();
    // `re` (3.11 on) reads a `+` right after a quantifier as making it
    // possessive, which changes the texts matched (a++a matches none):
    // refused, as atomic groups are.
    if (!eof() && cur() == '+') return fail(msg::kUnsupportedPossessive, start);
    if (!eof() && cur() == '?') bump();  // laziness does not change which texts match
    switch (op) {
        case '?': return apply_repeat(frame, start, 0, 1);
        case '*': return apply_repeat(frame, start, 0, kUnbounded);
        default: return apply_repeat(frame, start, 1, kUnbounded);
    }
}

std::variant<Hir, Error> Parser::run() {
    if (std::size_t bad = utf8::first_invalid(pat_); bad != pat_.size()) return Error{msg::kPatternNotUtf8, bad};
    std::vector<Frame> stack;
    Frame cur;
    cur.saved = flags_;
    auto failed = [&]() -> std::variant<Hir, Error> { return *error_; };
    for (;;) {
        skip_space();
        if (eof()) break;
        const std::size_t start = pos_;
        const std::uint32_t c = this->cur();
        switch (c) {
            case '(':
                if (!parse_group_open(stack, cur)) return failed();
                break;
            case ')': {
                if (stack.empty()) return Error{msg::kGroupUnopened, start};
                bump();
                Item content = finish_alternation(cur);
                flags_ = cur.saved;
                --open_groups_;
                content.height += 1;
                if (!check_height(content.height, cur.open)) return failed();
                cur = std::move(stack.back());
                stack.pop_back();
                cur.concat.push_back(std::move(content));
                break;
            }
            case '|':
                bump();
                cur.branches.push_back(finish_concat(cur.concat));
                break;
            case '[': {
                IntervalSet set;
                std::uint32_t height = 0;
                if (!parse_class(open_groups_ + 1, set, height)) return failed();
                if (!flags_.u && opts_.utf8 && set.max_value() > 0x7F) return Error{msg::kInvalidUtf8, start};
                cur.concat.push_back(class_item(std::move(set), height));
                break;
            }
            case '.': {
                bump();
                Item it;
                if (!dot_item(start, it)) return failed();
                cur.concat.push_back(std::move(it));
                break;
            }
            case '^':
                bump();
                cur.concat.push_back(Item{Hir::assertion(line_start()), 0});
                break;
            case '$':
                bump();
                cur.concat.push_back(Item{Hir::assertion(line_end()), 0});
                break;
            case '?':
            case '*':
            case '+':
            case '{':
                if (!parse_repetition(cur)) return failed();
                break;
            case '\\': {
                Escape e;
                if (!parse_escape(false, e)) return failed();
                Item it;
                if (e.kind == Escape::Kind::Char) {
                    if (!literal_item(e.c, e.hex_byte, start, it)) return failed();
                } else if (e.kind == Escape::Kind::Set) {
                    it = class_item(std::move(e.set), 0);
                } else {
                    it = Item{Hir::assertion(e.look), 0};
                }
                cur.concat.push_back(std::move(it));
                break;
            }
            default: {
                bump();
                Item it;
                if (!literal_item(c, false, start, it)) return failed();
                cur.concat.push_back(std::move(it));
                break;
            }
        }
    }
    if (!stack.empty()) return Error{msg::kGroupUnclosed, cur.open};
    Item root = finish_alternation(cur);
    if (!check_height(root.height, 0)) return failed();
    return std::move(*root.hir);
}

}  // namespace detail

std::variant<Hir, Error> parse(std::string_view pattern, const ParseOptions& options) {
    detail::Parser parser(pattern, options);
    return parser.run();
}

std::string format_error(const Error& error, std::string_view pattern) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < error.offset && i < pattern.size(); ++i) {
        if ((static_cast<unsigned char>(pattern[i]) & 0xC0) != 0x80) ++chars;
    }
    return error.message + " at position " + std::to_string(chars);
}

}  // namespace tessaron::pattern
