// Building the compact value tree of a JSON document.
//
// What it computes: the `Document` of tree.h from the parser's events.  A
// value stack holds the values of every open container; when a container
// closes, its items (or key/value pairs) are moved from the top of the
// stack into the arena as one contiguous run and the container value,
// pointing at that run, takes their place on the stack.  So every value is
// copied exactly twice (onto the stack, into the arena) and the arena never
// holds a value before its siblings are complete.
//
// Duplicate object keys are merged when the object closes: the first
// occurrence keeps its position and takes the last value.  Up to 16 members
// are compared pairwise; larger objects go through a hash table of key
// texts, so an object of n members costs O(n) expected.
//
// Budget: memory is 16 bytes per value (twice while the value's container is
// open, except for the first container to close when nothing closed before
// it: its items stay where the stack put them) plus the texts that needed
// unescaping; every limit on size comes
// from the input: at most 200 nested containers, counts and lengths below
// 2^32.  The arena, the stack and the text buffer belong to the document and
// keep their capacity when it parses again.
#include "core/json/tree.h"

#include <cstring>

#include "core/json/parse.h"

namespace tessaron::json {

void TreeBuilder::start(std::string_view input) {
    stack_.clear();
    doc_.input_ = input;
    doc_.rewritten_.clear();
    doc_.owned_.clear();
    doc_.arena_.clear();
    doc_.root_ = Value{};
    doc_.max_big_int_digits_ = 0;
}

bool TreeBuilder::big_integer(std::string_view text, std::size_t) {
    const std::size_t digits = text.size() - (text.front() == '-' ? 1 : 0);
    if (digits > doc_.max_big_int_digits_) doc_.max_big_int_digits_ = digits;
    return push_text(Kind::BigInt, text);
}

bool TreeBuilder::end_object(std::size_t n) {
    const std::size_t kept = merge_duplicate_keys(n);
    close(Kind::Object, kept, 2 * n);
    return true;
}

std::string_view TreeBuilder::restart(std::string text) {
    stack_.clear();
    doc_.arena_.clear();
    doc_.owned_.clear();
    doc_.max_big_int_digits_ = 0;
    doc_.rewritten_ = std::move(text);
    doc_.input_ = doc_.rewritten_;
    return doc_.input_;
}

bool TreeBuilder::push_text(Kind kind, std::string_view text) {
    const auto p = reinterpret_cast<std::uintptr_t>(text.data());
    const auto base = reinterpret_cast<std::uintptr_t>(doc_.input_.data());
    const auto count = static_cast<std::uint32_t>(text.size());
    if (p >= base && p - base + text.size() <= doc_.input_.size()) return push(kind, count, p - base);
    const std::uint64_t at = doc_.owned_.size();
    doc_.owned_.append(text);
    return push(kind, count, at | Document::kOwnedBit);
}

// Moves the top `taken` stack values into the arena as the run of a
// container of `count` items or members.
void TreeBuilder::close(Kind kind, std::size_t count, std::size_t taken) {
    const std::size_t keep = kind == Kind::Object ? 2 * count : count;
    const std::size_t from = stack_.size() - taken;
    if (from == 0 && doc_.arena_.empty()) {
        // The stack holds this container's items and nothing else, and the
        // arena nothing yet (a flat document's only container): the stack
        // becomes the arena instead of being copied into it, so the largest
        // run of a document is never held twice.
        doc_.arena_.swap(stack_);
        doc_.arena_.resize(keep);
        stack_.clear();
        stack_.push_back(Value{kind, static_cast<std::uint32_t>(count), 0});
        return;
    }
    const std::uint64_t first = doc_.arena_.size();
    doc_.arena_.insert(doc_.arena_.end(), stack_.begin() + static_cast<std::ptrdiff_t>(from),
                       stack_.begin() + static_cast<std::ptrdiff_t>(from + keep));
    stack_.resize(from);
    stack_.push_back(Value{kind, static_cast<std::uint32_t>(count), first});
}

// Merges repeated keys among the top n pairs of the stack in place;
// answers how many distinct pairs remain (packed at the start).
std::size_t TreeBuilder::merge_duplicate_keys(std::size_t n) {
    if (n < 2) return n;
    Value* pairs = stack_.data() + (stack_.size() - 2 * n);
    std::size_t kept = 0;
    if (n <= 16) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::string_view key = doc_.text(pairs[2 * j]);
            std::size_t i = 0;
            while (i < kept && !same_key(pairs[2 * i], key)) ++i;
            if (i < kept) {
                pairs[2 * i + 1] = pairs[2 * j + 1];
            } else {
                pairs[2 * kept] = pairs[2 * j];
                pairs[2 * kept + 1] = pairs[2 * j + 1];
                ++kept;
            }
        }
        return kept;
    }
    // The views point into the input or the owned buffer, which does not
    // change while an object is being closed.
    index_.clear();
    for (std::size_t j = 0; j < n; ++j) {
        const std::string_view key = doc_.text(pairs[2 * j]);
        auto [it, inserted] = index_.try_emplace(key, kept);
        if (!inserted) {
            pairs[2 * it->second + 1] = pairs[2 * j + 1];
        } else {
            pairs[2 * kept] = pairs[2 * j];
            pairs[2 * kept + 1] = pairs[2 * j + 1];
            ++kept;
        }
    }
    return kept;
}

// Length first, then the first byte, then the rest: distinct keys of one
// object rarely get past the first two tests.
bool TreeBuilder::same_key(const Value& a, std::string_view key) const {
    if (a.count != key.size()) return false;
    if (key.empty()) return true;
    const std::string_view text = doc_.text(a);
    return text[0] == key[0] && std::memcmp(text.data(), key.data(), key.size()) == 0;
}

bool Document::parse(std::string_view input, ParseFailure& failure, util::Poll* poll) {
    TreeBuilder sink(*this);
    sink.start(input);
    if (!parse_with(input, sink, failure, poll)) {
        arena_.clear();
        owned_.clear();
        stack_.clear();
        return false;
    }
    sink.finish();
    return true;
}

void Document::release_memory() {
    std::string().swap(owned_);
    std::vector<Value>().swap(arena_);
    std::vector<Value>().swap(stack_);
    std::string().swap(rewritten_);
    root_ = Value{};
}

}  // namespace tessaron::json
