// The keyed hash of a document's texts: keys written to collide under the
// unkeyed Fx hash (which anyone can invert) spread under the keyed one, so a
// table of them keeps its lookups short.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/json/tree.h"
#include "core/util/fxhash.h"
#include "core/util/keyed_hash.h"

namespace tessaron {
namespace {

bool printable_word(std::uint64_t w) {
    for (int i = 0; i < 8; ++i) {
        const unsigned char c = static_cast<unsigned char>(w >> (8 * i));
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return false;
    }
    return true;
}

// `count` distinct printable 16-byte texts with one Fx hash: the second word
// is chosen so that the state after both words is the same for each first
// word; the length word and the finish then agree too.
std::vector<std::string> fx_colliding_keys(std::size_t count) {
    constexpr std::uint64_t K = util::FxHasher::kMultiplier;
    const std::uint64_t target = 0x4242424242424242ULL;
    std::vector<std::string> keys;
    for (std::uint64_t n = 0; keys.size() < count; ++n) {
        std::uint64_t first = 0;
        for (int i = 0; i < 8; ++i) first |= static_cast<std::uint64_t>('a' + (n >> (3 * i)) % 8) << (8 * i);
        const std::uint64_t second = target - first * K;
        if (!printable_word(second)) continue;
        std::string key(16, '\0');
        std::memcpy(key.data(), &first, 8);
        std::memcpy(key.data() + 8, &second, 8);
        keys.push_back(key);
    }
    return keys;
}

TEST(KeyedHash, TextsThatCollideUnderFxSpreadUnderTheKey) {
    const std::vector<std::string> keys = fx_colliding_keys(64);
    std::set<std::size_t> fx, keyed;
    for (const std::string& k : keys) {
        fx.insert(util::FxHash{}(k));
        keyed.insert(util::KeyedTextHash{}(k));
    }
    ASSERT_EQ(fx.size(), 1u);  // the fixture does collide without a key
    EXPECT_EQ(keyed.size(), keys.size());
}

TEST(KeyedHash, ObjectsOfCollidingKeysKeepTheirLastValues) {
    // An object of more than 16 such keys, each written twice: the tree's
    // merge of repeated keys (a table of key texts) keeps one pair per key,
    // with the last value.
    const std::vector<std::string> keys = fx_colliding_keys(40);
    std::string doc = "{";
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (doc.size() > 1) doc += ",";
            doc += "\"" + keys[i] + "\":" + std::to_string(round * 1000 + static_cast<int>(i));
        }
    }
    doc += "}";
    json::Document d;
    json::ParseFailure failure;
    ASSERT_TRUE(d.parse(doc, failure));
    const json::Value& root = d.root();
    ASSERT_EQ(root.kind, json::Kind::Object);
    ASSERT_EQ(root.count, keys.size());
    const auto members = d.members(root);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(d.text(members[2 * i]), keys[i]);
        EXPECT_EQ(members[2 * i + 1].as_int(), 1000 + static_cast<std::int64_t>(i));
    }
}

}  // namespace
}  // namespace tessaron
