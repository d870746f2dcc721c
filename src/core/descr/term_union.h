// Unions of possibly negated terms, written once for every kind of term.
//
// Lines, conditions, set items and mapping shapes share one algebra: an
// atom is a union of terms, or, negated, everything of its kind outside
// that union.  What differs between them is a small table, the term kind:
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
// looked at, plus what the kind's meets and normal forms take; a product
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
template <class Kind>
concept TermProduct = requires(const Kind& kind, std::vector<typename Kind::Term> terms, const typename Kind::Term& term) {
    { kind.normalize(std::move(terms)) } -> std::same_as<std::optional<std::vector<typename Kind::Term>>>;
    { kind.meet(term, term) } -> std::same_as<std::optional<typename Kind::Term>>;
};

// The whole table: a product with complements and a universe.
template <class Kind>
concept TermKind = TermProduct<Kind> && requires(const Kind& kind, const typename Kind::Term& term) {
    { kind.complement(term) } -> std::same_as<std::vector<typename Kind::Term>>;
    { kind.universe() } -> std::same_as<std::vector<typename Kind::Term>>;
};

// A table made of four free functions, for term kinds that need no state.
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
template <TermProduct Kind>
std::optional<std::vector<typename Kind::Term>> product_terms(const Kind& kind,
                                                              const std::vector<typename Kind::Term>& first,
                                                              const std::vector<typename Kind::Term>& second) {
    std::vector<typename Kind::Term> gathered;
    if (first.empty() || second.empty()) return gathered;
    for (const auto& x : first)
        for (const auto& y : second) {
            if (!take_unit()) return std::nullopt;
            if (gathered.size() > kCompactAbove) {
                auto normal = kind.normalize(std::move(gathered));
                if (!normal) return std::nullopt;
                gathered = std::move(*normal);
            }
            auto met = kind.meet(x, y);
            if (!met) return std::nullopt;
            gathered.push_back(std::move(*met));
        }
    return kind.normalize(std::move(gathered));
}

// `start` multiplied by the complement of every term of `excluded`, in
// order; `start` is returned as it is when nothing is excluded.
template <TermKind Kind>
std::optional<std::vector<typename Kind::Term>> subtract_terms(const Kind& kind,
                                                               std::vector<typename Kind::Term> start,
                                                               const std::vector<typename Kind::Term>& excluded) {
    for (const auto& term : excluded) {
        auto next = product_terms(kind, start, kind.complement(term));
        if (!next) return std::nullopt;
        start = std::move(*next);
    }
    return start;
}

// The terms of an atom as a positive union: a positive atom copied, a
// negated one as the universe minus its terms.
template <TermKind Kind>
std::optional<std::vector<typename Kind::Term>> explicit_terms(const Kind& kind,
                                                               SignedTerms<typename Kind::Term> atom) {
    if (!atom.negated) return atom.terms;
    return subtract_terms(kind, kind.universe(), atom.terms);
}

// The meet of two atoms as a positive union: the product of two positive
// atoms; otherwise the positive side (the universe when both are negated)
// minus the terms of each negated side, the first's before the second's.
template <TermKind Kind>
std::optional<std::vector<typename Kind::Term>> meet_signed_terms(const Kind& kind,
                                                                  SignedTerms<typename Kind::Term> first,
                                                                  SignedTerms<typename Kind::Term> second) {
    if (!first.negated && !second.negated) return product_terms(kind, first.terms, second.terms);
    std::optional<std::vector<typename Kind::Term>> current;
    if (!first.negated)
        current = first.terms;
    else if (!second.negated)
        current = second.terms;
    else
        current = kind.universe();
    if (first.negated) current = subtract_terms(kind, std::move(*current), first.terms);
    if (current && second.negated) current = subtract_terms(kind, std::move(*current), second.terms);
    return current;
}

// An atom flipped: its terms with the other polarity, made explicit when
// they are at most one and that can be built.  Never fails.  The result's
// terms and polarity.
template <TermKind Kind>
std::pair<std::vector<typename Kind::Term>, bool> flip_terms(const Kind& kind, SignedTerms<typename Kind::Term> atom) {
    const bool negated = !atom.negated;
    if (atom.terms.size() <= 1) {
        if (auto positive = explicit_terms(kind, SignedTerms<typename Kind::Term>{atom.terms, negated}))
            return {std::move(*positive), false};
    }
    return {atom.terms, negated};
}

// The join of two atoms: two positive atoms by normalising their
// concatenation; otherwise the flip of the meet of the two flips.  None on
// failure; the result's terms and polarity.
template <TermKind Kind>
std::optional<std::pair<std::vector<typename Kind::Term>, bool>> join_signed_terms(
    const Kind& kind, SignedTerms<typename Kind::Term> first, SignedTerms<typename Kind::Term> second) {
    using Term = typename Kind::Term;
    if (!first.negated && !second.negated) {
        std::vector<Term> both = first.terms;
        both.insert(both.end(), second.terms.begin(), second.terms.end());
        auto normal = kind.normalize(std::move(both));
        if (!normal) return std::nullopt;
        return std::pair{std::move(*normal), false};
    }
    const auto first_flipped = flip_terms(kind, first);
    const auto second_flipped = flip_terms(kind, second);
    auto met = meet_signed_terms(kind, SignedTerms<Term>{first_flipped.first, first_flipped.second},
                                 SignedTerms<Term>{second_flipped.first, second_flipped.second});
    if (!met) return std::nullopt;
    return flip_terms(kind, SignedTerms<Term>{*met, false});
}

}  // namespace tessaron::descr
