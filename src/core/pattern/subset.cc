// Subset step, assertion evaluation and byte classes.
//
// Closure is an iterative depth-first search with an explicit stack and a
// sparse "seen" set, so it visits each NFA state at most once per call:
// one step costs O(NFA size), and a text of n bytes costs O(n * NFA size)
// in the worst case, whatever the pattern (no backtracking anywhere).
//
// Assertions: "holds" is a bit set over Look.  The same evaluate_looks
// serves the DFA (whose sides come from context bits and a class's
// representative byte) and the text simulation (whose sides are read from
// the text), which is why the two agree on every ASCII assertion; Unicode
// word boundaries are evaluated on characters by the simulation only, and
// the DFA is used for them only on ASCII texts, where they coincide.
#include "core/pattern/subset.h"

#include <cstring>

#include "core/pattern/unicode.h"
#include "core/pattern/utf8.h"

namespace tessaron::pattern {

namespace {

bool is_word_byte(std::uint8_t b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

constexpr std::uint32_t kWordLooksAscii = look_bit(Look::WordAscii) | look_bit(Look::NotWordAscii) |
                                          look_bit(Look::WordStartAscii) | look_bit(Look::WordEndAscii) |
                                          look_bit(Look::WordStartHalfAscii) | look_bit(Look::WordEndHalfAscii);
constexpr std::uint32_t kLfLooks = look_bit(Look::StartLF) | look_bit(Look::EndLF) | look_bit(Look::StartCRLF) |
                                   look_bit(Look::EndCRLF);
constexpr std::uint32_t kCrLooks = look_bit(Look::StartCRLF) | look_bit(Look::EndCRLF);

}  // namespace

Side byte_side(std::uint8_t b) {
    const bool w = is_word_byte(b);
    return Side{false, b == '\n', b == '\r', w, w};
}

std::uint32_t evaluate_looks(const Side& prev, const Side& next, std::uint32_t looks) {
    std::uint32_t holds = 0;
    auto set = [&](Look l, bool v) {
        if (v) holds |= look_bit(l);
    };
    set(Look::Start, prev.edge);
    set(Look::End, next.edge);
    set(Look::StartLF, prev.edge || prev.lf);
    set(Look::EndLF, next.edge || next.lf);
    set(Look::StartCRLF, prev.edge || prev.lf || (prev.cr && !next.lf));
    set(Look::EndCRLF, next.edge || next.cr || (next.lf && !prev.cr));
    set(Look::WordAscii, prev.word != next.word);
    set(Look::NotWordAscii, prev.word == next.word);
    set(Look::WordStartAscii, !prev.word && next.word);
    set(Look::WordEndAscii, prev.word && !next.word);
    set(Look::WordStartHalfAscii, !prev.word);
    set(Look::WordEndHalfAscii, !next.word);
    set(Look::WordUnicode, prev.uword != next.uword);
    set(Look::NotWordUnicode, prev.uword == next.uword);
    set(Look::WordStartUnicode, !prev.uword && next.uword);
    set(Look::WordEndUnicode, prev.uword && !next.uword);
    set(Look::WordStartHalfUnicode, !prev.uword);
    set(Look::WordEndHalfUnicode, !next.uword);
    return holds & looks;
}

Side text_side_before(std::string_view text, std::size_t i, bool unicode) {
    if (i == 0) return edge_side();
    Side s = byte_side(static_cast<std::uint8_t>(text[i - 1]));
    if (unicode) {
        std::uint32_t c = utf8::decode_last(text, i);
        s.uword = c != utf8::kInvalid && unicode::is_word_char(c);
    }
    return s;
}

Side text_side_after(std::string_view text, std::size_t i, bool unicode) {
    if (i >= text.size()) return edge_side();
    Side s = byte_side(static_cast<std::uint8_t>(text[i]));
    if (unicode) {
        std::size_t len;
        std::uint32_t c = utf8::decode(text, i, len);
        s.uword = c != utf8::kInvalid && unicode::is_word_char(c);
    }
    return s;
}

std::uint8_t context_mask(std::uint32_t looks) {
    std::uint8_t m = 0;
    if (looks & (look_bit(Look::Start) | look_bit(Look::StartLF) | look_bit(Look::StartCRLF))) m |= kCtxStart;
    if (looks & (look_bit(Look::StartLF) | look_bit(Look::StartCRLF))) m |= kCtxLF;
    if (looks & kCrLooks) m |= kCtxCR;
    if (looks & (kWordLooksAscii | kUnicodeWordLooks)) m |= kCtxWord;
    // Word looks that read only the next side do not need the word bit,
    // but keeping it costs at most a doubling of states; keep it simple.
    return m;
}

Side context_side(std::uint8_t ctx) {
    const bool w = (ctx & kCtxWord) != 0;
    return Side{(ctx & kCtxStart) != 0, (ctx & kCtxLF) != 0, (ctx & kCtxCR) != 0, w, w};
}

std::uint8_t context_after(std::uint8_t b, std::uint8_t mask) {
    std::uint8_t c = 0;
    if (b == '\n') c |= kCtxLF;
    if (b == '\r') c |= kCtxCR;
    if (is_word_byte(b)) c |= kCtxWord;
    return c & mask;
}

ByteClasses byte_classes(const Nfa& nfa) {
    // boundary[b]: a new class starts at byte b.
    std::array<bool, 257> boundary{};
    auto cut = [&](unsigned lo, unsigned hi) {
        boundary[lo] = true;
        boundary[hi + 1] = true;
    };
    for (const NfaState& s : nfa.states) {
        if (s.kind == NfaState::Kind::Range) cut(s.lo, s.hi);
    }
    for (const NfaTransition& t : nfa.transitions) cut(t.lo, t.hi);
    const std::uint32_t looks = nfa.looks_used;
    if (looks & kLfLooks) cut('\n', '\n');
    if (looks & kCrLooks) cut('\r', '\r');
    if (looks & (kWordLooksAscii | kUnicodeWordLooks)) {
        cut('0', '9');
        cut('A', 'Z');
        cut('a', 'z');
        cut('_', '_');
    }
    if (looks & kUnicodeWordLooks) cut(0x80, 0xFF);
    ByteClasses bc;
    int cls = -1;
    for (unsigned b = 0; b < 256; ++b) {
        if (b == 0 || boundary[b]) {
            ++cls;
            bc.representative[cls] = static_cast<std::uint8_t>(b);
        }
        bc.map[b] = static_cast<std::uint8_t>(cls);
    }
    bc.count = static_cast<std::uint32_t>(cls + 1);
    return bc;
}

void Stepper::explore(std::uint32_t seed, bool resolving, std::uint32_t holds, std::vector<std::uint32_t>& out) {
    stack_.push_back(seed);
    while (!stack_.empty()) {
        std::uint32_t s = stack_.back();
        stack_.pop_back();
        if (!seen_.insert(s)) continue;
        ++work;
        const NfaState& st = nfa_.states[s];
        switch (st.kind) {
            case NfaState::Kind::Empty:
                stack_.push_back(st.next);
                break;
            case NfaState::Kind::Union:
                for (std::uint32_t k = st.end; k > st.begin; --k) stack_.push_back(nfa_.alternatives[k - 1]);
                break;
            case NfaState::Kind::Assert:
                if (!resolving) {
                    out.push_back(s);
                } else if (holds & look_bit(st.look)) {
                    stack_.push_back(st.next);
                }
                break;
            case NfaState::Kind::Fail:
                break;
            default:  // Range, Sparse, Match
                out.push_back(s);
                break;
        }
    }
}

void Stepper::closure(const std::uint32_t* seeds, std::size_t n, std::vector<std::uint32_t>& out) {
    seen_.clear();
    for (std::size_t i = 0; i < n; ++i) explore(seeds[i], false, 0, out);
}

void Stepper::resolve(const std::vector<std::uint32_t>& set, std::uint32_t holds, std::vector<std::uint32_t>& out) {
    seen_.clear();
    for (std::uint32_t s : set) explore(s, true, holds, out);
}

bool Stepper::has_pending(const std::vector<std::uint32_t>& set) const {
    for (std::uint32_t s : set) {
        if (nfa_.states[s].kind == NfaState::Kind::Assert) return true;
    }
    return false;
}

void Stepper::advance(const std::vector<std::uint32_t>& set, std::uint32_t holds, std::uint8_t b,
                      std::vector<std::uint32_t>& out) {
    const std::vector<std::uint32_t>* current = &set;
    if (has_pending(set)) {
        resolved_.clear();
        resolve(set, holds, resolved_);
        current = &resolved_;
    }
    // Successors on b become the seeds of the next closure; the closure
    // restarts its "seen" set, so collect them first.
    std::vector<std::uint32_t>& next_seeds = seeds_;
    next_seeds.clear();
    for (std::uint32_t s : *current) {
        const NfaState& st = nfa_.states[s];
        ++work;
        if (st.kind == NfaState::Kind::Range) {
            if (b >= st.lo && b <= st.hi) next_seeds.push_back(st.next);
        } else if (st.kind == NfaState::Kind::Sparse) {
            for (std::uint32_t k = st.begin; k < st.end; ++k) {
                const NfaTransition& t = nfa_.transitions[k];
                if (b < t.lo) break;
                if (b <= t.hi) {
                    next_seeds.push_back(t.next);
                    break;
                }
            }
        }
    }
    out.clear();
    closure(next_seeds.data(), next_seeds.size(), out);
}

bool Stepper::accepts(const std::vector<std::uint32_t>& set, std::uint32_t holds) {
    if (!has_pending(set)) {
        for (std::uint32_t s : set) {
            if (nfa_.states[s].kind == NfaState::Kind::Match) return true;
        }
        return false;
    }
    resolved_.clear();
    resolve(set, holds, resolved_);
    for (std::uint32_t s : resolved_) {
        if (nfa_.states[s].kind == NfaState::Kind::Match) return true;
    }
    return false;
}

std::string state_key(std::uint8_t ctx, const std::vector<std::uint32_t>& sorted_set) {
    std::string key(1 + 4 * sorted_set.size(), '\0');
    key[0] = static_cast<char>(ctx);
    if (!sorted_set.empty()) std::memcpy(key.data() + 1, sorted_set.data(), 4 * sorted_set.size());
    return key;
}

}  // namespace tessaron::pattern
