// Differential check against Python's re: for every pattern of a case file
// (written by gen_differential_cases.py with re.fullmatch as the judge),
// the matcher must give re's answer on every text, and the pattern's
// automaton, when one can be built, must accept exactly the texts the
// matcher matches.  The committed case file always runs; a freshly
// generated one can be named by TESSARON_PATTERN_CASES.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/pattern/dfa.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {
namespace {

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out.push_back(s[i]);
            continue;
        }
        const char c = s[++i];
        if (c == 'n') {
            out.push_back('\n');
        } else if (c == 't') {
            out.push_back('\t');
        } else if (c == 'r') {
            out.push_back('\r');
        } else if (c == 'x' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct Case {
    std::string pattern;
    TextKind kind;
    std::vector<std::pair<std::string, bool>> texts;
    int line;
};

std::vector<Case> read_cases(const std::string& path) {
    std::ifstream in(path);
    std::vector<Case> cases;
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 == std::string::npos || t2 == std::string::npos) {
            ADD_FAILURE() << path << ":" << n << ": malformed line";
            continue;
        }
        const std::string a = line.substr(t1 + 1, t2 - t1 - 1), body = unescape(line.substr(t2 + 1));
        if (line[0] == 'P') {
            cases.push_back(Case{body, a == "b" ? TextKind::Bytes : TextKind::Str, {}, n});
        } else if (line[0] == 'T' && !cases.empty()) {
            cases.back().texts.emplace_back(body, a == "1");
        }
    }
    return cases;
}

void check_file(const std::string& path) {
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const std::vector<Case> cases = read_cases(path);
    ASSERT_FALSE(cases.empty()) << path;
    std::size_t texts = 0, with_automaton = 0, matches = 0;
    for (const Case& c : cases) {
        auto compiled = compile_full_match(c.pattern, c.kind);
        if (auto* e = std::get_if<Error>(&compiled)) {
            ADD_FAILURE() << "line " << c.line << ": " << c.pattern << ": " << e->message;
            continue;
        }
        const FullMatcher& m = *std::get<std::shared_ptr<const FullMatcher>>(compiled);
        const std::optional<Dfa> dfa = build_dfa(c.pattern, c.kind);
        if (dfa) ++with_automaton;
        for (const auto& [text, expected] : c.texts) {
            ++texts;
            const bool got = m.matches(text);
            matches += got;
            EXPECT_EQ(got, expected) << "line " << c.line << ": pattern " << c.pattern << " text [" << text << "]";
            if (dfa) {
                EXPECT_EQ(dfa->accepts(text), got) << "automaton, pattern " << c.pattern << " text [" << text << "]";
            }
        }
    }
    // The file must exercise both answers and mostly buildable automata.
    EXPECT_GT(matches, texts / 5);
    EXPECT_LT(matches, texts - texts / 5);
    EXPECT_GT(with_automaton, cases.size() / 2);
}

TEST(PatternDifferential, CommittedCasesAgreeWithPythonRe) {
    check_file((std::filesystem::path(__FILE__).parent_path() / "differential_cases.txt").string());
}

TEST(PatternDifferential, ExtraCasesFromEnvironment) {
    const char* path = std::getenv("TESSARON_PATTERN_CASES");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "set TESSARON_PATTERN_CASES to a file written by gen_differential_cases.py";
    }
    check_file(path);
}

}  // namespace
}  // namespace tessaron::pattern
