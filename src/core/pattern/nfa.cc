// Thompson construction from Hir to a byte NFA.
//
// Each Hir node compiles to a fragment (start state, end state) whose end
// is an unfinished state patched to whatever follows.  Repetitions are
// unrolled: x{n,m} is n copies of x followed by m - n optional copies, so
// the automaton's size grows with the counts; the size budget (NfaLimits)
// is checked on every new state, and compilation stops as soon as it is
// exceeded, so the work done is bounded by the budget too; a repetition
// whose first copy shows that all of them cannot fit stops at once.
//
// A caller's poll is ticked as states are added and as the unions'
// alternatives are laid out (kCompilePollWeight units per NFA unit), so a
// pattern near the limit, tens of milliseconds of work, asks it as often
// as a match does; when it stops the work, compilation ends as it ends for
// a pattern past the limit, and answers kCompileStopped.
//
// A class of code points becomes a copy of its UTF-8 byte-range tree
// (utf8_class.h): a small deterministic automaton with one exit, a few
// hundred states for \p{L} rather than thousands of alternatives, which
// keeps both the simulation and the determinisation cheap.  The tree is
// built once per distinct class and copied for each repetition.
#include "core/pattern/nfa.h"

#include <algorithm>

#include <boost/unordered/unordered_flat_map.hpp>
#include <string>

#include "core/pattern/utf8_class.h"
#include "core/util/fxhash.h"
#include "core/util/native_stack.h"

namespace tessaron::pattern {

namespace {

struct Fragment {
    std::uint32_t start, end;
};

class Builder {
public:
    Builder(const NfaLimits& limits, util::Poll* poll) : limits_(limits), poll_(poll) {}

    bool too_big() const { return too_big_; }
    bool stopped() const { return stopped_; }
    std::size_t units() const { return nfa_.states.size() + nfa_.transitions.size() + alt_count_; }

    std::uint32_t add(NfaState s) {
        if (s.kind == NfaState::Kind::Union) {
            s.begin = static_cast<std::uint32_t>(union_alts_.size());  // pending list, flattened by finish()
            union_alts_.emplace_back();
        }
        nfa_.states.push_back(s);
        if (units() > limits_.max_units) too_big_ = halted_ = true;
        charge();
        return static_cast<std::uint32_t>(nfa_.states.size() - 1);
    }
    std::uint32_t add_empty() { return add(NfaState{}); }
    std::uint32_t add_kind(NfaState::Kind k) {
        NfaState s;
        s.kind = k;
        return add(s);
    }
    std::uint32_t add_range(std::uint8_t lo, std::uint8_t hi, std::uint32_t next) {
        NfaState s;
        s.kind = NfaState::Kind::Range;
        s.lo = lo;
        s.hi = hi;
        s.next = next;
        return add(s);
    }
    std::uint32_t add_sparse(const std::vector<NfaTransition>& ts) {
        if (ts.size() == 1) return add_range(ts[0].lo, ts[0].hi, ts[0].next);
        NfaState s;
        s.kind = NfaState::Kind::Sparse;
        s.begin = static_cast<std::uint32_t>(nfa_.transitions.size());
        nfa_.transitions.insert(nfa_.transitions.end(), ts.begin(), ts.end());
        s.end = static_cast<std::uint32_t>(nfa_.transitions.size());
        return add(s);
    }

    void patch(std::uint32_t from, std::uint32_t to) {
        NfaState& s = nfa_.states[from];
        switch (s.kind) {
            case NfaState::Kind::Empty:
            case NfaState::Kind::Range:
            case NfaState::Kind::Assert:
                s.next = to;
                break;
            case NfaState::Kind::Union:
                union_alts_[s.begin].push_back(to);
                ++alt_count_;
                break;
            default:
                break;  // Sparse, Match and Fail are complete
        }
    }

    Fragment compile(const Hir& h);

    // False when the poll stopped the work.
    bool finish(std::uint32_t start, Nfa& out) {
        constexpr std::size_t kStride = 4096;  // states laid out between two ticks
        for (std::size_t i = 0; i < nfa_.states.size(); ++i) {
            if (poll_ && i % kStride == kStride - 1 && !poll_->tick(kStride * kCompilePollWeight)) {
                stopped_ = halted_ = true;
                return false;
            }
            NfaState& s = nfa_.states[i];
            if (s.kind != NfaState::Kind::Union) continue;
            const std::vector<std::uint32_t>& alts = union_alts_[s.begin];
            s.begin = static_cast<std::uint32_t>(nfa_.alternatives.size());
            nfa_.alternatives.insert(nfa_.alternatives.end(), alts.begin(), alts.end());
            s.end = static_cast<std::uint32_t>(nfa_.alternatives.size());
        }
        nfa_.start = start;
        out = std::move(nfa_);
        return true;
    }

private:
    Fragment compile_literal(const std::string& bytes);
    Fragment compile_byte_class(const IntervalSet& set);
    Fragment compile_unicode_class(const IntervalSet& set);
    Fragment compile_repeat(const Hir& sub, std::uint32_t min, std::uint32_t max);
    Fragment compile_concat(const std::vector<Hir>& subs);

    // Ticks the poll with the units added since the last tick.
    void charge() {
        if (!poll_) return;
        const std::size_t now = units();
        if (!poll_->tick((now - charged_) * kCompilePollWeight)) stopped_ = halted_ = true;
        charged_ = now;
    }

    const NfaLimits& limits_;
    util::Poll* poll_;
    std::size_t charged_ = 0;  // units the poll was ticked with
    Nfa nfa_;
    std::vector<std::vector<std::uint32_t>> union_alts_;
    std::size_t alt_count_ = 0;
    bool too_big_ = false;
    bool stopped_ = false;
    // Past the limit or stopped: every loop ends, and compile() adds nothing.
    bool halted_ = false;
    boost::unordered_flat_map<const IntervalSet*, std::shared_ptr<const ClassTree>> trees_;
    std::vector<std::uint32_t> ids_;
    std::vector<NfaTransition> scratch_;
};

Fragment Builder::compile_literal(const std::string& bytes) {
    std::uint32_t first = 0, prev = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        std::uint32_t s = add_range(b, b, 0);
        if (i == 0) {
            first = s;
        } else {
            patch(prev, s);
        }
        prev = s;
    }
    return {first, prev};
}

Fragment Builder::compile_byte_class(const IntervalSet& set) {
    std::uint32_t end = add_empty();
    if (set.empty()) return {add_kind(NfaState::Kind::Fail), end};
    std::vector<NfaTransition> ts;
    for (const Interval& r : set.ranges())
        ts.push_back(NfaTransition{static_cast<std::uint8_t>(r.lo), static_cast<std::uint8_t>(r.hi), end});
    return {add_sparse(ts), end};
}

Fragment Builder::compile_unicode_class(const IntervalSet& set) {
    if (set.max_value() < 0x80) return compile_byte_class(set);
    std::uint32_t end = add_empty();
    if (set.empty()) return {add_kind(NfaState::Kind::Fail), end};
    // One tree per distinct class, copied for every repetition.
    std::shared_ptr<const ClassTree>& tree = trees_[&set];
    if (!tree) tree = utf8_class_tree(set);
    ids_.resize(tree->node_count());
    std::vector<NfaTransition>& ts = scratch_;
    for (std::size_t i = 0; i < tree->node_count() && !halted_; ++i) {
        ts.clear();
        for (std::uint32_t k = tree->begin[i]; k < tree->begin[i + 1]; ++k) {
            const ClassTree::Edge& e = tree->edges[k];
            ts.push_back(NfaTransition{e.lo, e.hi, e.next == ClassTree::kTarget ? end : ids_[e.next]});
        }
        ids_[i] = add_sparse(ts);
    }
    return {ids_.empty() ? end : ids_.back(), end};
}

Fragment Builder::compile_concat(const std::vector<Hir>& subs) {
    Fragment whole{0, 0};
    for (std::size_t i = 0; i < subs.size() && !halted_; ++i) {
        Fragment f = compile(subs[i]);
        if (i == 0) {
            whole = f;
        } else {
            patch(whole.end, f.start);
            whole.end = f.end;
        }
    }
    return whole;
}

Fragment Builder::compile_repeat(const Hir& sub, std::uint32_t min, std::uint32_t max) {
    // Every copy of `sub` costs what the first one did (at least); when the
    // first shows that the rest cannot fit, the pattern is too big now
    // rather than after building up to the limit (a{0,4294967294} would
    // otherwise build four million states to be refused).
    const std::uint64_t copies = max == kUnbounded ? std::max<std::uint32_t>(min, 1) : max;
    bool measured = false;
    auto copy = [&]() {
        const std::size_t before = units();
        Fragment f = compile(sub);
        if (!measured) {
            measured = true;
            if ((units() - before) * (copies - 1) + units() > limits_.max_units) too_big_ = halted_ = true;
        }
        return f;
    };
    if (max == kUnbounded) {
        // min - 1 plain copies, then x+ (or x* when min is 0).
        std::uint32_t start = add_empty(), end = start;
        for (std::uint32_t i = 1; i < min && !halted_; ++i) {
            Fragment f = copy();
            patch(end, f.start);
            end = f.end;
        }
        if (halted_) return {start, end};
        Fragment loop = copy();
        std::uint32_t u = add_kind(NfaState::Kind::Union);
        std::uint32_t out = add_empty();
        patch(loop.end, u);
        patch(u, loop.start);
        patch(u, out);
        patch(end, min == 0 ? u : loop.start);
        return {start, out};
    }
    std::uint32_t start = add_empty(), end = start;
    for (std::uint32_t i = 0; i < min && !halted_; ++i) {
        Fragment f = copy();
        patch(end, f.start);
        end = f.end;
    }
    if (max > min && !halted_) {
        std::uint32_t out = add_empty();
        for (std::uint32_t i = min; i < max && !halted_; ++i) {
            std::uint32_t u = add_kind(NfaState::Kind::Union);
            patch(end, u);
            patch(u, out);
            Fragment f = copy();
            patch(u, f.start);
            end = f.end;
        }
        patch(end, out);
        end = out;
    }
    return {start, end};
}

Fragment Builder::compile(const Hir& h) {
    if (halted_) return {0, 0};
    util::ensure_native_stack();
    switch (h.kind) {
        case Hir::Kind::Empty: {
            std::uint32_t e = add_empty();
            return {e, e};
        }
        case Hir::Kind::Literal:
            if (h.bytes.empty()) {
                std::uint32_t e = add_empty();
                return {e, e};
            }
            return compile_literal(h.bytes);
        case Hir::Kind::ByteClass:
            return compile_byte_class(h.set);
        case Hir::Kind::UnicodeClass:
            return compile_unicode_class(h.set);
        case Hir::Kind::Assert: {
            NfaState s;
            s.kind = NfaState::Kind::Assert;
            s.look = h.look;
            nfa_.looks_used |= look_bit(h.look);
            std::uint32_t id = add(s);
            return {id, id};
        }
        case Hir::Kind::Repeat:
            return compile_repeat(h.subs[0], h.min, h.max);
        case Hir::Kind::Concat:
            return compile_concat(h.subs);
        case Hir::Kind::Alternate: {
            std::uint32_t u = add_kind(NfaState::Kind::Union);
            std::uint32_t out = add_empty();
            for (const Hir& sub : h.subs) {
                if (halted_) break;
                Fragment f = compile(sub);
                patch(u, f.start);
                patch(f.end, out);
            }
            return {u, out};
        }
    }
    return {0, 0};
}

}  // namespace

std::variant<Nfa, Error> compile_nfa(const Hir& hir, const NfaLimits& limits, util::Poll* poll) {
    Builder b(limits, poll);
    auto failure = [&]() { return Error{b.too_big() ? kNfaTooBig : kCompileStopped, 0}; };
    Fragment f = b.compile(hir);
    if (b.too_big() || b.stopped()) return failure();
    std::uint32_t match = b.add_kind(NfaState::Kind::Match);
    b.patch(f.end, match);
    if (b.too_big() || b.stopped()) return failure();
    Nfa nfa;
    if (!b.finish(f.start, nfa)) return failure();
    return nfa;
}

}  // namespace tessaron::pattern
