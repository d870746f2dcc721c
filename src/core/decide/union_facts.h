// What one decision learns once about the large unions it meets.
//
// A decision asks about the same union again and again: each member of a
// union on the left against the whole union on the right, each step of a
// split against the same literal lists.  Without a memory every such
// question walks the union anew, so n members against n members cost n^2.
// `UnionFacts` keeps, for each union of at least `kIndexedMembers` members
// that the call met (keyed by its member list, of which it holds a weak
// handle):
//   * an index of its members by `member_key`, so that "is X a member?"
//     (node_eq) hashes X and compares it with the members of one bucket;
//   * its literal pool indices, when every member is a literal, in member
//     order and sorted; or that it is no literal list;
//   * whether a member is trivially inhabited, and the whole kinds its
//     members cover;
//   * the oracle's answers on the disjointness of two such literal lists.
//
// Invariants: every fact is a pure function of the member list (indices,
// node structure; an oracle answer about the pooled constants of one call),
// and the lists never change once shared, so a fact never goes stale while
// its list lives.  A list that has died (a union the call made and
// dropped) may leave its address to another one: an entry, and an oracle
// answer keyed by the other side's list, is used only while its weak
// handle is unexpired, and replaced otherwise.  So the facts hold no
// schema alive, and the answers the callers get are the ones a walk would
// give.
//
// Budget: a walk that builds a fact is charged to the decision's steps,
// one step per `kMembersPerStep` members (or literals) it touches, and so
// is the oracle's disjointness test of two literal lists; what is looked
// up afterwards is not charged again.  At most `kMaxFactMembers` members
// are indexed per call; past that, callers walk as they would without
// facts (and are charged the same way).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/decide/decision.h"
#include "core/ir/node.h"
#include "core/util/fxhash.h"

namespace tessaron::decide {

// Unions with fewer members are walked: an index would cost more.
inline constexpr std::size_t kIndexedMembers = 16;
// Members or literals walked per decision step charged.
inline constexpr std::uint64_t kMembersPerStep = 32;
// Members the facts of one call hold at most, all unions together.
inline constexpr std::size_t kMaxFactMembers = std::size_t{1} << 21;
// Nodes `member_key` visits at most in one member.
inline constexpr std::uint32_t kMemberKeyVisits = 64;

// A key node_eq-equal nodes share: the node's structure, in a fixed
// preorder of at most `kMemberKeyVisits` nodes (kinds, flavours, indices,
// list sizes, record keys, constraints).  Nodes with different keys are
// never equal.
std::uint64_t member_key(const ir::Node& node);

// A literal, or a union whose members are all literals: the pool indices
// in member order, and sorted without repeats.
struct LiteralList {
    std::vector<std::uint64_t> in_order;
    std::vector<std::uint64_t> sorted;
};

class UnionFacts {
public:
    struct Entry {
        std::weak_ptr<const std::vector<ir::Node>> handle;
        std::size_t members = 0;
        // Member index: the first member position of each key, then a chain.
        bool indexed = false;
        boost::unordered_flat_map<std::uint64_t, std::uint32_t, util::FxHash> first;
        std::vector<std::uint32_t> next;  // position + 1 of the next member with the key; 0 ends
        // Literal list: unknown, none, or the list.
        bool literals_known = false;
        std::optional<LiteralList> literals;
        std::optional<bool> trivially_inhabited;
        bool covered_known = false;
        ir::KindMask covered;
        // Oracle disjointness answers against other literal lists, by their
        // member list (valid while that list lives).
        struct Remembered {
            std::weak_ptr<const std::vector<ir::Node>> list;
            Answer answer = Answer::Declined;
        };
        boost::unordered_flat_map<const void*, Remembered, util::FxHash> disjoint;
    };

    // The entry of a union of at least `kIndexedMembers` members, made on
    // first use; null for a smaller node or when the facts are full.
    Entry* entry(const ir::Node& node);

private:
    // Drops the entries whose lists have died.
    void drop_dead();

    boost::unordered_flat_map<const void*, std::unique_ptr<Entry>, util::FxHash> entries_;
    std::size_t members_held_ = 0;
};

// Whether some member of union `u` is node_eq to `x`: by the index of the
// call's facts for a large union, else a scan (charged to the steps past
// `kIndexedMembers`).
bool union_has_member(const ir::Node& u, const ir::Node& x, DecisionContext& ctx);

// The literal list of `node` (see LiteralList), or null when it is neither a
// literal nor a union of literals only.  The list lives in the call's facts
// (for a large union) or in `scratch`.  `walked` grows by the members a
// walk touched (nothing when the facts knew the answer).
const LiteralList* literal_list(const ir::Node& node, UnionFacts* facts, LiteralList& scratch,
                                std::uint64_t& walked);

// The oracle's answer on the disjointness of the literal lists of `a` and
// `b`, remembered in the facts of the larger side when it is a large union;
// "no" without the oracle when a pool index is in both (a constant of both
// sides, or one unequal to itself, which no disjointness proof needs).
// `walked` grows by the literals of both sides when the oracle is asked,
// by nothing when the answer was remembered.
Answer literal_lists_disjoint(const ir::Node& a, const LiteralList& la, const ir::Node& b, const LiteralList& lb,
                              Oracle& oracle, UnionFacts* facts, std::uint64_t& walked);

// Steps for walking n members or literals.
inline std::uint64_t member_steps(std::uint64_t n) { return n / kMembersPerStep; }

// Charges the walk of n members or literals to the decision's steps
// (`member_steps(n)` of them); false when the steps are spent.
bool charge_members(DecisionContext& ctx, std::uint64_t n);

// Whether some member of union `u` is trivially inhabited
// (`trivially_inhabited`, inhabit.h), remembered for a large union.
bool union_trivially_inhabited(const ir::Node& u, DecisionContext& ctx);

// The union of the whole kinds (ir::whole_kinds) of the members of union
// `u` that have them, remembered for a large union.
ir::KindMask union_covered_kinds(const ir::Node& u, DecisionContext& ctx);

// The union work of the calling thread so far: members compared with a
// node looked up in a union (hashed into an index, or node_eq'd), and
// members or literals walked by the charged walks (literal lists, the
// oracle's tests of them, the member scans of a union).  Work counters for
// tests.
struct UnionWork {
    std::uint64_t members_compared = 0;
    std::uint64_t literals_walked = 0;
};
UnionWork union_work();
// Counts n members or literals walked (`charge_members` counts its own).
void count_walked(std::uint64_t n);

}  // namespace tessaron::decide
