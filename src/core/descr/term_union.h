// Unions of possibly negated terms, written once for every kind of term.
//
// Lines, conditions, set items and mapping shapes share one algebra: an
// atom is a union of terms, or, negated, everything of its kind outside
// that union.  What differs between them is a small table of term
// operations, the traits:
//
//   using Term;                                   the term type
//   std::optional<std::vector<Term>> normalize(std::vector<Term>) const;
//                                                 drop what is proved empty,
//                                                 sort, deduplicate; none
//                                                 when more than `kMaxTerms`
//                                                 remain
//   std::optional<Term> meet(const Term&, const Term&) const;
//                                                 the conjunction of two
//                                                 terms; none on failure
//   std::vector<Term> complement(const Term&) const;
//                                                 terms whose union is
//                                                 everything outside one;
//                                                 never fails
//   std::vector<Term> universe() const;           the terms of "everything"
//
// On that table this file builds the product of two unions (every pair
// met), the subtraction of a union (a product with the complement of each
// of its terms in order), the explicit form of a negated atom (the
// universe minus its terms), the meet of two atoms of either polarity, the
// flip of an atom (explicit when it holds at most one term and that can be
// built) and the join of two atoms through the complement of the meet of
// the complements.
//
// Invariants: inputs are only read; every list a product hands out went
// through `normalize`; a failure anywhere discards the whole result.
//
// Budget: one failing unit per pair of a product, taken before the pair is
// looked at, plus what the traits' meets and normal forms take; a product
// of which one side is empty is empty without a unit.  The gathered terms
// are normalised before the next pair once more than `kCompactAbove`
// wait, and once at the end.
#pragma once

#include <concepts>
#include <optional>
#include <utility>
#include <vector>

#include "core/descr/budget.h"
#include "core/descr/descr.h"

namespace tessaron::descr {

// What a product needs: the normal form and the meet of two terms.
template <class Traits>
concept TermProduct = requires(const Traits& traits, std::vector<typename Traits::Term> terms,
                               const typename Traits::Term& term) {
    { traits.normalize(std::move(terms)) } -> std::same_as<std::optional<std::vector<typename Traits::Term>>>;
    { traits.meet(term, term) } -> std::same_as<std::optional<typename Traits::Term>>;
};

// The whole table: a product with complements and a universe.
template <class Traits>
concept TermTraits = TermProduct<Traits> && requires(const Traits& traits, const typename Traits::Term& term) {
    { traits.complement(term) } -> std::same_as<std::vector<typename Traits::Term>>;
    { traits.universe() } -> std::same_as<std::vector<typename Traits::Term>>;
};

// Traits made of four free functions, for terms that need no state.
template <class T, auto Normalize, auto Meet, auto Complement, auto Universe>
struct TermFunctions {
    using Term = T;
    std::optional<std::vector<T>> normalize(std::vector<T> terms) const { return Normalize(std::move(terms)); }
    std::optional<T> meet(const T& x, const T& y) const { return Meet(x, y); }
    std::vector<T> complement(const T& term) const { return Complement(term); }
    std::vector<T> universe() const { return Universe(); }
};

// An atom seen as its terms and its polarity.
template <class Term>
struct SignedTerms {
    const std::vector<Term>& terms;
    bool negated;
};

// The normalised union of the pairwise meets of two unions.
template <TermProduct Traits>
std::optional<std::vector<typename Traits::Term>> product_terms(const Traits& traits,
                                                                const std::vector<typename Traits::Term>& first,
                                                                const std::vector<typename Traits::Term>& second) {
    std::vector<typename Traits::Term> gathered;
    if (first.empty() || second.empty()) return gathered;
    for (const auto& x : first)
        for (const auto& y : second) {
            if (!take_unit()) return std::nullopt;
            if (gathered.size() > kCompactAbove) {
                auto normal = traits.normalize(std::move(gathered));
                if (!normal) return std::nullopt;
                gathered = std::move(*normal);
            }
            auto met = traits.meet(x, y);
            if (!met) return std::nullopt;
            gathered.push_back(std::move(*met));
        }
    return traits.normalize(std::move(gathered));
}

// `start` multiplied by the complement of every term of `excluded`, in
// order; `start` is returned as it is when nothing is excluded.
template <TermTraits Traits>
std::optional<std::vector<typename Traits::Term>> subtract_terms(const Traits& traits,
                                                                 std::vector<typename Traits::Term> start,
                                                                 const std::vector<typename Traits::Term>& excluded) {
    for (const auto& term : excluded) {
        auto next = product_terms(traits, start, traits.complement(term));
        if (!next) return std::nullopt;
        start = std::move(*next);
    }
    return start;
}

// The terms of an atom as a positive union: a positive atom copied, a
// negated one as the universe minus its terms.
template <TermTraits Traits>
std::optional<std::vector<typename Traits::Term>> explicit_terms(const Traits& traits,
                                                                 SignedTerms<typename Traits::Term> atom) {
    if (!atom.negated) return atom.terms;
    return subtract_terms(traits, traits.universe(), atom.terms);
}

// The meet of two atoms as a positive union: the product of two positive
// atoms; otherwise the positive side (the universe when both are negated)
// minus the terms of each negated side, the first's before the second's.
template <TermTraits Traits>
std::optional<std::vector<typename Traits::Term>> meet_signed_terms(const Traits& traits,
                                                                    SignedTerms<typename Traits::Term> first,
                                                                    SignedTerms<typename Traits::Term> second) {
    if (!first.negated && !second.negated) return product_terms(traits, first.terms, second.terms);
    std::optional<std::vector<typename Traits::Term>> current;
    if (!first.negated)
        current = first.terms;
    else if (!second.negated)
        current = second.terms;
    else
        current = traits.universe();
    if (first.negated) current = subtract_terms(traits, std::move(*current), first.terms);
    if (current && second.negated) current = subtract_terms(traits, std::move(*current), second.terms);
    return current;
}

// An atom flipped: its terms with the other polarity, made explicit when
// they are at most one and that can be built.  Never fails.  The result's
// terms and polarity.
template <TermTraits Traits>
std::pair<std::vector<typename Traits::Term>, bool> flip_terms(const Traits& traits,
                                                               SignedTerms<typename Traits::Term> atom) {
    const bool negated = !atom.negated;
    if (atom.terms.size() <= 1) {
        if (auto positive = explicit_terms(traits, SignedTerms<typename Traits::Term>{atom.terms, negated}))
            return {std::move(*positive), false};
    }
    return {atom.terms, negated};
}

// The join of two atoms: two positive atoms by normalising their
// concatenation; otherwise the flip of the meet of the two flips.  None on
// failure; the result's terms and polarity.
template <TermTraits Traits>
std::optional<std::pair<std::vector<typename Traits::Term>, bool>> join_signed_terms(
    const Traits& traits, SignedTerms<typename Traits::Term> first, SignedTerms<typename Traits::Term> second) {
    using Term = typename Traits::Term;
    if (!first.negated && !second.negated) {
        std::vector<Term> both = first.terms;
        both.insert(both.end(), second.terms.begin(), second.terms.end());
        auto normal = traits.normalize(std::move(both));
        if (!normal) return std::nullopt;
        return std::pair{std::move(*normal), false};
    }
    const auto first_flipped = flip_terms(traits, first);
    const auto second_flipped = flip_terms(traits, second);
    auto met = meet_signed_terms(traits, SignedTerms<Term>{first_flipped.first, first_flipped.second},
                                 SignedTerms<Term>{second_flipped.first, second_flipped.second});
    if (!met) return std::nullopt;
    return flip_terms(traits, SignedTerms<Term>{*met, false});
}

}  // namespace tessaron::descr
