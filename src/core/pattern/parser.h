// Internal: the parser's state, shared by parse.cc (structure: groups,
// alternation, repetition, flags) and parse_class.cc (escapes and bracketed
// classes).  Not part of the engine's interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pattern/error.h"
#include "core/pattern/hir.h"
#include "core/pattern/parse.h"

namespace tessaron::pattern::detail {

namespace msg {
inline constexpr const char* kClassEscapeInvalid = "invalid escape sequence found in character class";
inline constexpr const char* kClassRangeInvalid = "invalid character class range, the start must be <= the end";
inline constexpr const char* kClassRangeLiteral = "invalid range boundary, must be a literal";
inline constexpr const char* kClassUnclosed = "unclosed character class";
inline constexpr const char* kDecimalEmpty = "decimal literal empty";
inline constexpr const char* kDecimalInvalid = "decimal literal invalid";
inline constexpr const char* kHexEmpty = "hexadecimal literal empty";
inline constexpr const char* kHexInvalid = "hexadecimal literal is not a Unicode scalar value";
inline constexpr const char* kHexInvalidDigit = "invalid hexadecimal digit";
inline constexpr const char* kEscapeEof = "incomplete escape sequence, reached end of pattern prematurely";
inline constexpr const char* kEscapeUnrecognized = "unrecognized escape sequence";
inline constexpr const char* kFlagDanglingNegation = "dangling flag negation operator";
inline constexpr const char* kFlagDuplicate = "duplicate flag";
inline constexpr const char* kFlagRepeatedNegation = "flag negation operator repeated";
inline constexpr const char* kFlagEof = "expected flag but got end of regex";
inline constexpr const char* kFlagUnrecognized = "unrecognized flag";
inline constexpr const char* kGroupNameDuplicate = "duplicate capture group name";
inline constexpr const char* kGroupNameEmpty = "empty capture group name";
inline constexpr const char* kGroupNameInvalid = "invalid capture group character";
inline constexpr const char* kGroupNameEof = "unclosed capture group name";
inline constexpr const char* kGroupUnclosed = "unclosed group";
inline constexpr const char* kGroupUnopened = "unopened group";
inline constexpr const char* kRepetitionCountInvalid = "invalid repetition count range, the start must be <= the end";
inline constexpr const char* kRepetitionDecimalEmpty = "repetition quantifier expects a valid decimal";
inline constexpr const char* kRepetitionUnclosed = "unclosed counted repetition";
inline constexpr const char* kRepetitionMissing = "repetition operator missing expression";
inline constexpr const char* kSpecialWordUnclosed =
    "special word boundary assertion is either unclosed or contains an invalid character";
inline constexpr const char* kSpecialWordUnrecognized =
    "unrecognized special word boundary assertion, valid choices are: start, end, start-half or end-half";
inline constexpr const char* kSpecialWordOrRepetitionEof =
    "found either the beginning of a special word boundary or a bounded repetition on a \\b with an opening "
    "brace, but no closing brace";
inline constexpr const char* kUnsupportedAtomicGroup = "atomic groups are not supported";
inline constexpr const char* kUnsupportedBackreference = "backreferences are not supported";
inline constexpr const char* kUnsupportedComment = "comment groups are not supported";
inline constexpr const char* kUnsupportedPossessive = "possessive quantifiers are not supported";
inline constexpr const char* kUnsupportedMultipleRepeat = "multiple repeat: stacked quantifiers are not supported";
inline constexpr const char* kUnsupportedLookAround =
    "look-around, including look-ahead and look-behind, is not supported";
inline constexpr const char* kUnicodeNotAllowed = "Unicode not allowed here";
inline constexpr const char* kInvalidUtf8 = "pattern can match invalid UTF-8";
inline constexpr const char* kPatternNotUtf8 = "pattern is not valid UTF-8";
}  // namespace msg

struct Flags {
    bool i = false, m = false, s = false, x = false, u = true, U = false, R = false;
};

// What an escape sequence stands for.
struct Escape {
    enum class Kind { Char, Set, Assert } kind = Kind::Char;
    std::uint32_t c = 0;
    bool hex_byte = false;  // written as \xHH: a raw byte when Unicode is off
    IntervalSet set;        // Set: code points (Unicode on) or bytes (off)
    Look look = Look::Start;
};

class Parser {
public:
    Parser(std::string_view pattern, const ParseOptions& options) : pat_(pattern), opts_(options) {}
    std::variant<Hir, Error> run();

private:
    struct Item {
        std::optional<Hir> hir;  // none: a flag setting such as (?i), which cannot be repeated
        std::uint32_t height = 0;
        bool quantified = false;  // the item ends in a quantifier, which no other may follow
    };
    struct Frame {
        std::vector<Item> concat;
        std::vector<Item> branches;
        Flags saved;
        std::size_t open = 0;
    };

    // Characters.
    bool eof() const { return pos_ >= pat_.size(); }
    std::uint32_t cur() const;
    std::uint32_t char_at(std::size_t at, std::size_t* len) const;
    void bump();
    bool bump_if(std::string_view prefix);
    bool starts_with(std::string_view prefix) const { return pat_.substr(pos_).starts_with(prefix); }
    void skip_space();
    std::optional<std::uint32_t> peek_after_space() const;
    bool fail(const char* message, std::size_t offset);

    // Structure (parse.cc).
    bool parse_group_open(std::vector<Frame>& stack, Frame& cur);
    bool parse_flags(Flags& flags, bool& any);
    bool parse_group_name();
    bool parse_repetition(Frame& cur);
    bool parse_counted(Frame& cur, std::size_t start);
    bool parse_decimal(std::uint32_t& out, const char* empty_message);
    bool apply_repeat(Frame& cur, std::size_t start, std::uint32_t min, std::uint32_t max);
    bool check_height(std::uint32_t height, std::size_t offset);
    Item finish_concat(std::vector<Item>& concat);
    Item finish_alternation(Frame& frame);
    bool literal_item(std::uint32_t c, bool hex_byte, std::size_t offset, Item& out);
    bool dot_item(std::size_t offset, Item& out);
    Look line_start() const;
    Look line_end() const;

    // Escapes and classes (parse_class.cc).
    bool parse_escape(bool in_class, Escape& out);
    bool parse_hex(std::size_t start, int digits, Escape& out);
    bool parse_unicode_class(std::size_t start, bool negated, Escape& out);
    bool parse_perl_class(std::uint32_t letter, Escape& out);
    bool parse_special_word_boundary(std::size_t start, std::optional<Look>& out);
    bool parse_class(std::uint32_t depth, IntervalSet& out, std::uint32_t& height);
    bool parse_class_range(IntervalSet& set);
    bool parse_class_primitive(Escape& out, std::size_t& offset);
    bool class_char(std::uint32_t c, bool hex_byte, std::size_t offset, std::uint32_t& out);
    bool try_posix_class(IntervalSet& set);
    Item class_item(IntervalSet set, std::uint32_t height);

    std::string_view pat_;
    ParseOptions opts_;
    std::size_t pos_ = 0;
    Flags flags_;
    std::uint32_t open_groups_ = 0;
    std::size_t class_open_ = 0;  // offset of the innermost open '['
    std::vector<std::string> names_;
    std::optional<Error> error_;
};

}  // namespace tessaron::pattern::detail
