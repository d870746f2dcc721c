// Builds the byte-range tree of a code point class.
//
// The class is split into UTF-8 sequences in ascending order (utf8.h).
// Sequences are inserted into a trie kept as a stack of open nodes along
// the last inserted path; when a new sequence leaves that path, the nodes
// below the divergence are frozen, and a frozen node whose transitions
// equal an earlier frozen node's is replaced by it (suffix sharing).  The
// result is the minimal deterministic automaton of the class, with one
// exit; for \p{L} it has a few hundred nodes.
//
// Trees of classes with many ranges are kept in a process-wide cache
// (mutex-guarded, at most kCacheEntries, never evicted), since patterns
// repeat \w, \d and the Unicode properties and building their trees is the
// main cost of compiling a typical validation pattern.
#include "core/pattern/utf8_class.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <mutex>
#include <string>

#include "core/pattern/utf8.h"
#include "core/util/fxhash.h"

namespace tessaron::pattern {

namespace {

constexpr std::size_t kCacheMinRanges = 8;
constexpr std::size_t kCacheEntries = 256;

class TreeBuilder {
public:
    TreeBuilder() {
        tree_.begin.push_back(0);
        stack_.emplace_back();
    }

    void add(const utf8::Sequence& seq) {
        std::size_t prefix = 0;
        while (prefix < seq.len && prefix < stack_.size() && stack_[prefix].has_last &&
               stack_[prefix].last == seq.ranges[prefix])
            ++prefix;
        compile_from(prefix);
        Node& top = stack_.back();
        top.has_last = true;
        top.last = seq.ranges[prefix];
        for (std::size_t i = prefix + 1; i < seq.len; ++i) {
            Node n;
            n.has_last = true;
            n.last = seq.ranges[i];
            stack_.push_back(std::move(n));
        }
    }

    ClassTree finish() {
        compile_from(0);
        Node root = std::move(stack_.back());
        stack_.pop_back();
        std::uint32_t id = freeze(root.trans);
        if (id + 1 != tree_.node_count()) {
            // The root equals an earlier node (only for degenerate input);
            // append a copy so that the root is last.
            const std::uint32_t b = tree_.begin[id], e = tree_.begin[id + 1];
            for (std::uint32_t k = b; k < e; ++k) tree_.edges.push_back(tree_.edges[k]);
            tree_.begin.push_back(static_cast<std::uint32_t>(tree_.edges.size()));
        }
        return std::move(tree_);
    }

private:
    struct Node {
        std::vector<ClassTree::Edge> trans;
        bool has_last = false;
        utf8::ByteRange last{0, 0};
        void freeze_last(std::uint32_t next) {
            if (!has_last) return;
            trans.push_back(ClassTree::Edge{last.lo, last.hi, next});
            has_last = false;
        }
    };

    void compile_from(std::size_t from) {
        std::uint32_t next = ClassTree::kTarget;
        while (from + 1 < stack_.size()) {
            Node n = std::move(stack_.back());
            stack_.pop_back();
            n.freeze_last(next);
            next = freeze(n.trans);
        }
        stack_.back().freeze_last(next);
    }

    std::uint32_t freeze(const std::vector<ClassTree::Edge>& trans) {
        key_.clear();
        for (const ClassTree::Edge& t : trans) {
            key_.push_back(static_cast<char>(t.lo));
            key_.push_back(static_cast<char>(t.hi));
            key_.append(reinterpret_cast<const char*>(&t.next), 4);
        }
        if (auto it = cache_.find(key_); it != cache_.end()) return it->second;
        const auto id = static_cast<std::uint32_t>(tree_.node_count());
        tree_.edges.insert(tree_.edges.end(), trans.begin(), trans.end());
        tree_.begin.push_back(static_cast<std::uint32_t>(tree_.edges.size()));
        cache_.emplace(key_, id);
        return id;
    }

    ClassTree tree_;
    std::vector<Node> stack_;
    std::string key_;
    boost::unordered_flat_map<std::string, std::uint32_t, util::FxHash> cache_;
};

ClassTree build_tree(const IntervalSet& set) {
    TreeBuilder tb;
    std::vector<utf8::Sequence> seqs;
    for (const Interval& r : set.ranges()) {
        seqs.clear();
        utf8::split_range(r.lo, r.hi, seqs);
        for (const utf8::Sequence& s : seqs) tb.add(s);
    }
    return tb.finish();
}

struct CacheEntry {
    IntervalSet set;
    std::shared_ptr<const ClassTree> tree;
};

std::uint64_t hash_set(const IntervalSet& set) {
    util::FxHasher h;
    for (const Interval& r : set.ranges()) h.write((std::uint64_t{r.lo} << 32) | r.hi);
    return h.finish();
}

}  // namespace

std::shared_ptr<const ClassTree> utf8_class_tree(const IntervalSet& set) {
    if (set.ranges().size() < kCacheMinRanges) return std::make_shared<const ClassTree>(build_tree(set));
    static std::mutex mu;
    static boost::unordered_flat_map<std::uint64_t, std::vector<CacheEntry>> cache;
    static std::size_t entries = 0;
    const std::uint64_t h = hash_set(set);
    {
        std::lock_guard<std::mutex> lock(mu);
        if (auto it = cache.find(h); it != cache.end()) {
            for (const CacheEntry& e : it->second) {
                if (e.set == set) return e.tree;
            }
        }
    }
    auto tree = std::make_shared<const ClassTree>(build_tree(set));
    std::lock_guard<std::mutex> lock(mu);
    if (entries < kCacheEntries) {
        cache[h].push_back(CacheEntry{set, tree});
        ++entries;
    }
    return tree;
}

}  // namespace tessaron::pattern
