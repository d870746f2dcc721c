// The matchers a validator's decisions compiled for its own patterns.
//
// A decision checks literals against the patterns of both its sides, and
// compiling a large pattern costs tens of milliseconds: each validator keeps
// the matcher of each of its own patterns once a decision has compiled it,
// so later decisions on the same validator, whichever side it is on, do not
// compile it again.  Only the texts of the validator's own Regex
// constraints are kept (the index of them is built at the first use, by one
// look over the schema), so what a cache holds is bounded by its schema,
// whatever it is compared with: at most what its validation tables hold.
//
// Thread-safe: a mutex guards the table; the matchers are immutable and
// shared.  No Python code runs under the lock.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/pattern/pattern.h"

namespace tessaron::python {

struct CompiledSchema;

class PatternCache {
public:
    PatternCache() = default;
    PatternCache(const PatternCache&) = delete;
    PatternCache& operator=(const PatternCache&) = delete;

    // The matcher kept for `text`, or nullptr when none is (the text is
    // not one of the schema's patterns, or no decision compiled it yet).
    std::shared_ptr<const pattern::FullMatcher> find(const CompiledSchema& schema, std::string_view text);
    // Keeps `matcher` for `text` when the text is one of the schema's
    // patterns and none is kept yet.
    void offer(const CompiledSchema& schema, std::string_view text, std::shared_ptr<const pattern::FullMatcher> matcher);

private:
    // Under mu_: the schema's pattern texts as keys, once.
    void index(const CompiledSchema& schema);

    std::mutex mu_;
    bool indexed_ = false;
    // Keys view the schema's own constraint texts, which live as long as
    // the validator.
    boost::unordered_flat_map<std::string_view, std::shared_ptr<const pattern::FullMatcher>> matchers_;
};

}  // namespace tessaron::python
