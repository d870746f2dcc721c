// Generates src/core/pattern/unicode_data.cc: the Unicode tables of the
// pattern engine, read from the ICU installed on this machine.
//
// The engine itself never links ICU; this program is run by hand when the
// Unicode version is to be moved, and its output is committed.  It writes:
//   - the code point ranges of every general category, script, script
//     extension and supported binary property, all in one range pool;
//   - the property and value names with their aliases, normalised the way
//     the pattern parser normalises a `\p{...}` query (lower case, no
//     spaces, hyphens or underscores, a leading "is" dropped), sorted for
//     binary search;
//   - the `\w`, `\d` and `\s` sets (UTS #18 word characters, decimal
//     numbers, White_Space);
//   - simple case folding as orbits: for every code point that has case
//     partners, the next member of its orbit, so that following the chain
//     visits all code points that fold to the same one.
//
// Build and run (see tools/README.md):
//   g++ -std=c++20 -O2 tools/gen_unicode_tables.cc -licuuc -o /tmp/gen_ucd
//   /tmp/gen_ucd > src/core/pattern/unicode_data.cc
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr UChar32 kMaxCodePoint = 0x10FFFF;

struct Range {
    UChar32 lo, hi;
};

bool is_surrogate(UChar32 c) { return c >= 0xD800 && c <= 0xDFFF; }

// Ranges of the scalar values (surrogates excluded) for which pred holds.
template <class Pred>
std::vector<Range> ranges_of(Pred pred) {
    std::vector<Range> out;
    for (UChar32 c = 0; c <= kMaxCodePoint; ++c) {
        if (is_surrogate(c) || !pred(c)) continue;
        if (!out.empty() && out.back().hi + 1 == c) {
            out.back().hi = c;
        } else {
            out.push_back({c, c});
        }
    }
    return out;
}

std::string normalize(const std::string& name) {
    std::string s = name;
    size_t start = 0;
    bool starts_with_is = false;
    if (s.size() >= 2 && (s[0] == 'i' || s[0] == 'I') && (s[1] == 's' || s[1] == 'S')) {
        starts_with_is = true;
        start = 2;
    }
    std::string out;
    for (size_t i = start; i < s.size(); ++i) {
        char b = s[i];
        if (b == ' ' || b == '_' || b == '-') continue;
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (static_cast<unsigned char>(b) <= 0x7F) out.push_back(b);
    }
    if (starts_with_is && out == "c") out = "isc";
    return out;
}

std::vector<Range> pool;

// Appends the ranges to the pool and returns "offset, count".
std::string slice(const std::vector<Range>& rs) {
    size_t off = pool.size();
    pool.insert(pool.end(), rs.begin(), rs.end());
    return std::to_string(off) + ", " + std::to_string(rs.size());
}

std::string quote(const std::string& s) { return "\"" + s + "\""; }

// The binary properties that the pattern dialect offers, by canonical name.
const char* const kBinaryProperties[] = {
    "ASCII_Hex_Digit", "Alphabetic", "Bidi_Control", "Bidi_Mirrored", "Case_Ignorable", "Cased",
    "Changes_When_Casefolded", "Changes_When_Casemapped", "Changes_When_Lowercased",
    "Changes_When_Titlecased", "Changes_When_Uppercased", "Dash", "Default_Ignorable_Code_Point",
    "Deprecated", "Diacritic", "Emoji", "Emoji_Component", "Emoji_Modifier", "Emoji_Modifier_Base",
    "Emoji_Presentation", "Extended_Pictographic", "Extender", "Grapheme_Base", "Grapheme_Extend",
    "Hex_Digit", "IDS_Binary_Operator", "IDS_Trinary_Operator", "ID_Continue", "ID_Start",
    "Ideographic", "Join_Control", "Logical_Order_Exception", "Lowercase", "Math",
    "Noncharacter_Code_Point", "Pattern_Syntax", "Pattern_White_Space",
    "Prepended_Concatenation_Mark", "Quotation_Mark", "Radical", "Regional_Indicator",
    "Sentence_Terminal", "Soft_Dotted", "Terminal_Punctuation", "Unified_Ideograph", "Uppercase",
    "Variation_Selector", "White_Space", "XID_Continue", "XID_Start",
};

void add_names(std::map<std::string, int>& aliases, int index,
               const char* (*name_of)(int, UPropertyNameChoice), int value) {
    for (int choice = 0; choice < 8; ++choice) {
        const char* n = name_of(value, static_cast<UPropertyNameChoice>(choice));
        if (n == nullptr) {
            if (choice >= 2) break;
            continue;
        }
        aliases.emplace(normalize(n), index);
    }
}

void print_aliases(const char* array, const std::map<std::string, int>& aliases) {
    std::printf("const NameIndex %s[] = {\n", array);
    for (const auto& [name, idx] : aliases) std::printf("    {%s, %d},\n", quote(name).c_str(), idx);
    std::printf("};\nconst std::size_t %sCount = %zu;\n\n", array, aliases.size());
}

}  // namespace

int main() {
    UVersionInfo uv;
    u_getUnicodeVersion(uv);
    char uver[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(uv, uver);
    UVersionInfo iv;
    u_getVersion(iv);
    char iver[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(iv, iver);

    std::string body;
    auto out = [&](const std::string& s) { body += s; };

    // General categories, by ICU's UCharCategory numbering (0 = Cn).
    std::vector<int> gc_of(kMaxCodePoint + 1);
    for (UChar32 c = 0; c <= kMaxCodePoint; ++c) gc_of[c] = u_charType(c);
    out("const RangeSlice kGeneralCategories[kGeneralCategoryCount] = {\n");
    for (int g = 0; g < U_CHAR_CATEGORY_COUNT; ++g) {
        auto rs = ranges_of([&](UChar32 c) { return gc_of[c] == g; });
        const char* n = u_getPropertyValueName(UCHAR_GENERAL_CATEGORY, g, U_SHORT_PROPERTY_NAME);
        out("    {" + slice(rs) + "},  // " + (n ? n : "?") + "\n");
    }
    out("};\n\n");

    // General category names, single and grouped, mapped to category masks.
    std::map<std::string, uint32_t> gc_aliases;
    auto gc_mask_names = [&](uint32_t mask) {
        for (int choice = 0; choice < 8; ++choice) {
            const char* n = u_getPropertyValueName(UCHAR_GENERAL_CATEGORY_MASK, static_cast<int32_t>(mask),
                                                   static_cast<UPropertyNameChoice>(choice));
            if (n == nullptr) {
                if (choice >= 2) break;
                continue;
            }
            gc_aliases.emplace(normalize(n), mask);
        }
    };
    for (int g = 0; g < U_CHAR_CATEGORY_COUNT; ++g) gc_mask_names(U_MASK(g));
    for (uint32_t m : {U_GC_L_MASK, U_GC_LC_MASK, U_GC_M_MASK, U_GC_N_MASK, U_GC_P_MASK, U_GC_S_MASK,
                       U_GC_Z_MASK, U_GC_C_MASK})
        gc_mask_names(m);

    // Scripts that own at least one code point, in ICU's code order.
    std::vector<int> sc_of(kMaxCodePoint + 1);
    std::vector<std::vector<int>> scx_of(kMaxCodePoint + 1);
    std::set<int> used_scripts;
    for (UChar32 c = 0; c <= kMaxCodePoint; ++c) {
        UErrorCode err = U_ZERO_ERROR;
        sc_of[c] = uscript_getScript(c, &err);
        used_scripts.insert(sc_of[c]);
        UScriptCode buf[64];
        err = U_ZERO_ERROR;
        int n = uscript_getScriptExtensions(c, buf, 64, &err);
        for (int i = 0; i < n; ++i) {
            scx_of[c].push_back(buf[i]);
            used_scripts.insert(buf[i]);
        }
    }
    std::vector<int> scripts(used_scripts.begin(), used_scripts.end());
    std::map<std::string, int> script_aliases;
    out("const NamedSlice kScripts[] = {\n");
    std::string scx_table = "const NamedSlice kScriptExtensions[] = {\n";
    for (size_t i = 0; i < scripts.size(); ++i) {
        int s = scripts[i];
        const char* name = u_getPropertyValueName(UCHAR_SCRIPT, s, U_LONG_PROPERTY_NAME);
        auto rs = ranges_of([&](UChar32 c) { return sc_of[c] == s; });
        out("    {" + quote(name) + ", " + slice(rs) + "},\n");
        auto xs = ranges_of([&](UChar32 c) {
            return std::find(scx_of[c].begin(), scx_of[c].end(), s) != scx_of[c].end();
        });
        scx_table += "    {" + quote(name) + ", " + slice(xs) + "},\n";
        add_names(script_aliases, static_cast<int>(i),
                  [](int v, UPropertyNameChoice ch) { return u_getPropertyValueName(UCHAR_SCRIPT, v, ch); }, s);
    }
    out("};\nconst std::size_t kScriptCount = " + std::to_string(scripts.size()) + ";\n\n");
    out(scx_table + "};\n\n");

    // Binary properties.
    std::map<std::string, int> binary_aliases;
    out("const NamedSlice kBinaryProperties[] = {\n");
    int bi = 0;
    for (const char* name : kBinaryProperties) {
        UProperty p = u_getPropertyEnum(name);
        if (p == UCHAR_INVALID_CODE) {
            std::fprintf(stderr, "unknown property %s\n", name);
            return 1;
        }
        auto rs = ranges_of([&](UChar32 c) { return u_hasBinaryProperty(c, p) != 0; });
        out("    {" + quote(name) + ", " + slice(rs) + "},\n");
        add_names(binary_aliases, bi,
                  [](int v, UPropertyNameChoice ch) { return u_getPropertyName(static_cast<UProperty>(v), ch); }, p);
        ++bi;
    }
    out("};\nconst std::size_t kBinaryPropertyCount = " + std::to_string(bi) + ";\n\n");

    // Names of the properties that take a value: 0 general category,
    // 1 script, 2 script extensions.
    std::map<std::string, int> property_aliases;
    add_names(property_aliases, 0,
              [](int v, UPropertyNameChoice ch) { return u_getPropertyName(static_cast<UProperty>(v), ch); },
              UCHAR_GENERAL_CATEGORY);
    add_names(property_aliases, 1,
              [](int v, UPropertyNameChoice ch) { return u_getPropertyName(static_cast<UProperty>(v), ch); },
              UCHAR_SCRIPT);
    add_names(property_aliases, 2,
              [](int v, UPropertyNameChoice ch) { return u_getPropertyName(static_cast<UProperty>(v), ch); },
              UCHAR_SCRIPT_EXTENSIONS);

    // Perl classes.
    auto word = ranges_of([&](UChar32 c) {
        int g = gc_of[c];
        return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || (U_MASK(g) & U_GC_M_MASK) != 0 ||
               g == U_DECIMAL_DIGIT_NUMBER || g == U_CONNECTOR_PUNCTUATION ||
               u_hasBinaryProperty(c, UCHAR_JOIN_CONTROL);
    });
    auto digit = ranges_of([&](UChar32 c) { return gc_of[c] == U_DECIMAL_DIGIT_NUMBER; });
    auto space = ranges_of([&](UChar32 c) { return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) != 0; });
    out("const RangeSlice kPerlWord = {" + slice(word) + "};\n");
    out("const RangeSlice kPerlDigit = {" + slice(digit) + "};\n");
    out("const RangeSlice kPerlSpace = {" + slice(space) + "};\n\n");

    // Simple case folding orbits.
    std::map<UChar32, std::vector<UChar32>> by_fold;
    for (UChar32 c = 0; c <= kMaxCodePoint; ++c) {
        if (is_surrogate(c)) continue;
        by_fold[u_foldCase(c, U_FOLD_CASE_DEFAULT)].push_back(c);
    }
    std::vector<std::pair<UChar32, UChar32>> orbit_next;
    for (auto& [f, members] : by_fold) {
        if (members.size() < 2) continue;
        std::sort(members.begin(), members.end());
        for (size_t i = 0; i < members.size(); ++i)
            orbit_next.emplace_back(members[i], members[(i + 1) % members.size()]);
    }
    std::sort(orbit_next.begin(), orbit_next.end());
    out("const CaseOrbitEntry kCaseOrbits[] = {\n");
    for (size_t i = 0; i < orbit_next.size(); ++i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "{0x%X, 0x%X},", orbit_next[i].first, orbit_next[i].second);
        out(std::string(i % 6 == 0 ? "    " : " ") + buf + (i % 6 == 5 ? "\n" : ""));
    }
    out("\n};\nconst std::size_t kCaseOrbitCount = " + std::to_string(orbit_next.size()) + ";\n\n");

    // Output.
    std::printf(
        "// Generated by tools/gen_unicode_tables.cc from ICU %s; do not edit by hand.\n"
        "// Unicode %s.  Regenerate with the commands in tools/README.md.\n"
        "// clang-format off\n"
        "#include \"core/pattern/unicode_data.h\"\n\n"
        "namespace tessaron::pattern::ucd {\n\n"
        "const char kUnicodeVersion[] = \"%s\";\n\n",
        iver, uver, uver);
    std::printf("const CodeRange kRangePool[] = {\n");
    for (size_t i = 0; i < pool.size(); ++i) {
        std::printf("%s{0x%X, 0x%X},%s", i % 6 == 0 ? "    " : " ", pool[i].lo, pool[i].hi,
                    i % 6 == 5 ? "\n" : "");
    }
    std::printf("\n};\nconst std::size_t kRangePoolSize = %zu;\n\n", pool.size());
    std::fputs(body.c_str(), stdout);
    std::map<std::string, int> gc_alias_int;
    std::printf("const NameMask kGeneralCategoryNames[] = {\n");
    for (const auto& [name, mask] : gc_aliases) std::printf("    {%s, 0x%08Xu},\n", quote(name).c_str(), mask);
    std::printf("};\nconst std::size_t kGeneralCategoryNamesCount = %zu;\n\n", gc_aliases.size());
    print_aliases("kScriptNames", script_aliases);
    print_aliases("kBinaryPropertyNames", binary_aliases);
    print_aliases("kPropertyNames", property_aliases);
    std::printf("}  // namespace tessaron::pattern::ucd\n");
    return 0;
}
