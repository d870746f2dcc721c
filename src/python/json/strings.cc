// The string cache for JSON keys and short strings.
//
// What it computes: a str equal to a valid UTF-8 text.  ASCII texts are
// copied straight into a new compact str (no decoding); others go through
// the interpreter's UTF-8 decoder.  Short ASCII texts go through a
// direct-mapped table of 4096 slots indexed by the FxHash of the bytes: a
// slot holds the hash and a strong reference to a str; a hit (same hash,
// same length, same bytes) answers that str, a miss makes a new one and
// replaces the slot's previous occupant.
//
// Invariants: a slot's str is immutable and equal to the text it was made
// for, so handing it out again is indistinguishable from a fresh str.  The
// table is shared by every thread and only touched with the interpreter
// lock held (the module declares that it uses the lock and does not
// support subinterpreters).  Its strs live until they are replaced, at most
// 4096 of them of at most 64 bytes.
//
// Budget: one hash of at most 64 bytes and one comparison per cached text.
#include "python/json/strings.h"

#include <cstdint>
#include <cstring>

#include "core/util/fxhash.h"

namespace tessaron::python {

namespace {

constexpr std::size_t kSlots = 4096;

struct Slot {
    std::uint64_t hash = 0;
    PyObject* str = nullptr;
};

Slot g_slots[kSlots];

bool is_ascii(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t bits = 0;
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        bits |= w;
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        bits |= static_cast<unsigned char>(*p++);
        --n;
    }
    return (bits & 0x8080808080808080ULL) == 0;
}

PyObject* new_ascii_str(std::string_view text) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (!str) return nullptr;
    if (!text.empty()) std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
    return str;
}

std::uint64_t load8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
std::uint32_t load4(const char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// The slot hash of a text: Fx-style over 8-byte words.  A tail shorter
// than a word is read with loads that overlap what was already read (two
// 4-byte loads, or three single bytes), never assembled byte by byte in a
// stack word that the next load would have to wait for.  The length is
// mixed in, so overlapping reads cannot make two texts of different
// lengths alike; texts of one length differ in some byte read.
std::uint64_t slot_hash(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    util::FxHasher h;
    if (n >= 8) {
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) h.write(load8(p + i));
        if (i < n) h.write(load8(p + n - 8));
    } else if (n >= 4) {
        h.write(load4(p) | (std::uint64_t{load4(p + n - 4)} << 32));
    } else if (n > 0) {
        const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
        h.write(byte(0) | (byte(n / 2) << 8) | (byte(n - 1) << 16));
    }
    h.write(n);
    return h.finish();
}

PyObject* cached_ascii_str(std::string_view text) {
    const std::uint64_t hash = slot_hash(text);
    Slot& slot = g_slots[hash & (kSlots - 1)];
    if (slot.str && slot.hash == hash && static_cast<std::size_t>(PyUnicode_GET_LENGTH(slot.str)) == text.size() &&
        std::memcmp(PyUnicode_DATA(slot.str), text.data(), text.size()) == 0)
        return Py_NewRef(slot.str);
    PyObject* str = new_ascii_str(text);
    if (!str) return nullptr;
    PyObject* old = slot.str;
    slot.str = Py_NewRef(str);
    slot.hash = hash;
    Py_XDECREF(old);
    return str;
}

}  // namespace

PyObject* json_text_to_str(std::string_view text, bool cached) {
    if (is_ascii(text)) return cached ? cached_ascii_str(text) : new_ascii_str(text);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

}  // namespace tessaron::python
