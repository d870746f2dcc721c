// Python strs for JSON texts, through a process-wide string cache.
//
// Documents repeat their keys (every record of a list has the same ones)
// and often short values; making a fresh str for each occurrence costs an
// allocation, a copy and, for a key, hashing it again when it goes into a
// dict.  The cache keeps one str per recently seen short ASCII text, so a
// repeated key is one probe and a reference-count increment, and the dict
// reuses the hash the str already carries.
#pragma once

#include "python/binding/capi.h"

#include <cstddef>
#include <string_view>

namespace tessaron::python {

// Texts up to these lengths (bytes) go through the cache.
inline constexpr std::size_t kCachedKeyLength = 64;
inline constexpr std::size_t kCachedValueLength = 16;

// A str of valid UTF-8 `text`; through the cache when `cached` and the text
// is ASCII.  New reference, or nullptr with an exception set.
PyObject* json_text_to_str(std::string_view text, bool cached);

inline PyObject* json_key_to_str(std::string_view text) {
    return json_text_to_str(text, text.size() <= kCachedKeyLength);
}
inline PyObject* json_string_to_str(std::string_view text) {
    return json_text_to_str(text, text.size() <= kCachedValueLength);
}

}  // namespace tessaron::python
