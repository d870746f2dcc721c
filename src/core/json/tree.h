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

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/json/failure.h"
#include "core/util/keyed_hash.h"
#include "core/util/poll.h"

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
    // replacing what it held.  False with `failure` filled when the
    // document is refused (`Malformed`) or `poll` stopped the parse
    // (`Stopped`).  A document parsed again reuses its buffers, so a caller
    // that parses many documents can keep one and pay for growing its
    // memory only once.
    bool parse(std::string_view input, ParseFailure& failure, util::Poll* poll = nullptr);

    // The bytes of buffer space the document holds on to.
    std::size_t retained_bytes() const {
        return owned_.capacity() + rewritten_.capacity() + (arena_.capacity() + stack_.capacity()) * sizeof(Value);
    }
    // Gives all buffer space back.
    void release_memory();

private:
    friend class TreeBuilder;
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

// Builds values into a document from the parser's events (the sink
// interface of parse.h).  `Document::parse` runs one over a whole document;
// the streaming check of `is_valid_json` runs one over the subtrees it
// cannot check as they arrive, takes each finished subtree's value off the
// stack, walks it, and rewinds the arena and the text buffer to where they
// stood before the subtree.
class TreeBuilder {
public:
    static constexpr std::size_t kMaxCount = Document::kMaxCount;

    explicit TreeBuilder(Document& doc) : doc_(doc), stack_(doc.stack_) { stack_.clear(); }
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    // Empties the document and makes `input` the text its values refer to.
    void start(std::string_view input);

    bool null() { return push(Kind::Null, 0, 0); }
    bool boolean(bool b) { return push(b ? Kind::True : Kind::False, 0, 0); }
    bool integer(std::int64_t i) { return push(Kind::Int, 0, std::bit_cast<std::uint64_t>(i)); }
    bool floating(double d) { return push(Kind::Float, 0, std::bit_cast<std::uint64_t>(d)); }
    bool big_integer(std::string_view text, std::size_t at);
    bool string(std::string_view text) { return push_text(Kind::String, text); }
    bool key(std::string_view text) { return push_text(Kind::String, text); }
    bool begin_array() { return true; }
    bool begin_object() { return true; }
    bool end_array(std::size_t n) {
        close(Kind::Array, n, n);
        return true;
    }
    bool end_object(std::size_t n);
    std::string_view restart(std::string text);

    // The value on top of the stack, taken off it.
    Value take() {
        const Value v = stack_.back();
        stack_.pop_back();
        return v;
    }
    // Values on the stack (the open containers' items so far).
    std::size_t pending() const { return stack_.size(); }

    // Where the arena and the text buffer end; `rewind` drops what was
    // added since (no value on the stack may refer to it).
    struct Mark {
        std::size_t arena = 0;
        std::size_t owned = 0;
    };
    Mark mark() const { return Mark{doc_.arena_.size(), doc_.owned_.size()}; }
    void rewind(Mark m) {
        doc_.arena_.resize(m.arena);
        doc_.owned_.resize(m.owned);
    }

    // Makes the single value on the stack the document's root.
    void finish() {
        doc_.root_ = stack_.empty() ? Value{} : stack_.back();
        stack_.clear();
    }

private:
    bool push(Kind kind, std::uint32_t count, std::uint64_t bits) {
        stack_.push_back(Value{kind, count, bits});
        return true;
    }
    bool push_text(Kind kind, std::string_view text);
    void close(Kind kind, std::size_t count, std::size_t taken);
    std::size_t merge_duplicate_keys(std::size_t n);
    bool same_key(const Value& a, std::string_view key) const;

    Document& doc_;
    std::vector<Value>& stack_;
    // Key text -> position among the kept pairs (see tree.cc), hashed
    // under the process's key: the texts are the document's.
    boost::unordered_flat_map<std::string_view, std::size_t, util::KeyedTextHash> index_;
};

}  // namespace tessaron::json
