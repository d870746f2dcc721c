// Name lookups and derived sets over the generated Unicode tables.
//
// A query name is normalised the way the dialect does it (UAX #44 loose
// matching: case, spaces, hyphens and underscores are ignored, and a leading
// "is" is dropped) and then binary-searched in the sorted alias tables.  The
// resolution order of a bare name follows the dialect: a binary property
// first (except "cf", "sc" and "lc", which mean general categories), then a
// general category, then a script.  The Perl sets are built once and shared.
#include "core/pattern/unicode.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/pattern/unicode_data.h"

namespace tessaron::pattern::unicode {

namespace {

constexpr const char* kPropertyNotFound = "Unicode property not found";
constexpr const char* kValueNotFound = "Unicode property value not found";

std::string normalize(std::string_view name) {
    std::size_t start = 0;
    bool starts_with_is = false;
    if (name.size() >= 2 && (name[0] == 'i' || name[0] == 'I') && (name[1] == 's' || name[1] == 'S')) {
        starts_with_is = true;
        start = 2;
    }
    std::string out;
    for (std::size_t i = start; i < name.size(); ++i) {
        char b = name[i];
        if (b == ' ' || b == '_' || b == '-') continue;
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (static_cast<unsigned char>(b) <= 0x7F) out.push_back(b);
    }
    if (starts_with_is && out == "c") out = "isc";
    return out;
}

template <class Entry>
const Entry* find_name(const Entry* table, std::size_t count, std::string_view key) {
    const Entry* end = table + count;
    const Entry* it = std::lower_bound(table, end, key,
                                       [](const Entry& e, std::string_view k) { return std::string_view(e.name) < k; });
    if (it != end && std::string_view(it->name) == key) return it;
    return nullptr;
}

IntervalSet from_slice(std::uint32_t offset, std::uint32_t count) {
    std::vector<Interval> rs;
    rs.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const ucd::CodeRange& r = ucd::kRangePool[offset + i];
        rs.push_back({static_cast<std::uint32_t>(r.lo), static_cast<std::uint32_t>(r.hi)});
    }
    return IntervalSet(std::move(rs));
}

IntervalSet general_category_mask(std::uint32_t mask) {
    IntervalSet out;
    for (std::size_t g = 0; g < ucd::kGeneralCategoryCount; ++g) {
        if (mask & (1u << g)) out.union_with(from_slice(ucd::kGeneralCategories[g].offset, ucd::kGeneralCategories[g].count));
    }
    return out;
}

// General categories plus the three pseudo-categories of the dialect.
const IntervalSet* find_general_category(const std::string& norm, IntervalSet& storage) {
    if (norm == "any") {
        storage = IntervalSet({{0, 0x10FFFF}});
        storage.subtract(IntervalSet({{0xD800, 0xDFFF}}));
        return &storage;
    }
    if (norm == "ascii") {
        storage = IntervalSet({{0, 0x7F}});
        return &storage;
    }
    if (norm == "assigned") {
        storage = general_category_mask(1u);  // Cn, unassigned
        storage.negate_unicode();
        return &storage;
    }
    const ucd::NameMask* e = find_name(ucd::kGeneralCategoryNames, ucd::kGeneralCategoryNamesCount, norm);
    if (e == nullptr) return nullptr;
    storage = general_category_mask(e->mask);
    return &storage;
}

const ucd::NameIndex* find_script(const std::string& norm) {
    return find_name(ucd::kScriptNames, ucd::kScriptNamesCount, norm);
}

}  // namespace

std::string_view version() { return ucd::kUnicodeVersion; }

std::variant<IntervalSet, const char*> property_class(std::string_view name) {
    const std::string norm = normalize(name);
    if (norm != "cf" && norm != "sc" && norm != "lc") {
        if (const ucd::NameIndex* b = find_name(ucd::kBinaryPropertyNames, ucd::kBinaryPropertyNamesCount, norm)) {
            const ucd::NamedSlice& s = ucd::kBinaryProperties[b->index];
            return from_slice(s.offset, s.count);
        }
        // A property that takes a value is not a class by itself.
        if (find_name(ucd::kPropertyNames, ucd::kPropertyNamesCount, norm) != nullptr) return kPropertyNotFound;
    }
    IntervalSet storage;
    if (find_general_category(norm, storage) != nullptr) return storage;
    if (const ucd::NameIndex* s = find_script(norm)) {
        const ucd::NamedSlice& sl = ucd::kScripts[s->index];
        return from_slice(sl.offset, sl.count);
    }
    return kPropertyNotFound;
}

std::variant<IntervalSet, const char*> property_value_class(std::string_view name, std::string_view value) {
    const std::string pn = normalize(name);
    const std::string vn = normalize(value);
    const ucd::NameIndex* p = find_name(ucd::kPropertyNames, ucd::kPropertyNamesCount, pn);
    if (p == nullptr) {
        // A binary property exists but takes no value in this dialect.
        if (find_name(ucd::kBinaryPropertyNames, ucd::kBinaryPropertyNamesCount, pn) != nullptr) return kValueNotFound;
        return kPropertyNotFound;
    }
    if (p->index == 0) {
        IntervalSet storage;
        if (find_general_category(vn, storage) == nullptr) return kValueNotFound;
        return storage;
    }
    const ucd::NameIndex* s = find_script(vn);
    if (s == nullptr) return kValueNotFound;
    const ucd::NamedSlice& sl = p->index == 1 ? ucd::kScripts[s->index] : ucd::kScriptExtensions[s->index];
    return from_slice(sl.offset, sl.count);
}

const IntervalSet& perl_word() {
    static const IntervalSet set = from_slice(ucd::kPerlWord.offset, ucd::kPerlWord.count);
    return set;
}

const IntervalSet& perl_digit() {
    static const IntervalSet set = from_slice(ucd::kPerlDigit.offset, ucd::kPerlDigit.count);
    return set;
}

const IntervalSet& perl_space() {
    static const IntervalSet set = from_slice(ucd::kPerlSpace.offset, ucd::kPerlSpace.count);
    return set;
}

bool is_word_char(std::uint32_t c) {
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const ucd::CodeRange* begin = ucd::kRangePool + ucd::kPerlWord.offset;
    const ucd::CodeRange* end = begin + ucd::kPerlWord.count;
    const ucd::CodeRange* it =
        std::upper_bound(begin, end, c, [](std::uint32_t v, const ucd::CodeRange& r) { return v < r.lo; });
    return it != begin && std::prev(it)->hi >= c;
}

namespace detail {

std::size_t orbit_entry_count() { return ucd::kCaseOrbitCount; }
std::uint32_t orbit_char(std::size_t i) { return ucd::kCaseOrbits[i].c; }
std::uint32_t orbit_next(std::size_t i) { return ucd::kCaseOrbits[i].next; }

std::size_t first_orbit_entry(std::uint32_t lo) {
    const ucd::CaseOrbitEntry* begin = ucd::kCaseOrbits;
    const ucd::CaseOrbitEntry* end = begin + ucd::kCaseOrbitCount;
    return static_cast<std::size_t>(
        std::lower_bound(begin, end, lo, [](const ucd::CaseOrbitEntry& e, std::uint32_t v) { return e.c < v; }) -
        begin);
}

std::size_t orbit_find(std::uint32_t c) {
    std::size_t i = first_orbit_entry(c);
    return (i < ucd::kCaseOrbitCount && ucd::kCaseOrbits[i].c == c) ? i : ucd::kCaseOrbitCount;
}

}  // namespace detail

}  // namespace tessaron::pattern::unicode
