// Unicode tables of the pattern engine: the raw data, generated from ICU by
// tools/gen_unicode_tables.cc into unicode_data.cc.  Lookups by name and the
// set algebra over them live in unicode.h; nothing else reads these arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaron::pattern::ucd {

struct CodeRange {
    char32_t lo, hi;  // inclusive; never inside the surrogate block
};

struct RangeSlice {
    std::uint32_t offset, count;  // into kRangePool
};

struct NamedSlice {
    const char* name;  // canonical long name
    std::uint32_t offset, count;
};

struct NameIndex {
    const char* name;  // normalised alias, table sorted by it
    int index;
};

struct NameMask {
    const char* name;  // normalised alias, table sorted by it
    std::uint32_t mask;  // bit g set for general category g (ICU numbering)
};

struct CaseOrbitEntry {
    char32_t c, next;  // next member of c's simple case folding orbit
};

inline constexpr std::size_t kGeneralCategoryCount = 30;

extern const char kUnicodeVersion[];
extern const CodeRange kRangePool[];
extern const std::size_t kRangePoolSize;
extern const RangeSlice kGeneralCategories[kGeneralCategoryCount];
extern const NamedSlice kScripts[];
extern const NamedSlice kScriptExtensions[];
extern const std::size_t kScriptCount;
extern const NamedSlice kBinaryProperties[];
extern const std::size_t kBinaryPropertyCount;
extern const RangeSlice kPerlWord;
extern const RangeSlice kPerlDigit;
extern const RangeSlice kPerlSpace;
extern const CaseOrbitEntry kCaseOrbits[];
extern const std::size_t kCaseOrbitCount;
extern const NameMask kGeneralCategoryNames[];
extern const std::size_t kGeneralCategoryNamesCount;
extern const NameIndex kScriptNames[];
extern const std::size_t kScriptNamesCount;
extern const NameIndex kBinaryPropertyNames[];
extern const std::size_t kBinaryPropertyNamesCount;
// 0 general category, 1 script, 2 script extensions.
extern const NameIndex kPropertyNames[];
extern const std::size_t kPropertyNamesCount;

}  // namespace tessaron::pattern::ucd
