// The compact value tree of a parsed JSON document.
//
// `is_valid_json` walks a document without making Python objects for it, so
// the document is parsed into this tree: one flat arena of 16-byte `Value`s.
// A value is null, false, true, an int (signed 64 bits), a big int (an
// integer beyond 64 bits, kept as its text), a float (double), a string
// (UTF-8 text), an array (a range of item values) or an object (a range of
// member pairs: key string, value, key string, value, ...).  The items of
// one container are contiguous in the arena.
//
// Texts are not copied when the parser hands them over as a slice of the
// input (a string without escapes): the value then refers to the input,
// which must outlive the document.  Other texts live in the document's own
// buffer.
//
// Object keys are unique: a key that occurs more than once keeps the
// position of its first occurrence and takes the value of its last, as a
// Python dict built from the pairs in order would.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/failure.h"

namespace tessaron::json {

enum class Kind : std::uint8_t { Null, False, True, Int, BigInt, Float, String, Array, Object };

struct Value {
    Kind kind = Kind::Null;
    // String, BigInt: the text's byte length; Array: the item count; Object:
    // the member count.
    std::uint32_t count = 0;
    // Int: the value; Float: the double's bits; String, BigInt: where the
    // text is (see Document::text); Array, Object: the arena index of the
    // first item or key.
    std::uint64_t bits = 0;

    std::int64_t as_int() const { return std::bit_cast<std::int64_t>(bits); }
    double as_float() const { return std::bit_cast<double>(bits); }
    bool is_container() const { return kind == Kind::Array || kind == Kind::Object; }
};
static_assert(sizeof(Value) == 16);

class Document {
public:
    // Strings and containers longer than this are refused.
    static constexpr std::size_t kMaxCount = 0xFFFFFFFFu;

    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const Value& root() const { return root_; }

    // The items of an array.
    std::span<const Value> items(const Value& array) const {
        return {arena_.data() + array.bits, array.count};
    }
    // The members of an object as 2 * count values: key, value, key, ...
    std::span<const Value> members(const Value& object) const {
        return {arena_.data() + object.bits, std::size_t{object.count} * 2};
    }
    // The text of a string or big int.
    std::string_view text(const Value& v) const {
        if (v.bits & kOwnedBit) return std::string_view(owned_).substr(v.bits & ~kOwnedBit, v.count);
        return input_.substr(v.bits, v.count);
    }

    // The most digits of any big int in the document (0 when none).
    std::size_t max_big_int_digits() const { return max_big_int_digits_; }

    // Parses `input` (which must outlive the document) into this document,
    // replacing what it held.  False with `failure` filled (always
    // `Malformed`) when the document is refused.  A document parsed again
    // reuses its buffers, so a caller that parses many documents can keep
    // one and pay for growing its memory only once.
    bool parse(std::string_view input, ParseFailure& failure);

    // The bytes of buffer space the document holds on to.
    std::size_t retained_bytes() const {
        return owned_.capacity() + rewritten_.capacity() + (arena_.capacity() + stack_.capacity()) * sizeof(Value);
    }
    // Gives all buffer space back.
    void release_memory();

private:
    friend class TreeSink;
    static constexpr std::uint64_t kOwnedBit = std::uint64_t{1} << 63;

    std::string_view input_;
    // The input with overlong exponents rewritten, when it had any; input_
    // then views it.
    std::string rewritten_;
    std::string owned_;
    std::vector<Value> arena_;
    std::vector<Value> stack_;  // the open containers' values while parsing
    Value root_;
    std::size_t max_big_int_digits_ = 0;
};

}  // namespace tessaron::json
