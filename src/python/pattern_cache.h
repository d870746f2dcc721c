// A validator's compiled patterns, by text.
//
// Compiling a large pattern costs tens of milliseconds.  The builder
// compiles each pattern of a spec to check it; what it compiled is kept
// here by the validator it builds (BuiltPatternsScope below), and the
// validator's lookup tables and its decisions, whichever side it is on,
// use these matchers instead of compiling their own; a matcher compiled
// later (by the tables of a validator made without the builder, or by a
// decision) is offered here too.  Only the texts of the validator's own
// Regex constraints are kept (the index of them is built at the first use,
// by one look over the schema), so what a cache holds is bounded by its
// schema, whatever it is compared with: at most what its validation
// tables hold, which share these matchers.
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
    // Keeps every matcher held here in the thread's current build
    // (BuiltPatternsScope), for a schema built from this validator's.
    void lend_to_build();

private:
    // Under mu_: the schema's pattern texts as keys, once.
    void index(const CompiledSchema& schema);

    std::mutex mu_;
    bool indexed_ = false;
    // Keys view the schema's own constraint texts, which live as long as
    // the validator.
    boost::unordered_flat_map<std::string_view, std::shared_ptr<const pattern::FullMatcher>> matchers_;
};

// The patterns compiled while a schema is built from a spec (the builder
// compiles each to check it), offered to the cache of each validator made
// while the scope lives, so that neither its first validation nor its first
// decision compiles them again.  One scope a compilation (CompilationBudget
// holds it), current on its thread while it lives; a scope inside another
// passes what it kept on to the outer one when it ends, and the outermost
// drops what no validator took.
class BuiltPatternsScope {
public:
    BuiltPatternsScope();
    ~BuiltPatternsScope();
    BuiltPatternsScope(const BuiltPatternsScope&) = delete;
    BuiltPatternsScope& operator=(const BuiltPatternsScope&) = delete;

    // Keeps `matcher` for `text` in the thread's current scope, if any.
    static void keep(std::string_view text, std::shared_ptr<const pattern::FullMatcher> matcher);
    // Offers what the thread's current scope kept to `cache`, whose
    // validator holds `schema` (it takes only its own patterns).
    static void offer_current(PatternCache& cache, const CompiledSchema& schema);

private:
    BuiltPatternsScope* outer_;
    boost::unordered_flat_map<std::string, std::shared_ptr<const pattern::FullMatcher>> kept_;
};

}  // namespace tessaron::python
