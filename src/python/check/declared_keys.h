// The declared keys of a record node, as both the Python-object and the
// JSON mapping checks look them up.
//
// A record's entries are sorted by key bytes; a name may repeat, and then
// the last entry of that name is the one a key names.  The validator's
// lookup tables (precompute.h) map each record's key texts to entry
// positions and hold the names as interned strs; a walk without the tables
// (a scratch walk of the oracle) scans the entries instead.  A short record
// is scanned even with a table: comparing a few lengths and first bytes is
// cheaper than hashing the key.
#pragma once

#include "python/binding/capi.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "core/ir/node.h"
#include "python/check/context.h"
#include "python/check/precompute.h"

namespace tessaron::python::check {

// The lookup-table entry of a record node, or null.
inline const RecordKeys* record_table(const ir::Node& node, const WalkState& st) {
    const auto& table = st.tables->record_keys;
    if (table.empty() || !node.entries || node.entries->empty()) return nullptr;
    auto it = table.find(Precompute::key_of(node.entries));
    return it == table.end() ? nullptr : &it->second;
}

class DeclaredKeys {
public:
    // Records with at most this many entries are searched by a scan.
    static constexpr std::size_t kScannedEntries = 12;

    DeclaredKeys(std::span<const ir::RecordEntry> entries, const RecordKeys* table)
        : entries_(entries), table_(table) {}

    // The entry a key text names: the last entry of that name.
    std::optional<std::size_t> find(std::string_view key) const {
        if (entries_.size() <= kScannedEntries) {
            for (std::size_t i = entries_.size(); i-- > 0;) {
                const ir::SharedText& name = entries_[i].key;
                if (name && name->size() == key.size() &&
                    (key.empty() || ((*name)[0] == key[0] && std::memcmp(name->data(), key.data(), key.size()) == 0)))
                    return i;
            }
            return std::nullopt;
        }
        if (table_) {
            auto it = table_->positions.find(key);
            if (it == table_->positions.end()) return std::nullopt;
            return static_cast<std::size_t>(it->second);
        }
        for (std::size_t i = entries_.size(); i-- > 0;)
            if (entries_[i].key_view() == key) return i;
        return std::nullopt;
    }

    // How many entries are required (a repeated name counts per entry, as
    // the table counts it).
    std::size_t required_count() const {
        if (table_) return static_cast<std::size_t>(table_->required);
        std::size_t n = 0;
        for (const ir::RecordEntry& e : entries_) n += e.required ? 1 : 0;
        return n;
    }

    // The Python str of entry i's name (new reference), or nullptr with an
    // exception set.
    PyObject* name(std::size_t i) const {
        if (table_ && i < table_->names.size()) return table_->names[i].new_ref();
        const std::string_view text = entries_[i].key_view();
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }

private:
    std::span<const ir::RecordEntry> entries_;
    const RecordKeys* table_;
};

}  // namespace tessaron::python::check
