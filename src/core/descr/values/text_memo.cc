// The per-thread text memo of one decision (see text_memo.h).
#include "core/descr/values/text_memo.h"

namespace tessaron::descr {

namespace {
thread_local TextMemo* t_text_memo = nullptr;
}  // namespace

TextMemo* text_memo() { return t_text_memo; }

std::uint64_t scope_work_left() {
    return t_text_memo ? t_text_memo->automaton_work_left : ~std::uint64_t{0};
}

bool charge_scope_work(std::uint64_t work) {
    if (!t_text_memo) return true;
    std::uint64_t& left = t_text_memo->automaton_work_left;
    if (work > left) {
        left = 0;
        return false;
    }
    left -= work;
    return true;
}

TextMemoScope::TextMemoScope() : owner_(t_text_memo == nullptr) {
    if (owner_) t_text_memo = new TextMemo();
}

TextMemoScope::~TextMemoScope() {
    if (!owner_) return;
    delete t_text_memo;
    t_text_memo = nullptr;
}

}  // namespace tessaron::descr
