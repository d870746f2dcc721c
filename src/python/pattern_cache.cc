// A validator's compiled patterns (see pattern_cache.h).
//
// Budget: the index is one look over the schema (each shared list once);
// a lookup or an offer is one hash probe under the mutex.
#include "python/pattern_cache.h"

#include <boost/unordered/unordered_flat_set.hpp>
#include <vector>

#include "python/validator.h"

namespace tessaron::python {

namespace {
thread_local BuiltPatternsScope* t_built_patterns = nullptr;
}  // namespace

void PatternCache::index(const CompiledSchema& schema) {
    if (indexed_) return;
    boost::unordered_flat_set<const void*> seen;
    auto first_time = [&seen](const auto& shared) {
        return shared && seen.insert(static_cast<const void*>(shared.get())).second;
    };
    std::vector<const ir::Node*> stack{&schema.root};
    for (const ir::Node& d : schema.definitions) stack.push_back(&d);
    ir::for_each_constraint_once(stack, first_time, [this](const ir::Constraint& c) {
        if (c.kind == ir::ConstraintKind::Regex) matchers_.try_emplace(std::string_view(c.pattern));
        return true;
    });
    indexed_ = true;
}

std::shared_ptr<const pattern::FullMatcher> PatternCache::find(const CompiledSchema& schema, std::string_view text) {
    std::lock_guard<std::mutex> lock(mu_);
    index(schema);
    auto it = matchers_.find(text);
    return it == matchers_.end() ? nullptr : it->second;
}

void PatternCache::offer(const CompiledSchema& schema, std::string_view text,
                         std::shared_ptr<const pattern::FullMatcher> matcher) {
    if (!matcher) return;
    std::lock_guard<std::mutex> lock(mu_);
    index(schema);
    auto it = matchers_.find(text);
    if (it != matchers_.end() && !it->second) it->second = std::move(matcher);
}

void PatternCache::lend_to_build() {
    if (!t_built_patterns) return;
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& [text, matcher] : matchers_)
        if (matcher) BuiltPatternsScope::keep(text, matcher);
}

BuiltPatternsScope::BuiltPatternsScope() : outer_(t_built_patterns) { t_built_patterns = this; }

BuiltPatternsScope::~BuiltPatternsScope() {
    t_built_patterns = outer_;
    // A compilation inside another (a recursive body's) passes what it kept
    // on to the one that makes the validator.
    if (outer_)
        for (auto& [text, matcher] : kept_) outer_->kept_.try_emplace(text, std::move(matcher));
}

void BuiltPatternsScope::keep(std::string_view text, std::shared_ptr<const pattern::FullMatcher> matcher) {
    if (t_built_patterns && matcher) t_built_patterns->kept_.try_emplace(std::string(text), std::move(matcher));
}

void BuiltPatternsScope::offer_current(PatternCache& cache, const CompiledSchema& schema) {
    if (!t_built_patterns) return;
    for (const auto& [text, matcher] : t_built_patterns->kept_) cache.offer(schema, text, matcher);
}

}  // namespace tessaron::python
