// What one decision remembers of its text automata: the automaton of each
// pattern it built and the products it computed, so that neither is done
// twice (a tuple of twelve fields under one pattern builds it once and
// meets it with the str universe once).
//
// A `TextMemoScope` opens the calling thread's memo for its duration; a
// scope opened inside another one (a decision asked from user code during
// a decision) uses the outer one's memo, which is dropped when the
// outermost scope ends.  Outside every scope nothing is remembered.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstdint>
#include <string>

#include "core/descr/values/text_automaton.h"
#include "core/util/fxhash.h"

namespace tessaron::descr {

// The automaton work one scope may do over all its windows: the pattern
// builds (pattern::DfaWork units) and the text products (table cells and
// minimisation units, text_product.h) share it.  About 5 ns a unit on the
// automata of counted Unicode classes, so about forty-five milliseconds.
inline constexpr std::uint64_t kScopeAutomatonWork = std::uint64_t{9} << 20;
// Products remembered per scope, at most.
inline constexpr std::size_t kMaxRememberedProducts = 1024;

// A pattern's build: the automaton (empty when there is none), and for a
// build that was stopped for want of work, the work it was granted.
struct RememberedPattern {
    SharedTextAutomaton automaton;
    bool stopped = false;
    std::uint64_t granted = 0;
};

// A product by the content hashes of its operands (the smaller first) and
// its operation; the operands are kept, and a hit counts only when they
// are equal to the ones asked about.
struct ProductKey {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::uint8_t op = 0;
    bool operator==(const ProductKey&) const = default;
};
struct ProductKeyHash {
    std::size_t operator()(const ProductKey& k) const {
        util::FxHasher h;
        h.write(k.a);
        h.write(k.b);
        h.write(k.op);
        return h.finish();
    }
};
struct RememberedProduct {
    SharedTextAutomaton a, b, result;
};

struct TextMemo {
    // Keyed by the kind ('s' or 'b') followed by the pattern text.
    boost::unordered_flat_map<std::string, RememberedPattern> patterns;
    std::uint64_t automaton_work_left = kScopeAutomatonWork;
    boost::unordered_flat_map<ProductKey, RememberedProduct, ProductKeyHash> products;
};

// The calling thread's open memo, or nullptr.
TextMemo* text_memo();

// The automaton work the open scope has left, for work done outside the
// automata: the pattern matches of the membership walks a decision asks
// for (the literals it checks against a pattern), one unit per NFA state
// they visit.  Outside every scope the work is not bounded (the largest
// value).  `charge_scope_work` takes `work` units from the open scope:
// false when it had fewer left (it then has none); outside every scope it
// takes nothing and answers true.
std::uint64_t scope_work_left();
bool charge_scope_work(std::uint64_t work);

class TextMemoScope {
public:
    TextMemoScope();
    ~TextMemoScope();
    TextMemoScope(const TextMemoScope&) = delete;
    TextMemoScope& operator=(const TextMemoScope&) = delete;

private:
    bool owner_;
};

}  // namespace tessaron::descr
