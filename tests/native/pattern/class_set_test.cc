// The class-set operator scan.
#include <gtest/gtest.h>

#include <string>

#include "core/pattern/class_set.h"

namespace tessaron::pattern {
namespace {

TEST(ClassSetScan, FindsTheFirstOperatorInsideAClass) {
    struct Case {
        std::string text;
        std::string name;
        std::size_t position;
    };
    const Case cases[] = {
        {"[a&&b]", "set intersection", 2},
        {"[a--b]", "set difference", 2},
        {"[a~~b]", "set symmetric difference", 2},
        {"x[^ab&&c]", "set intersection", 5},
        {"[]&&a]", "set intersection", 2},             // "]" first is a literal member
        {"\xc3\xa9[a&&b]", "set intersection", 3},     // positions count code points
        {"[a[b]", "nested set", 2},
        {"[[a]]", "nested set", 1},
        {"[a[", "nested set", 2},
        {"[\\]&&a]", "set intersection", 3},           // an escaped "]" does not close
        {"[a--b&&c]", "set difference", 2},            // the first one counts
        {"\xff[a&&b]", "set intersection", 3},         // a malformed byte is one code point
        {"[[:alpha:]&&b]", "set intersection", 10},    // a POSIX class is not a nested set
        // A first-member pair is read literally, as re reads it; a third
        // character starts an operator at the second member.
        {"[&&&a]", "set intersection", 2},
        {"[---a]", "set difference", 2},
        {"[^~~~]", "set symmetric difference", 3},
    };
    for (const Case& c : cases) {
        const std::optional<ClassSetOperator> found = find_class_set_operator(c.text);
        ASSERT_TRUE(found.has_value()) << c.text;
        EXPECT_EQ(found->name, c.name) << c.text;
        EXPECT_EQ(found->position, c.position) << c.text;
    }
}

TEST(ClassSetScan, PassesWhatBothEnginesReadAlike) {
    const char* texts[] = {"",         "[&&a]", "[^&&a]",      "[--a]",    "[\\&&]", "a&&b",  "a--b",
                           "[[:alpha:]]", "[a-z]-[b]", "\\[a&&b", "[a&b]", "[a]&&", "\\", "[[:alpha",
                           "[&&]",    "[~~a]", "[--]",        "[&&-a]"};
    for (const char* t : texts) EXPECT_EQ(find_class_set_operator(t), std::nullopt) << t;
}

}  // namespace
}  // namespace tessaron::pattern
