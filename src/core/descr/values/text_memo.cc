// The per-thread text memo of one decision (see text_memo.h).
#include "core/descr/values/text_memo.h"

namespace tessaron::descr {

namespace {
thread_local TextMemo* t_text_memo = nullptr;
}  // namespace

TextMemo* text_memo() { return t_text_memo; }

TextMemoScope::TextMemoScope() : owner_(t_text_memo == nullptr) {
    if (owner_) t_text_memo = new TextMemo();
}

TextMemoScope::~TextMemoScope() {
    if (!owner_) return;
    delete t_text_memo;
    t_text_memo = nullptr;
}

}  // namespace tessaron::descr
