// The subset step shared by every way the engine runs an NFA: the lazy DFA
// of the matcher, the text simulation, and the full DFA builder.  Using one
// step for all three is what keeps the matcher and the automaton in exact
// agreement.
//
// A position in a text is represented by an *unresolved* set of NFA states:
// the states reachable by epsilon moves that do not cross an assertion,
// with the assertion states themselves kept as pending.  An assertion can
// only be decided once the byte after the position is known (or the end of
// the text), so it is resolved at the next step, from the "sides" of the
// position: what precedes it and what follows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/pattern/nfa.h"

namespace tessaron::pattern {

// One side of a text position.
struct Side {
    bool edge = false;   // start (before) or end (after) of the text
    bool lf = false;     // the byte is '\n'
    bool cr = false;     // the byte is '\r'
    bool word = false;   // the byte is an ASCII word byte [0-9A-Za-z_]
    bool uword = false;  // the character is a Unicode word character
};

Side byte_side(std::uint8_t b);
inline Side edge_side() { return Side{true, false, false, false, false}; }

// The looks among `looks` that hold between prev and next.
std::uint32_t evaluate_looks(const Side& prev, const Side& next, std::uint32_t looks);

// The sides of position i of a text, reading characters for Unicode looks.
Side text_side_before(std::string_view text, std::size_t i, bool unicode);
Side text_side_after(std::string_view text, std::size_t i, bool unicode);

// A DFA remembers the byte before its position as context bits.
enum : std::uint8_t { kCtxStart = 1, kCtxLF = 2, kCtxCR = 4, kCtxWord = 8 };
// The context bits that the looks read.
std::uint8_t context_mask(std::uint32_t looks);
Side context_side(std::uint8_t ctx);  // Unicode word = ASCII word (ASCII texts only)
std::uint8_t context_after(std::uint8_t b, std::uint8_t mask);

// Partition of the 256 bytes into classes that no transition and no look
// of the automaton tells apart.
struct ByteClasses {
    std::array<std::uint8_t, 256> map{};
    std::array<std::uint8_t, 256> representative{};  // one byte of each class
    std::uint32_t count = 0;
};
ByteClasses byte_classes(const Nfa& nfa);

class SparseSet {
public:
    explicit SparseSet(std::size_t capacity) : dense_(capacity), sparse_(capacity) {}
    bool insert(std::uint32_t v) {
        if (contains(v)) return false;
        sparse_[v] = static_cast<std::uint32_t>(size_);
        dense_[size_++] = v;
        return true;
    }
    bool contains(std::uint32_t v) const { return sparse_[v] < size_ && dense_[sparse_[v]] == v; }
    void clear() { size_ = 0; }

private:
    std::vector<std::uint32_t> dense_, sparse_;
    std::size_t size_ = 0;
};

class Stepper {
public:
    explicit Stepper(const Nfa& nfa) : nfa_(nfa), seen_(nfa.states.size()) {}

    // The unresolved closure of the seeds, appended to out in visit order.
    void closure(const std::uint32_t* seeds, std::size_t n, std::vector<std::uint32_t>& out);
    // From the unresolved set at a position where the looks `holds` hold,
    // read byte b: the unresolved set of the next position.
    void advance(const std::vector<std::uint32_t>& set, std::uint32_t holds, std::uint8_t b,
                 std::vector<std::uint32_t>& out);
    // Whether the text may end at a position with this unresolved set.
    bool accepts(const std::vector<std::uint32_t>& set, std::uint32_t holds);
    bool has_pending(const std::vector<std::uint32_t>& set) const;

    std::uint64_t work = 0;  // NFA states visited, for the linear-time checks

private:
    // Resolved closure: follows the assertions in `holds`, drops the others.
    void resolve(const std::vector<std::uint32_t>& set, std::uint32_t holds, std::vector<std::uint32_t>& out);
    void explore(std::uint32_t seed, bool resolving, std::uint32_t holds, std::vector<std::uint32_t>& out);

    const Nfa& nfa_;
    SparseSet seen_;
    std::vector<std::uint32_t> stack_, resolved_, seeds_;
};

// The key that identifies a DFA state: context and sorted unresolved set.
std::string state_key(std::uint8_t ctx, const std::vector<std::uint32_t>& sorted_set);

}  // namespace tessaron::pattern
